#pragma once

#include <QAbstractTableModel>
#include <string>
#include <unordered_map>

#include "office/xl/Excel.h"

namespace palomet::xlwindow {

// A sheet's cells for a QTableView, read straight from the engine (no copy), bold rows in
// a bold font, text cells that link elsewhere underlined in the link colour, as the saved
// file shows them. The grid is as big as the sheet (all its rows and columns, as a
// spreadsheet shows them) and reads only the cells it draws, so an empty cell costs nothing;
// Refresh() picks up what was written since the last call.
class SheetModel : public QAbstractTableModel {
  Q_OBJECT
 public:
  SheetModel(const xl::Worksheet& sheet, QObject* parent);

  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

  // True when the sheet changed since the last call.
  bool Refresh();
  const xl::Worksheet& Sheet() const { return sheet_; }
  // Where the cell at 0-based `row`, `col` links to ("'Long texts'!A2"), or nullptr.
  const std::string* LinkAt(int row, int col) const;

 private:
  const xl::Worksheet& sheet_;
  const int rows_;
  std::uint64_t revision_ = 0;
  // The sheet's links by cell, rebuilt when their number changes (a link set again for
  // the same cell replaces the old in place, so the address stays valid).
  std::unordered_map<std::uint64_t, std::size_t> links_;
  std::size_t linksSeen_ = 0;
};

// "A", "B", ..., "Z", "AA", ... for 0-based column `col`.
QString ColumnLetters(int col);
// The address of the 0-based cell as the sheet names it: "A1", "AD250".
QString CellName(int row, int col);
// The cell as the grid shows it (12.50, 2024-06-01, 007); empty for an empty cell.
QString ShownText(const xl::CellValue& v);

}  // namespace palomet::xlwindow
