#include "LxwOracle.h"

#include <xlsxwriter.h>

#include <array>
#include <map>
#include <utility>

#include "office/xl/CellTyping.h"
#include "office/xl/Excel.h"

namespace palomet::test {

std::string WriteWithLibxlsxwriter(const std::filesystem::path& path, const xl::Workbook& book) {
  using xl::detail::CellRec;
  lxw_workbook_options options{};
  options.constant_memory = LXW_TRUE;
  lxw_workbook* wb = workbook_new_opt(path.c_str(), &options);
  if (!wb) return "cannot create " + path.string();
  std::array<lxw_format*, xl::detail::kMaxDecimals + 1> numbers{};
  lxw_format* date = nullptr;
  lxw_format* dateTime = nullptr;
  auto format = [&](std::uint8_t type, std::uint8_t decimals) {
    lxw_format*& slot = type == static_cast<std::uint8_t>(xl::CellType::Number) ? numbers[decimals]
                        : type == static_cast<std::uint8_t>(xl::CellType::Date) ? date
                                                                                : dateTime;
    if (!slot) {
      slot = workbook_add_format(wb);
      format_set_num_format(slot, xl::detail::NumberFormatFor(type, decimals).c_str());
    }
    return slot;
  };
  std::string error, escaped;
  for (long i = 1; i <= book.SheetCount(); ++i) {
    const xl::Worksheet& sheet = book.Sheet(i);
    lxw_worksheet* ws = workbook_add_worksheet(wb, sheet.Name().c_str());
    if (!ws) {
      error = "sheet name refused: " + sheet.Name();
      break;
    }
    if (&sheet == &book.ActiveSheet()) worksheet_activate(ws);
    std::map<std::pair<std::uint32_t, std::uint32_t>, std::string> links;
    for (const auto& link : sheet.Hyperlinks()) {
      links[{static_cast<std::uint32_t>(link.row - 1), static_cast<std::uint32_t>(link.col - 1)}] =
          "internal:" + link.location;
    }
    sheet.ForEachCell([&](const CellRec& rec, std::string_view text) {
      lxw_error err;
      const auto link = links.find({rec.row, rec.col});
      if (rec.type == static_cast<std::uint8_t>(xl::CellType::Text)) {
        escaped.clear();
        xl::detail::EscapeForXlsx(text, escaped);
        err = link == links.end()
                  ? worksheet_write_string(ws, rec.row, rec.col, escaped.c_str(), nullptr)
                  : worksheet_write_url_opt(ws, rec.row, rec.col, link->second.c_str(), nullptr,
                                            escaped.c_str(), nullptr);
      } else {
        err = worksheet_write_number(ws, rec.row, rec.col, rec.number,
                                     format(rec.type, rec.decimals));
      }
      if (err != LXW_NO_ERROR && error.empty()) error = lxw_strerror(err);
    });
  }
  const lxw_error err = workbook_close(wb);
  if (err != LXW_NO_ERROR && error.empty()) error = lxw_strerror(err);
  return error;
}

}  // namespace palomet::test
