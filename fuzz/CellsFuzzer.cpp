// Drives the workbook engine with arbitrary cell texts, cell addresses and sheet names, and
// the workbook assembly with arbitrary table names. Besides crashes, leaks and hangs it stops
// on broken rules:
//   - a cell inside the sheet with valid UTF-8 text within the length limit is taken, and
//     reads back as exactly the text written (typing never loses information); a number or
//     date is only made from text of that form;
//   - a refused cell is a palomet::Error naming the sheet, the row and the column;
//   - a sheet name is taken exactly when it keeps every naming rule;
//   - the .xlsx escaping of a text gives the text back when unescaped;
//   - any table name gets a sheet (PrepareSheet never refuses one).

#include <fuzzer/FuzzedDataProvider.h>

#include <QString>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <string_view>

#include "filelist/WindowHost.h"
#include "importrun/Excel1.h"
#include "importrun/WorkbookAssembly.h"
#include "office/Error.h"
#include "office/xl/CellTyping.h"
#include "office/xl/Excel.h"

namespace {

using palomet::Error;
namespace xl = palomet::xl;
namespace detail = palomet::xl::detail;

[[noreturn]] void Broken(const std::string& what) {
  std::fprintf(stderr, "broken rule: %s\n", what.c_str());
  std::abort();
}

void Expect(bool ok, const std::string& what) {
  if (!ok) Broken(what);
}

bool Contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

// Independent of the engine: UTF-8 validity (no surrogates, no overlong forms) and the
// length in UTF-16 code units.
bool Utf16Units(std::string_view s, std::size_t& units) {
  const QString q = QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size()));
  if (q.toUtf8() != QByteArray(s.data(), static_cast<qsizetype>(s.size()))) return false;
  if (q.contains(QChar(QChar::ReplacementCharacter)) && !Contains(std::string(s), "\xEF\xBF\xBD")) {
    return false;
  }
  units = static_cast<std::size_t>(q.size());
  return true;
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Reads .xlsx cell text back as a spreadsheet does: every _xHHHH_ is the character HHHH.
std::string UnescapeXlsx(std::string_view s) {
  std::string out;
  for (std::size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '_' && i + 6 < s.size() && s[i + 1] == 'x' && s[i + 6] == '_') {
      int cp = 0;
      bool hex = true;
      for (std::size_t k = i + 2; k < i + 6; ++k) {
        const int v = HexValue(s[k]);
        hex = hex && v >= 0;
        cp = cp * 16 + v;
      }
      if (hex) {
        out += QString(QChar(static_cast<char16_t>(cp))).toUtf8().toStdString();
        if (cp == 0) out.back() = '\0';
        i += 6;
        continue;
      }
    }
    out += s[i];
  }
  return out;
}

bool LooksNumeric(std::string_view s) {
  if (s.empty()) return false;
  for (std::size_t i = 0; i < s.size(); ++i) {
    const char c = s[i];
    if (!((c >= '0' && c <= '9') || c == '.' || (c == '-' && i == 0))) return false;
  }
  return true;
}

bool LooksLikeDate(std::string_view s) {
  if (s.size() != 10 && s.size() != 19) return false;
  for (std::size_t i = 0; i < s.size(); ++i) {
    const char c = s[i];
    const bool digit = c >= '0' && c <= '9';
    if (!digit && c != '-' && c != 'T' && c != ':') return false;
  }
  return true;
}

std::int64_t PickIndex(FuzzedDataProvider& in, std::int64_t max) {
  switch (in.ConsumeIntegralInRange<int>(0, 5)) {
    case 0:
      return in.ConsumeIntegralInRange<std::int64_t>(-2, 3);
    case 1:
      return max + in.ConsumeIntegralInRange<std::int64_t>(-2, 2);
    case 2:
      return in.ConsumeIntegral<std::int64_t>();
    default:
      return in.ConsumeIntegralInRange<std::int64_t>(1, 64);
  }
}

std::string PickText(FuzzedDataProvider& in) {
  std::string text = in.ConsumeRandomLengthString(256);
  // Now and then a long text, to reach the cell limit.
  if (!text.empty() && in.ConsumeBool()) {
    const std::size_t times = in.ConsumeIntegralInRange<std::size_t>(1, 40000 / text.size() + 2);
    std::string longText;
    for (std::size_t i = 0; i < times; ++i) longText += text;
    text = std::move(longText);
  }
  return text;
}

void SetCell(xl::Worksheet& sheet, std::int64_t row, std::int64_t col, const std::string& text) {
  std::size_t units = 0;
  const bool valid = text.empty() || Utf16Units(text, units);
  std::string escaped;
  detail::EscapeForXlsx(text, escaped);
  std::size_t escapedUnits = units;
  if (valid) Utf16Units(escaped, escapedUnits);
  const bool inside = row >= 1 && row <= xl::kMaxRows && col >= 1 && col <= xl::kMaxColumns;
  const bool fits = units <= xl::kMaxCellChars;
  try {
    sheet.SetCell(row, col, text);
  } catch (const Error& e) {
    const std::string d = e.Description();
    Expect(e.Number() == palomet::errnum::kSpreadsheet, "cell refusal number: " + d);
    Expect(Contains(d, "\"" + sheet.Name() + "\"") &&
               Contains(d, "row " + std::to_string(row) + ", column " + std::to_string(col)),
           "a cell refusal that does not name sheet, row and column: " + d);
    Expect(!inside || !valid || !fits || escapedUnits > xl::kMaxCellChars,
           "a cell inside the sheet with valid text was refused: " + d);
    return;
  }
  Expect(inside && valid, "a cell outside the sheet or with invalid UTF-8 was taken");
  Expect(fits, "a text longer than a cell holds was taken");
  const xl::CellValue v = sheet.Cell(row, col);
  if (text.empty()) {
    Expect(v.type == xl::CellType::Empty, "the empty text left a value");
    return;
  }
  const std::string shown = v.DisplayText();
  Expect(shown == text, "the cell shows \"" + shown + "\" for \"" + text + "\"");
  if (v.type == xl::CellType::Number) Expect(LooksNumeric(text), "a number from " + text);
  if (v.type == xl::CellType::Date || v.type == xl::CellType::DateTime) {
    Expect(LooksLikeDate(text), "a date from " + text);
  }
}

bool KeepsNameRules(const std::string& name) {
  std::size_t units = 0;
  if (!Utf16Units(name, units) || units < 1 || units > xl::kMaxSheetNameChars) return false;
  if (name.find_first_of(":\\/?*[]") != std::string::npos) return false;
  for (const char c : name) {
    if (static_cast<unsigned char>(c) < 0x20) return false;  // cannot be kept in the file
  }
  return name.front() != '\'' && name.back() != '\'';
}

bool NameTakenByAnother(const xl::Workbook& wb, const xl::Worksheet& self,
                        const std::string& name) {
  const QString q = QString::fromStdString(name);
  for (long i = 1; i <= wb.SheetCount(); ++i) {
    const xl::Worksheet& s = wb.Sheet(i);
    if (&s != &self && QString::fromStdString(s.Name()).compare(q, Qt::CaseInsensitive) == 0) {
      return true;
    }
  }
  return false;
}

void SetName(xl::Worksheet& sheet, const std::string& name) {
  const bool allowed = KeepsNameRules(name) && !NameTakenByAnother(sheet.Parent(), sheet, name);
  try {
    sheet.SetName(name);
  } catch (const Error& e) {
    Expect(!allowed, "the sheet name \"" + name + "\" was refused: " + e.Description());
    Expect(Contains(e.Description(), "refused"),
           "a name refusal that gives no rule: " + e.Description());
    return;
  }
  Expect(allowed || name == sheet.Name(), "the sheet name \"" + name + "\" was taken");
  Expect(sheet.Name() == name, "the sheet is not named as asked");
}

void CheckEscaping(const std::string& text) {
  std::size_t units = 0;
  if (!Utf16Units(text, units)) return;
  std::string escaped;
  detail::EscapeForXlsx(text, escaped);
  std::size_t escapedUnits = 0;
  Expect(Utf16Units(escaped, escapedUnits) && escapedUnits == units + detail::EscapeGrowth(text),
         "the escape growth in characters");
  Expect(escaped.find('\0') == std::string::npos, "a NUL written to the .xlsx");
  // The package writer then writes the other control characters (but tab and LF) as _xHHHH_.
  std::string written;
  for (const char c : escaped) {
    const auto u = static_cast<unsigned char>(c);
    if (u < 0x20 && c != '\t' && c != '\n') {
      char buf[8];
      std::snprintf(buf, sizeof buf, "_x%04X_", u);
      written += buf;
    } else {
      written += c;
    }
  }
  Expect(UnescapeXlsx(written) == text, "the .xlsx text does not read back as \"" + text + "\"");
}

void PrepareSheets(FuzzedDataProvider& in) {
  palomet::NoWindowHost host;
  palomet::WorkbookAssembly workbook(
      in.ConsumeBool() ? palomet::SheetMode::MultipleSheets : palomet::SheetMode::OneSheet,
      palomet::kFileTarget);
  for (int i = 0; i < 24 && in.remaining_bytes() > 0; ++i) {
    const std::string table = in.ConsumeRandomLengthString(80);
    std::size_t units = 0;
    if (!Utf16Units(table, units)) continue;  // table names come from the database as UTF-8
    const std::string made = palomet::MakeSheetName(table);
    Expect(KeepsNameRules(made), "MakeSheetName(\"" + table + "\") = \"" + made + "\"");
    try {
      workbook.PrepareSheet(table);
      workbook.WriteRows(table, std::vector<palomet::RowString>{}, host);
    } catch (const Error& e) {
      Broken("PrepareSheet(\"" + table + "\") failed: " + e.Description());
    }
  }
  workbook.RemoveDefaultSheets();
  Expect(workbook.Workbook().SheetCount() >= 1, "a workbook without sheets");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider in(data, size);
  if (in.ConsumeIntegralInRange<int>(0, 3) == 0) {
    PrepareSheets(in);
    return 0;
  }
  auto app = xl::Application::Create(xl::CellStorage::InMemory);
  xl::Workbook& wb = app->AddWorkbook();
  for (int step = 0; step < 32 && in.remaining_bytes() > 0; ++step) {
    switch (in.ConsumeIntegralInRange<int>(0, 4)) {
      case 0:
      case 1: {
        const std::int64_t row = PickIndex(in, xl::kMaxRows);
        const std::int64_t col = PickIndex(in, xl::kMaxColumns);
        const std::string text = PickText(in);
        SetCell(wb.ActiveSheet(), row, col, text);
        CheckEscaping(text);
        break;
      }
      case 2: {
        const long index = in.ConsumeIntegralInRange<long>(1, wb.SheetCount());
        SetName(wb.Sheet(index), in.ConsumeRandomLengthString(40));
        break;
      }
      case 3:
        if (wb.SheetCount() < 40) wb.AddSheet();
        break;
      case 4: {
        const long index = in.ConsumeIntegralInRange<long>(1, wb.SheetCount());
        const long before = wb.SheetCount();
        try {
          wb.Sheet(index).Delete();
          Expect(before > 1, "the last sheet was deleted");
        } catch (const Error&) {
          Expect(before == 1, "a sheet that is not the last one could not be deleted");
        }
        break;
      }
    }
  }
  return 0;
}
