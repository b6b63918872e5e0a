#include "office/xlwindow/SheetModel.h"

#include <QColor>
#include <QFont>

namespace palomet::xlwindow {

namespace {

std::uint64_t Key(std::int64_t row, std::int64_t col) {
  return static_cast<std::uint64_t>(row) << 16 | static_cast<std::uint64_t>(col);
}

// The saved file's link colour (the theme's hyperlink colour).
constexpr QRgb kLinkColour = 0x0000FF;

}  // namespace

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
    : QAbstractTableModel(parent), sheet_(sheet), rows_(static_cast<int>(xl::SheetRows())) {
  Refresh();
}

int SheetModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : rows_;
}

int SheetModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(xl::kMaxColumns);
}

const std::string* SheetModel::LinkAt(int row, int col) const {
  if (links_.empty()) return nullptr;
  const auto it = links_.find(Key(row, col));
  return it == links_.end() ? nullptr : &sheet_.Hyperlinks()[it->second].location;
}

QVariant SheetModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid()) return {};
  // Only text cells take the link look, as in the saved file.
  const auto linkedText = [&] {
    return LinkAt(index.row(), index.column()) &&
           sheet_.Cell(index.row() + 1, index.column() + 1).type == xl::CellType::Text;
  };
  if (role == Qt::FontRole) {
    const bool bold = sheet_.RowBold(index.row() + 1);
    const bool link = linkedText();
    if (!bold && !link) return {};
    QFont font;
    font.setBold(bold);
    font.setUnderline(link);
    return font;
  }
  if (role == Qt::ForegroundRole) {
    if (!linkedText()) return {};
    return QColor(kLinkColour);
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
  const auto& links = sheet_.Hyperlinks();
  if (links.size() != linksSeen_) {
    linksSeen_ = links.size();
    links_.clear();
    for (std::size_t i = 0; i < links.size(); ++i) {
      links_[Key(links[i].row - 1, links[i].col - 1)] = i;
    }
  }
  // Cells may have changed anywhere; the view repaints only what it shows.
  emit dataChanged(index(0, 0), index(rows_ - 1, columnCount() - 1));
  return true;
}

}  // namespace palomet::xlwindow
