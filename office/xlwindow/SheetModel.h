#pragma once

#include <QAbstractTableModel>

#include "office/xl/Excel.h"

namespace palomet::xlwindow {

// A sheet's cells for a QTableView, read straight from the engine (no copy), bold rows in
// a bold font. The grid
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

  // True when the sheet changed since the last call.
  bool Refresh();
  const xl::Worksheet& Sheet() const { return sheet_; }

 private:
  const xl::Worksheet& sheet_;
  int rows_ = kMinRows;
  int columns_ = kMinColumns;
  std::uint64_t revision_ = 0;
};

// "A", "B", ..., "Z", "AA", ... for 0-based column `col`.
QString ColumnLetters(int col);
// The address of the 0-based cell as the sheet names it: "A1", "AD250".
QString CellName(int row, int col);
// The cell as the grid shows it (12.50, 2024-06-01, 007); empty for an empty cell.
QString ShownText(const xl::CellValue& v);

}  // namespace palomet::xlwindow
