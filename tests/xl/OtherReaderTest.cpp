// A second, independent reader: LibreOffice, headless, converts a saved workbook to CSV and
// must show every cell as the engine shows it. Skipped where LibreOffice is not installed.

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

#include "office/xl/Excel.h"
#include "tests/support/Csv.h"
#include "tests/support/TempDir.h"

namespace palomet::xl {
namespace {

using test::ParseCsv;
using test::TempDir;

TEST(OtherReader, LibreOfficeShowsTheCellsAsTheEngineDoes) {
  if (std::system("command -v soffice >/dev/null 2>&1") != 0) {
    GTEST_SKIP() << "LibreOffice (libreoffice-calc-nogui) is not installed";
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
  };
  for (std::size_t r = 0; r < cells.size(); ++r) {
    for (std::size_t c = 0; c < cells[r].size(); ++c) {
      a.SetCell(static_cast<std::int64_t>(r + 1), static_cast<std::int64_t>(c + 1), cells[r][c]);
    }
  }
  book.Sheet(2).SetName("O'Brien");
  book.Sheet(2).SetCell(2, 3, "2.0");
  book.Sheets("Sheet3").Delete();
  book.SaveCopyAs(dir.Path() / "book.xlsx");

  // Every sheet to a CSV file of its own, cells as shown, UTF-8.
  const std::string convert =
      "cd '" + dir.Path().string() + "' && HOME='" + dir.Path().string() +
      "' timeout 180 soffice --headless --norestore -env:UserInstallation=file://" +
      dir.Path().string() +
      "/profile --convert-to 'csv:Text - txt - csv (StarCalc):44,34,76,1,,0,false,true,true,"
      "false,false,-1' --outdir out book.xlsx >log 2>&1";
  ASSERT_EQ(std::system(convert.c_str()), 0) << test::ReadFile(dir.Path() / "log");

  for (long s = 1; s <= book.SheetCount(); ++s) {
    const Worksheet& sheet = book.Sheet(s);
    const auto csv = dir.Path() / "out" / ("book-" + sheet.Name() + ".csv");
    ASSERT_TRUE(std::filesystem::exists(csv)) << test::ReadFile(dir.Path() / "log");
    const auto rows = ParseCsv(test::ReadFile(csv));
    EXPECT_EQ(static_cast<std::int64_t>(rows.size()), sheet.UsedRows()) << sheet.Name();
    for (std::size_t r = 0; r < rows.size(); ++r) {
      for (std::size_t c = 0; c < rows[r].size(); ++c) {
        const auto row = static_cast<std::int64_t>(r + 1), col = static_cast<std::int64_t>(c + 1);
        EXPECT_EQ(rows[r][c], sheet.Cell(row, col).DisplayText())
            << sheet.Name() << " row " << row << " column " << col;
      }
    }
  }
}

}  // namespace
}  // namespace palomet::xl
