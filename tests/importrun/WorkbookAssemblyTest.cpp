// The workbook assembly: sheet names from table names, both sheet modes, the rows as
// cells, the removal of the default sheets, yielding and stopping.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "importrun/Excel1.h"
#include "importrun/WorkbookAssembly.h"

namespace palomet {
namespace {

using xl::CellType;

std::string Repeat(std::string_view s, int n) {
  std::string out;
  for (int i = 0; i < n; ++i) out += s;
  return out;
}

RowString Row(std::initializer_list<std::string_view> fields) {
  RowString r;
  for (auto f : fields) r.AppendField(f);
  return r;
}

// A table: its field names and `records` records of its fields, "<field><record>".
std::vector<RowString> Table(std::initializer_list<std::string_view> fields, int records) {
  std::vector<RowString> rows{Row(fields)};
  for (int i = 1; i <= records; ++i) {
    RowString r;
    for (auto f : fields) r.AppendField(std::string(f) + std::to_string(i));
    rows.push_back(r);
  }
  return rows;
}

std::vector<std::string> SheetNames(const xl::Workbook& wb) {
  std::vector<std::string> out;
  for (long i = 1; i <= wb.SheetCount(); ++i) out.push_back(wb.Sheet(i).Name());
  return out;
}

std::string At(const xl::Worksheet& s, int row, int col) {
  return s.Cell(row, col).DisplayText();
}

// Counts yields and can close the window after a number of them.
class CountingHost : public NoWindowHost {
 public:
  void DoEvents() override {
    ++yields;
    if (closeAfter && yields >= closeAfter) closed = true;
  }
  bool Closed() const override { return closed; }
  int yields = 0;
  int closeAfter = 0;
  bool closed = false;
};

WorkbookTarget Headless() {
  return WorkbookTarget{true};
}

// --- sheet names ---------------------------------------------------------------------------

TEST(MakeSheetName, CleansAndCutsTableNames) {
  const std::pair<std::string, std::string> cases[] = {
      {"Orders[1]", "Orders1"},
      {"[[a]]b]", "ab"},
      {std::string(40, 'x'), std::string(30, 'x')},
      {"a:b/c\\d?e*f", "a_b_c_d_e_f"},
      {"'quoted'", "_quoted_"},
      {"it's", "it's"},
      {"[]", "_"},
      {"", "_"},
      {std::string(29, 'a') + "😀", std::string(29, 'a')},  // no half surrogate pair
      {std::string(28, 'a') + "😀", std::string(28, 'a') + "😀"},
      {Repeat("é", 35), Repeat("é", 30)},
      {std::string(29, 'a') + "'b", std::string(29, 'a') + "_"},  // the cut exposes an apostrophe
  };
  for (const auto& [table, sheet] : cases) EXPECT_EQ(MakeSheetName(table), sheet) << table;
}

TEST(PrepareSheet, NamesThatClashAreResolvedInsteadOfEndingTheRun) {
  CountingHost host;
  WorkbookAssembly a(SheetMode::MultipleSheets, Headless());
  const std::string long1 = std::string(30, 'L') + "-first";
  const std::string long2 = std::string(30, 'L') + "-second";
  for (const std::string& t : {std::string("Sheet2"), std::string("Data"), std::string("DATA"),
                               long1, long2, std::string("Data[]"), std::string("Straße"),
                               std::string("STRASSE")}) {
    a.PrepareSheet(t);
    a.WriteRows(t, Table({"F"}, 1), host);
  }
  a.RemoveDefaultSheets();
  EXPECT_EQ(SheetNames(a.Workbook()),
            (std::vector<std::string>{"Sheet2", "Data", "DATA (2)", std::string(30, 'L'),
                                      std::string(27, 'L') + " (2)", "Data (3)", "Straße",
                                      "STRASSE (2)"}));
  // The table "Sheet2" took the place of the unused default sheet and keeps its rows.
  EXPECT_EQ(At(a.Workbook().Sheets("Sheet2"), 2, 1), "F1");
}

TEST(PrepareSheet, OneSheetModeRenamesTheSameSheetForEveryTable) {
  CountingHost host;
  WorkbookAssembly a(SheetMode::OneSheet, Headless());
  a.PrepareSheet("Sheet3");  // the unused default sheet of that name gives way
  a.WriteRows("Sheet3", Table({"A"}, 1), host);
  a.PrepareSheet("T");
  a.WriteRows("T", Table({"A"}, 1), host);
  a.PrepareSheet("t");  // its own name again, in another case
  a.RemoveDefaultSheets();
  EXPECT_EQ(SheetNames(a.Workbook()), std::vector<std::string>{"t"});
}

// Spreadsheets keep "History" for themselves, in any case; a table of that name takes the
// next free name.
TEST(PrepareSheet, HistoryInAnyCaseIsNeverASheetName) {
  CountingHost host;
  WorkbookAssembly many(SheetMode::MultipleSheets, Headless());
  for (const char* t : {"History", "HISTORY", "history (2)", "Histories"}) {
    many.PrepareSheet(t);
    many.WriteRows(t, Table({"F"}, 1), host);
  }
  many.RemoveDefaultSheets();
  EXPECT_EQ(
      SheetNames(many.Workbook()),
      (std::vector<std::string>{"History (2)", "HISTORY (3)", "history (2) (2)", "Histories"}));

  WorkbookAssembly one(SheetMode::OneSheet, Headless());
  one.PrepareSheet("HISTORY");
  one.WriteRows("HISTORY", Table({"A"}, 1), host);
  EXPECT_EQ(SheetNames(one.Workbook()),
            (std::vector<std::string>{"HISTORY (2)", "Sheet2", "Sheet3"}));
  one.PrepareSheet("History");
  one.WriteRows("History", Table({"A"}, 1), host);
  one.RemoveDefaultSheets();
  EXPECT_EQ(SheetNames(one.Workbook()), std::vector<std::string>{"History (2)"});
}

// --- rows into cells -------------------------------------------------------------------

TEST(WriteRows, OneSheetModeStacksTablesWithTheirOwnHeaders) {
  CountingHost host;
  WorkbookAssembly a(SheetMode::OneSheet, Headless());
  a.PrepareSheet("First");
  a.WriteRows("First", Table({"Id", "Name"}, 2), host);  // 3 row strings
  a.PrepareSheet("Second");
  a.WriteRows("Second", Table({"Code", "Qty", "Note"}, 1), host);  // 2 row strings
  EXPECT_EQ(a.SheetRowOffset(), 5);
  a.RemoveDefaultSheets();

  ASSERT_EQ(SheetNames(a.Workbook()), std::vector<std::string>{"Second"});
  const xl::Worksheet& s = a.Workbook().Sheet(1);
  const std::vector<std::vector<std::string>> expected = {{"Id", "Name", ""},
                                                          {"Id1", "Name1", ""},
                                                          {"Id2", "Name2", ""},
                                                          {"Code", "Qty", "Note"},
                                                          {"Code1", "Qty1", "Note1"}};
  for (int r = 0; r < 5; ++r) {
    for (int c = 0; c < 3; ++c) EXPECT_EQ(At(s, r + 1, c + 1), expected[r][c]) << r << c;
  }
  EXPECT_EQ(s.UsedRows(), 5);
  EXPECT_EQ(s.UsedColumns(), 3) << "the empty piece after the last separator fills nothing";
}

TEST(WriteRows, MultipleSheetsModeGivesEachTableItsSheetInOrder) {
  // More sheets than readers open is said in the status line, with a way to make fewer.
  for (const long readersOpen : {3L, 2L}) {
    SetSheetsReadersOpen(readersOpen);
    CountingHost host;
    WorkbookAssembly a(SheetMode::MultipleSheets, Headless());
    for (const char* t : {"A", "B", "C"}) {
      a.PrepareSheet(t);
      a.WriteRows(t, Table({"F", "G"}, 2), host);
    }
    EXPECT_EQ(a.SheetRowOffset(), 9);
    a.RemoveDefaultSheets();
    ASSERT_EQ(SheetNames(a.Workbook()), (std::vector<std::string>{"A", "B", "C"}));
    for (long i = 1; i <= 3; ++i) {
      const xl::Worksheet& s = a.Workbook().Sheet(i);
      EXPECT_EQ(At(s, 1, 1), "F");
      EXPECT_EQ(At(s, 3, 2), "G2") << "rows start at 1 on every sheet";
      EXPECT_EQ(s.UsedRows(), 3);
    }
    EXPECT_EQ(a.Application().StatusBar(),
              readersOpen == 3 ? ""
                               : "The workbook has 3 sheets; LibreOffice opens no workbook of "
                                 "more than 2. Send the files to one sheet, or combine tables of "
                                 "the same name from all files, to make fewer.");
  }
  SetSheetsReadersOpen(kSheetsReadersOpen);
}

TEST(WriteRows, FieldsKeepTheirColumnsAndStayWhole) {
  CountingHost host;
  WorkbookAssembly a(SheetMode::MultipleSheets, Headless());
  a.PrepareSheet("T");
  const std::string withSeparator = "left|xxspearaeatorxx|right";
  std::vector<RowString> rows{Row({"A", "B", "C"}), Row({"1", "", "3"}),
                              Row({withSeparator, "12.50", "2026-01-05"}), RowString{}};
  a.WriteRows("T", rows, host);
  const xl::Worksheet& s = a.Workbook().Sheets("T");
  EXPECT_EQ(At(s, 2, 1), "1");
  EXPECT_EQ(s.Cell(2, 2).type, CellType::Empty);
  EXPECT_EQ(At(s, 2, 3), "3");
  EXPECT_EQ(At(s, 3, 1), withSeparator) << "a value holding the separator text lands whole";
  EXPECT_EQ(s.Cell(3, 2).type, CellType::Number);
  EXPECT_EQ(s.Cell(3, 3).type, CellType::Date);
  EXPECT_EQ(s.UsedRows(), 3) << "an empty row string writes nothing";
  EXPECT_EQ(a.SheetRowOffset(), 4) << "but it counts as a row";
}

TEST(WriteRows, HeaderOnlyAndEmptyTables) {
  CountingHost host;
  WorkbookAssembly a(SheetMode::OneSheet, Headless());
  a.PrepareSheet("H");
  a.WriteRows("H", Table({"Only"}, 0), host);
  a.PrepareSheet("E");
  a.WriteRows("E", std::vector<RowString>{}, host);
  EXPECT_EQ(a.SheetRowOffset(), 1);
  a.PrepareSheet("H2");
  a.WriteRows("H2", Table({"Next"}, 0), host);
  EXPECT_EQ(At(a.Workbook().Sheet(1), 2, 1), "Next") << "the next free row";
}

TEST(WriteRows, ErrorsNameTheTableAndRowAndKeepWhatWasWritten) {
  CountingHost host;
  WorkbookAssembly a(SheetMode::MultipleSheets, Headless());
  a.PrepareSheet("Wide");
  RowString wide;
  for (int i = 0; i < 16'385; ++i) wide.AppendField("v");
  RowString exact;
  for (int i = 0; i < 16'384; ++i) exact.AppendField("w");
  std::vector<RowString> rows{Row({"h"}), exact, wide};
  try {
    a.WriteRows("Wide", rows, host);
    FAIL() << "a 16,385th column was accepted";
  } catch (const Error& e) {
    EXPECT_EQ(e.Number(), errnum::kSpreadsheet);
    EXPECT_EQ(
        e.Description().rfind("Table \"Wide\", row 3: Sheet \"Wide\", row 3, column 16385:", 0), 0u)
        << e.Description();
  }
  EXPECT_EQ(At(a.Workbook().Sheets("Wide"), 2, 16'384), "w")
      << "16,384 fields fit, though their empty last piece falls past the sheet";
  EXPECT_EQ(At(a.Workbook().Sheets("Wide"), 3, 16'384), "v");
}

// --- default sheets ------------------------------------------------------------------------

TEST(WriteRows, EachTableGetsABoldHeaderFittedColumnsAndInItsOwnSheetAFrozenFilteredHeader) {
  CountingHost host;
  WorkbookAssembly one(SheetMode::OneSheet, Headless());
  one.PrepareSheet("First");
  one.WriteRows("First", Table({"Id", "Name"}, 2), host);
  one.PrepareSheet("Second");
  one.WriteRows("Second", Table({"Code"}, 0), host);  // its field names only
  const xl::Worksheet& s = one.Workbook().Sheets("Second");
  EXPECT_EQ(s.BoldRows(), (std::vector<std::int64_t>{1, 4}));
  EXPECT_EQ(s.ColumnWidth(1), 4 + xl::Worksheet::kFitMargin);  // "Code"
  EXPECT_EQ(s.ColumnWidth(2), 5 + xl::Worksheet::kFitMargin);  // "Name1"
  EXPECT_EQ(s.FrozenRows(), 0) << "stacked tables share no header row";
  EXPECT_EQ(s.AutoFilter(), nullptr);

  WorkbookAssembly multi(SheetMode::MultipleSheets, Headless());
  multi.PrepareSheet("T");
  std::vector<RowString> rows = Table({"A", "B", "C"}, 2);
  rows.emplace_back();  // an empty row string at the end fills nothing
  multi.WriteRows("T", rows, host);
  multi.PrepareSheet("H");
  multi.WriteRows("H", Table({"Only", "Two"}, 0), host);
  const xl::Worksheet& t = multi.Workbook().Sheets("T");
  EXPECT_EQ(t.BoldRows(), std::vector<std::int64_t>{1});
  EXPECT_EQ(t.FrozenRows(), 1);
  ASSERT_NE(t.AutoFilter(), nullptr);
  EXPECT_EQ(*t.AutoFilter(), (xl::Worksheet::Range{1, 1, 3, 3}));
  const xl::Worksheet& h = multi.Workbook().Sheets("H");
  EXPECT_EQ(h.FrozenRows(), 1);
  ASSERT_NE(h.AutoFilter(), nullptr);
  EXPECT_EQ(*h.AutoFilter(), (xl::Worksheet::Range{1, 1, 1, 2}));
}

TEST(RemoveDefaultSheets, KeepsOneSheetWhenNoTableWasWritten) {
  for (SheetMode mode : {SheetMode::OneSheet, SheetMode::MultipleSheets}) {
    WorkbookAssembly a(mode, Headless());
    a.RemoveDefaultSheets();
    EXPECT_EQ(SheetNames(a.Workbook()), std::vector<std::string>{"Sheet3"});
  }
}

TEST(RemoveDefaultSheets, KeepsDefaultSheetsThatHoldCellsOrTables) {
  CountingHost host;
  WorkbookAssembly a(SheetMode::MultipleSheets, Headless());
  a.Workbook().Sheets("Sheet3").SetCell(1, 1, "kept");
  a.PrepareSheet("Sheet1");  // a table of that name, with no rows at all
  a.WriteRows("Sheet1", std::vector<RowString>{}, host);
  a.RemoveDefaultSheets();
  EXPECT_EQ(SheetNames(a.Workbook()), (std::vector<std::string>{"Sheet1", "Sheet3"}));
}

// --- yielding, stopping, streaming ---------------------------------------------------------

TEST(WriteRows, YieldsAtEveryTableAndStopsAtOnceWhenTheWindowCloses) {
  CountingHost host;
  WorkbookAssembly a(SheetMode::MultipleSheets, Headless());
  a.PrepareSheet("T");
  a.WriteRows("T", Table({"A"}, 3), host);
  EXPECT_GE(host.yields, 1);

  CountingHost closing;
  closing.closeAfter = 1;
  a.PrepareSheet("U");
  EXPECT_THROW(a.WriteRows("U", Table({"A", "B"}, 100), closing), RunAborted);
  EXPECT_TRUE(a.Workbook().Sheets("U").IsEmpty()) << "nothing is written after the close";
}

// A table produced a row at a time, as the command line streams it.
class CountingSource : public RowSource {
 public:
  explicit CountingSource(int rows) : rows_(rows) {}
  const RowString* Next() override {
    if (next_ > rows_) return nullptr;
    row_.Clear();
    row_.AppendField(next_ == 0 ? "N" : std::to_string(next_));
    ++next_;
    return &row_;
  }

 private:
  int rows_, next_ = 0;
  RowString row_;
};

TEST(WriteRows, StreamsARowSourceIntoAWriteThroughWorkbook) {
  CountingHost host;
  WorkbookAssembly a(SheetMode::OneSheet, kFileTarget);
  EXPECT_EQ(a.Application().Storage(), xl::CellStorage::WriteThrough);
  EXPECT_FALSE(a.Application().Visible());
  EXPECT_FALSE(a.Application().DisplayAlerts());
  a.PrepareSheet("Big");
  CountingSource source(50'000);
  a.WriteRows("Big", source, host);
  EXPECT_EQ(a.SheetRowOffset(), 50'001);
  EXPECT_EQ(a.Workbook().Sheets("Big").UsedRows(), 50'001);
  EXPECT_GT(host.yields, 0);
  EXPECT_LT(host.yields, 5'000) << "yields are cheap: not one DoEvents per field";
}

}  // namespace
}  // namespace palomet
