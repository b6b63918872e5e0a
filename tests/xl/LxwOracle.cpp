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
  // [0] plain, [1] bold.
  std::array<std::array<lxw_format*, 2>, xl::detail::kMaxDecimals + 1> numbers{};
  std::array<lxw_format*, 2> date{}, dateTime{};
  lxw_format* boldText = nullptr;
  lxw_format* boldLink = nullptr;
  auto format = [&](std::uint8_t type, std::uint8_t decimals, bool bold) {
    lxw_format*& slot = (type == static_cast<std::uint8_t>(xl::CellType::Number) ? numbers[decimals]
                         : type == static_cast<std::uint8_t>(xl::CellType::Date) ? date
                                                                                 : dateTime)[bold];
    if (!slot) {
      slot = workbook_add_format(wb);
      format_set_num_format(slot, xl::detail::NumberFormatFor(type, decimals).c_str());
      if (bold) format_set_bold(slot);
    }
    return slot;
  };
  auto boldFormat = [&](bool link) {
    lxw_format*& slot = link ? boldLink : boldText;
    if (!slot) {
      slot = workbook_add_format(wb);
      format_set_bold(slot);
      if (link) {
        format_set_underline(slot, LXW_UNDERLINE_SINGLE);
        format_set_theme(slot, 10);
      }
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
    for (std::int64_t col = 1; col <= sheet.SizedColumns(); ++col) {
      if (sheet.ColumnWidth(col) > 0) {
        worksheet_set_column(ws, static_cast<lxw_col_t>(col - 1), static_cast<lxw_col_t>(col - 1),
                             sheet.ColumnWidth(col), nullptr);
      }
    }
    if (sheet.FrozenRows() > 0) worksheet_freeze_panes(ws, static_cast<lxw_row_t>(sheet.FrozenRows()), 0);
    if (const auto* f = sheet.AutoFilter()) {
      worksheet_autofilter(ws, static_cast<lxw_row_t>(f->firstRow - 1),
                           static_cast<lxw_col_t>(f->firstCol - 1),
                           static_cast<lxw_row_t>(f->lastRow - 1),
                           static_cast<lxw_col_t>(f->lastCol - 1));
    }
    std::map<std::pair<std::uint32_t, std::uint32_t>, std::string> links;
    for (const auto& link : sheet.Hyperlinks()) {
      links[{static_cast<std::uint32_t>(link.row - 1), static_cast<std::uint32_t>(link.col - 1)}] =
          "internal:" + link.location;
    }
    sheet.ForEachCell([&](const CellRec& rec, std::string_view text) {
      lxw_error err;
      const auto link = links.find({rec.row, rec.col});
      const bool bold = sheet.RowBold(std::int64_t{rec.row} + 1);
      if (rec.type == static_cast<std::uint8_t>(xl::CellType::Text)) {
        escaped.clear();
        xl::detail::EscapeForXlsx(text, escaped);
        err = link == links.end()
                  ? worksheet_write_string(ws, rec.row, rec.col, escaped.c_str(),
                                           bold ? boldFormat(false) : nullptr)
                  : worksheet_write_url_opt(ws, rec.row, rec.col, link->second.c_str(),
                                            bold ? boldFormat(true) : nullptr, escaped.c_str(),
                                            nullptr);
      } else {
        err = worksheet_write_number(ws, rec.row, rec.col, rec.number,
                                     format(rec.type, rec.decimals, bold));
      }
      if (err != LXW_NO_ERROR && error.empty()) error = lxw_strerror(err);
    });
  }
  const lxw_error err = workbook_close(wb);
  if (err != LXW_NO_ERROR && error.empty()) error = lxw_strerror(err);
  return error;
}

}  // namespace palomet::test
