// The workbook engine's rules: typing, sheet names, limits, sheet operations, storage and
// the table of running instances.

#include <gtest/gtest.h>

#include <cmath>

#include <string>

#include "office/xl/Excel.h"

namespace palomet::xl {
namespace {

std::string Repeat(std::string_view s, int n) {
  std::string out;
  for (int i = 0; i < n; ++i) out += s;
  return out;
}

// A new application with one workbook, as the import run makes it.
struct Book {
  explicit Book(CellStorage storage = CellStorage::InMemory)
      : app(Application::Create(storage)), wb(app->AddWorkbook()) {}
  std::shared_ptr<Application> app;
  Workbook& wb;
};

std::string ErrorOf(const std::function<void()>& f) {
  try {
    f();
  } catch (const Error& e) {
    EXPECT_EQ(e.Number(), errnum::kSpreadsheet);
    return e.Description();
  }
  return "(no error)";
}

// --- typing ----------------------------------------------------------------------------

struct TypingCase {
  const char* input;
  CellType type;
  const char* format;  // number format, "" for text
  double number;       // for numbers and dates
};

void PrintTo(const TypingCase& c, std::ostream* os) {
  *os << '"' << c.input << '"';
}

class Typing : public testing::TestWithParam<TypingCase> {};

TEST_P(Typing, StoresWhatAPersonTypedWithoutLosingIt) {
  const TypingCase& c = GetParam();
  Book b;
  Worksheet& s = b.wb.ActiveSheet();
  s.SetCell(2, 3, c.input);
  const CellValue v = s.Cell(2, 3);
  EXPECT_EQ(v.type, c.type) << c.input;
  EXPECT_EQ(v.NumberFormat(), c.format) << c.input;
  // Whatever the type, the sheet shows exactly what was written.
  EXPECT_EQ(v.DisplayText(), c.input);
  if (c.type != CellType::Text) {
    EXPECT_DOUBLE_EQ(v.number, c.number) << c.input;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Typing,
    testing::Values(
        TypingCase{"12.50", CellType::Number, "0.00", 12.5},
        TypingCase{"-3", CellType::Number, "0", -3},
        TypingCase{"0.730", CellType::Number, "0.000", 0.73},
        TypingCase{"0", CellType::Number, "0", 0},
        TypingCase{"0.000", CellType::Number, "0.000", 0},
        TypingCase{"123456789012345", CellType::Number, "0", 123456789012345.0},
        TypingCase{"0.000000000000001234", CellType::Number, "0.000000000000000000", 1.234e-15},
        TypingCase{"1234567890.12345", CellType::Number, "0.00000", 1234567890.12345},
        // 16 significant digits, trailing zeros included, would not survive a double.
        TypingCase{"1234567890123456", CellType::Text, "", 0},
        TypingCase{"123456789012345.0", CellType::Text, "", 0},
        TypingCase{"1234567890123456789", CellType::Text, "", 0},
        TypingCase{"007", CellType::Text, "", 0}, TypingCase{"-0", CellType::Text, "", 0},
        TypingCase{"-0.00", CellType::Text, "", 0}, TypingCase{"+5", CellType::Text, "", 0},
        TypingCase{"1e5", CellType::Text, "", 0}, TypingCase{" 12", CellType::Text, "", 0},
        TypingCase{"12 ", CellType::Text, "", 0}, TypingCase{"1,000", CellType::Text, "", 0},
        TypingCase{".5", CellType::Text, "", 0}, TypingCase{"5.", CellType::Text, "", 0},
        TypingCase{"-", CellType::Text, "", 0}, TypingCase{"1/2", CellType::Text, "", 0},
        TypingCase{"TRUE", CellType::Text, "", 0}, TypingCase{"NaN", CellType::Text, "", 0},
        // More decimals than a spreadsheet can show stay text.
        TypingCase{"0.000000000000000000000000000001", CellType::Number,
                   "0.000000000000000000000000000000", 1e-30},
        TypingCase{"0.0000000000000000000000000000001", CellType::Text, "", 0},
        TypingCase{"2026-01-05", CellType::Date, "yyyy-mm-dd", 46027},
        TypingCase{"1900-03-01", CellType::Date, "yyyy-mm-dd", 61},
        TypingCase{"9999-12-31", CellType::Date, "yyyy-mm-dd", 2958465},
        TypingCase{"2024-02-29", CellType::Date, "yyyy-mm-dd", 45351},
        TypingCase{"2026-01-05T18:30:15", CellType::DateTime, "yyyy-mm-dd\"T\"hh:mm:ss",
                   46027 + (18 * 3600 + 30 * 60 + 15) / 86400.0},
        TypingCase{"2026-01-05T00:00:00", CellType::DateTime, "yyyy-mm-dd\"T\"hh:mm:ss", 46027},
        TypingCase{"1900-02-28", CellType::Text, "", 0},
        TypingCase{"2026-02-30", CellType::Text, "", 0},
        TypingCase{"2023-02-29", CellType::Text, "", 0},
        TypingCase{"1900-02-29", CellType::Text, "", 0},
        TypingCase{"2026-1-05", CellType::Text, "", 0},
        TypingCase{"2026-01-05T24:00:00", CellType::Text, "", 0},
        TypingCase{"2026-01-05T12:60:00", CellType::Text, "", 0},
        TypingCase{"2026-01-05T12:00:00Z", CellType::Text, "", 0},
        TypingCase{"2026-01-05T12:00:00.5", CellType::Text, "", 0},
        TypingCase{"2026-01-05 12:00:00", CellType::Text, "", 0},
        TypingCase{"_x0041_", CellType::Text, "", 0},
        TypingCase{"Zoë → 東京 😀", CellType::Text, "", 0}));

TEST(Typing, EmptyStringEmptiesTheCell) {
  for (auto storage : {CellStorage::InMemory, CellStorage::WriteThrough}) {
    Book b(storage);
    Worksheet& s = b.wb.ActiveSheet();
    s.SetCell(1, 1, "");
    EXPECT_TRUE(s.IsEmpty());
    s.SetCell(1, 2, "x");
    s.SetCell(1, 2, "");
    EXPECT_TRUE(s.IsEmpty()) << "writing the empty string over a value clears it";
  }
}

// --- sheet names -------------------------------------------------------------------------

struct NameCase {
  std::string name;
  const char* rule;  // part of the message; nullptr when the name is taken
};

TEST(SheetNames, RefusedNamesSayWhichRule) {
  const NameCase cases[] = {
      {"", "cannot be empty"},
      {std::string(32, 'a'), "at most 31 characters"},
      {Repeat("😀", 16), "at most 31 characters"},  // 32 UTF-16 units
      {"a:b", "cannot contain"},
      {"a\\b", "cannot contain"},
      {"a/b", "cannot contain"},
      {"a?b", "cannot contain"},
      {"a*b", "cannot contain"},
      {"a[b", "cannot contain"},
      {"a]b", "cannot contain"},
      {"'ab", "apostrophe"},
      {"ab'", "apostrophe"},
      {"SHEET2", "another sheet of the workbook is named \"Sheet2\""},
      {"\xff", "not valid UTF-8"},
      {std::string(31, 'a'), nullptr},
      {Repeat("😀", 15) + "a", nullptr},
      {"a'b", nullptr},
      {"Orders (2)", nullptr},
  };
  for (const auto& c : cases) {
    Book b;
    Worksheet& s = b.wb.Sheet(1);
    const std::string err = ErrorOf([&] { s.SetName(c.name); });
    if (c.rule) {
      EXPECT_NE(err.find(c.rule), std::string::npos) << c.name << " -> " << err;
      EXPECT_EQ(s.Name(), "Sheet1") << "a refused name leaves the sheet as it was";
    } else {
      EXPECT_EQ(err, "(no error)") << c.name;
      EXPECT_EQ(s.Name(), c.name);
    }
  }
}

TEST(SheetNames, ComparedWithUnicodeCaseFolding) {
  Book b;
  b.wb.Sheet(1).SetName("Ärger");
  EXPECT_NE(ErrorOf([&] { b.wb.Sheet(2).SetName("äRGER"); }).find("another sheet"),
            std::string::npos);
  b.wb.Sheet(1).SetName("äRGER");  // a sheet may take its own name in another case
  EXPECT_EQ(b.wb.Sheet(1).Name(), "äRGER");
  EXPECT_EQ(&b.wb.Sheets("ärger"), &b.wb.Sheet(1));

  // ASCII names: letters compare in either case, nothing else does; a non-ASCII letter
  // that folds onto an ASCII one (the Kelvin sign) still matches.
  b.wb.Sheet(2).SetName("Orders_2");
  EXPECT_EQ(&b.wb.Sheets("oRDERS_2"), &b.wb.Sheet(2));
  for (const char* other : {"Orders_2 ", "Orders_", "Orders-2", "Orders@2",
                            "Orders\x7f"
                            "2"}) {
    EXPECT_THROW(b.wb.Sheets(other), Error) << other;
  }
  b.wb.Sheet(2).SetName("Kilo");
  EXPECT_EQ(&b.wb.Sheets("\u212Ailo"), &b.wb.Sheet(2));
  // Full folding, as spreadsheets compare names: a character may fold to several.
  b.wb.Sheet(2).SetName("Straße ﬁle");
  EXPECT_EQ(&b.wb.Sheets("STRASSE FILE"), &b.wb.Sheet(2));
  EXPECT_EQ(&b.wb.Sheets("strasse file"), &b.wb.Sheet(2));
  EXPECT_NE(ErrorOf([&] { b.wb.Sheet(3).SetName("STRAẞE FILE"); }).find("another sheet"),
            std::string::npos);
  b.wb.Sheet(2).SetName("Kilo");

  // Renamed and deleted sheets give their names up; lookups follow every change.
  EXPECT_EQ(b.wb.FindSheet("orders_2"), nullptr);
  EXPECT_EQ(b.wb.FindSheet("sheet1"), nullptr);
  Worksheet& added = b.wb.AddSheet();
  EXPECT_EQ(added.Name(), "Sheet1");
  EXPECT_EQ(b.wb.FindSheet("SHEET1"), &added);
  added.Delete();
  EXPECT_EQ(b.wb.FindSheet("Sheet1"), nullptr);
  b.wb.Sheet(1).SetName("Orders_2");  // free again since the rename to Kilo
  EXPECT_EQ(b.wb.FindSheet("ärger"), nullptr);
  EXPECT_EQ(&b.wb.Sheets("ORDERS_2"), &b.wb.Sheet(1));
}

// --- limits ------------------------------------------------------------------------------

TEST(Limits, WritesOutsideTheSheetNameSheetRowAndColumn) {
  struct Case {
    std::int64_t row, col;
    std::string value;
    const char* message;
  };
  const Case cases[] = {
      {0, 1, "x", "Sheet \"Sheet1\", row 0, column 1: the row is outside"},
      {1'048'577, 1, "x",
       "row 1048577, column 1: the row is outside the sheet, which has rows "
       "1 to 1,048,576"},
      {1, 0, "x", "row 1, column 0: the column is outside"},
      {5, 16'385, "x", "row 5, column 16385: the column is outside"},
      {7, 2, std::string(32'768, 'a'), "row 7, column 2: the text has 32,768 characters"},
      {7, 2, Repeat("😀", 16'384), "the text has 32,768 characters"},
      {3, 3, "ab\xc3", "row 3, column 3: the text is not valid UTF-8"},
      // 32,767 characters as given, but 60,853 once written to the file.
      {4, 1, Repeat("_x0041_", 4'681), "takes 60,853 characters in the file"},
      {3, 3, "\xed\xa0\x80", "not valid UTF-8"},  // an encoded surrogate
      {3, 3, "\xc0\xaf", "not valid UTF-8"},      // an overlong form
  };
  for (const auto& c : cases) {
    Book b;
    const std::string err = ErrorOf([&] { b.wb.ActiveSheet().SetCell(c.row, c.col, c.value); });
    EXPECT_NE(err.find(c.message), std::string::npos) << err;
    EXPECT_TRUE(b.wb.ActiveSheet().IsEmpty());
  }
  Book b;
  Worksheet& s = b.wb.ActiveSheet();
  s.SetCell(1'048'576, 16'384, "corner");
  s.SetCell(1, 1, std::string(32'767, 'z'));
  s.SetCell(1, 2, Repeat("😀", 16'383) + "a");  // 32,767 units
  EXPECT_EQ(s.Cell(1'048'576, 16'384).DisplayText(), "corner");
  EXPECT_EQ(s.Cell(1, 1).text.size(), 32'767u);
  EXPECT_EQ(s.UsedRows(), 1'048'576);
  EXPECT_EQ(s.UsedColumns(), 16'384);
  // A column's width: of a column of the sheet, above 0 and at most 255 characters.
  const std::pair<std::int64_t, double> widths[] = {{0, 10}, {16'385, 10}, {3, 0},
                                                    {3, -1}, {3, 255.5},   {3, std::nan("")}};
  for (const auto& [col, width] : widths) {
    EXPECT_THROW(s.SetColumnWidth(col, width), Error) << col << " " << width;
  }
  EXPECT_EQ(s.ColumnWidth(3), 0);
}

// --- sheets and workbooks ----------------------------------------------------------------

std::vector<std::string> Names(const Workbook& wb) {
  std::vector<std::string> out;
  for (long i = 1; i <= wb.SheetCount(); ++i) out.push_back(wb.Sheet(i).Name());
  return out;
}

TEST(Sheets, NewWorkbookHasThreeEmptySheetsTheFirstActive) {
  Book b;
  EXPECT_EQ(Names(b.wb), (std::vector<std::string>{"Sheet1", "Sheet2", "Sheet3"}));
  EXPECT_EQ(&b.wb.ActiveSheet(), &b.wb.Sheet(1));
  EXPECT_EQ(b.app->WorkbookCount(), 1);
  EXPECT_EQ(&b.app->Workbooks(1), &b.wb);
  EXPECT_EQ(&b.app->ActiveSheet(), &b.wb.Sheet(1));
  EXPECT_EQ(b.app->Name(), "Microsoft Excel");
}

TEST(Sheets, AddedSheetsFollowTheActiveOneAndBecomeActive) {
  Book b;
  Worksheet& a = b.app->AddSheet();
  a.SetName("A");
  b.app->AddSheet().SetName("B");
  EXPECT_EQ(Names(b.wb), (std::vector<std::string>{"Sheet1", "A", "B", "Sheet2", "Sheet3"}));
  b.wb.Activate(b.wb.Sheets("Sheet3"));
  EXPECT_EQ(b.app->AddSheet().Name(), "Sheet4");  // the lowest free default name
  EXPECT_EQ(b.wb.Sheet(6).Name(), "Sheet4");
}

TEST(Sheets, DeleteByNameAndTheLastSheetStays) {
  Book b;
  b.wb.Sheets("sheet1").Delete();
  EXPECT_EQ(Names(b.wb), (std::vector<std::string>{"Sheet2", "Sheet3"}));
  EXPECT_EQ(b.wb.ActiveSheet().Name(), "Sheet2") << "the next sheet becomes active";
  b.wb.Sheets("Sheet3").Delete();
  EXPECT_NE(ErrorOf([&] { b.wb.Sheets("Sheet2").Delete(); }).find("at least one sheet"),
            std::string::npos);
  EXPECT_NE(ErrorOf([&] { b.wb.Sheets("Nope"); }).find("no sheet named \"Nope\""),
            std::string::npos);
  EXPECT_NE(ErrorOf([&] { b.app->Workbooks(2); }).find("no workbook number 2"), std::string::npos);
  EXPECT_NE(ErrorOf([] { Application::Create()->ActiveSheet(); }).find("No workbook"),
            std::string::npos);
}

// --- storage -----------------------------------------------------------------------------

TEST(Storage, OverwritesAndBackwardWritesKeepTheLastValue) {
  Book b;
  Worksheet& s = b.wb.ActiveSheet();
  s.SetCell(5, 5, "last");
  s.SetCell(1, 1, "first");
  s.SetCell(5, 5, "again");
  s.SetCell(3, 9, "wide");
  s.SetCell(3, 9, "");
  EXPECT_EQ(s.Cell(5, 5).DisplayText(), "again");
  EXPECT_EQ(s.Cell(1, 1).DisplayText(), "first");
  EXPECT_EQ(s.Cell(3, 9).type, CellType::Empty);
  EXPECT_EQ(s.UsedRows(), 5);
  EXPECT_EQ(s.UsedColumns(), 5);
  // Appending in order after the shuffle still works.
  s.SetCell(6, 1, "6");
  EXPECT_EQ(s.Cell(6, 1).number, 6);
}

TEST(Storage, CellsCostAtMostSixteenBytesBesidesTheirText) {
  Book b;
  Worksheet& s = b.wb.ActiveSheet();
  const int rows = 200'000, cols = 10;
  for (int r = 1; r <= rows; ++r) {
    for (int c = 1; c <= cols; ++c) s.SetCell(r, c, c % 2 ? "12.5" : "text");
  }
  const double perCell = static_cast<double>(s.CellBytes()) / (rows * cols);
  EXPECT_LE(perCell, 16.0 * 1.04);  // the last block is partly filled
  EXPECT_EQ(s.Cell(rows, cols).DisplayText(), "text");
}

// --- running instances ---------------------------------------------------------------------

class Impostor : public RunningObject {
 public:
  std::string Name() const override { return "Microsoft excel"; }
};

TEST(RunningInstances, AnInstanceIsFoundOnlyWhileItsWindowIsOpen) {
  try {
    Application::Attach();
    FAIL() << "attach found an instance though none runs";
  } catch (const Error& e) {
    EXPECT_EQ(e.Number(), kErrNoRunningInstance);
  }
  auto app = Application::Create();
  app->ViewOpened();
  EXPECT_EQ(Application::Attach(), app);
  EXPECT_EQ(RunningObjectTable::GetObject("Excel.Application")->Name(), "Microsoft Excel");
  app->ViewClosed();
  EXPECT_THROW(Application::Attach(), Error);

  // Whatever is registered answers through its own default property; a gone object drops out.
  auto other = std::make_shared<Impostor>();
  const auto cookie = RunningObjectTable::Register("Excel.Application", other);
  EXPECT_EQ(RunningObjectTable::GetObject("Excel.Application")->Name(), "Microsoft excel");
  EXPECT_THROW(Application::Attach(), Error) << "an impostor is not an application";
  other.reset();
  EXPECT_THROW(RunningObjectTable::GetObject("Excel.Application"), Error);
  RunningObjectTable::Revoke(cookie);

  app->ViewOpened();
  app.reset();  // the application went away with its registration
  EXPECT_THROW(Application::Attach(), Error);
}

}  // namespace
}  // namespace palomet::xl
