// Tables longer than a sheet holds, with the sheets' last row lowered to 4, read back sheet
// after sheet: where the rows land, the sheets' names and looks, the links of a value cut on a
// continuation sheet, and what the user is told.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "importrun/WorkbookAssembly.h"
#include "tests/support/LowSheetRows.h"

namespace palomet {
namespace {

TEST(Continuation, TablesGoOnOnSheetsOfTheirNameAndEveryRecordArrivesOnceInOrder) {
  test::LowSheetRows rows(4);
  const std::string cut = "1 value longer than a cell holds was cut in its cell and kept whole "
                          "on sheet \"Long texts\".";
  const struct {
    const char* what;
    SheetMode mode;
    std::vector<std::pair<std::string, int>> tables;  // name, records
    int longRecord;                                   // of the first table, 0: none
    std::vector<std::string> sheets;
    std::string cutCell, notes;
  } cases[] = {
      {"a sheet filled exactly, then one table on three sheets", SheetMode::MultipleSheets,
       {{"A", 3}, {"B", 7}, {"C", 1}}, 0,
       {"A", "B", "B (2)", "B (3)", "C"}, "",
       "Table \"B\" has 7 rows, more than a sheet holds; it goes on on sheets \"B (2)\" and "
       "\"B (3)\"."},
      // A goes on where B is then stacked, which names the sheet; C finds it full.
      {"the stack goes on on the new sheet", SheetMode::OneSheet,
       {{"A", 4}, {"B", 1}, {"C", 2}}, 4,
       {"A", "B", "C", "Long texts"}, "B!C2",
       "Table \"A\" has 4 rows, more than a sheet holds; it goes on on sheet \"B\".\n" + cut},
      // B's field names would end the first sheet alone: B starts on the next instead;
      // field names with no record after them fit the last row.
      {"field names never end a sheet alone", SheetMode::OneSheet,
       {{"A", 2}, {"B", 1}, {"D", 0}, {"E", 0}}, 0, {"A", "E"}, "", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    WorkbookAssembly a(c.mode, WorkbookTarget{false});
    NoWindowHost host;
    for (const auto& [name, records] : c.tables) {
      std::vector<RowString> table(records + 1);
      table[0].AppendField("id");
      table[0].AppendField(name);
      for (int i = 1; i <= records; ++i) {
        table[i].AppendField(name + std::to_string(i));
        table[i].AppendField(std::to_string(i));
        if (name == "A" && i == c.longRecord) table[i].AppendField(std::string(40'000, 'x'));
      }
      a.PrepareSheet(name);
      a.WriteRows(name, table, host);
    }
    a.AddLongTexts(host);
    a.RemoveDefaultSheets();
    const xl::Workbook& wb = a.Workbook();

    // Joined in sheet order, the records come back whole, once and in the tables' order.
    std::vector<std::string> sheets;
    std::string joined, expected, table, last;
    for (long s = 1; s <= wb.SheetCount(); ++s) {
      const xl::Worksheet& sheet = wb.Sheet(s);
      sheets.push_back(sheet.Name());
      if (sheet.Name() == "Long texts") continue;
      last = sheet.Name();
      EXPECT_LE(sheet.UsedRows(), 4);
      EXPECT_EQ(sheet.Cell(1, 1).text, "id") << sheet.Name() << " begins with field names";
      for (int r = 1; r <= sheet.UsedRows(); ++r) {
        const std::string first = sheet.Cell(r, 1).DisplayText();
        if (first == "id") {
          table = sheet.Cell(r, 2).DisplayText();
          EXPECT_TRUE(sheet.RowBold(r));
        } else {
          EXPECT_EQ(first, table + sheet.Cell(r, 2).DisplayText()) << "a row split or astray";
          joined += first + " ";
        }
      }
      if (c.mode == SheetMode::MultipleSheets) {
        EXPECT_EQ(sheet.FrozenRows(), 1);
        ASSERT_NE(sheet.AutoFilter(), nullptr);
        EXPECT_EQ(*sheet.AutoFilter(), (xl::Worksheet::Range{1, 1, sheet.UsedRows(), 2}));
      }
    }
    EXPECT_EQ(sheets, c.sheets);
    EXPECT_EQ(wb.ActiveSheet().Name(), last) << "the workbook opens where the tables end";
    for (const auto& [name, records] : c.tables) {
      for (int i = 1; i <= records; ++i) expected += name + std::to_string(i) + " ";
    }
    EXPECT_EQ(joined, expected);
    EXPECT_EQ(a.Application().StatusBar(), c.notes);

    // The cut cell and its row on "Long texts" link to each other, on the sheet it ended on.
    if (c.cutCell.empty()) continue;
    const xl::Worksheet& kept = wb.Sheets("Long texts");
    ASSERT_EQ(kept.Hyperlinks().size(), 1u);
    EXPECT_EQ(kept.Hyperlinks()[0].location, c.cutCell);
    const auto& back = wb.Sheets(kept.Cell(2, 1).text).Hyperlinks();
    ASSERT_EQ(back.size(), 1u);
    EXPECT_EQ(xl::CellAddress(back[0].row, back[0].col), kept.Cell(2, 2).text);
    EXPECT_EQ(back[0].location, "'Long texts'!A2");
    EXPECT_TRUE(kept.RowBold(1) && kept.FitColumns());
  }
}

}  // namespace
}  // namespace palomet
