#pragma once

// The spreadsheet half of the import run: a new workbook, a sheet per table or one sheet
// for all, rows written cell by cell, and the default sheets removed at the end.

#include <cstdint>
#include <memory>
#include <set>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "filelist/WindowHost.h"
#include "importrun/LongTexts.h"
#include "office/xl/Excel.h"
#include "staging/RowString.h"

namespace palomet {

// Where the tables go; the run reads the option once at its start.
enum class SheetMode { OneSheet, MultipleSheets };

// Thrown out of WriteRows when the main window was closed while the run yielded: the run
// ends at once, touching the window no more.
class RunAborted : public std::runtime_error {
 public:
  RunAborted() : std::runtime_error("the main window was closed during the import run") {}
};

// A table's rows, handed out one at a time in order (row 0 holds the field names), so a
// large table can stream from the staging database without being held whole.
class RowSource {
 public:
  virtual ~RowSource() = default;
  // The next row, or nullptr after the last. The row stays valid until the next call.
  virtual const RowString* Next() = 0;
};

// A RowSource over rows already in memory.
class VectorRowSource : public RowSource {
 public:
  explicit VectorRowSource(const std::vector<RowString>& rows) : rows_(rows) {}
  const RowString* Next() override { return pos_ < rows_.size() ? &rows_[pos_++] : nullptr; }

 private:
  const std::vector<RowString>& rows_;
  std::size_t pos_ = 0;
};

// Where the workbook goes: two separate choices.
struct WorkbookTarget {
  // True: the application is made visible (its window shows once the window target has
  // installed its factory). False (command line): no window.
  bool visible = true;
  // In memory for a workbook the user looks at; written through to temporary files for one
  // that is only saved (SaveAs), so that memory stays flat.
  xl::CellStorage cells = xl::CellStorage::InMemory;
};

// The command line's target: no window, cells written through, ready for SaveAs.
inline constexpr WorkbookTarget kFileTarget{.visible = false,
                                            .cells = xl::CellStorage::WriteThrough};

// LibreOffice opens no workbook of more than this many sheets (it says the file cannot be
// loaded); a run that makes more tells the user so.
inline constexpr long kSheetsReadersOpen = 10'000;
// The number of sheets above which a workbook gets that note: kSheetsReadersOpen unless
// lowered for the whole process (tests reach it with a few tables so).
long SheetsReadersOpen();
void SetSheetsReadersOpen(long sheets);

class WorkbookAssembly {
 public:
  // StartWorkbook: creates the spreadsheet application (shown or not as `target` says),
  // turns its alerts off and adds one workbook; the sheet row offset starts at 0.
  WorkbookAssembly(SheetMode mode, WorkbookTarget target = {});
  static std::unique_ptr<WorkbookAssembly> StartWorkbook(SheetMode mode,
                                                         WorkbookTarget target = {}) {
    return std::make_unique<WorkbookAssembly>(mode, target);
  }

  // In multiple-sheets mode adds a sheet; in both modes names the active sheet after the
  // table (MakeSheetName). A name that another sheet bears already (regardless of case)
  // takes " (2)", " (3)", ... unless that sheet is one of the new workbook's default sheets
  // and still empty: then that sheet is deleted first. Throws Error from the engine.
  void PrepareSheet(std::string_view tableName);

  // Writes every row of `rows` into the active sheet, field k of row j at column k + 1 and
  // row j + 1 (plus the sheet row offset in one-sheet mode); a row's trailing empty piece
  // leaves its column empty. A value longer than a cell holds is cut to fit and kept whole
  // for AddLongTexts. Fields are split by the row's own bounds, so a value holding
  // the separator text stays whole. A row that would pass the sheet's last row
  // (xl::SheetRows()) goes on a continuation sheet added right after, named after the table
  // by the usual rule ("T (2)") and starting with the table's field names again; it becomes
  // the active sheet, so in one-sheet mode later tables are stacked there. In one-sheet mode
  // field names that would end a sheet alone start the table on such a sheet instead, and
  // the full sheet keeps the name of the last table written onto it. Yields to `host` before
  // each row and each field (cheaply, see the .cpp) and throws RunAborted at once when
  // host.Closed() after a yield. Then formats the table on each of its sheets (FormatTable).
  // Engine errors are rethrown as Error with "table <name>, row <n>: " in front (n counts
  // the field-name row as 1). Advances the sheet row offset by the rows written (in one-sheet
  // mode: it becomes the rows taken on the sheet the stack goes on on).
  void WriteRows(std::string_view tableName, RowSource& rows, WindowHost& host);
  void WriteRows(std::string_view tableName, const std::vector<RowString>& rows, WindowHost& host) {
    VectorRowSource source(rows);
    WriteRows(tableName, source, host);
  }

  // After the last table: when values were cut to fit their cells, adds the sheet
  // "Long texts" (numbered like any sheet when the name is taken) after every other sheet,
  // with every such value whole on a row of its own, links each cut cell to its row and each
  // row back to its cut cell, and leaves active the sheet that was (the workbook opens where
  // the tables end). Yields to `host` between values.
  void AddLongTexts(WindowHost& host);
  // How many values were cut, and the line that tells the user where they are ("" when none).
  std::size_t LongTextCount() const { return longTexts_.Count(); }
  const std::string& LongTextsSummary() const { return longTextsSummary_; }
  // What the user is told of the finished workbook, a line each: every table that went on
  // on continuation sheets, in the order written ('table "T" has 1,082,483 rows, more than a
  // sheet holds; it goes on on sheet "T (2)".'), then LongTextsSummary() when values were cut,
  // then, when the workbook has more sheets than SheetsReadersOpen(), how many and how to
  // make fewer.
  std::vector<std::string> Notes() const;

  // Deletes each of "Sheet1", "Sheet2", "Sheet3" of the last workbook that exists, holds no
  // cell, was not named after a table, and is not the workbook's last sheet. Then, the
  // workbook being finished, puts Notes() in the application's status bar, one a line, when
  // there are any.
  void RemoveDefaultSheets();

  xl::Application& Application() const { return *app_; }
  std::shared_ptr<xl::Application> SharedApplication() const { return app_; }
  xl::Workbook& Workbook() const;
  std::int64_t SheetRowOffset() const { return rowOffset_; }

 private:
  std::shared_ptr<xl::Application> app_;
  SheetMode mode_;
  std::int64_t rowOffset_ = 0;
  std::set<std::uint64_t> defaultSheets_;  // ids of the new workbook's three sheets
  std::set<std::uint64_t> tableSheets_;    // ids of sheets named after a table
  LongTexts longTexts_;
  std::string longTextsSummary_;
  std::string stackName_;  // one-sheet mode: the stack sheet's name before this table's
  // A table that went on on continuation sheets: its records and those sheets' ids.
  struct Continued {
    std::string table;
    std::int64_t records;
    std::vector<std::uint64_t> sheets;
  };
  std::vector<Continued> continued_;

  // Makes the table just written read well: its field-name row bold, the columns fitted,
  // and in multiple-sheets mode the field names frozen with a filter over the table.
  void FormatTable(xl::Worksheet& sheet, std::int64_t headerRow);
  // Names `sheet` `name`, or "name (2)", "name (3)", ... when another sheet bears it.
  void NameSheet(xl::Worksheet& sheet, const std::string& name);
  // A new sheet right after `sheet`, named after the table and made active.
  xl::Worksheet& SheetAfter(xl::Worksheet& sheet, std::string_view tableName);
};

}  // namespace palomet
