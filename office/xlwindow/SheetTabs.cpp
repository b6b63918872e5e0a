#include "office/xlwindow/SheetTabs.h"

#include <QHeaderView>
#include <QScrollBar>
#include <QTabBar>
#include <QTableView>
#include <QVBoxLayout>
#include <algorithm>
#include <unordered_set>

#include "office/xlwindow/FrozenRows.h"
#include "office/xlwindow/SheetGrid.h"
#include "office/xlwindow/SheetList.h"
#include "office/xlwindow/SheetModel.h"
#include "office/xlwindow/SheetTabBar.h"

namespace palomet::xlwindow {

SheetTabs::SheetTabs(xl::Application& app, QWidget* parent) : QTabWidget(parent), app_(app) {
  setObjectName("Sheets");
  auto* bar = new SheetTabBar(this);
  setTabBar(bar);
  connect(bar, &SheetTabBar::ListAsked, this, [this](const QPoint& at) { ListSheets(at); });
  setTabPosition(QTabWidget::South);
  setDocumentMode(true);
  // Tab names are at most 31 characters; eliding them would shape the text of every tab at
  // every repaint of the bar, which a workbook of thousands of sheets cannot afford.
  setElideMode(Qt::ElideNone);
  setUsesScrollButtons(true);
  // A click on a tab leaves the keys with the grid, as in a spreadsheet.
  tabBar()->setFocusPolicy(Qt::NoFocus);
  grid_ = new SheetGrid(this);
  grid_->setObjectName("Grid");
  grid_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  grid_->verticalHeader()->setDefaultSectionSize(22);
  grid_->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
  grid_->hide();
  frozen_ = new FrozenRows(grid_);
  connect(grid_->horizontalHeader(), &QHeaderView::sectionResized, this,
          [this](int col, int, int size) { KeepColumnWidth(col, size); });
  connect(this, &QTabWidget::currentChanged, this, [this] {
    if (!syncing_) ShowCurrent();
  });

  // New cells show within a fraction of a second; a run yields often enough for this to fire.
  refresh_.setInterval(200);
  connect(&refresh_, &QTimer::timeout, this, [this] { Refresh(); });
  refresh_.start();

  settle_.setSingleShot(true);
  settle_.setInterval(150);
  connect(&settle_, &QTimer::timeout, this, [this] {
    if (!pending_) return;
    pending_ = false;
    SyncTabs();
    settle_.start();  // what changes in the next moment is gathered again
  });
}

SheetTabs::~SheetTabs() = default;

QTableView* SheetTabs::Grid() const {
  return grid_;
}

SheetModel* SheetTabs::Shown() const {
  return static_cast<SheetModel*>(grid_->model());
}

std::uint64_t SheetTabs::CurrentTabSheet() const {
  const int index = currentIndex();
  return index >= 0 && static_cast<std::size_t>(index) < order_.size()
             ? order_[static_cast<std::size_t>(index)].id
             : 0;
}

const xl::Workbook* SheetTabs::Book() const {
  return app_.WorkbookCount() ? &app_.ActiveWorkbook() : nullptr;
}

void SheetTabs::StructureChanged() {
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
}

bool SheetTabs::IsLive(std::uint64_t sheetId) const {
  const xl::Workbook* wb = Book();
  if (!wb || wb != shown_) return false;
  // Asked at every change while a run adds sheets: the search starts where the sheet was
  // found last and widens from there, as sheets come and go one at a time.
  const long sheets = wb->SheetCount();
  const long hint = std::clamp<long>(liveHint_, 1, std::max<long>(sheets, 1));
  for (long d = 0; hint - d >= 1 || hint + d <= sheets; ++d) {
    for (const long i : {hint - d, hint + d}) {
      if (i >= 1 && i <= sheets && wb->Sheet(i).Id() == sheetId) {
        liveHint_ = i;
        return true;
      }
    }
  }
  return false;
}

void SheetTabs::SyncTabs() {
  syncing_ = true;
  const xl::Workbook* wb = Book();
  if (wb != shown_) {
    // Another workbook: start afresh.
    DetachGrid();
    while (count()) {
      QWidget* w = widget(0);
      removeTab(0);
      delete w;
    }
    for (auto& [id, model] : models_) delete model;
    pages_.clear();
    models_.clear();
    spots_.clear();
    order_.clear();
    followedActive_ = 0;
    shown_ = wb;
  }
  if (wb) {
    // Every change of the workbook's structure comes here, one at a time, and a run adds
    // thousands of sheets: the tabs that still match their sheet in place are passed over
    // with a comparison of ids and names, and only from the first that does not is anything
    // looked up, moved, added or removed.
    const std::size_t sheets = static_cast<std::size_t>(wb->SheetCount());
    std::size_t pos = 0;
    for (; pos < sheets && pos < order_.size(); ++pos) {
      const xl::Worksheet& sheet = wb->Sheet(static_cast<long>(pos) + 1);
      if (order_[pos].id != sheet.Id()) break;
      Rename(pos, sheet);
    }
    if (pos < sheets || pos < order_.size()) Rearrange(*wb, pos);
    // A save or a rename notifies too; only a new active sheet takes the user's tab away.
    const std::uint64_t active = wb->ActiveSheet().Id();
    if (active != followedActive_) {
      followedActive_ = active;
      if (const auto it = pages_.find(active); it != pages_.end()) setCurrentWidget(it->second);
    }
  }
  syncing_ = false;
  ShowCurrent();
}

void SheetTabs::Rename(std::size_t pos, const xl::Worksheet& sheet) {
  Tab& tab = order_[pos];
  if (tab.name == sheet.Name()) return;
  tab.name = sheet.Name();
  setTabText(static_cast<int>(pos), QString::fromStdString(tab.name));
}

void SheetTabs::Rearrange(const xl::Workbook& wb, std::size_t from) {
  const std::size_t sheets = static_cast<std::size_t>(wb.SheetCount());
  // Sheets that are gone lose their tab and grid model before anything reads them again.
  // Tabs before `from` are known to hold live sheets.
  std::unordered_set<std::uint64_t> live;
  for (std::size_t i = from; i < sheets; ++i) live.insert(wb.Sheet(static_cast<long>(i) + 1).Id());
  for (std::size_t j = order_.size(); j-- > from;) {
    const std::uint64_t id = order_[j].id;
    if (live.count(id)) continue;
    if (grid_->model() == models_[id]) DetachGrid();
    QWidget* page = widget(static_cast<int>(j));
    removeTab(static_cast<int>(j));
    delete page;
    delete models_[id];
    pages_.erase(id);
    models_.erase(id);
    spots_.erase(id);
    order_.erase(order_.begin() + static_cast<std::ptrdiff_t>(j));
  }
  // Then every sheet in its place, with its name. The tab bar lays all its tabs out again at
  // every insertion, hidden or not (it looks for the tab under the pointer), and measures
  // each shown tab as it does: thousands of sheets added a few at a time cost in proportion
  // to the square of their number. A tab that is not shown costs that layout next to
  // nothing, so while many go in, the bar is hidden and so are its tabs but the first, the
  // last and the current one (hiding an end tab has the bar search for the new end, hiding
  // the current one would choose another); every tab is shown again afterwards, and the
  // bar lays them out once.
  QTabBar* bar = tabBar();
  const bool many = sheets - std::min(sheets, from) > 8;
  const bool hideBar = many && !bar->isHidden();
  if (hideBar) bar->hide();
  const bool tucked = many && count() > 2;
  const auto tuck = [&](int index) {
    if (tucked && index > 0 && index + 1 < count() && index != currentIndex()) {
      bar->setTabVisible(index, false);
    }
  };
  if (tucked) {
    for (int i = 1; i + 1 < count(); ++i) tuck(i);
  }
  for (std::size_t pos = from; pos < sheets; ++pos) {
    const xl::Worksheet& sheet = wb.Sheet(static_cast<long>(pos) + 1);
    const std::uint64_t id = sheet.Id();
    if (pos < order_.size() && order_[pos].id == id) {
      Rename(pos, sheet);
      continue;
    }
    const auto at = std::find_if(order_.begin() + static_cast<std::ptrdiff_t>(pos), order_.end(),
                                 [id](const Tab& t) { return t.id == id; });
    if (at != order_.end()) {
      bar->moveTab(static_cast<int>(at - order_.begin()), static_cast<int>(pos));
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
    insertTab(static_cast<int>(pos), page, QString::fromStdString(sheet.Name()));
    // Its neighbours were the ends maybe, and are no longer.
    for (int i = static_cast<int>(pos) - 1; i <= static_cast<int>(pos) + 1; ++i) tuck(i);
  }
  if (tucked) {
    for (int i = 0; i < count(); ++i) {
      if (!bar->isTabVisible(i)) bar->setTabVisible(i, true);
    }
  }
  if (hideBar) bar->show();
}

void SheetTabs::KeepSpot() {
  const QModelIndex current = grid_->currentIndex();
  if (!shownSheet_ || !current.isValid()) return;
  spots_[shownSheet_] = Spot{current.row(), current.column(), grid_->verticalScrollBar()->value(),
                             grid_->horizontalScrollBar()->value()};
}

void SheetTabs::DetachGrid() {
  if (IsLive(shownSheet_)) KeepSpot();
  shownSheet_ = 0;
  // The model goes first: hiding a grid that has the focus moves its current cell (as Tab
  // would), which must not read a sheet that is gone.
  QItemSelectionModel* selection = grid_->selectionModel();
  grid_->setModel(nullptr);
  frozen_->Follow(0);
  delete selection;
  if (grid_->parentWidget() != this) {
    if (grid_->hasFocus()) setFocus(Qt::OtherFocusReason);  // kept for the grid's return
    grid_->hide();
    grid_->setParent(this);
  }
  emit CurrentCellChanged();
}

void SheetTabs::ShowCurrent() {
  const int index = currentIndex();
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
  QWidget* page = widget(index);
  if (grid_->parentWidget() != page) {
    // Changing pages hands the grid's focus to the new page before the grid gets there; the
    // keys stay with the grid, and go to it at first, unless the user is elsewhere.
    const QWidget* focus = window()->focusWidget();
    const bool keys = !focus || focus == this || isAncestorOf(focus);
    page->layout()->addWidget(grid_);
    grid_->show();
    if (keys) grid_->setFocus(Qt::OtherFocusReason);
  }
  SheetModel* model = models_[id];
  const bool newModel = grid_->model() != model;
  if (newModel) {
    KeepSpot();
    QItemSelectionModel* selection = grid_->selectionModel();
    grid_->setModel(model);
    frozen_->Follow(0);  // takes the new model and selection before the old one goes
    delete selection;    // the view makes a new one for each model and keeps the old
    connect(grid_->selectionModel(), &QItemSelectionModel::currentChanged, this,
            [this] { emit CurrentCellChanged(); });
  }
  shownSheet_ = id;
  if (model->Refresh() || newModel) ShowSheetLook(*model);
  if (newModel) {
    // There is always a current cell, as in a spreadsheet: where the sheet was left, else
    // its first cell.
    const auto spot = spots_.find(id);
    const Spot at = spot != spots_.end() ? spot->second : Spot{};
    grid_->setCurrentIndex(model->index(std::min(at.row, model->rowCount() - 1),
                                        std::min(at.col, model->columnCount() - 1)));
    if (at.top || at.left) {
      // The scroll bars take the sheet's size once the grid is laid out: now, or when it
      // first shows on a page of its own.
      grid_->doItemsLayout();
      const auto scroll = [grid = grid_, model, at] {
        if (grid->model() == model) grid->ScrollToValues(at.top, at.left);
      };
      scroll();
      QTimer::singleShot(0, grid_, scroll);
    }
  }
  emit CurrentCellChanged();
}

void SheetTabs::ShowSheetLook(const SheetModel& model) {
  showingLook_ = true;
  ApplyColumnWidths(*grid_, model.Sheet());
  showingLook_ = false;
  frozen_->Follow(static_cast<int>(std::min<std::int64_t>(model.Sheet().FrozenRows(), 100)));
  grid_->FitScrollBars();
}

void SheetTabs::KeepColumnWidth(int col, int pixels) {
  if (showingLook_ || !shownSheet_ || !app_.WorkbookCount()) return;
  xl::Worksheet* sheet = app_.ActiveWorkbook().SheetWithId(shownSheet_);
  if (!sheet) return;
  sheet->SetColumnWidth(col + 1, ColumnWidthOf(*grid_, pixels));
}

void SheetTabs::Refresh() {
  // Only the shown sheet needs it: a sheet picks its cells up when its tab is chosen.
  if (SheetModel* model = Shown()) {
    if (model->Refresh()) ShowSheetLook(*model);
    emit CellsChanged();  // the run may have written the current cell
  }
}

bool SheetTabs::GoTo(std::uint64_t sheetId, int row, int col, int toRow, int toCol) {
  if (pages_.find(sheetId) == pages_.end() || pending_) {
    // The sheet came with changes gathered but not shown yet.
    pending_ = false;
    SyncTabs();
  }
  const auto page = pages_.find(sheetId);
  if (page == pages_.end()) return false;
  if (currentWidget() != page->second) setCurrentWidget(page->second);
  if (shownSheet_ != sheetId) ShowCurrent();
  SheetModel* model = Shown();
  if (!model || shownSheet_ != sheetId) return false;
  if (model->Refresh()) ShowSheetLook(*model);  // the cell may have been written a moment ago
  const QModelIndex index = model->index(row, col);
  grid_->setCurrentIndex(index);  // selected alone, and the start of a Shift+move from it
  if (toRow >= 0 && toCol >= 0) {
    grid_->selectionModel()->select(QItemSelection(index, model->index(toRow, toCol)),
                                    QItemSelectionModel::ClearAndSelect);
  }
  grid_->scrollTo(index);
  return true;
}

void SheetTabs::ListSheets(std::optional<QPoint> corner) {
  if (pending_) {
    pending_ = false;
    SyncTabs();
  }
  QStringList names;
  std::vector<std::uint64_t> ids;
  names.reserve(static_cast<qsizetype>(order_.size()));
  ids.reserve(order_.size());
  for (const Tab& tab : order_) {
    names << QString::fromStdString(tab.name);
    ids.push_back(tab.id);
  }
  auto* list = new SheetList(names, currentIndex(), this);
  // Sheets may come and go while the list is open (a run goes on): the choice is a sheet.
  connect(list, &SheetList::Chosen, this, [this, ids = std::move(ids)](int index) {
    if (pending_) {
      pending_ = false;
      SyncTabs();
    }
    const auto page = pages_.find(ids[static_cast<std::size_t>(index)]);
    if (page == pages_.end()) return;
    setCurrentWidget(page->second);
    grid_->setFocus(Qt::OtherFocusReason);
  });
  list->Popup(corner ? *corner : tabBar()->mapToGlobal(QPoint(0, 0)));
}

void SheetTabs::StepSheet(int step) {
  const int to = std::clamp(currentIndex() + step, 0, count() - 1);
  if (to != currentIndex()) setCurrentIndex(to);
}

}  // namespace palomet::xlwindow
