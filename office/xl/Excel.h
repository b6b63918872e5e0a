#pragma once

// The in-process workbook engine: applications, workbooks and sheets with the rules of
// real .xlsx workbooks, saved by a package writer of its own. Every refusal is a palomet::Error with
// number errnum::kSpreadsheet and a description that says which rule was broken.
// All calls come from one thread (the user-interface thread).

#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "office/Error.h"

namespace palomet::xl {

// The class name under which applications register while their window is open.
inline constexpr std::string_view kClassName = "Excel.Application";
// What an application's default property answers.
inline constexpr std::string_view kApplicationName = "Microsoft Excel";
// Error number of an attach that finds no running instance.
inline constexpr long kErrNoRunningInstance = 429;

inline constexpr std::int64_t kMaxRows = 1'048'576;
inline constexpr std::int64_t kMaxColumns = 16'384;
inline constexpr std::size_t kMaxCellChars = 32'767;   // UTF-16 code units
inline constexpr std::size_t kMaxSheetNameChars = 31;  // UTF-16 code units
// Characters a sheet name cannot contain; nor control characters, nor an apostrophe at
// either end.
inline constexpr std::string_view kSheetNameForbidden = ":\\/?*[]";

// The rows a sheet has: kMaxRows unless lowered for the whole process (tests let tables pass
// the last row in a few rows so). Every row limit of the engine reads it, and so does whoever
// must keep within it.
std::int64_t SheetRows();
// Sets SheetRows() to `rows`, 2 to kMaxRows (a sheet holds at least a row of field names and a
// row under it); throws Error outside that.
void SetSheetRows(std::int64_t rows);

// The longest prefix of the UTF-8 text `s` that is at most `maxUnits` UTF-16 code units,
// never ending inside a character (so never splitting a surrogate pair); a stray byte counts
// as one unit.
std::string CutToUtf16Units(std::string_view s, std::size_t maxUnits);

// The byte length of the longest start of `text` that a cell holds (32,767 units, counted as
// SetCell counts them: in UTF-16 code units once the file's _xHHHH_ escapes are spelled out).
// The cut never splits a character (so never a surrogate pair) nor an _xHHHH_ sequence that
// the file escapes. `text` is valid UTF-8; the whole of it when it fits.
std::size_t FitInCell(std::string_view text);

// The length of `text` in UTF-16 code units, as cells count it; -1 when it is not UTF-8.
std::int64_t TextLength(std::string_view text);

// A column's letters as a spreadsheet writes them: "A", "Z", "AA", "XFD" (1-based).
std::string ColumnName(std::int64_t col);
// A cell's address as a spreadsheet writes it: "A1", "B556", "XFD1048576" (1-based).
std::string CellAddress(std::int64_t row, std::int64_t col);
// A sheet's name as a reference to a place on it begins ("'Long texts'!A2"): as it is when
// it is a plain word that cannot be taken for a cell ("Data", "rows_2"), else in apostrophes,
// an apostrophe doubled.
std::string QuotedSheetName(const std::string& name);

class Application;
class Workbook;
class Worksheet;
namespace detail {
struct CellRec;
class SpillFile;
}  // namespace detail

// ---------------------------------------------------------------------------------------
// The process-wide table of running instances.

// Anything that can stand in the table: it answers its default property.
class RunningObject {
 public:
  virtual ~RunningObject() = default;
  // The object's default property (for an application: its name).
  virtual std::string Name() const = 0;
};

class RunningObjectTable {
 public:
  // Registers `object` under `className`; returns a cookie for Revoke. The table holds
  // only a weak reference: an object that goes away drops out by itself.
  static std::uint64_t Register(std::string_view className, std::weak_ptr<RunningObject> object);
  static void Revoke(std::uint64_t cookie);
  // The most recently registered live object of `className`. Throws Error
  // (kErrNoRunningInstance) when there is none.
  static std::shared_ptr<RunningObject> GetObject(std::string_view className);
};

// ---------------------------------------------------------------------------------------
// Cells as read back (window grid, tests).

enum class CellType : std::uint8_t { Empty, Number, Text, Date, DateTime };

struct CellValue {
  CellType type = CellType::Empty;
  double number = 0;          // Number, Date, DateTime: the stored value (dates as serials)
  std::uint8_t decimals = 0;  // Number: decimals shown
  std::string_view text;      // Text: the text, valid until the sheet changes

  // The cell as the sheet shows it; for typed cells this gives back what was written.
  std::string DisplayText() const;
  // The cell's number format ("0", "0.00", "yyyy-mm-dd", ...; empty for text and empty).
  std::string NumberFormat() const;
};

// Told during a save: cells written so far, and of how many.
using SaveProgress = std::function<void(std::uint64_t done, std::uint64_t total)>;

// How a workbook keeps its cells.
enum class CellStorage {
  // Cells compactly in memory (about 9 bytes a cell besides its text), readable at any
  // time; what a window shows.
  InMemory,
  // No window will look: each sheet's cells stream to a compact temporary file as they
  // are written and are replayed into the .xlsx writer when saving, so memory stays flat
  // whatever the size. Cells cannot be read back (Cell() throws); the saved file is the
  // same as the in-memory one.
  WriteThrough,
};

// The bytes that the in-memory sheets of the process hold for their cells and texts, by the
// engine's own count: it falls back as sheets and workbooks go.
std::size_t InMemoryCellBytes();

// ---------------------------------------------------------------------------------------

class Worksheet {
 public:
  Worksheet(const Worksheet&) = delete;
  Worksheet& operator=(const Worksheet&) = delete;
  ~Worksheet();

  const std::string& Name() const { return name_; }
  // Renames the sheet. Throws Error naming the rule when `name` is refused (empty, longer
  // than 31 characters, a forbidden character or a control character, an apostrophe at
  // either end, or the name of another sheet of the workbook regardless of letter case).
  void SetName(std::string_view name);

  // Sets the cell at 1-based `row`, `col` to `value`, typed as a person typing would:
  // a plain decimal number keeps its written decimals, an ISO date or date-time becomes a
  // date, the empty string empties the cell, anything else stays text exactly as given.
  // Throws Error naming sheet, row and column when the cell is outside the sheet or the
  // text is longer than 32,767 characters or not valid UTF-8.
  void SetCell(std::int64_t row, std::int64_t col, std::string_view value);
  // Sets the cell to `text` as text, as given: a text that looks like a number or a date
  // stays text. Same limits and errors as SetCell; the empty string empties the cell.
  void SetText(std::int64_t row, std::int64_t col, std::string_view text);

  // A link from the cell at `row`, `col` to a place in the workbook, such as
  // "'Long texts'!A2"; a later link of the same cell replaces it. Kept in memory in both
  // storages (links are few), in the order they were set.
  struct Hyperlink {
    std::int64_t row;
    std::int64_t col;
    std::string location;
  };
  // A view notices a new link as it notices a new cell (Revision grows).
  void SetHyperlink(std::int64_t row, std::int64_t col, std::string location);
  const std::vector<Hyperlink>& Hyperlinks() const { return hyperlinks_; }
  // The place the cell links to, or nullptr when it has no link.
  const std::string* HyperlinkAt(std::int64_t row, std::int64_t col) const;

  // How the sheet looks, kept apart from the cells and small whatever the sheet's size: a
  // few bold rows, the column widths, rows frozen at the top and an autofilter's range.
  // Saved with the workbook and shown by its window.

  // Shows every cell of `row` in bold (the field-name row that starts a table).
  void SetRowBold(std::int64_t row);
  bool RowBold(std::int64_t row) const;
  // The bold rows, ascending.
  const std::vector<std::int64_t>& BoldRows() const { return boldRows_; }
  // True fits each column to the widest text it shows (see ColumnWidth).
  void SetFitColumns(bool fit);
  bool FitColumns() const { return fitColumns_; }
  // The width of column `col` in characters, 0 for the default width. A fitted column is
  // as wide as the widest text it has shown (in UTF-16 units, numbers and dates as shown),
  // plus a margin of kFitMargin, but never wider than kMaxFitWidth. Every value written
  // counts, also one overwritten since. An empty column keeps the default width.
  // A column the user has sized has the width it was given instead.
  double ColumnWidth(std::int64_t col) const;
  static constexpr double kFitMargin = 2;
  static constexpr double kMaxFitWidth = 60;
  // Gives column `col` the width of `width` characters (above 0, at most kMaxColumnWidth),
  // as a user sizing it does; the column keeps it, fitted or not. Throws Error naming the
  // sheet and column outside them.
  void SetColumnWidth(std::int64_t col, double width);
  static constexpr double kMaxColumnWidth = 255;
  // The last column ColumnWidth may give a width for: the last used one or the last one
  // given a width, whichever comes later.
  std::int64_t SizedColumns() const;
  // Keeps the top `rows` rows in view while the rest scrolls (0: nothing frozen).
  void FreezeRows(std::int64_t rows);
  std::int64_t FrozenRows() const { return frozenRows_; }
  // A filter over the cells from `firstRow`, `firstCol` to `lastRow`, `lastCol` (1-based,
  // inclusive): the first row holds the field names and gets the filter buttons.
  struct Range {
    std::int64_t firstRow = 0, firstCol = 0, lastRow = 0, lastCol = 0;
    bool operator==(const Range&) const = default;
  };
  void SetAutoFilter(const Range& range);
  // The filter's range, or nullptr when the sheet has none.
  const Range* AutoFilter() const { return filter_.firstRow ? &filter_ : nullptr; }

  // Removes the sheet from its workbook; the sheet object is gone afterwards. Throws Error
  // when it is the workbook's last sheet.
  void Delete();

  // Reading back (InMemory only; WriteThrough throws Error).
  CellValue Cell(std::int64_t row, std::int64_t col) const;
  // True when no cell holds a value (works in both storages).
  bool IsEmpty() const;
  // The last used row and column (0 when the sheet is empty).
  std::int64_t UsedRows() const;
  std::int64_t UsedColumns() const;
  // The first used row and the leftmost used column (0 when the sheet is empty).
  std::int64_t FirstUsedRow() const;
  std::int64_t FirstUsedColumn() const;
  // Grows with every change of a cell; lets a view notice new cells cheaply.
  std::uint64_t Revision() const { return revision_; }

  Workbook& Parent() const { return *workbook_; }
  // Unique for the life of the process, never reused (unlike the sheet's address).
  std::uint64_t Id() const { return id_; }
  // The number of cells holding a value, and the bytes of their texts.
  std::size_t CellCount() const;
  std::size_t TextBytes() const;
  // Bytes held for cells besides their text (for the memory figure).
  std::size_t CellBytes() const;

  // Every cell in row-then-column order (for the .xlsx writer).
  void ForEachCell(
      const std::function<void(const detail::CellRec&, std::string_view text)>& visit) const;

  class Impl;

 private:
  friend class Workbook;
  Worksheet(Workbook* workbook, std::string name);
  void Put(std::int64_t row, std::int64_t col, std::string_view value, bool typed);

  Workbook* workbook_;
  std::uint64_t id_;
  std::string name_;
  std::uint64_t revision_ = 0;
  std::vector<Hyperlink> hyperlinks_;
  std::unordered_map<std::uint64_t, std::size_t> linkIndex_;  // cell -> its link's position
  std::vector<std::int64_t> boldRows_;
  std::vector<std::uint16_t> shownChars_;  // per column: the widest text shown, capped
  std::map<std::int64_t, double> givenWidths_;  // the widths of the columns the user sized
  bool fitColumns_ = false;
  std::int64_t frozenRows_ = 0;
  Range filter_;
  std::unique_ptr<Impl> impl_;
};

class Workbook {
 public:
  Workbook(const Workbook&) = delete;
  Workbook& operator=(const Workbook&) = delete;
  ~Workbook();

  // The workbook's sheets in tab order, 1-based.
  long SheetCount() const { return static_cast<long>(sheets_.size()); }
  Worksheet& Sheet(long index) const;
  // The sheet of that name (regardless of letter case). Throws Error when none.
  Worksheet& Sheets(std::string_view name) const;
  // The sheet of that name, or nullptr.
  Worksheet* FindSheet(std::string_view name) const;
  // The sheet whose Id() is `id`, or nullptr.
  Worksheet* SheetWithId(std::uint64_t id) const;
  // Adds a sheet right after the active sheet and makes it active; named "SheetN" with the
  // lowest N not in use.
  Worksheet& AddSheet();
  Worksheet& ActiveSheet() const { return *active_; }
  void Activate(Worksheet& sheet);

  // Writes the workbook as .xlsx to `path`: to a temporary file beside it, renamed over it
  // when complete, so the file appears whole or not at all. Throws Error naming the file.
  // `progress`, when given, hears now and then how many of the cells are written.
  void SaveAs(const std::filesystem::path& path, const SaveProgress& progress = {});
  // Writes a copy the same way; the workbook's saved state and name stay as they are.
  void SaveCopyAs(const std::filesystem::path& path, const SaveProgress& progress = {}) const;
  // True when no cell or sheet changed since the last save (a new workbook counts as unsaved
  // only once something was written).
  bool Saved() const { return saved_; }
  const std::filesystem::path& FullName() const { return savedPath_; }
  // "Book1", "Book2", ... in the order the program added them, whichever application added
  // them; the file's name once saved.
  std::string Name() const;

  Application& Parent() const { return *app_; }
  CellStorage Storage() const { return storage_; }

 private:
  friend class Application;
  friend class Worksheet;
  Workbook(Application* app, CellStorage storage, int number);
  void Touch();
  void RemoveSheet(Worksheet* sheet);
  void CheckName(std::string_view name, const Worksheet* self) const;
  static std::string FoldedName(std::string_view name);

  Application* app_;
  CellStorage storage_;
  std::shared_ptr<detail::SpillFile> spill_;  // write-through: the sheets' shared cell file
  std::vector<std::unique_ptr<Worksheet>> sheets_;
  std::unordered_map<std::string, Worksheet*> byName_;  // folded name -> sheet
  Worksheet* active_ = nullptr;
  bool saved_ = true;
  int number_;
  std::filesystem::path savedPath_;
};

// What the window of an application offers the engine. The window target registers a
// factory; without one, Visible is only a flag (headless use, tests).
class ApplicationView {
 public:
  virtual ~ApplicationView() = default;
  virtual void Show() = 0;
  virtual void Hide() = 0;
  // Sheets were added, renamed, deleted or activated, or a workbook was added.
  virtual void StructureChanged() = 0;
  // The application's status bar text changed.
  virtual void StatusBarChanged() {}
};
// Makes the window for `app`. The window keeps `app` alive while it is open and calls
// Application::ViewClosed when it closes.
using ViewFactory = std::function<ApplicationView*(std::shared_ptr<Application> app)>;

class Application : public RunningObject, public std::enable_shared_from_this<Application> {
 public:
  // A new instance; `storage` applies to the workbooks it adds.
  static std::shared_ptr<Application> Create(CellStorage storage = CellStorage::InMemory);
  // The running instance registered under "Excel.Application". Throws Error
  // (kErrNoRunningInstance) when none runs or what runs is not an application.
  static std::shared_ptr<Application> Attach();

  ~Application() override;

  // The default property: "Microsoft Excel".
  std::string Name() const override;

  bool Visible() const { return visible_; }
  // True shows the workbook window (when a view factory is installed); False hides it.
  void SetVisible(bool visible);
  bool DisplayAlerts() const { return displayAlerts_; }
  void SetDisplayAlerts(bool on) { displayAlerts_ = on; }

  // Workbooks: Add gives a new workbook of three empty sheets "Sheet1" to "Sheet3" that
  // becomes the active workbook, its first sheet active.
  Workbook& AddWorkbook();
  long WorkbookCount() const { return static_cast<long>(workbooks_.size()); }
  // 1-based; throws Error when out of range.
  Workbook& Workbooks(long index) const;
  // Throws Error when no workbook is open.
  Workbook& ActiveWorkbook() const;
  // The application's Sheets.Add: a new sheet in the active workbook, after the active
  // sheet, becoming active.
  Worksheet& AddSheet() { return ActiveWorkbook().AddSheet(); }
  Worksheet& ActiveSheet() const { return ActiveWorkbook().ActiveSheet(); }

  CellStorage Storage() const { return storage_; }

  // The text the window shows in its status line; empty leaves the line to the window.
  const std::string& StatusBar() const { return statusBar_; }
  void SetStatusBar(std::string text);

  // The window factory, installed once by the window target.
  static void SetViewFactory(ViewFactory factory);
  // Called by the window when it opens / closes: registers in / revokes from the table of
  // running instances.
  void ViewOpened();
  void ViewClosed();
  ApplicationView* View() const { return view_; }

 private:
  explicit Application(CellStorage storage);
  friend class Workbook;
  friend class Worksheet;
  void NotifyStructure();

  CellStorage storage_;
  bool visible_ = false;
  bool displayAlerts_ = true;
  std::vector<std::unique_ptr<Workbook>> workbooks_;
  Workbook* active_ = nullptr;
  ApplicationView* view_ = nullptr;
  std::uint64_t cookie_ = 0;
  std::string statusBar_;
};

}  // namespace palomet::xl
