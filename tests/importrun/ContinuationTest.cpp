// Tables longer than a sheet holds, with the sheets' last row lowered to 4: every record
// arrives once and in order, a row never split, on sheets named and formatted as the
// table's first, and the user is told where each table goes on.

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "importrun/WorkbookAssembly.h"
#include "tests/support/LowSheetRows.h"

namespace palomet {
namespace {

TEST(Continuation, TablesGoOnOnSheetsOfTheirNameAndEveryRecordArrivesOnceInOrder) {
  test::LowSheetRows rows(4);
  const struct {
    const char* what;
    SheetMode mode;
    std::vector<std::pair<std::string, int>> tables;  // name, records
    std::vector<std::string> sheets;
    std::string notes;
  } cases[] = {
      {"a sheet filled exactly, then one table on three sheets", SheetMode::MultipleSheets,
       {{"A", 3}, {"B", 7}, {"C", 1}},
       {"A", "B", "B (2)", "B (3)", "C"},
       "Table \"B\" has 7 rows, more than a sheet holds; it goes on on sheets \"B (2)\" and "
       "\"B (3)\"."},
      // A goes on where B is then stacked, which names the sheet; C finds it full.
      {"the stack goes on on the new sheet", SheetMode::OneSheet,
       {{"A", 4}, {"B", 1}, {"C", 2}},
       {"A", "B", "C"},
       "Table \"A\" has 4 rows, more than a sheet holds; it goes on on sheet \"B\"."},
      // B's field names would end the first sheet alone: B starts on the next instead;
      // field names with no record after them fit the last row.
      {"field names never end a sheet alone", SheetMode::OneSheet,
       {{"A", 2}, {"B", 1}, {"D", 0}, {"E", 0}},
       {"A", "E"},
       ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    WorkbookAssembly a(c.mode, WorkbookTarget{false});
    NoWindowHost host;
    for (const auto& [name, records] : c.tables) {
      std::vector<RowString> table(1);
      table[0].AppendField("id");
      table[0].AppendField(name);
      for (int i = 1; i <= records; ++i) {
        table.emplace_back();
        table.back().AppendField(name + std::to_string(i));
        table.back().AppendField(std::to_string(i));
      }
      a.PrepareSheet(name);
      a.WriteRows(name, table, host);
    }
    a.AddLongTexts(host);
    a.RemoveDefaultSheets();
    const xl::Workbook& wb = a.Workbook();

    // Joined in sheet order, each table's records come back whole, once and in order.
    std::vector<std::string> sheets;
    std::map<std::string, std::vector<std::string>> joined;
    std::string table;
    for (long s = 1; s <= wb.SheetCount(); ++s) {
      const xl::Worksheet& sheet = wb.Sheet(s);
      sheets.push_back(sheet.Name());
      EXPECT_LE(sheet.UsedRows(), 4);
      EXPECT_EQ(sheet.Cell(1, 1).text, "id") << sheet.Name() << " begins with field names";
      for (int r = 1; r <= sheet.UsedRows(); ++r) {
        const std::string first(sheet.Cell(r, 1).DisplayText());
        const std::string second(sheet.Cell(r, 2).DisplayText());
        if (first == "id") {
          table = second;
          EXPECT_TRUE(sheet.RowBold(r));
        } else {
          EXPECT_EQ(first, table + second) << "a row split or astray";
          joined[table].push_back(first);
        }
      }
      if (c.mode == SheetMode::MultipleSheets) {
        EXPECT_EQ(sheet.FrozenRows(), 1);
        ASSERT_NE(sheet.AutoFilter(), nullptr);
        EXPECT_EQ(*sheet.AutoFilter(), (xl::Worksheet::Range{1, 1, sheet.UsedRows(), 2}));
      }
    }
    EXPECT_EQ(sheets, c.sheets);
    for (const auto& [name, records] : c.tables) {
      std::vector<std::string> expected;
      for (int i = 1; i <= records; ++i) expected.push_back(name + std::to_string(i));
      EXPECT_EQ(joined[name], expected) << name;
    }
    EXPECT_EQ(wb.ActiveSheet().Name(), c.sheets.back()) << "the last sheet written";
    EXPECT_EQ(a.Application().StatusBar(), c.notes);
  }
}

}  // namespace
}  // namespace palomet
