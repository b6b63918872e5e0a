#pragma once

#include <QTableView>

#include "office/xl/Excel.h"

namespace palomet::xlwindow {

// The top rows of a grid kept in view while the rest scrolls, as a sheet with frozen rows
// shows them: a second view of the grid's model and selection, laid over the top of the
// grid's cells, following its columns and its sideways scrolling. It never scrolls down by
// itself: the current cell, which it shares with the grid, is the grid's to bring in view.
class FrozenRows : public QTableView {
  Q_OBJECT
 public:
  explicit FrozenRows(QTableView* grid);

  // Shows the grid's top `rows` rows over it (0 hides the overlay). Call after every change
  // of the grid's model, before the grid's old selection model goes.
  void Follow(int rows);
  int Rows() const { return rows_; }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;
  void scrollTo(const QModelIndex& index, ScrollHint hint) override;
  void wheelEvent(QWheelEvent* event) override;

 private:
  void Place();

  QTableView* grid_;
  int rows_ = 0;
};

// Sets the grid's column widths to the sheet's: a width of n characters is n digits of the
// grid's font plus the cell's padding, as spreadsheets measure it. Columns of the default
// width get the grid's default, whatever the sheet shown before left them at.
void ApplyColumnWidths(QTableView& grid, const xl::Worksheet& sheet);
// The width in characters, as the sheet keeps it, of a column `pixels` wide on the grid.
double ColumnWidthOf(const QTableView& grid, int pixels);

}  // namespace palomet::xlwindow
