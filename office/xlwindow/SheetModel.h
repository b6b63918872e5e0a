#pragma once

#include <QAbstractTableModel>

#include "office/xl/Excel.h"

namespace palomet::xlwindow {

// A sheet's cells for a QTableView, read straight from the engine (no copy). The grid
// shows at least kMinRows x kMinColumns and grows as cells arrive; Refresh() picks up
// what was written since the last call.
class SheetModel : public QAbstractTableModel {
  Q_OBJECT
 public:
  static constexpr int kMinRows = 100;
  static constexpr int kMinColumns = 26;

  SheetModel(const xl::Worksheet& sheet, QObject* parent);

  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

  void Refresh();
  const xl::Worksheet& Sheet() const { return sheet_; }

 private:
  const xl::Worksheet& sheet_;
  int rows_ = kMinRows;
  int columns_ = kMinColumns;
  std::uint64_t revision_ = 0;
};

// "A", "B", ..., "Z", "AA", ... for 0-based column `col`.
QString ColumnLetters(int col);

}  // namespace palomet::xlwindow
