// The command line and the window's run give the same workbook for the same inputs.

#include <gtest/gtest.h>

#include <sstream>

#include "cli/Cli.h"
#include "importrun/ImportRun.h"
#include "tests/importrun/ImportRunFakes.h"
#include "tests/support/TempDir.h"
#include "tests/support/XlsxReadBack.h"

namespace palomet {
namespace {

using test::ReadXlsx;
using test::TempDir;

// Inputs that exercise what could differ between the two paths: typed values, Null,
// empty values, the separator text inside a value, escapes, numbered tables with link
// columns, tables named like error reports (the user's data like any other), a table name
// the sheet name has to clean.
std::vector<std::string> WriteInputs(const TempDir& dir) {
  const std::string orders = R"(<orders>
  <order id="7" date="2026-01-05">
    <customer>Ann &amp; Co</customer>
    <line sku="A1"><qty>2</qty><price currency="EUR">12.50</price></line>
    <line sku="B2"><qty>1</qty><price currency="EUR">3</price></line>
  </order>
  <order id="8"><customer/></order>
</orders>)";
  const std::string odd = R"(<data xmlns:xsi="http://www.w3.org/2001/XMLSchema-instance">
  <Orders_x005B_1_x005D_><v>a|xxspearaeatorxx|b</v><w>_x0041_</w><n>007</n></Orders_x005B_1_x005D_>
  <Orders_x005B_1_x005D_><v xsi:nil="true"/><w> 12</w><n>1e5</n><d>2026-02-30</d></Orders_x005B_1_x005D_>
  <ImportErrors><v>kept</v></ImportErrors>
  <LastImportErrorsSeen at="3"><v>kept</v></LastImportErrorsSeen>
  <Sheet2><v>TRUE</v><v2>-0.730</v2><t>2026-01-05T10:20:30</t></Sheet2>
</data>)";
  return {dir.Write("in/orders.xml", orders).string(), dir.Write("in/odd.xml", odd).string(),
          dir.Write("in/orders2.xml", orders).string()};
}

TEST(CliMatchesWindow, SameWorkbookCellForCellInBothModes) {
  for (const bool multiple : {false, true}) {
    SCOPED_TRACE(multiple ? "multiple sheets" : "one sheet");
    TempDir dir;
    const auto inputs = WriteInputs(dir);
    dir.Write("program/temp.mdb", "");

    std::string windowDump;
    {
      test::KeepAliveViews views;
      test::FakeWindow window;
      window.multiple = multiple;
      for (const auto& f : inputs) window.files.Add(f);
      ImportRun(window, dir.Str() + "/program").Start();
      ASSERT_EQ(window.BoxTexts(), std::vector<std::string>{"Done."});
      ASSERT_EQ(test::Views().size(), 1u);
      test::Views()[0]->App()->Workbooks(1).SaveAs(dir.Path() / "window.xlsx");
      windowDump = ReadXlsx(dir.Str() + "/window.xlsx").dump;
    }

    std::vector<std::string> args = {"-o", dir.Str() + "/cli.xlsx"};
    if (multiple) args.push_back("--multiple-sheets");
    args.insert(args.end(), inputs.begin(), inputs.end());
    std::ostringstream out, err;
    ASSERT_EQ(RunCli(args, out, err), 0) << err.str();
    const auto cli = ReadXlsx(dir.Str() + "/cli.xlsx");
    EXPECT_EQ(cli.dump, windowDump);

    // And the workbook is the one intended, not merely two equal wrong ones.
    if (multiple) {
      EXPECT_EQ(cli.SheetNames(),
                (std::vector<std::string>{"order", "line", "Orders1", "ImportErrors",
                                          "LastImportErrorsSeen", "Sheet2", "order1", "line1"}));
      // The value's column: LastImportErrorsSeen has its attribute first.
      for (const auto& [name, column] :
           {std::pair{"ImportErrors", 1}, {"LastImportErrorsSeen", 2}}) {
        ASSERT_NE(cli.Find(name), nullptr) << name;
        EXPECT_EQ(cli.Find(name)->At(2, column), "kept") << name;
      }
      const auto* odd = cli.Find("Orders1");
      ASSERT_NE(odd, nullptr);
      EXPECT_EQ(odd->At(2, 1), "a|xxspearaeatorxx|b");  // whole, in one cell
      // Kept as written: readers that undo the file format's escape show _x0041_, others
      // show the escape itself; never the letter A.
      EXPECT_TRUE(odd->At(2, 2) == "_x0041_" || odd->At(2, 2) == "_x005F_x0041_") << odd->At(2, 2);
      EXPECT_EQ(odd->At(2, 3), "007");
      EXPECT_EQ(odd->At(3, 1), "");  // Null
      EXPECT_EQ(odd->At(3, 4), "2026-02-30");
      EXPECT_EQ(cli.Find("line1")->At(2, 1), "1");  // link column order1_Row
      EXPECT_EQ(cli.Find("line1")->At(1, 1), "order1_Row");
    } else {
      EXPECT_EQ(cli.SheetNames(), std::vector<std::string>{"line1"});
      // order (3 rows) + line (3) + Orders[1] (3) + ImportErrors (2) +
      // LastImportErrorsSeen (2) + Sheet2 (2) + order1 (3) + line1 (3).
      EXPECT_EQ(cli.sheets[0].Rows(), 21);
      EXPECT_EQ(cli.sheets[0].At(11, 1), "kept");
      EXPECT_EQ(cli.sheets[0].At(13, 2), "kept");
    }
  }
}

}  // namespace
}  // namespace palomet
