// A third reader beside openpyxl and LibreOffice: Gnumeric's ssconvert reads back a workbook
// with every kind of cell, long texts, links, formatting and many sheets, and shows each
// sheet's cells as the engine shows them. Skipped where Gnumeric is not installed.

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "office/xl/Excel.h"
#include "tests/support/Csv.h"
#include "tests/support/TempDir.h"

namespace palomet::xl {
namespace {

using test::ParseCsv;
using test::TempDir;

// What Gnumeric shows, in the engine's spelling: its minus sign is U+2212, and it leaves
// the file's escape of an underscore (_x005F_) as it is, as some readers do.
std::string AsShown(std::string text) {
  for (const std::string_view from : {std::string_view("\u2212"), std::string_view("_x005F_")}) {
    for (std::size_t at; (at = text.find(from)) != std::string::npos;) {
      text.replace(at, from.size(), from.front() == '_' ? "_" : "-");
    }
  }
  return text;
}

TEST(GnumericReader, ReadsEveryKindOfCellLongTextsLinksFormattingAndManySheets) {
  if (std::system("command -v ssconvert >/dev/null 2>&1") != 0) {
    GTEST_SKIP() << "Gnumeric's ssconvert (gnumeric) is not installed";
  }
  TempDir dir;
  auto app = Application::Create();
  Workbook& book = app->AddWorkbook();
  Worksheet& a = book.Sheet(1);
  a.SetName("Zoë's 東京");
  const std::vector<std::vector<std::string>> cells = {
      {"ID", "Price", "Day", "At", "Note"},
      {"007", "12.50", "2026-01-05", "2026-01-05T18:30:15", "a & b <c> \"d\""},
      {"-3", "0.730", "1900-03-01", "9999-12-31T23:59:59", "_x0041_ stays"},
      {"123456789012345", "-0.5", "2024-02-29", "2000-01-01T00:00:00", " lead and trail "},
      {"1e5", "TRUE", "2026-02-30", "Grüße, 😀", "line\nbreak"},
      {std::string(32'767, 'L'), std::string(20'000, 'x') + "é" + std::string(5'000, 'y'), "=1+1",
       "'quoted", "tab\there"},
  };
  for (std::size_t r = 0; r < cells.size(); ++r) {
    for (std::size_t c = 0; c < cells[r].size(); ++c) {
      a.SetCell(static_cast<std::int64_t>(r + 1), static_cast<std::int64_t>(c + 1), cells[r][c]);
    }
  }
  a.SetRowBold(1);
  a.SetFitColumns(true);
  a.FreezeRows(1);
  a.SetAutoFilter({1, 1, 6, 5});
  // Links from cells to places in the workbook, one of them to a sheet whose name needs quotes.
  a.SetHyperlink(2, 5, "'O''Brien'!C2");
  a.SetHyperlink(3, 5, "History!A1");
  book.Sheet(2).SetName("O'Brien");
  book.Sheet(2).SetCell(2, 3, "2.0");
  book.Sheet(3).SetName("History (2)");
  book.Sheet(3).SetCell(1, 1, "kept");
  for (int i = 0; i < 40; ++i) {
    Worksheet& s = app->AddSheet();
    s.SetCell(1, 1, "sheet " + std::to_string(i));
    s.SetCell(2, 2, std::to_string(i) + ".25");
    s.SetHyperlink(1, 1, "'Zoë''s 東京'!A" + std::to_string(i + 1));
  }
  book.SaveCopyAs(dir.Path() / "book.xlsx");

  // Every sheet to a CSV file of its own, named by its position, values as they are shown.
  const std::string convert =
      "cd '" + dir.Path().string() + "' && HOME='" + dir.Path().string() +
      "' timeout 180 ssconvert -S -T Gnumeric_stf:stf_assistant -O 'format=preserve "
      "separator=, eol=unix' book.xlsx "
      "'book.%n.csv' >log 2>&1";
  ASSERT_EQ(std::system(convert.c_str()), 0) << test::ReadFile(dir.Path() / "log");

  ASSERT_EQ(book.SheetCount(), 43);
  for (long s = 1; s <= book.SheetCount(); ++s) {
    const Worksheet& sheet = book.Sheet(s);
    const auto csv = dir.Path() / ("book." + std::to_string(s - 1) + ".csv");
    ASSERT_TRUE(std::filesystem::exists(csv)) << test::ReadFile(dir.Path() / "log");
    const auto rows = ParseCsv(test::ReadFile(csv));
    // Gnumeric writes the used range only, from its first row and column.
    const std::int64_t top = sheet.FirstUsedRow(), left = sheet.FirstUsedColumn();
    EXPECT_EQ(static_cast<std::int64_t>(rows.size()), sheet.UsedRows() - top + 1) << sheet.Name();
    for (std::size_t r = 0; r < rows.size(); ++r) {
      for (std::size_t c = 0; c < rows[r].size(); ++c) {
        const auto row = static_cast<std::int64_t>(r) + top,
                   col = static_cast<std::int64_t>(c) + left;
        EXPECT_EQ(AsShown(rows[r][c]), sheet.Cell(row, col).DisplayText())
            << sheet.Name() << " row " << row << " column " << col;
      }
    }
  }
}

}  // namespace
}  // namespace palomet::xl
