#include "office/xlwindow/SheetModel.h"

#include <QFont>
#include <algorithm>

namespace palomet::xlwindow {

QString ColumnLetters(int col) {
  return QString::fromStdString(xl::ColumnName(col + 1));
}

QString CellName(int row, int col) {
  return ColumnLetters(col) + QString::number(row + 1);
}

QString ShownText(const xl::CellValue& v) {
  if (v.type == xl::CellType::Text) return QString::fromUtf8(v.text.data(), v.text.size());
  return QString::fromStdString(v.DisplayText());
}

SheetModel::SheetModel(const xl::Worksheet& sheet, QObject* parent)
    : QAbstractTableModel(parent), sheet_(sheet) {
  Refresh();
}

int SheetModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : rows_;
}

int SheetModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : columns_;
}

QVariant SheetModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid()) return {};
  if (role == Qt::FontRole) {
    if (!sheet_.RowBold(index.row() + 1)) return {};
    QFont bold;
    bold.setBold(true);
    return bold;
  }
  if (role != Qt::DisplayRole && role != Qt::TextAlignmentRole) return {};
  const xl::CellValue v = sheet_.Cell(index.row() + 1, index.column() + 1);
  if (role == Qt::TextAlignmentRole) {
    // Numbers and dates to the right, text to the left, as spreadsheets show them.
    const bool right = v.type != xl::CellType::Text && v.type != xl::CellType::Empty;
    return QVariant::fromValue(Qt::AlignVCenter | (right ? Qt::AlignRight : Qt::AlignLeft));
  }
  if (v.type == xl::CellType::Empty) return {};
  return ShownText(v);
}

QVariant SheetModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (role != Qt::DisplayRole) return {};
  return orientation == Qt::Horizontal ? ColumnLetters(section) : QString::number(section + 1);
}

bool SheetModel::Refresh() {
  if (sheet_.Revision() == revision_ && revision_ != 0) return false;
  revision_ = sheet_.Revision();
  const int rows = static_cast<int>(std::max<std::int64_t>(sheet_.UsedRows(), kMinRows));
  const int columns = static_cast<int>(std::max<std::int64_t>(sheet_.UsedColumns(), kMinColumns));
  if (rows > rows_) {
    beginInsertRows({}, rows_, rows - 1);
    rows_ = rows;
    endInsertRows();
  }
  if (columns > columns_) {
    beginInsertColumns({}, columns_, columns - 1);
    columns_ = columns;
    endInsertColumns();
  }
  // Cells may have changed anywhere; the view repaints only what it shows.
  emit dataChanged(index(0, 0), index(rows_ - 1, columns_ - 1));
  return true;
}

}  // namespace palomet::xlwindow
