#include "importrun/WorkbookAssembly.h"

#include <chrono>

#include "importrun/Excel1.h"

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
  xl::Worksheet& sheet =
      mode_ == SheetMode::MultipleSheets ? app_->AddSheet() : app_->ActiveSheet();
  NameSheet(sheet, MakeSheetName(tableName));
  tableSheets_.insert(sheet.Id());
}

void WorkbookAssembly::NameSheet(xl::Worksheet& sheet, const std::string& wanted) {
  xl::Workbook& wb = sheet.Parent();
  std::string name = wanted;
  if (xl::Worksheet* other = wb.FindSheet(name); other && other != &sheet) {
    if (defaultSheets_.count(other->Id()) && !tableSheets_.count(other->Id()) && other->IsEmpty()) {
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
  xl::Worksheet& sheet = app_->ActiveSheet();
  const std::int64_t base = mode_ == SheetMode::OneSheet ? rowOffset_ : 0;
  Yielder yield(host);
  std::int64_t j = 0;
  bool first = true;
  try {
    for (const RowString* row = rows.Next(); row; row = rows.Next(), ++j) {
      if (first) {
        yield.Now();
        first = false;
      } else {
        yield.Maybe();
      }
      if (row->Text().empty()) continue;  // an empty row string has no pieces
      const std::int64_t sheetRow = base + j + 1;
      const std::size_t fields = row->FieldCount();
      for (std::size_t k = 0; k < fields; ++k) {
        yield.Maybe();
        longTexts_.Write(sheet, sheetRow, static_cast<std::int64_t>(k) + 1, row->Field(k));
      }
      // The empty piece after the last separator leaves its cell empty; past the last
      // column there is no cell to leave empty.
      yield.Maybe();
      if (static_cast<std::int64_t>(fields) + 1 <= xl::kMaxColumns) {
        sheet.SetCell(sheetRow, static_cast<std::int64_t>(fields) + 1, {});
      }
    }
  } catch (const Error& e) {
    throw Error(e.Number(), "Table \"" + std::string(tableName) + "\", row " +
                                std::to_string(j + 1) + ": " + e.Description());
  }
  rowOffset_ += j;
  if (j > 0) FormatTable(sheet, base + 1);
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
  if (longTexts_.Count() == 0) return;
  xl::Workbook& wb = Workbook();
  // After every other sheet, whichever sheet the user made active meanwhile.
  wb.Activate(wb.Sheet(wb.SheetCount()));
  xl::Worksheet& sheet = wb.AddSheet();
  NameSheet(sheet, std::string(kLongTextsSheet));
  Yielder yield(host);
  longTexts_.Fill(wb, sheet, [&yield] { yield.Now(); });
  longTextsSummary_ = LongTexts::Summary(longTexts_.Count(), sheet.Name());
  app_->SetStatusBar(longTextsSummary_);
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
}

}  // namespace palomet
