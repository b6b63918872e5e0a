#include "office/xlwindow/WorkbookWindow.h"

#include <QAbstractTextDocumentLayout>
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QEventLoop>
#include <QDesktopServices>
#include <QDir>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QMessageBox>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QShortcut>
#include <QProgressBar>
#include <QStatusBar>
#include <QTabBar>
#include <QTabWidget>
#include <QTableView>
#include <QTemporaryDir>
#include <QToolBar>
#include <QToolButton>
#include <QUrl>
#include <QVBoxLayout>
#include <algorithm>
#include <unordered_set>

#include "office/MessageBoxes.h"
#include "office/Numbers.h"
#include "office/xlwindow/SheetCopy.h"
#include "office/xlwindow/SheetModel.h"
#include "office/xlwindow/WorkbookWindowImpl.h"

namespace palomet::xlwindow {

namespace {

class QtPrompts : public WindowPrompts {
 public:
  SaveAnswer AskSaveChanges(const QString& workbookTitle) override {
    const auto answer = QMessageBox::question(
        nullptr, kAppTitle,
        QObject::tr("Do you want to save the changes to %1?").arg(workbookTitle),
        QMessageBox::Save | QMessageBox::Discard | QMessageBox::Cancel, QMessageBox::Save);
    return answer == QMessageBox::Save      ? SaveAnswer::Save
           : answer == QMessageBox::Discard ? SaveAnswer::Discard
                                            : SaveAnswer::Cancel;
  }
  QString AskSavePath(const QString& suggestedName) override {
    return QFileDialog::getSaveFileName(nullptr, QObject::tr("Save As"),
                                        QDir::home().filePath(suggestedName),
                                        QObject::tr("Excel Workbook (*.xlsx)"));
  }
  void ShowError(const QString& text) override { QMessageBox::warning(nullptr, kAppTitle, text); }
};

}  // namespace

WorkbookWindow::WorkbookWindow(std::shared_ptr<xl::Application> app,
                               std::shared_ptr<WindowPrompts> prompts, FileOpener opener)
    : app_(std::move(app)), prompts_(std::move(prompts)), opener_(std::move(opener)) {
  setObjectName("WorkbookWindow");
  setAttribute(Qt::WA_DeleteOnClose);
  resize(900, 600);

  auto* central = new QWidget(this);
  auto* column = new QVBoxLayout(central);
  column->setContentsMargins(0, 2, 0, 0);
  column->setSpacing(2);
  setCentralWidget(central);

  column->addLayout(MakeValueLine(central));

  tabs_ = new QTabWidget(central);
  tabs_->setObjectName("Sheets");
  tabs_->setTabPosition(QTabWidget::South);
  tabs_->setDocumentMode(true);
  // Tab names are at most 31 characters; eliding them would shape the text of every tab at
  // every repaint of the bar, which a workbook of thousands of sheets cannot afford.
  tabs_->setElideMode(Qt::ElideNone);
  tabs_->setUsesScrollButtons(true);
  column->addWidget(tabs_, 1);
  grid_ = new QTableView(this);
  grid_->setObjectName("Grid");
  grid_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  grid_->verticalHeader()->setDefaultSectionSize(22);
  grid_->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
  grid_->hide();
  frozen_ = new FrozenRows(grid_);
  connect(tabs_, &QTabWidget::currentChanged, this, [this] {
    if (!syncing_) ShowCurrent();
  });

  column->addWidget(MakeFindBar(central));

  auto* saveAs = new QAction(tr("Save As…"), this);
  saveAs->setObjectName("SaveAs");
  saveAs->setShortcut(QKeySequence::SaveAs);
  connect(saveAs, &QAction::triggered, this, [this] { SaveAs(); });
  auto* open = new QAction(tr("Open in spreadsheet application"), this);
  open->setObjectName("OpenInSpreadsheet");
  connect(open, &QAction::triggered, this, [this] { OpenInSpreadsheet(); });
  auto* close = new QAction(tr("Close"), this);
  close->setShortcut(QKeySequence::Close);
  connect(close, &QAction::triggered, this, &QWidget::close);

  QMenu* file = menuBar()->addMenu(tr("&File"));
  file->addAction(saveAs);
  file->addAction(open);
  file->addSeparator();
  file->addAction(close);

  QMenu* edit = menuBar()->addMenu(tr("&Edit"));
  QAction* copy = AddCommand(edit, tr("&Copy"), "Copy", QKeySequence::Copy, [this] { Copy(); });
  QAction* selectAll = AddCommand(edit, tr("Select &All"), "SelectAll", QKeySequence::SelectAll,
                                  [this] { SelectAll(); });
  edit->addSeparator();
  AddCommand(edit, tr("&Find…"), "Find", QKeySequence::Find, [this] { ShowFind(); });
  AddCommand(edit, tr("Find &Next"), "FindNext", QKeySequence::FindNext, [this] { FindNext(); });
  addActions({saveAs, close});
  grid_->setContextMenuPolicy(Qt::ActionsContextMenu);
  grid_->addActions({copy, selectAll});

  QToolBar* bar = addToolBar(tr("Workbook"));
  bar->setObjectName("WorkbookToolBar");
  bar->setMovable(false);
  bar->addAction(saveAs);
  bar->addAction(open);

  // The application's own text holds the status line's right end: the window's passing
  // messages (copy, menu hints) show beside it and never wipe it.
  note_ = new QLabel(this);
  note_->setObjectName("StatusNote");
  statusBar()->addPermanentWidget(note_);
  StatusBarChanged();

  // New cells show within a fraction of a second; a run yields often enough for this to fire.
  refresh_.setInterval(200);
  connect(&refresh_, &QTimer::timeout, this, [this] { RefreshGrids(); });
  refresh_.start();

  settle_.setSingleShot(true);
  settle_.setInterval(150);
  connect(&settle_, &QTimer::timeout, this, [this] {
    if (!pending_) return;
    pending_ = false;
    SyncTabs();
    settle_.start();  // what changes in the next moment is gathered again
  });

  StructureChanged();
}

QLayout* WorkbookWindow::MakeValueLine(QWidget* parent) {
  // The current cell, as a spreadsheet's formula bar shows it: read-only, but selectable.
  auto* cellRow = new QHBoxLayout;
  cellRow->setContentsMargins(2, 0, 2, 0);
  address_ = new QLineEdit(parent);
  address_->setObjectName("CellAddress");
  address_->setReadOnly(true);
  address_->setFixedWidth(address_->fontMetrics().horizontalAdvance("XFD1048576") + 16);
  value_ = new QPlainTextEdit(parent);
  value_->setObjectName("ValueLine");
  value_->setReadOnly(true);
  value_->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
  value_->setTabChangesFocus(true);
  value_->setLineWrapMode(QPlainTextEdit::WidgetWidth);
  connect(value_->document()->documentLayout(),
          &QAbstractTextDocumentLayout::documentSizeChanged, this, [this] { FitValueLine(); });
  cellRow->addWidget(address_, 0, Qt::AlignTop);
  cellRow->addWidget(value_, 1);
  FitValueLine();
  return cellRow;
}

QWidget* WorkbookWindow::MakeFindBar(QWidget* parent) {
  findBar_ = new QWidget(parent);
  findBar_->setObjectName("FindBar");
  auto* findRow = new QHBoxLayout(findBar_);
  findRow->setContentsMargins(4, 2, 4, 2);
  findRow->addWidget(new QLabel(tr("Find:"), findBar_));
  findText_ = new QLineEdit(findBar_);
  findText_->setObjectName("FindText");
  findText_->setClearButtonEnabled(true);
  findRow->addWidget(findText_, 1);
  auto* next = new QToolButton(findBar_);
  next->setObjectName("FindNextButton");
  next->setText(tr("Next"));
  findRow->addWidget(next);
  matchCase_ = new QCheckBox(tr("Match case"), findBar_);
  matchCase_->setObjectName("MatchCase");
  findRow->addWidget(matchCase_);
  findStatus_ = new QLabel(findBar_);
  findStatus_->setObjectName("FindStatus");
  findStatus_->setMinimumWidth(findStatus_->fontMetrics().horizontalAdvance("M") * 24);
  findRow->addWidget(findStatus_);
  auto* hideFind = new QToolButton(findBar_);
  hideFind->setText(tr("Close"));
  findRow->addWidget(hideFind);
  findBar_->hide();
  // Typing searches from the current cell on, as the text grows; Enter goes to the next.
  connect(findText_, &QLineEdit::textChanged, this, [this] { StartSearch(true); });
  connect(findText_, &QLineEdit::returnPressed, this, [this] { FindNext(); });
  connect(matchCase_, &QCheckBox::toggled, this, [this] { StartSearch(true); });
  connect(next, &QToolButton::clicked, this, [this] { FindNext(); });
  connect(hideFind, &QToolButton::clicked, this, [this] { HideFind(); });
  auto* escape = new QShortcut(QKeySequence(Qt::Key_Escape), findBar_);
  escape->setContext(Qt::WidgetWithChildrenShortcut);
  connect(escape, &QShortcut::activated, this, [this] { HideFind(); });
  searchSlice_.setSingleShot(true);
  searchSlice_.setInterval(0);
  connect(&searchSlice_, &QTimer::timeout, this, [this] { SearchSlice(); });
  return findBar_;
}

QAction* WorkbookWindow::AddCommand(QMenu* menu, const QString& text, const char* name,
                                    QKeySequence::StandardKey key,
                                    const std::function<void()>& run) {
  auto* action = new QAction(text, this);
  action->setObjectName(name);
  action->setShortcuts(key);
  connect(action, &QAction::triggered, this, run);
  menu->addAction(action);
  // The shortcut works wherever the focus is in the window, with the menu bar shown or not.
  addAction(action);
  return action;
}

WorkbookWindow::~WorkbookWindow() {
  if (app_ && app_->View() == this) app_->ViewClosed();
}

void WorkbookWindow::Show() {
  show();
  raise();
  app_->ViewOpened();
}

void WorkbookWindow::Hide() {
  hide();
}

void WorkbookWindow::StatusBarChanged() {
  note_->setText(QString::fromStdString(app_->StatusBar()));
}

void WorkbookWindow::StructureChanged() {
  // A run adds sheet after sheet and yields after each; bringing the tabs and the grid in
  // line at each change would cost in proportion to all the sheets every time. The first
  // change after a pause shows at once; those that follow within a moment are gathered and
  // shown together, a few times a second. The grid lets go of a deleted sheet at once.
  if (settle_.isActive()) {
    pending_ = true;
    if (grid_->model() && !IsLive(shownSheet_)) DetachGrid();
  } else {
    SyncTabs();
    settle_.start();
  }
  UpdateTitle();
}

bool WorkbookWindow::IsLive(std::uint64_t sheetId) const {
  const xl::Workbook* wb = app_->WorkbookCount() ? &app_->ActiveWorkbook() : nullptr;
  if (!wb || wb != shown_) return false;
  for (long i = 1; i <= wb->SheetCount(); ++i) {
    if (wb->Sheet(i).Id() == sheetId) return true;
  }
  return false;
}

void WorkbookWindow::SyncTabs() {
  syncing_ = true;
  const xl::Workbook* wb = app_->WorkbookCount() ? &app_->ActiveWorkbook() : nullptr;
  if (wb != shown_) {
    // Another workbook: start afresh.
    DetachGrid();
    while (tabs_->count()) {
      QWidget* w = tabs_->widget(0);
      tabs_->removeTab(0);
      delete w;
    }
    for (auto& [id, model] : models_) delete model;
    pages_.clear();
    models_.clear();
    order_.clear();
    shown_ = wb;
  }
  if (wb) {
    // Every change of the workbook's structure comes here, one at a time, and a run adds
    // thousands of sheets: the tabs that still match their sheet in place are passed over
    // with a comparison of ids and names, and only from the first that does not is anything
    // looked up, moved, added or removed.
    const std::size_t count = static_cast<std::size_t>(wb->SheetCount());
    std::size_t pos = 0;
    for (; pos < count && pos < order_.size(); ++pos) {
      const xl::Worksheet& sheet = wb->Sheet(static_cast<long>(pos) + 1);
      if (order_[pos].id != sheet.Id()) break;
      Rename(pos, sheet);
    }
    if (pos < count || pos < order_.size()) Rearrange(*wb, pos);
    if (const auto it = pages_.find(wb->ActiveSheet().Id()); it != pages_.end()) {
      tabs_->setCurrentWidget(it->second);
    }
  }
  syncing_ = false;
  ShowCurrent();
}

void WorkbookWindow::Rename(std::size_t pos, const xl::Worksheet& sheet) {
  Tab& tab = order_[pos];
  if (tab.name == sheet.Name()) return;
  tab.name = sheet.Name();
  tabs_->setTabText(static_cast<int>(pos), QString::fromStdString(tab.name));
}

void WorkbookWindow::Rearrange(const xl::Workbook& wb, std::size_t from) {
  const std::size_t count = static_cast<std::size_t>(wb.SheetCount());
  // Sheets that are gone lose their tab and grid model before anything reads them again.
  // Tabs before `from` are known to hold live sheets.
  std::unordered_set<std::uint64_t> live;
  for (std::size_t i = from; i < count; ++i) live.insert(wb.Sheet(static_cast<long>(i) + 1).Id());
  for (std::size_t j = order_.size(); j-- > from;) {
    const std::uint64_t id = order_[j].id;
    if (live.count(id)) continue;
    if (grid_->model() == models_[id]) DetachGrid();
    QWidget* page = tabs_->widget(static_cast<int>(j));
    tabs_->removeTab(static_cast<int>(j));
    delete page;
    delete models_[id];
    pages_.erase(id);
    models_.erase(id);
    order_.erase(order_.begin() + static_cast<std::ptrdiff_t>(j));
  }
  // Then every sheet in its place, with its name. A visible tab bar lays all its tabs out
  // again at every insertion; many at once go in while it is hidden, and are laid out once.
  QTabBar* bar = tabs_->tabBar();
  const bool hideBar = count - std::min(count, from) > 8 && !bar->isHidden();
  if (hideBar) bar->hide();
  for (std::size_t pos = from; pos < count; ++pos) {
    const xl::Worksheet& sheet = wb.Sheet(static_cast<long>(pos) + 1);
    const std::uint64_t id = sheet.Id();
    if (pos < order_.size() && order_[pos].id == id) {
      Rename(pos, sheet);
      continue;
    }
    const auto at = std::find_if(order_.begin() + static_cast<std::ptrdiff_t>(pos), order_.end(),
                                 [id](const Tab& t) { return t.id == id; });
    if (at != order_.end()) {
      tabs_->tabBar()->moveTab(static_cast<int>(at - order_.begin()), static_cast<int>(pos));
      const Tab moved = *at;
      order_.erase(at);
      order_.insert(order_.begin() + static_cast<std::ptrdiff_t>(pos), moved);
      Rename(pos, sheet);
      continue;
    }
    auto* page = new QWidget;
    auto* layout = new QVBoxLayout(page);
    layout->setContentsMargins(0, 0, 0, 0);
    pages_[id] = page;
    models_[id] = new SheetModel(sheet, this);
    order_.insert(order_.begin() + static_cast<std::ptrdiff_t>(pos), Tab{id, sheet.Name()});
    tabs_->insertTab(static_cast<int>(pos), page, QString::fromStdString(sheet.Name()));
  }
  if (hideBar) bar->show();
}

void WorkbookWindow::DetachGrid() {
  shownSheet_ = 0;
  if (grid_->parentWidget() != this) {
    grid_->hide();
    grid_->setParent(this);
  }
  QItemSelectionModel* selection = grid_->selectionModel();
  grid_->setModel(nullptr);
  frozen_->Follow(0);
  delete selection;
  UpdateValueLine();
}

void WorkbookWindow::ShowCurrent() {
  const int index = tabs_->currentIndex();
  if (index < 0 || static_cast<std::size_t>(index) >= order_.size()) {
    DetachGrid();
    return;
  }
  const std::uint64_t id = order_[static_cast<std::size_t>(index)].id;
  // A tab chosen before gathered changes are shown may be a deleted sheet's.
  if (pending_ && !IsLive(id)) {
    DetachGrid();
    return;
  }
  QWidget* page = tabs_->widget(index);
  if (grid_->parentWidget() != page) {
    page->layout()->addWidget(grid_);
    grid_->show();
  }
  SheetModel* model = models_[id];
  shownSheet_ = id;
  const bool newModel = grid_->model() != model;
  if (newModel) {
    QItemSelectionModel* selection = grid_->selectionModel();
    grid_->setModel(model);
    frozen_->Follow(0);  // takes the new model and selection before the old one goes
    delete selection;  // the view makes a new one for each model and keeps the old
    connect(grid_->selectionModel(), &QItemSelectionModel::currentChanged, this,
            [this] { UpdateValueLine(); });
    // There is always a current cell, as in a spreadsheet; a sheet opens at its first.
    grid_->setCurrentIndex(model->index(0, 0));
  }
  if (model->Refresh() || newModel) ShowSheetLook(*model);
  UpdateValueLine();
}

void WorkbookWindow::ShowSheetLook(const SheetModel& model) {
  ApplyColumnWidths(*grid_, model.Sheet());
  frozen_->Follow(static_cast<int>(std::min<std::int64_t>(model.Sheet().FrozenRows(), 100)));
}

void WorkbookWindow::RefreshGrids() {
  // Only the shown sheet needs it: a sheet picks its cells up when its tab is chosen.
  if (auto* model = static_cast<SheetModel*>(grid_->model())) {
    if (model->Refresh()) ShowSheetLook(*model);
    UpdateValueLine();  // the run may have written the current cell
  }
}

void WorkbookWindow::UpdateValueLine() {
  const auto* model = static_cast<const SheetModel*>(grid_->model());
  const QModelIndex current = grid_->currentIndex();
  QString address, value;
  if (model && current.isValid()) {
    address = CellName(current.row(), current.column());
    value = ShownText(model->Sheet().Cell(current.row() + 1, current.column() + 1));
  }
  if (address_->text() != address) address_->setText(address);
  // Setting the same text again would drop what the user selected in it.
  if (value != valueShown_ || value_->document()->isEmpty() != value.isEmpty()) {
    valueShown_ = value;
    value_->setPlainText(value);
  }
}

void WorkbookWindow::FitValueLine() {
  // One line high, growing with a value of several lines up to four; more scrolls.
  const int lines = std::clamp(
      static_cast<int>(value_->document()->documentLayout()->documentSize().height()), 1, 4);
  const QMargins m = value_->contentsMargins();
  const int height = lines * value_->fontMetrics().lineSpacing() +
                     2 * static_cast<int>(value_->document()->documentMargin()) + m.top() +
                     m.bottom();
  if (value_->height() != height) value_->setFixedHeight(height);
  address_->setFixedHeight(address_->sizeHint().height());
}

void WorkbookWindow::Copy() {
  QWidget* focus = QApplication::focusWidget();
  if (auto* line = qobject_cast<QLineEdit*>(focus); line && isAncestorOf(line)) {
    line->copy();
  } else if (focus == value_) {
    value_->copy();
  } else {
    CopySelection();
  }
}

void WorkbookWindow::SelectAll() {
  QWidget* focus = QApplication::focusWidget();
  if (auto* line = qobject_cast<QLineEdit*>(focus); line && isAncestorOf(line)) {
    line->selectAll();
  } else if (focus == value_) {
    value_->selectAll();
  } else if (grid_->model()) {
    grid_->selectAll();
  }
}

void WorkbookWindow::CopySelection() {
  const auto* model = static_cast<const SheetModel*>(grid_->model());
  if (!model) return;
  std::vector<CellRect> ranges;
  for (const QItemSelectionRange& r : grid_->selectionModel()->selection()) {
    if (r.isValid()) ranges.push_back(CellRect{r.top(), r.left(), r.bottom(), r.right()});
  }
  const QModelIndex current = grid_->currentIndex();
  if (ranges.empty() && current.isValid()) {
    ranges.push_back(CellRect{current.row(), current.column(), current.row(), current.column()});
  }
  if (ranges.empty()) return;
  const CopyLimits limits;
  const CopiedCells copied = CopyCells(model->Sheet(), ranges, limits);
  // Counts grouped as everywhere else in the program: 1,234,567, whatever the locale.
  const auto count = [](auto n) {
    return QString::fromStdString(WithThousands(static_cast<std::int64_t>(n)));
  };
  if (copied.rowsCopied == 0) {
    statusBar()->showMessage(
        tr("Nothing was copied: one row of the selection holds more than %1 MB of text, "
           "more than a copy may hold.")
            .arg(count(limits.bytes >> 20)));
    return;
  }
  auto* mime = new QMimeData;
  mime->setText(copied.text);
  mime->setHtml(copied.html);
  QGuiApplication::clipboard()->setMimeData(mime);
  if (copied.Capped()) {
    // Said until the next message, so that nobody pastes a part believing it the whole.
    statusBar()->showMessage(
        tr("Copied only the first %1 of %2 rows: a copy holds at most %3 cells and %4 MB of "
           "text. Save As writes the whole workbook.")
            .arg(count(copied.rowsCopied),
                 count(copied.rows),
                 count(limits.cells),
                 count(limits.bytes >> 20)));
  } else {
    statusBar()->showMessage(
        tr("Copied %1 cells.").arg(count(copied.cellsCopied)),
        5000);
  }
}

void WorkbookWindow::ShowFind() {
  findBar_->show();
  findText_->setFocus(Qt::ShortcutFocusReason);
  findText_->selectAll();
}

void WorkbookWindow::HideFind() {
  search_.Stop();
  searchSlice_.stop();
  SetFindStatus({});
  findBar_->hide();
  grid_->setFocus(Qt::OtherFocusReason);
}

void WorkbookWindow::FindNext() {
  if (!findBar_->isVisible() || findText_->text().isEmpty()) {
    ShowFind();
    return;
  }
  // A search under way goes on; it already heads for the next match.
  if (search_.Current() != CellSearch::State::Searching) StartSearch(false);
}

void WorkbookWindow::StartSearch(bool includeCurrent) {
  search_.Stop();
  searchSlice_.stop();
  SetFindStatus({});
  if (!app_->WorkbookCount() || findText_->text().isEmpty()) return;
  const xl::Workbook& wb = app_->ActiveWorkbook();
  CellSearch::Where from;
  const QModelIndex current = grid_->currentIndex();
  if (shownSheet_ && current.isValid()) {
    from = {shownSheet_, current.row() + 1, current.column() + 1};
  } else {
    const int tab = tabs_->currentIndex();
    from.sheet = tab >= 0 && static_cast<std::size_t>(tab) < order_.size()
                     ? order_[static_cast<std::size_t>(tab)].id
                     : wb.Sheet(1).Id();
    includeCurrent = true;
  }
  search_.Start(wb, findText_->text(), matchCase_->isChecked(), from, includeCurrent);
  SearchSlice();
}

void WorkbookWindow::SearchSlice() {
  const xl::Workbook* wb = app_->WorkbookCount() ? &app_->ActiveWorkbook() : nullptr;
  if (search_.Book() != wb) search_.Stop();  // another workbook came
  // A slice takes a few milliseconds, short enough for the window, and a run that serves
  // its events, to go on as if no search were under way.
  switch (search_.Continue(std::chrono::milliseconds(8))) {
    case CellSearch::State::Searching:
      if (const xl::Worksheet* sheet = search_.SheetNow()) {
        SetFindStatus(tr("Searching %1…").arg(QString::fromStdString(sheet->Name())));
      }
      searchSlice_.start();
      break;
    case CellSearch::State::Found: {
      const CellSearch::Where at = search_.Match();
      SetFindStatus(search_.Wrapped() ? tr("Continued from the first sheet.") : QString());
      GoTo(at.sheet, at.row, at.col);
      break;
    }
    case CellSearch::State::NoMatch:
      SetFindStatus(tr("No match."));
      break;
    case CellSearch::State::Idle:
      break;
  }
}

void WorkbookWindow::SetFindStatus(const QString& text) {
  if (findStatus_->text() != text) findStatus_->setText(text);
}

void WorkbookWindow::GoTo(std::uint64_t sheetId, std::int64_t row, std::int64_t col) {
  if (pages_.find(sheetId) == pages_.end() || pending_) {
    // The sheet came with changes gathered but not shown yet.
    pending_ = false;
    SyncTabs();
  }
  const auto page = pages_.find(sheetId);
  if (page == pages_.end()) return;
  if (tabs_->currentWidget() != page->second) tabs_->setCurrentWidget(page->second);
  if (shownSheet_ != sheetId) ShowCurrent();
  auto* model = static_cast<SheetModel*>(grid_->model());
  if (!model || shownSheet_ != sheetId) return;
  if (model->Refresh()) ShowSheetLook(*model);  // the match may lie in rows not taken in yet
  const QModelIndex index = model->index(static_cast<int>(row - 1), static_cast<int>(col - 1));
  grid_->setCurrentIndex(index);
  grid_->scrollTo(index);
}

void WorkbookWindow::UpdateTitle() {
  const QString book =
      app_->WorkbookCount() ? QString::fromStdString(app_->ActiveWorkbook().Name()) : QString();
  setWindowTitle(book.isEmpty() ? QString(kAppTitle) : book + " - " + kAppTitle);
}

void WorkbookWindow::SaveWithFeedback(const QString& path, bool copy) {
  xl::Workbook& wb = app_->ActiveWorkbook();
  QElapsedTimer clock;
  clock.start();
  bool busy = false;
  qint64 pumped = -1;
  // While the file is written the window still paints and its timers run, but it takes no
  // input: the workbook must not change under the writer.
  auto progress = [&](std::uint64_t done, std::uint64_t total) {
    const qint64 ms = clock.elapsed();
    if (!busy && ms < feedbackDelayMs_) return;
    if (!busy) {
      busy = true;
      setCursor(Qt::WaitCursor);
      if (!saveProgress_) {
        saveProgress_ = new QProgressBar(this);
        saveProgress_->setObjectName("SaveProgress");
        saveProgress_->setRange(0, 1000);
        saveProgress_->setMaximumWidth(240);
        statusBar()->addPermanentWidget(saveProgress_);
      }
      statusBar()->showMessage(tr("Saving %1…").arg(path));
      saveProgress_->show();
      statusBar()->show();
    }
    saveProgress_->setValue(total ? static_cast<int>(done * 1000 / total) : 1000);
    if (pumped < 0 || ms - pumped >= 50) {
      pumped = ms;
      QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
    }
  };
  struct Done {
    WorkbookWindow* w;
    bool& busy;
    ~Done() {
      w->saving_ = false;
      if (!busy) return;
      w->unsetCursor();
      w->saveProgress_->hide();
      w->statusBar()->clearMessage();
      w->statusBar()->hide();
    }
  } done{this, busy};
  saving_ = true;
  if (copy) {
    wb.SaveCopyAs(path.toStdString(), progress);
  } else {
    wb.SaveAs(path.toStdString(), progress);
  }
}

bool WorkbookWindow::SaveAs() {
  if (saving_) return false;
  if (!app_->WorkbookCount()) return true;
  xl::Workbook& wb = app_->ActiveWorkbook();
  QString path = prompts_->AskSavePath(QString::fromStdString(wb.Name()) + ".xlsx");
  if (path.isEmpty()) return false;
  if (!path.endsWith(".xlsx", Qt::CaseInsensitive)) path += ".xlsx";
  try {
    SaveWithFeedback(path, false);
  } catch (const Error& e) {
    prompts_->ShowError(QString::fromStdString(e.Description()));
    return false;
  }
  return true;
}

void WorkbookWindow::OpenInSpreadsheet() {
  if (!app_->WorkbookCount() || saving_) return;
  const xl::Workbook& wb = app_->ActiveWorkbook();
  // The copy has to outlive this window: the spreadsheet application opens it later.
  QTemporaryDir dir(QDir::temp().filePath("palomet-XXXXXX"));
  dir.setAutoRemove(false);
  if (!dir.isValid()) {
    prompts_->ShowError(tr("Cannot create a temporary folder for the copy."));
    return;
  }
  QString name = QString::fromStdString(wb.Name());
  if (!name.endsWith(".xlsx", Qt::CaseInsensitive)) name += ".xlsx";
  const QString path = dir.filePath(name);
  try {
    SaveWithFeedback(path, true);
  } catch (const Error& e) {
    prompts_->ShowError(QString::fromStdString(e.Description()));
    return;
  }
  if (!opener_(path)) prompts_->ShowError(tr("No application could open %1.").arg(path));
}

void WorkbookWindow::closeEvent(QCloseEvent* event) {
  if (saving_) {  // asked while the file is written: the save goes on, the window stays
    event->ignore();
    return;
  }
  // Closing always asks about unsaved work, whatever DisplayAlerts says.
  if (app_->WorkbookCount() && !app_->ActiveWorkbook().Saved()) {
    switch (prompts_->AskSaveChanges(QString::fromStdString(app_->ActiveWorkbook().Name()))) {
      case WindowPrompts::SaveAnswer::Cancel:
        event->ignore();
        return;
      case WindowPrompts::SaveAnswer::Save:
        if (!SaveAs()) {
          event->ignore();
          return;
        }
        break;
      case WindowPrompts::SaveAnswer::Discard:
        break;
    }
  }
  refresh_.stop();
  app_->ViewClosed();
  event->accept();
}

void InstallWorkbookWindows(std::shared_ptr<WindowPrompts> prompts, FileOpener opener) {
  if (!prompts) prompts = std::make_shared<QtPrompts>();
  if (!opener) {
    opener = [](const QString& path) {
      return QDesktopServices::openUrl(QUrl::fromLocalFile(path));
    };
  }
  xl::Application::SetViewFactory(
      [prompts, opener](std::shared_ptr<xl::Application> app) -> xl::ApplicationView* {
        return new WorkbookWindow(std::move(app), prompts, opener);
      });
}

}  // namespace palomet::xlwindow
