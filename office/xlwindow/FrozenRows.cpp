#include "office/xlwindow/FrozenRows.h"

#include <QEvent>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QCoreApplication>
#include <QScrollBar>
#include <QWheelEvent>
#include <algorithm>
#include <cmath>

namespace palomet::xlwindow {

FrozenRows::FrozenRows(QTableView* grid) : QTableView(grid), grid_(grid) {
  setObjectName("FrozenRows");
  setFocusPolicy(Qt::NoFocus);
  setEditTriggers(QAbstractItemView::NoEditTriggers);
  horizontalHeader()->hide();
  verticalHeader()->setDefaultSectionSize(grid->verticalHeader()->defaultSectionSize());
  verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
  setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  setHorizontalScrollMode(grid->horizontalScrollMode());
  setFrameShape(QFrame::NoFrame);
  setAutoScroll(false);
  hide();
  // Its rows are the sheet's top rows, whatever moves the shared current cell.
  connect(verticalScrollBar(), &QScrollBar::valueChanged, this, [this](int value) {
    if (value != 0) verticalScrollBar()->setValue(0);
  });
  connect(grid->horizontalScrollBar(), &QScrollBar::valueChanged, horizontalScrollBar(),
          &QScrollBar::setValue);
  connect(grid->horizontalHeader(), &QHeaderView::sectionResized, this,
          [this](int col, int, int size) { setColumnWidth(col, size); });
  connect(grid->verticalHeader(), &QHeaderView::geometriesChanged, this, [this] { Place(); });
  grid->installEventFilter(this);
}

void FrozenRows::Follow(int rows) {
  rows_ = grid_->model() ? rows : 0;
  if (model() != grid_->model()) {
    setModel(grid_->model());
    if (grid_->model()) {
      QItemSelectionModel* own = selectionModel();
      setSelectionModel(grid_->selectionModel());
      if (own != grid_->selectionModel()) delete own;
    }
  }
  if (rows_ == 0) {
    hide();
    return;
  }
  for (int col = 0; col < grid_->model()->columnCount(); ++col) {
    setColumnWidth(col, grid_->columnWidth(col));
  }
  horizontalScrollBar()->setValue(grid_->horizontalScrollBar()->value());
  Place();
  show();
  raise();
}

bool FrozenRows::eventFilter(QObject* watched, QEvent* event) {
  if (watched == grid_ && event->type() == QEvent::Resize) Place();
  return QTableView::eventFilter(watched, event);
}

void FrozenRows::scrollTo(const QModelIndex&, ScrollHint) {}

void FrozenRows::wheelEvent(QWheelEvent* event) {
  // The wheel over the field names scrolls the sheet, as anywhere over the grid.
  QCoreApplication::sendEvent(grid_->viewport(), event);
}

void FrozenRows::Place() {
  if (rows_ == 0) return;
  int height = 0;
  for (int row = 0; row < rows_; ++row) height += grid_->rowHeight(row);
  const int header = grid_->verticalHeader()->width();
  verticalHeader()->setFixedWidth(header);
  const int frame = grid_->frameWidth();
  setGeometry(frame, frame + grid_->horizontalHeader()->height(),
              header + grid_->viewport()->width(), height + 1);
}

namespace {

// The cell's padding, in pixels, beside the digits of a column's width.
constexpr int kPadding = 5;

int DigitWidth(const QTableView& grid) {
  return std::max(1, grid.fontMetrics().horizontalAdvance(QLatin1Char('0')));
}

}  // namespace

double ColumnWidthOf(const QTableView& grid, int pixels) {
  // As narrow as a column can be made, it is still a column, however little it shows.
  return std::clamp(static_cast<double>(pixels - kPadding) / DigitWidth(grid), 1.0 / 256,
                    xl::Worksheet::kMaxColumnWidth);
}

void ApplyColumnWidths(QTableView& grid, const xl::Worksheet& sheet) {
  const int digit = DigitWidth(grid);
  const int standard = grid.horizontalHeader()->defaultSectionSize();
  // Only widths that differ are set: each change lays the header out again.
  for (int col = 0; col < grid.model()->columnCount(); ++col) {
    const double width = sheet.ColumnWidth(col + 1);
    const int want = width > 0 ? static_cast<int>(std::lround(width * digit)) + kPadding : standard;
    if (grid.columnWidth(col) != want) grid.setColumnWidth(col, want);
  }
}

}  // namespace palomet::xlwindow
