#include "office/xl/Excel.h"

#include <QString>
#include <algorithm>
#include <atomic>
#include <charconv>
#include <cmath>
#include <regex>

#include "office/CaseFold.h"
#include "office/Numbers.h"
#include "office/xl/CellStore.h"
#include "office/xl/XlsxWriter.h"

namespace palomet::xl {

using detail::CellRec;

namespace {

[[noreturn]] void Fail(const std::string& text) {
  throw Error(errnum::kSpreadsheet, text);
}

}  // namespace

std::string ColumnName(std::int64_t col) {
  std::string letters;
  for (std::int64_t n = col; n > 0; n = (n - 1) / 26) {
    letters.insert(letters.begin(), static_cast<char>('A' + (n - 1) % 26));
  }
  return letters;
}

std::string CellAddress(std::int64_t row, std::int64_t col) {
  return ColumnName(col) + std::to_string(row);
}

std::string QuotedSheetName(const std::string& name) {
  // Only ASCII letters, digits, '_' and '.' go unquoted: every other byte is quoted.
  const auto plain = [](char c) {
    return AsciiIsLetter(c) || AsciiIsDigit(c) || c == '_' || c == '.';
  };
  bool quote = name.empty() || AsciiIsDigit(name[0]);
  for (const char c : name) quote = quote || !plain(c);
  if (!quote) {
    // Letters then digits ("A1", "XFD12") or R1C1-like ("R1C1", "R2", "C"): a cell address.
    std::size_t letters = 0;
    while (letters < name.size() && AsciiIsLetter(name[letters])) ++letters;
    bool digitsAfter = letters < name.size();
    for (std::size_t i = letters; i < name.size(); ++i) {
      digitsAfter = digitsAfter && AsciiIsDigit(name[i]);
    }
    static const std::regex r1c1("[Rr][0-9]*[Cc]?[0-9]*|[Cc][0-9]*", std::regex::optimize);
    quote = (letters <= 3 && digitsAfter) || std::regex_match(name, r1c1);
  }
  if (!quote) return name;
  std::string out = "'";
  for (const char c : name) {
    out += c;
    if (c == '\'') out += '\'';
  }
  return out + "'";
}

// Sheet names are compared regardless of letter case, with Unicode case folding; the folded
// form is the key of the workbook's name index.
std::string Workbook::FoldedName(std::string_view name) {
  return UnicodeFold(name);
}

namespace {

std::atomic<std::uint64_t> nextSheetId{1};

}  // namespace

// --- CellValue ---------------------------------------------------------------------------

std::string CellValue::DisplayText() const {
  char buf[96];
  switch (type) {
    case CellType::Empty:
      return {};
    case CellType::Text:
      return std::string(text);
    case CellType::Number: {
      const auto res =
          std::to_chars(buf, buf + sizeof buf, number, std::chars_format::fixed, decimals);
      return std::string(buf, res.ptr);
    }
    case CellType::Date:
    case CellType::DateTime: {
      const double day = std::floor(number);
      int y;
      unsigned m, d;
      detail::CivilFromDays(static_cast<std::int64_t>(day), y, m, d);
      if (type == CellType::Date) {
        std::snprintf(buf, sizeof buf, "%04d-%02u-%02u", y, m, d);
      } else {
        const long secs = std::lround((number - day) * 86400.0);
        std::snprintf(buf, sizeof buf, "%04d-%02u-%02uT%02ld:%02ld:%02ld", y, m, d, secs / 3600,
                      secs / 60 % 60, secs % 60);
      }
      return buf;
    }
  }
  return {};
}

std::string CellValue::NumberFormat() const {
  return detail::NumberFormatFor(static_cast<std::uint8_t>(type), decimals);
}

// --- Worksheet ---------------------------------------------------------------------------

class Worksheet::Impl {
 public:
  explicit Impl(const std::shared_ptr<detail::SpillFile>& file) {
    if (file) {
      spill = std::make_unique<detail::SpillStore>(file);
    } else {
      memory = std::make_unique<detail::MemoryStore>();
    }
  }

  void Put(const CellRec& rec, std::string_view text) {
    if (spill) {
      if (spill->Append(rec, text)) return;
      // A write that goes back: this sheet's cells move into memory, where any order works.
      auto store = std::make_unique<detail::MemoryStore>();
      spill->MoveTo(*store);
      spill.reset();
      memory = std::move(store);
    }
    memory->Put(rec, text);
  }

  void ForEach(const detail::CellVisitor& visit) const {
    if (spill) {
      spill->ForEach(visit);
    } else {
      memory->ForEach(visit);
    }
  }

  std::unique_ptr<detail::MemoryStore> memory;
  std::unique_ptr<detail::SpillStore> spill;
};

Worksheet::Worksheet(Workbook* workbook, std::string name)
    : workbook_(workbook),
      id_(nextSheetId++),
      name_(std::move(name)),
      impl_(std::make_unique<Impl>(workbook->spill_)) {}

Worksheet::~Worksheet() = default;

void Worksheet::SetName(std::string_view name) {
  if (name == name_) return;
  workbook_->CheckName(name, this);
  workbook_->byName_.erase(Workbook::FoldedName(name_));
  name_ = std::string(name);
  workbook_->byName_[Workbook::FoldedName(name_)] = this;
  workbook_->Touch();
  workbook_->app_->NotifyStructure();
}

void Worksheet::SetCell(std::int64_t row, std::int64_t col, std::string_view value) {
  Put(row, col, value, true);
}

void Worksheet::SetText(std::int64_t row, std::int64_t col, std::string_view text) {
  Put(row, col, text, false);
}

namespace {

std::uint64_t LinkKey(std::int64_t row, std::int64_t col) {
  return static_cast<std::uint64_t>(row) << 16 | static_cast<std::uint64_t>(col);
}

}  // namespace

const std::string* Worksheet::HyperlinkAt(std::int64_t row, std::int64_t col) const {
  const auto at = linkIndex_.find(LinkKey(row, col));
  return at == linkIndex_.end() ? nullptr : &hyperlinks_[at->second].location;
}

void Worksheet::SetHyperlink(std::int64_t row, std::int64_t col, std::string location) {
  if (row < 1 || row > SheetRows() || col < 1 || col > kMaxColumns) {
    Fail("Sheet \"" + name_ + "\", row " + std::to_string(row) + ", column " +
         std::to_string(col) + ": a link needs a cell inside the sheet.");
  }
  const std::uint64_t key = LinkKey(row, col);
  if (const auto at = linkIndex_.find(key); at != linkIndex_.end()) {
    hyperlinks_[at->second].location = std::move(location);
  } else {
    hyperlinks_.push_back({row, col, std::move(location)});
    try {
      linkIndex_.emplace(key, hyperlinks_.size() - 1);
    } catch (...) {
      hyperlinks_.pop_back();
      throw;
    }
  }
  ++revision_;
  workbook_->Touch();
}

void Worksheet::Put(std::int64_t row, std::int64_t col, std::string_view value, bool typed) {
  auto where = [&] {
    return "Sheet \"" + name_ + "\", row " + std::to_string(row) + ", column " +
           std::to_string(col) + ": ";
  };
  if (row < 1 || row > SheetRows()) {
    Fail(where() + "the row is outside the sheet, which has rows 1 to " +
         WithThousands(SheetRows()) + ".");
  }
  if (col < 1 || col > kMaxColumns) {
    Fail(where() + "the column is outside the sheet, which has columns 1 to " +
         WithThousands(kMaxColumns) + ".");
  }
  CellRec rec;
  rec.row = static_cast<std::uint32_t>(row - 1);
  rec.col = static_cast<std::uint16_t>(col - 1);
  rec.decimals = 0;
  rec.number = 0;
  if (value.empty()) {
    rec.type = static_cast<std::uint8_t>(CellType::Empty);
  } else {
    std::size_t units = 0;
    if (!detail::Utf16Length(value, units)) Fail(where() + "the text is not valid UTF-8.");
    if (units > kMaxCellChars) {
      Fail(where() + "the text has " + WithThousands(static_cast<std::int64_t>(units)) +
           " characters; a cell holds at most " +
           WithThousands(static_cast<std::int64_t>(kMaxCellChars)) + ".");
    }
    // The file spells some characters out (_xHHHH_), and the writer refuses a cell whose
    // spelled-out text passes the limit: refuse it now rather than when saving.
    if (units + 6 * (value.size() / 7 + 1) > kMaxCellChars) {
      const std::size_t spelled = units + detail::EscapeGrowth(value);
      if (spelled > kMaxCellChars) {
        Fail(where() + "the text takes " + WithThousands(static_cast<std::int64_t>(spelled)) +
             " characters in the file once its _xHHHH_ sequences are escaped; a cell holds at "
             "most " +
             WithThousands(static_cast<std::int64_t>(kMaxCellChars)) + ".");
      }
    }
    if (typed) {
      const detail::Typed t = detail::TypeValue(value);
      rec.type = t.type;
      rec.decimals = t.decimals;
      rec.number = t.number;
    } else {
      rec.type = static_cast<std::uint8_t>(CellType::Text);
    }
    // The widest text of each column, for fitting its width; a two-byte count per column
    // whatever the number of rows. A typed value shows as it was written (numbers and
    // dates are typed only in the form they are shown in), so its length is the text's.
    if (shownChars_.size() <= rec.col) shownChars_.resize(std::size_t{rec.col} + 1);
    std::uint16_t& widest = shownChars_[rec.col];
    if (units > widest) widest = static_cast<std::uint16_t>(units);  // at most 32,767
  }
  impl_->Put(rec, value);
  ++revision_;
  workbook_->Touch();
}

void Worksheet::SetRowBold(std::int64_t row) {
  if (row < 1 || row > SheetRows()) {
    Fail("Sheet \"" + name_ + "\", row " + std::to_string(row) + ": the row is outside the sheet.");
  }
  const auto at = std::lower_bound(boldRows_.begin(), boldRows_.end(), row);
  if (at != boldRows_.end() && *at == row) return;
  boldRows_.insert(at, row);
  ++revision_;
  workbook_->Touch();
}

bool Worksheet::RowBold(std::int64_t row) const {
  return std::binary_search(boldRows_.begin(), boldRows_.end(), row);
}

void Worksheet::SetFitColumns(bool fit) {
  if (fit == fitColumns_) return;
  fitColumns_ = fit;
  ++revision_;
  workbook_->Touch();
}

double Worksheet::ColumnWidth(std::int64_t col) const {
  if (const auto given = givenWidths_.find(col); given != givenWidths_.end()) return given->second;
  if (!fitColumns_ || col < 1 || static_cast<std::size_t>(col) > shownChars_.size()) return 0;
  const std::uint16_t chars = shownChars_[static_cast<std::size_t>(col - 1)];
  if (chars == 0) return 0;
  return std::min(chars + kFitMargin, kMaxFitWidth);
}

void Worksheet::SetColumnWidth(std::int64_t col, double width) {
  if (col < 1 || col > kMaxColumns || !(width > 0 && width <= kMaxColumnWidth)) {
    Fail("Sheet \"" + name_ + "\", column " + std::to_string(col) + ": a column is 1 to " +
         std::to_string(kMaxColumns) + " and its width above 0 and at most " +
         std::to_string(static_cast<int>(kMaxColumnWidth)) + " characters.");
  }
  givenWidths_[col] = width;
  ++revision_;
  workbook_->Touch();
}

std::int64_t Worksheet::SizedColumns() const {
  const std::int64_t used = UsedColumns();
  return givenWidths_.empty() ? used : std::max(used, givenWidths_.rbegin()->first);
}

void Worksheet::FreezeRows(std::int64_t rows) {
  if (rows < 0 || rows >= SheetRows()) {
    Fail("Sheet \"" + name_ + "\": cannot freeze " + std::to_string(rows) + " rows.");
  }
  frozenRows_ = rows;
  ++revision_;
  workbook_->Touch();
}

void Worksheet::SetAutoFilter(const Range& r) {
  if (r.firstRow < 1 || r.firstCol < 1 || r.lastRow < r.firstRow || r.lastCol < r.firstCol ||
      r.lastRow > SheetRows() || r.lastCol > kMaxColumns) {
    Fail("Sheet \"" + name_ + "\": a filter needs a range of cells inside the sheet.");
  }
  filter_ = r;
  workbook_->Touch();
}

void Worksheet::Delete() {
  workbook_->RemoveSheet(this);
}

CellValue Worksheet::Cell(std::int64_t row, std::int64_t col) const {
  if (!impl_->memory || workbook_->Storage() == CellStorage::WriteThrough) {
    Fail("Sheet \"" + name_ + "\": the cells of a write-through workbook cannot be read back.");
  }
  CellValue v;
  if (row < 1 || row > SheetRows() || col < 1 || col > kMaxColumns) return v;
  std::string_view text;
  CellRec rec;
  if (!impl_->memory->Find(static_cast<std::uint32_t>(row - 1), static_cast<std::uint16_t>(col - 1),
                           rec, text)) {
    return v;
  }
  v.type = static_cast<CellType>(rec.type);
  if (v.type == CellType::Text) {
    v.text = text;
  } else {
    v.number = rec.number;
    v.decimals = rec.decimals;
  }
  return v;
}

bool Worksheet::IsEmpty() const {
  return impl_->spill ? impl_->spill->Count() == 0 : impl_->memory->Count() == 0;
}

std::int64_t Worksheet::UsedRows() const {
  return impl_->spill ? impl_->spill->UsedRows() : impl_->memory->UsedRows();
}

std::int64_t Worksheet::UsedColumns() const {
  return impl_->spill ? impl_->spill->UsedColumns() : impl_->memory->UsedColumns();
}

std::int64_t Worksheet::FirstUsedRow() const {
  return impl_->spill ? impl_->spill->FirstRow() : impl_->memory->FirstRow();
}

std::int64_t Worksheet::FirstUsedColumn() const {
  return impl_->spill ? impl_->spill->FirstColumn() : impl_->memory->FirstColumn();
}

std::size_t Worksheet::CellCount() const {
  return impl_->spill ? impl_->spill->Count() : impl_->memory->Count();
}

std::size_t Worksheet::TextBytes() const {
  return impl_->spill ? impl_->spill->TextBytes() : impl_->memory->TextBytes();
}

std::size_t InMemoryCellBytes() {
  return detail::MemoryStoreBytes();
}

std::size_t Worksheet::CellBytes() const {
  return impl_->memory ? impl_->memory->CellBytes() : 0;
}

void Worksheet::ForEachCell(const detail::CellVisitor& visit) const {
  impl_->ForEach(visit);
}

// --- Workbook ----------------------------------------------------------------------------

Workbook::Workbook(Application* app, CellStorage storage, int number)
    : app_(app), storage_(storage), number_(number) {
  if (storage == CellStorage::WriteThrough) spill_ = std::make_shared<detail::SpillFile>();
  for (int i = 1; i <= 3; ++i) {
    sheets_.push_back(std::unique_ptr<Worksheet>(new Worksheet(this, "Sheet" + std::to_string(i))));
    byName_[FoldedName(sheets_.back()->Name())] = sheets_.back().get();
  }
  active_ = sheets_.front().get();
}

Workbook::~Workbook() = default;

std::string Workbook::Name() const {
  return savedPath_.empty() ? "Book" + std::to_string(number_) : savedPath_.filename().string();
}

void Workbook::Touch() {
  saved_ = false;
}

Worksheet& Workbook::Sheet(long index) const {
  if (index < 1 || index > SheetCount()) {
    Fail("The workbook has no sheet number " + std::to_string(index) + "; it has " +
         std::to_string(SheetCount()) + ".");
  }
  return *sheets_[static_cast<std::size_t>(index - 1)];
}

Worksheet* Workbook::FindSheet(std::string_view name) const {
  const auto it = byName_.find(FoldedName(name));
  return it == byName_.end() ? nullptr : it->second;
}

Worksheet* Workbook::SheetWithId(std::uint64_t id) const {
  for (const auto& s : sheets_) {
    if (s->Id() == id) return s.get();
  }
  return nullptr;
}

Worksheet& Workbook::Sheets(std::string_view name) const {
  Worksheet* s = FindSheet(name);
  if (!s) Fail("The workbook has no sheet named \"" + std::string(name) + "\".");
  return *s;
}

void Workbook::CheckName(std::string_view name, const Worksheet* self) const {
  // Control characters are shown as their pictures (U+2400 on): a NUL would end the
  // description, a line break would split it.
  std::string quoted = "\"";
  for (const char c : name) {
    if (static_cast<unsigned char>(c) < 0x20) {
      quoted += "\xE2\x90";
      quoted += static_cast<char>(0x80 + c);
    } else {
      quoted += c;
    }
  }
  quoted += "\"";
  std::size_t units = 0;
  if (!detail::Utf16Length(name, units)) {
    Fail("The sheet name " + quoted + " is refused: it is not valid UTF-8 text.");
  }
  if (units == 0) Fail("The sheet name is refused: a sheet name cannot be empty.");
  if (units > kMaxSheetNameChars) {
    Fail("The sheet name " + quoted +
         " is refused: a sheet name has at most 31 characters, "
         "this one has " +
         std::to_string(units) + ".");
  }
  for (char c : kSheetNameForbidden) {
    if (name.find(c) != std::string_view::npos) {
      Fail("The sheet name " + quoted +
           " is refused: a sheet name cannot contain any of "
           ": \\ / ? * [ ] (it contains \"" +
           std::string(1, c) + "\").");
    }
  }
  // The .xlsx keeps sheet names in XML attributes, which cannot hold most control
  // characters and turn tabs and line breaks into blanks: such a name would not survive a save.
  for (const char c : name) {
    if (static_cast<unsigned char>(c) < 0x20) {
      Fail("The sheet name " + quoted +
           " is refused: a sheet name cannot contain control "
           "characters (tabs, line breaks and the like).");
    }
  }
  if (name.front() == '\'' || name.back() == '\'') {
    Fail("The sheet name " + quoted +
         " is refused: a sheet name cannot begin or end with an apostrophe.");
  }
  if (const Worksheet* other = FindSheet(name); other && other != self) {
    Fail("The sheet name " + quoted + " is refused: another sheet of the workbook is named \"" +
         other->Name() + "\" (names are compared regardless of letter case).");
  }
}

Worksheet& Workbook::AddSheet() {
  std::string name;
  for (int n = 1;; ++n) {
    name = "Sheet" + std::to_string(n);
    if (!FindSheet(name)) break;
  }
  // The active sheet is most often the last one added: looked for from the end, a
  // workbook of many sheets is not searched through for each new one.
  auto pos = std::find_if(sheets_.rbegin(), sheets_.rend(),
                          [&](const auto& s) { return s.get() == active_; });
  auto it = sheets_.insert(pos == sheets_.rend() ? sheets_.end() : pos.base(),
                           std::unique_ptr<Worksheet>(new Worksheet(this, name)));
  byName_[FoldedName(name)] = it->get();
  active_ = it->get();
  Touch();
  app_->NotifyStructure();
  return *active_;
}

void Workbook::Activate(Worksheet& sheet) {
  if (&sheet.Parent() != this) Fail("The sheet belongs to another workbook.");
  active_ = &sheet;
  app_->NotifyStructure();
}

void Workbook::RemoveSheet(Worksheet* sheet) {
  if (sheets_.size() == 1) {
    Fail("The sheet \"" + sheet->Name() +
         "\" cannot be deleted: a workbook must keep at least one sheet.");
  }
  auto it =
      std::find_if(sheets_.begin(), sheets_.end(), [&](const auto& s) { return s.get() == sheet; });
  if (it == sheets_.end()) return;
  if (active_ == sheet) {
    // The next sheet becomes active, or the previous one when the last tab goes.
    active_ = (it + 1 != sheets_.end()) ? (it + 1)->get() : (it - 1)->get();
  }
  byName_.erase(FoldedName(sheet->Name()));
  sheets_.erase(it);
  Touch();
  app_->NotifyStructure();
}

void Workbook::SaveCopyAs(const std::filesystem::path& path, const SaveProgress& progress) const {
  std::vector<const Worksheet*> order;
  for (const auto& s : sheets_) order.push_back(s.get());
  detail::WriteXlsx(path, order, active_, progress);
}

void Workbook::SaveAs(const std::filesystem::path& path, const SaveProgress& progress) {
  SaveCopyAs(path, progress);
  saved_ = true;
  savedPath_ = path;
  app_->NotifyStructure();
}

// --- Application -------------------------------------------------------------------------

namespace {
ViewFactory& Factory() {
  static ViewFactory factory;
  return factory;
}
}  // namespace

Application::Application(CellStorage storage) : storage_(storage) {}

Application::~Application() {
  if (cookie_) RunningObjectTable::Revoke(cookie_);
}

std::shared_ptr<Application> Application::Create(CellStorage storage) {
  return std::shared_ptr<Application>(new Application(storage));
}

std::shared_ptr<Application> Application::Attach() {
  auto obj = RunningObjectTable::GetObject(kClassName);
  auto app = std::dynamic_pointer_cast<Application>(obj);
  if (!app) {
    throw Error(kErrNoRunningInstance,
                "The object running as " + std::string(kClassName) + " is not an application.");
  }
  return app;
}

std::string Application::Name() const {
  return std::string(kApplicationName);
}

void Application::SetVisible(bool visible) {
  visible_ = visible;
  if (visible && !view_ && Factory()) view_ = Factory()(shared_from_this());
  if (view_) {
    if (visible) {
      view_->Show();
    } else {
      view_->Hide();
    }
  }
}

Workbook& Application::AddWorkbook() {
  // Numbered across the program, as a spreadsheet numbers the new workbooks of a session:
  // every window of a run stands for another Book.
  static int booksAdded = 0;
  workbooks_.push_back(std::unique_ptr<Workbook>(new Workbook(this, storage_, ++booksAdded)));
  active_ = workbooks_.back().get();
  NotifyStructure();
  return *active_;
}

Workbook& Application::Workbooks(long index) const {
  if (index < 1 || index > WorkbookCount()) {
    Fail("There is no workbook number " + std::to_string(index) + "; " +
         std::to_string(WorkbookCount()) + " are open.");
  }
  return *workbooks_[static_cast<std::size_t>(index - 1)];
}

Workbook& Application::ActiveWorkbook() const {
  if (!active_) Fail("No workbook is open.");
  return *active_;
}

void Application::SetViewFactory(ViewFactory factory) {
  Factory() = std::move(factory);
}

void Application::ViewOpened() {
  if (!cookie_) cookie_ = RunningObjectTable::Register(kClassName, weak_from_this());
}

void Application::ViewClosed() {
  if (cookie_) RunningObjectTable::Revoke(cookie_);
  cookie_ = 0;
  view_ = nullptr;
  visible_ = false;
}

void Application::SetStatusBar(std::string text) {
  statusBar_ = std::move(text);
  if (view_) view_->StatusBarChanged();
}

void Application::NotifyStructure() {
  if (view_) view_->StructureChanged();
}

}  // namespace palomet::xl
