#include "importrun/WorkbookAssembly.h"

#include <chrono>

#include "importrun/Excel1.h"
#include "office/CaseFold.h"
#include "office/Numbers.h"

namespace palomet {

namespace {

// Yielding before every field would cost a DoEvents per cell (millions for a large table).
// Pending events only need serving often enough for the window to stay responsive, so the
// yield looks at the clock every kCheckEvery fields and serves events when kInterval has
// passed since the last time. The first row of every table yields at once.
class Yielder {
 public:
  explicit Yielder(WindowHost& host) : host_(host) {}

  void Now() {
    host_.DoEvents();
    last_ = Clock::now();
    if (host_.Closed()) throw RunAborted();
  }

  void Maybe() {
    if (++count_ % kCheckEvery != 0) return;
    if (Clock::now() - last_ >= kInterval) Now();
  }

 private:
  using Clock = std::chrono::steady_clock;
  static constexpr unsigned kCheckEvery = 64;
  static constexpr auto kInterval = std::chrono::milliseconds(10);

  WindowHost& host_;
  Clock::time_point last_ = Clock::now();
  unsigned count_ = 0;
};

// Writes `row`'s fields into `sheetRow` of `sheet`, field k at column k + 1; an empty row
// string has no pieces.
void PutRow(LongTexts& texts, xl::Worksheet& sheet, std::int64_t sheetRow, const RowString& row,
            Yielder& yield) {
  if (row.Text().empty()) return;
  const std::size_t fields = row.FieldCount();
  for (std::size_t k = 0; k < fields; ++k) {
    yield.Maybe();
    texts.Write(sheet, sheetRow, static_cast<std::int64_t>(k) + 1, row.Field(k));
  }
  // The empty piece after the last separator leaves its cell empty; past the last
  // column there is no cell to leave empty.
  yield.Maybe();
  if (static_cast<std::int64_t>(fields) + 1 <= xl::kMaxColumns) {
    sheet.SetCell(sheetRow, static_cast<std::int64_t>(fields) + 1, {});
  }
}

// `name` with " (n)" appended, the name cut so the whole stays within 31 characters.
std::string Numbered(const std::string& name, int n) {
  const std::string suffix = " (" + std::to_string(n) + ")";
  return xl::CutToUtf16Units(name, xl::kMaxSheetNameChars - suffix.size()) + suffix;
}

}  // namespace

WorkbookAssembly::WorkbookAssembly(SheetMode mode, WorkbookTarget target)
    : app_(xl::Application::Create(target.cells)), mode_(mode) {
  if (target.visible) app_->SetVisible(true);
  app_->SetDisplayAlerts(false);
  xl::Workbook& wb = app_->AddWorkbook();
  for (long i = 1; i <= wb.SheetCount(); ++i) defaultSheets_.insert(wb.Sheet(i).Id());
}

xl::Workbook& WorkbookAssembly::Workbook() const {
  return app_->Workbooks(app_->WorkbookCount());
}

void WorkbookAssembly::PrepareSheet(std::string_view tableName) {
  if (mode_ == SheetMode::MultipleSheets) {
    SheetAfter(app_->ActiveSheet(), tableName);
    return;
  }
  xl::Worksheet& sheet = app_->ActiveSheet();
  stackName_ = sheet.Name();
  NameSheet(sheet, MakeSheetName(tableName));
  tableSheets_.insert(sheet.Id());
}

xl::Worksheet& WorkbookAssembly::SheetAfter(xl::Worksheet& sheet, std::string_view tableName) {
  xl::Workbook& wb = sheet.Parent();
  if (&wb.ActiveSheet() != &sheet) wb.Activate(sheet);  // a sheet is added after the active one
  xl::Worksheet& added = wb.AddSheet();
  NameSheet(added, MakeSheetName(tableName));
  tableSheets_.insert(added.Id());
  return added;
}

void WorkbookAssembly::NameSheet(xl::Worksheet& sheet, const std::string& wanted) {
  xl::Workbook& wb = sheet.Parent();
  std::string name = wanted;
  // Spreadsheets keep "History" for a sheet of their own: some refuse a workbook that has one.
  const bool reserved = UnicodeFold(name) == "history";
  if (xl::Worksheet* other = wb.FindSheet(name); reserved || (other && other != &sheet)) {
    if (!reserved && defaultSheets_.count(other->Id()) && !tableSheets_.count(other->Id()) &&
        other->IsEmpty()) {
      other->Delete();  // an unused default sheet gives way to the table of that name
    } else {
      const std::string base = name;
      for (int n = 2;; ++n) {
        name = Numbered(base, n);
        xl::Worksheet* taken = wb.FindSheet(name);
        if (!taken || taken == &sheet) break;
      }
    }
  }
  sheet.SetName(name);
}

void WorkbookAssembly::WriteRows(std::string_view tableName, RowSource& rows, WindowHost& host) {
  // The sheet is the one PrepareSheet made active; it is taken once, so nothing done in
  // the window while the run yields can send the rows elsewhere.
  xl::Worksheet* sheet = &app_->ActiveSheet();
  const std::int64_t lastRow = xl::SheetRows();
  std::int64_t used = mode_ == SheetMode::OneSheet ? rowOffset_ : 0;  // rows taken on `sheet`
  std::int64_t headerRow = used + 1;
  // In a stack, field names with no room for a record under them would end the sheet alone;
  // whether a record follows shows at the next row, so they wait for it.
  bool headerWaits = false;
  Continued goesOn{std::string(tableName), 0, {}};
  RowString header;
  Yielder yield(host);
  std::int64_t j = 0;
  std::int64_t at = 1;  // the table's row being written, for errors
  const auto put = [&](const RowString& row) { PutRow(longTexts_, *sheet, ++used, row, yield); };
  // The field names start the table on a new sheet, the full one keeping its name.
  const auto startAfresh = [&] {
    sheet->SetName(stackName_);
    sheet = &SheetAfter(*sheet, tableName);
    used = 0;
    headerRow = 1;
    at = 1;
    put(header);
  };
  try {
    for (const RowString* row = rows.Next(); row; row = rows.Next(), ++j) {
      if (j == 0) {
        yield.Now();
        header = *row;
        if (used > 0 && used + 1 == lastRow) {
          headerWaits = true;
          continue;
        }
        if (used == lastRow) {
          startAfresh();
          continue;
        }
      } else {
        yield.Maybe();
        if (headerWaits) {
          headerWaits = false;
          startAfresh();
        } else if (used == lastRow) {
          // The sheet is full: the table goes on on the next one, under its field names.
          FormatTable(*sheet, headerRow);
          sheet = &SheetAfter(*sheet, tableName);
          goesOn.sheets.push_back(sheet->Id());
          used = 0;
          headerRow = 1;
          at = 1;
          put(header);
        }
      }
      at = j + 1;
      put(*row);
    }
    if (headerWaits) {  // field names alone: they fit
      at = 1;
      put(header);
    }
  } catch (const Error& e) {
    throw Error(e.Number(), "Table \"" + std::string(tableName) + "\", row " +
                                std::to_string(at) + ": " + e.Description());
  }
  rowOffset_ = mode_ == SheetMode::OneSheet ? used : rowOffset_ + j;
  if (j > 0) FormatTable(*sheet, headerRow);
  if (!goesOn.sheets.empty()) {
    goesOn.records = j - 1;
    continued_.push_back(std::move(goesOn));
  }
}

void WorkbookAssembly::FormatTable(xl::Worksheet& sheet, std::int64_t headerRow) {
  sheet.SetRowBold(headerRow);
  sheet.SetFitColumns(true);
  // A sheet of one table: its field names stay in view and carry the filter buttons. A
  // sheet of stacked tables has no single header row to freeze or filter on. The filter
  // spans the cells the table filled, as the spreadsheet's own Filter command takes them.
  if (mode_ == SheetMode::MultipleSheets && !sheet.IsEmpty()) {
    sheet.FreezeRows(1);
    sheet.SetAutoFilter({1, 1, sheet.UsedRows(), sheet.UsedColumns()});
  }
}

void WorkbookAssembly::AddLongTexts(WindowHost& host) {
  if (longTexts_.Count() > 0) {
    xl::Workbook& wb = Workbook();
    xl::Worksheet& opens = wb.ActiveSheet();
    // After every other sheet, whichever sheet the user made active meanwhile.
    wb.Activate(wb.Sheet(wb.SheetCount()));
    xl::Worksheet& sheet = wb.AddSheet();
    NameSheet(sheet, std::string(kLongTextsSheet));
    Yielder yield(host);
    longTexts_.Fill(wb, sheet, [&yield] { yield.Now(); });
    sheet.SetRowBold(1);
    sheet.SetFitColumns(true);
    wb.Activate(opens);
    longTextsSummary_ = LongTexts::Summary(longTexts_.Count(), sheet.Name());
  }
}

namespace {
long gSheetsReadersOpen = kSheetsReadersOpen;
}  // namespace

long SheetsReadersOpen() {
  return gSheetsReadersOpen;
}

void SetSheetsReadersOpen(long sheets) {
  gSheetsReadersOpen = sheets;
}

std::vector<std::string> WorkbookAssembly::Notes() const {
  std::vector<std::string> notes;
  for (const Continued& c : continued_) {
    std::string where = c.sheets.size() == 1 ? "sheet " : "sheets ";
    for (std::size_t i = 0; i < c.sheets.size(); ++i) {
      if (i > 0) where += i + 1 == c.sheets.size() ? " and " : ", ";
      const xl::Worksheet* sheet = Workbook().SheetWithId(c.sheets[i]);
      where += "\"" + (sheet ? sheet->Name() : std::string("?")) + "\"";
    }
    notes.push_back("table \"" + c.table + "\" has " + WithThousands(c.records) +
                    " rows, more than a sheet holds; it goes on on " + where + ".");
  }
  if (!longTextsSummary_.empty()) notes.push_back(longTextsSummary_);
  if (const long sheets = Workbook().SheetCount(); sheets > SheetsReadersOpen()) {
    notes.push_back("the workbook has " + WithThousands(sheets) +
                    " sheets; LibreOffice opens no workbook of more than " +
                    WithThousands(SheetsReadersOpen()) +
                    ". Send the files to one sheet, or combine tables of the same name from all "
                    "files, to make fewer.");
  }
  return notes;
}

void WorkbookAssembly::RemoveDefaultSheets() {
  xl::Workbook& wb = Workbook();
  for (const char* name : {"Sheet1", "Sheet2", "Sheet3"}) {
    xl::Worksheet* sheet = wb.FindSheet(name);
    if (!sheet || !sheet->IsEmpty() || tableSheets_.count(sheet->Id()) || wb.SheetCount() == 1) {
      continue;
    }
    sheet->Delete();
  }
  // The workbook is finished: what the user should know of it goes to the status line.
  std::string status;
  for (std::string note : Notes()) {
    note.front() = AsciiUpper(note.front());
    status += (status.empty() ? "" : "\n") + note;
  }
  if (!status.empty()) app_->SetStatusBar(status);
}

}  // namespace palomet
