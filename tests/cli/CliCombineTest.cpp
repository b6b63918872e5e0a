// palomet-import --combine: the rows of every file's table of a name in one table, first the
// file each came from as the command line names it, a failed file leaving nothing, a combined
// table longer than a sheet going on on the next.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/cli/CliInProcess.h"
#include "tests/support/ArchiveFixtures.h"
#include "tests/support/LowSheetRows.h"
#include "tests/support/TempDir.h"
#include "tests/support/XlsxReadBack.h"

namespace palomet {
namespace {

using test::Cli;
using test::TempDir;

TEST(CliCombine, FilesFoldersAndArchiveMembersFillOneTableNamedAsTheyWereGiven) {
  TempDir dir;
  dir.Write("in/1.xml", "<r><T><v>1</v></T><T><v>2</v></T></r>");
  dir.Write("in/sub/2.xml", "<r><T><v>bad</v></T>");
  dir.Write("in/sub/3.xml", "<r><t><v>3</v><w>w</w></t><T><v>4</v></T></r>");
  test::WritePacked(dir.Path() / "a.zip", {"zip", ""}, {{"m.xml", "<r><T><v>5</v></T></r>"}});
  const std::string out = dir.Str() + "/out.xlsx";
  const test::LowSheetRows rows(4);  // the field names and three records a sheet

  for (const bool multiple : {false, true}) {
    SCOPED_TRACE(multiple ? "multiple sheets" : "one sheet");
    std::vector<std::string> args = {
        "-q", "-k", "-c", "-o", out, dir.Str() + "/in", dir.Str() + "/a.zip"};
    if (multiple) args.push_back("--multiple-sheets");
    const auto r = Cli(args);
    EXPECT_EQ(r.status, 3) << r.err;
    EXPECT_NE(r.err.find("Cannot import '" + dir.Str() + "/in/sub/2.xml'"), std::string::npos)
        << r.err;
    EXPECT_NE(r.err.find("table \"T\" has 5 rows, more than a sheet holds; it goes on on "
                         "sheet \"T (2)\"."),
              std::string::npos)
        << r.err;
    const test::XlsxBook book = test::ReadXlsx(out);
    ASSERT_EQ(book.SheetNames(), (std::vector<std::string>{"T", "T (2)"}));
    std::vector<std::string> got;
    for (const auto& sheet : book.sheets) {
      for (int row = 1; row <= sheet.Rows(); ++row) {
        got.push_back(sheet.At(row, 1) + " | " + sheet.At(row, 2) + " | " + sheet.At(row, 3));
      }
    }
    const std::string in = dir.Str() + "/in/";
    EXPECT_EQ(
        got, (std::vector<std::string>{
                 "File | v | w", in + "1.xml | 1 | ", in + "1.xml | 2 | ", in + "sub/3.xml | 3 | w",
                 "File | v | w", in + "sub/3.xml | 4 | ", dir.Str() + "/a.zip:m.xml | 5 | "}));
  }
}

}  // namespace
}  // namespace palomet
