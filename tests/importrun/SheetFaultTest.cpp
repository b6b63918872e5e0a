// Sheets at their limits through the workbook assembly: a cell past a limit names the table
// and its row as well as the sheet, the row and the column, also when one-sheet mode has
// stacked earlier tables above; table names that hold characters a saved sheet name cannot
// keep still get a sheet, under a name that survives the save.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "filelist/WindowHost.h"
#include "importrun/Excel1.h"
#include "importrun/WorkbookAssembly.h"
#include "office/Error.h"

namespace palomet {
namespace {

// `rows` rows of one field each, made as they are asked for.
class GeneratedRows : public RowSource {
 public:
  GeneratedRows(std::int64_t rows, std::string value) : left_(rows), value_(std::move(value)) {}
  const RowString* Next() override {
    if (left_-- <= 0) return nullptr;
    row_.Clear();
    row_.AppendField(value_);
    return &row_;
  }

 private:
  std::int64_t left_;
  std::string value_;
  RowString row_;
};

std::string WriteError(WorkbookAssembly& a, const std::string& table, RowSource& rows) {
  NoWindowHost host;
  a.PrepareSheet(table);
  try {
    a.WriteRows(table, rows, host);
  } catch (const Error& e) {
    EXPECT_EQ(e.Number(), errnum::kSpreadsheet);
    return e.Description();
  }
  return {};
}

TEST(SheetLimits, ErrorsThroughWriteRowsNameTableRowSheetAndCell) {
  const struct {
    const char* what;
    SheetMode mode;
    std::int64_t stackedAbove;  // rows of a table written before, in one-sheet mode
    std::int64_t rows;
    std::string value;
    std::string says;
  } cases[] = {
      // Longer texts are cut and kept whole on a sheet of their own, in pieces that fill one
      // row; this one would need a piece past the last column.
      {"a text whose pieces would pass the last column", SheetMode::MultipleSheets, 0, 1,
       std::string(16'381 * std::size_t{32'767} + 1, 'x'),
       "Table \"T\", row 1: Sheet \"T\", row 1, column 1: the text has 536,756,228 characters"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    WorkbookAssembly a(c.mode, kFileTarget);
    if (c.stackedAbove > 0) {
      GeneratedRows above(c.stackedAbove, "a");
      EXPECT_EQ(WriteError(a, "Above", above), "");
    }
    GeneratedRows rows(c.rows, c.value);
    const std::string error = WriteError(a, "T", rows);
    EXPECT_EQ(error.rfind(c.says, 0), 0u) << error;
  }
}

TEST(SheetNames, ControlCharactersInTableNamesGetASheetOfTheirOwn) {
  // A tab or line break reaches a table name from an escaped element name (_x0009_). In the
  // saved file it would read back as a blank, so "a<TAB>b" and "a b" would become two sheets
  // of one name, which spreadsheets refuse to open.
  const struct {
    std::string table;
    std::string sheet;
  } cases[] = {
      {"a\tb", "a_b"},
      {"line\r\nbreak", "line__break"},
      {"\x01\x1f", "__"},
      {"\x7f", "\x7f"},  // DEL is no control character of XML 1.0's forbidden kind
  };
  for (const auto& c : cases) EXPECT_EQ(MakeSheetName(c.table), c.sheet) << c.table;

  WorkbookAssembly a(SheetMode::MultipleSheets, kFileTarget);
  NoWindowHost host;
  for (const char* table : {"a b", "a\tb", "a\nb"}) {
    a.PrepareSheet(table);
    a.WriteRows(table, std::vector<RowString>{}, host);
  }
  a.RemoveDefaultSheets();
  std::vector<std::string> names;
  for (long i = 1; i <= a.Workbook().SheetCount(); ++i)
    names.push_back(a.Workbook().Sheet(i).Name());
  EXPECT_EQ(names, (std::vector<std::string>{"a b", "a_b", "a_b (2)"}));
}

}  // namespace
}  // namespace palomet
