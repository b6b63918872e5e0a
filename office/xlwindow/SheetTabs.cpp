#include "office/xlwindow/SheetTabs.h"

#include <QHeaderView>
#include <QScrollBar>
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

SheetTabs::SheetTabs(xl::Application& app, QWidget* parent) : QWidget(parent), app_(app) {
  setObjectName("Sheets");
  auto* column = new QVBoxLayout(this);
  column->setContentsMargins(0, 0, 0, 0);
  column->setSpacing(0);
  grid_ = new SheetGrid(this);
  grid_->setObjectName("Grid");
  grid_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  grid_->verticalHeader()->setDefaultSectionSize(22);
  grid_->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
  grid_->hide();
  column->addWidget(grid_, 1);
  frozen_ = new FrozenRows(grid_);
  connect(grid_->horizontalHeader(), &QHeaderView::sectionResized, this,
          [this](int col, int, int size) { KeepColumnWidth(col, size); });
  bar_ = new SheetTabBar(this);
  bar_->setObjectName("SheetTabs");
  column->addWidget(bar_, 0, Qt::AlignBottom);
  connect(bar_, &SheetTabBar::ListAsked, this, [this](const QPoint& at) { ListSheets(at); });
  connect(bar_, &SheetTabBar::currentChanged, this, [this](int index) {
    if (!syncing_) ShowCurrent();
    emit currentChanged(index);
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

int SheetTabs::count() const {
  return bar_->count();
}

int SheetTabs::currentIndex() const {
  return bar_->currentIndex();
}

void SheetTabs::setCurrentIndex(int index) {
  bar_->setCurrentIndex(index);
}

QString SheetTabs::tabText(int index) const {
  return bar_->tabText(index);
}

int SheetTabs::PositionOf(std::uint64_t id) const {
  for (std::size_t i = 0; i < order_.size(); ++i) {
    if (order_[i].id == id) return static_cast<int>(i);
  }
  return -1;
}

SheetModel* SheetTabs::ModelOf(std::uint64_t id) {
  if (const auto it = models_.find(id); it != models_.end()) {
    modelsUsed_.erase(std::find(modelsUsed_.begin(), modelsUsed_.end(), id));
    modelsUsed_.push_back(id);
    return it->second;
  }
  xl::Worksheet* sheet = shown_ ? shown_->SheetWithId(id) : nullptr;
  if (!sheet) return nullptr;
  // The models of the sheets shown lately are kept (switching back and forth is common); the
  // one shown longest ago goes, unless the grid still shows it.
  constexpr std::size_t kKept = 16;
  for (std::size_t i = 0; modelsUsed_.size() >= kKept && i < modelsUsed_.size(); ++i) {
    const std::uint64_t old = modelsUsed_[i];
    if (models_[old] == grid_->model()) continue;
    delete models_[old];
    models_.erase(old);
    modelsUsed_.erase(modelsUsed_.begin() + static_cast<std::ptrdiff_t>(i));
    break;
  }
  SheetModel* model = new SheetModel(*sheet, this);
  models_[id] = model;
  modelsUsed_.push_back(id);
  return model;
}

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
    while (bar_->count()) bar_->removeTab(bar_->count() - 1);
    for (auto& [id, model] : models_) delete model;
    models_.clear();
    modelsUsed_.clear();
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
      if (const int at = PositionOf(active); at >= 0) bar_->setCurrentIndex(at);
    }
  }
  syncing_ = false;
  ShowCurrent();
}

void SheetTabs::Rename(std::size_t pos, const xl::Worksheet& sheet) {
  Tab& tab = order_[pos];
  if (tab.name == sheet.Name()) return;
  tab.name = sheet.Name();
  bar_->setTabText(static_cast<int>(pos), QString::fromStdString(tab.name));
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
    if (const auto model = models_.find(id); model != models_.end()) {
      if (grid_->model() == model->second) DetachGrid();
      delete model->second;
      models_.erase(model);
      modelsUsed_.erase(std::find(modelsUsed_.begin(), modelsUsed_.end(), id));
    }
    bar_->removeTab(static_cast<int>(j));
    spots_.erase(id);
    order_.erase(order_.begin() + static_cast<std::ptrdiff_t>(j));
  }
  // Then every sheet in its place, with its name: a new tab at the end costs the strip the
  // same however many there are.
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
      bar_->moveTab(static_cast<int>(at - order_.begin()), static_cast<int>(pos));
      const Tab moved = *at;
      order_.erase(at);
      order_.insert(order_.begin() + static_cast<std::ptrdiff_t>(pos), moved);
      Rename(pos, sheet);
      continue;
    }
    order_.insert(order_.begin() + static_cast<std::ptrdiff_t>(pos), Tab{id, sheet.Name()});
    bar_->insertTab(static_cast<int>(pos), QString::fromStdString(sheet.Name()));
  }
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
  if (!grid_->isHidden()) {
    if (grid_->hasFocus()) setFocus(Qt::OtherFocusReason);  // kept for the grid's return
    grid_->hide();
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
  SheetModel* model = ModelOf(id);
  if (!model) {
    DetachGrid();
    return;
  }
  if (grid_->isHidden()) {
    // The keys go to the grid when it comes back, unless the user is elsewhere.
    const QWidget* focus = window()->focusWidget();
    const bool keys = !focus || focus == this || isAncestorOf(focus);
    grid_->show();
    if (keys) grid_->setFocus(Qt::OtherFocusReason);
  }
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
      // first shows.
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
  if (pending_ || PositionOf(sheetId) < 0) {
    // The sheet came with changes gathered but not shown yet.
    pending_ = false;
    SyncTabs();
  }
  const int at = PositionOf(sheetId);
  if (at < 0) return false;
  if (bar_->currentIndex() != at) bar_->setCurrentIndex(at);
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
    const int at = PositionOf(ids[static_cast<std::size_t>(index)]);
    if (at < 0) return;
    bar_->setCurrentIndex(at);
    grid_->setFocus(Qt::OtherFocusReason);
  });
  list->Popup(corner ? *corner : bar_->mapToGlobal(QPoint(0, 0)));
}

void SheetTabs::StepSheet(int step) {
  const int to = std::clamp(currentIndex() + step, 0, count() - 1);
  if (to != currentIndex()) bar_->setCurrentIndex(to);
}

}  // namespace palomet::xlwindow
