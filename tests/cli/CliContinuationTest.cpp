// Tables longer than a sheet holds, through palomet-import to the saved file, read back with
// a real reader: the continuation sheets, "Long texts" on one of them, the sheet the
// workbook opens on, and the lines on standard error.

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "tests/cli/CliInProcess.h"
#include "tests/support/LowSheetRows.h"
#include "tests/support/TempDir.h"
#include "tests/support/XlsxReadBack.h"

namespace palomet {
namespace {

using test::Cli;
using test::TempDir;

TEST(CliContinuation, LongTextsOnAContinuationSheetLinkBothWaysAndTheWorkbookOpensOnTheTables) {
  test::LowSheetRows rows(5);
  TempDir dir;
  std::string xml = "<r>";
  for (int i = 1; i <= 9; ++i) {
    xml += "<Customer><id>" + std::to_string(i) + "</id><note>" +
           (i == 7 ? std::string(40'000, 'n') : "n" + std::to_string(i)) + "</note></Customer>";
  }
  const auto file = dir.Write("c.xml", xml + "<Other><code>x</code></Other></r>");
  for (const bool multiple : {false, true}) {
    SCOPED_TRACE(multiple ? "multiple sheets" : "one sheet");
    const std::string out = dir.Str() + "/out.xlsx";
    std::vector<std::string> args = {"-q", "-o", out, file.string()};
    if (multiple) args.push_back("--multiple-sheets");
    const auto r = Cli(args);
    ASSERT_EQ(r.status, 0) << r.err;
    // Five rows a sheet: field names and four records. In one sheet, Other is stacked on the
    // third sheet and names it.
    const std::string third = multiple ? "Customer (3)" : "Other";
    EXPECT_EQ(r.err, "palomet-import: table \"Customer\" has 9 rows, more than a sheet holds; "
                     "it goes on on sheets \"Customer (2)\" and \"" + third + "\".\n"
                     "palomet-import: 1 value longer than a cell holds was cut in its cell and "
                     "kept whole on sheet \"Long texts\".\n");

    const auto book = test::ReadXlsx(out);
    std::vector<std::string> names = {"Customer", "Customer (2)", third};
    if (multiple) names.push_back("Other");
    names.push_back("Long texts");
    EXPECT_EQ(book.SheetNames(), names);
    EXPECT_EQ(book.active, "Other");
    std::string ids;
    for (const auto& sheet : book.sheets) {
      for (int row = 2; sheet.name != "Long texts" && row <= sheet.Rows(); ++row) {
        if (sheet.At(row, 1) != "code" && sheet.At(row, 1) != "x") ids += sheet.At(row, 1) + " ";
      }
    }
    EXPECT_EQ(ids, "1 2 3 4 5 6 7 8 9 ");

    // Record 7 is the fourth row of "Customer (2)"; it and its row on "Long texts" link to
    // each other.
    const auto& kept = book.sheets.back();
    EXPECT_EQ(kept.At(2, 1), "Customer (2)");
    EXPECT_EQ(kept.At(2, 2), "B4");
    EXPECT_EQ(kept.links.at({2, 2}), "'Customer (2)'!B4");
    EXPECT_EQ(book.Find("Customer (2)")->links.at({4, 2}), "'Long texts'!A2");
    EXPECT_TRUE(kept.cells.at({1, 1}).bold);
    EXPECT_EQ(kept.widths.size(), 5u) << "its columns are fitted";
  }
}

// Prints each sheet of a workbook, "name<TAB>rows<TAB>A1", then whether the numbers in column
// A below row 1, joined across the sheets, count 1, 2, 3, ... up to the last.
constexpr const char* kCountRows = R"PY(
import re, sys, zipfile
z = zipfile.ZipFile(sys.argv[1])
names = re.findall(r'<sheet name="([^"]*)"', z.read("xl/workbook.xml").decode())
n = 0
for i, name in enumerate(names, 1):
    xml = z.read("xl/worksheets/sheet%d.xml" % i).decode()
    cells = re.findall(r'<c r="A(\d+)"[^>]*>(?:<v>([^<]*)</v>|<is><t>([^<]*)</t>)', xml)
    print("%s\t%d\t%s" % (name, len(cells), cells[0][2]))
    for row, number, text in cells[1:]:
        n += 1
        if number != str(n):
            sys.exit("record %d is %s at row %s of %s" % (n, number or text, row, name))
print("records\t%d" % n)
)PY";

TEST(CliContinuation, ATableOneRecordLongerThanASheetArrivesWholeInBothModes) {
  TempDir dir;
  constexpr int kRecords = 1'048'577;
  const auto big = dir.Path() / "big.xml";
  {
    std::ofstream f(big, std::ios::binary);
    f << "<r>";
    for (int i = 1; i <= kRecords; ++i) f << "<T><v>" << i << "</v></T>";
    f << "</r>";
  }
  const auto script = dir.Write("count.py", kCountRows);
  for (const bool multiple : {false, true}) {
    SCOPED_TRACE(multiple ? "multiple sheets" : "one sheet");
    const std::string out = dir.Str() + "/out.xlsx";
    std::vector<std::string> args = {"-q", "-o", out, big.string()};
    if (multiple) args.push_back("--multiple-sheets");
    const auto r = Cli(args);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "palomet-import: table \"T\" has 1,048,577 rows, more than a sheet holds; "
                     "it goes on on sheet \"T (2)\".\n");

    FILE* pipe = popen(("/usr/bin/python3 '" + script.string() + "' '" + out + "'").c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    std::string printed;
    char buffer[4096];
    for (std::size_t n; (n = fread(buffer, 1, sizeof buffer, pipe)) > 0;) printed.append(buffer, n);
    EXPECT_EQ(pclose(pipe), 0);
    EXPECT_EQ(printed, "T\t1048576\tv\nT (2)\t3\tv\nrecords\t1048577\n");
  }
}

}  // namespace
}  // namespace palomet
