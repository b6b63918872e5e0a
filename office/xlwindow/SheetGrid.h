#pragma once

#include <QTableView>

namespace palomet::xlwindow {

// The grid of a sheet (a SheetModel): all its rows and columns, as far as the keys and Go To
// reach, but scroll bars that span what matters, as a spreadsheet's do: the used cells and a
// screenful past them, or past what is in view when that lies further, so that they reach
// on a screenful at a time to the sheet's edge. On a small sheet the thumb keeps a useful
// size and dragging it moves through the data rather than through a million empty rows.
class SheetGrid : public QTableView {
  Q_OBJECT
 public:
  explicit SheetGrid(QWidget* parent);

  void setModel(QAbstractItemModel* model) override;
  void scrollTo(const QModelIndex& index, ScrollHint hint = EnsureVisible) override;
  // Scrolls to the scroll bars' values `vertical` and `horizontal` (a place kept when the
  // sheet was left), however far past the used cells.
  void ScrollToValues(int vertical, int horizontal);
  // The used cells may have grown: the scroll bars span them.
  void FitScrollBars() { updateGeometries(); }

 protected:
  void updateGeometries() override;

 private:
  // Shortens the scroll bar of `orientation` to what it spans (see above).
  void Limit(Qt::Orientation orientation);

  bool lifted_ = false;  // the bars span the whole sheet for a moment
  // The model is being changed: the old one's sheet may be gone already.
  bool changingModel_ = false;
  int targetRow_ = -1, targetColumn_ = -1;  // where scrollTo is taking the view
};

}  // namespace palomet::xlwindow
