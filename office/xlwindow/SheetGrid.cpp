#include "office/xlwindow/SheetGrid.h"

#include <QHeaderView>
#include <QScrollBar>
#include <algorithm>

#include "office/xlwindow/SheetModel.h"

namespace palomet::xlwindow {

SheetGrid::SheetGrid(QWidget* parent) : QTableView(parent) {
  // Each move of a bar may let it span further (or less far) than before.
  for (QScrollBar* bar : {verticalScrollBar(), horizontalScrollBar()}) {
    connect(bar, &QScrollBar::valueChanged, this, [this] { updateGeometries(); });
  }
}

void SheetGrid::setModel(QAbstractItemModel* model) {
  changingModel_ = true;
  QTableView::setModel(model);
  changingModel_ = false;
  updateGeometries();
}

void SheetGrid::scrollTo(const QModelIndex& index, ScrollHint hint) {
  if (index.isValid()) {
    targetRow_ = index.row();
    targetColumn_ = index.column();
    updateGeometries();
  }
  QTableView::scrollTo(index, hint);
  targetRow_ = targetColumn_ = -1;
}

void SheetGrid::ScrollToValues(int vertical, int horizontal) {
  lifted_ = true;
  updateGeometries();
  verticalScrollBar()->setValue(vertical);
  horizontalScrollBar()->setValue(horizontal);
  lifted_ = false;
  updateGeometries();
}

void SheetGrid::updateGeometries() {
  QTableView::updateGeometries();
  if (lifted_ || changingModel_ || !model()) return;
  Limit(Qt::Vertical);
  Limit(Qt::Horizontal);
}

void SheetGrid::Limit(Qt::Orientation orientation) {
  const bool vertical = orientation == Qt::Vertical;
  QHeaderView* header = vertical ? verticalHeader() : horizontalHeader();
  QScrollBar* bar = vertical ? verticalScrollBar() : horizontalScrollBar();
  const int count = header->count();
  if (count == 0) return;
  const xl::Worksheet& sheet = static_cast<const SheetModel*>(model())->Sheet();
  const int used = static_cast<int>(vertical ? sheet.UsedRows() : sheet.UsedColumns());
  const bool perItem = (vertical ? verticalScrollMode() : horizontalScrollMode()) == ScrollPerItem;
  const int length = vertical ? viewport()->height() : viewport()->width();
  const int page =
      perItem ? bar->pageStep() : std::max(1, length / std::max(1, header->defaultSectionSize()));
  int shown = header->logicalIndexAt(length - 1);
  if (shown < 0) shown = count - 1;
  const int target = vertical ? targetRow_ : targetColumn_;
  // The last section the bar reaches: a screenful past the used ones, past those in view and
  // past where the view is going.
  const int last = std::min(count - 1, std::max({used - 1, shown, target}) + page);
  const int spanned = perItem ? last - bar->pageStep() + 1
                              : header->sectionPosition(last) + header->sectionSize(last) - length;
  // Never below where the bar stands, which would move the view.
  const int maximum = std::clamp(spanned, bar->value(), bar->maximum());
  if (maximum != bar->maximum()) bar->setMaximum(maximum);
}

}  // namespace palomet::xlwindow
