#include "office/xlwindow/GridCommands.h"

#include <QApplication>
#include <QClipboard>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QTableView>
#include <algorithm>

#include "office/Numbers.h"
#include "office/xlwindow/SheetCopy.h"
#include "office/xlwindow/SheetModel.h"

namespace palomet::xlwindow {

std::pair<int, int> DataEdge(const xl::Worksheet& sheet, int row, int col, int dRow, int dCol,
                             int rows, int columns) {
  const auto inside = [&](int r, int c) { return r >= 0 && c >= 0 && r < rows && c < columns; };
  // Past the last used row or column every cell is empty: no need to read them.
  const std::int64_t usedRows = sheet.UsedRows();
  const std::int64_t usedColumns = sheet.UsedColumns();
  const auto filled = [&](int r, int c) {
    return r < usedRows && c < usedColumns &&
           sheet.Cell(r + 1, c + 1).type != xl::CellType::Empty;
  };
  const int lastRow = dRow < 0 ? 0 : dRow > 0 ? rows - 1 : row;
  const int lastCol = dCol < 0 ? 0 : dCol > 0 ? columns - 1 : col;
  if (!inside(row + dRow, col + dCol)) return {row, col};
  if (filled(row, col) && filled(row + dRow, col + dCol)) {
    // Inside a block: to its last filled cell.
    while (inside(row + dRow, col + dCol) && filled(row + dRow, col + dCol)) {
      row += dRow;
      col += dCol;
    }
    return {row, col};
  }
  // On to the next filled cell, or to the edge. A line that lies wholly past the used rows
  // or columns has none, and a step back from past them starts at the last used one: an
  // empty sheet is a million rows deep.
  if ((dRow != 0 && col >= usedColumns) || (dCol != 0 && row >= usedRows)) {
    return {lastRow, lastCol};
  }
  int r = row + dRow, c = col + dCol;
  if (dRow < 0) r = static_cast<int>(std::min<std::int64_t>(r, usedRows - 1));
  if (dCol < 0) c = static_cast<int>(std::min<std::int64_t>(c, usedColumns - 1));
  for (; inside(r, c); r += dRow, c += dCol) {
    if ((dRow > 0 && r >= usedRows) || (dCol > 0 && c >= usedColumns)) break;
    if (filled(r, c)) return {r, c};
  }
  return {lastRow, lastCol};
}

GridCommands::GridCommands(QTableView* grid, QWidget* window, Say say)
    : QObject(window), grid_(grid), viewport_(grid->viewport()), window_(window),
      say_(std::move(say)) {
  grid_->installEventFilter(this);
  viewport_->installEventFilter(this);
  viewport_->setMouseTracking(true);
}

bool GridCommands::eventFilter(QObject* watched, QEvent* event) {
  if (watched == grid_ && event->type() == QEvent::KeyPress) {
    return Navigate(*static_cast<QKeyEvent*>(event));
  }
  // Compared by the pointer kept at the start: while the grid is being destroyed its
  // viewport still sends events here, and the grid must not be called then.
  if (watched == viewport_ && OnMouse(event)) return true;
  return QObject::eventFilter(watched, event);
}

bool GridCommands::Navigate(const QKeyEvent& key) {
  const auto* model = static_cast<const SheetModel*>(grid_->model());
  const QModelIndex current = grid_->currentIndex();
  if (!model || !current.isValid()) return false;
  const Qt::KeyboardModifiers mods = key.modifiers() & ~Qt::KeypadModifier;
  if (mods & (Qt::AltModifier | Qt::MetaModifier)) return false;
  const bool ctrl = mods & Qt::ControlModifier;
  const bool shift = mods & Qt::ShiftModifier;
  const int rows = model->rowCount();
  const int columns = model->columnCount();
  int row = current.row();
  int col = current.column();
  int dRow = 0, dCol = 0;
  switch (key.key()) {
    case Qt::Key_Up: dRow = -1; break;
    case Qt::Key_Down: dRow = 1; break;
    case Qt::Key_Left: dCol = -1; break;
    case Qt::Key_Right: dCol = 1; break;
    case Qt::Key_Home:
      if (ctrl) row = 0;
      col = 0;
      MoveTo(row, col, shift);
      return true;
    case Qt::Key_End:
      // The last used column, with Ctrl the last used cell: not the empty grid past them.
      if (ctrl) row = static_cast<int>(std::max<std::int64_t>(model->Sheet().UsedRows(), 1)) - 1;
      col = static_cast<int>(std::max<std::int64_t>(model->Sheet().UsedColumns(), 1)) - 1;
      MoveTo(row, col, shift);
      return true;
    case Qt::Key_PageUp:
    case Qt::Key_PageDown: {
      if (ctrl) return false;
      const int page = std::max(1, grid_->viewport()->height() / grid_->rowHeight(0) - 1);
      row += key.key() == Qt::Key_PageUp ? -page : page;
      MoveTo(std::clamp(row, 0, rows - 1), col, shift);
      return true;
    }
    case Qt::Key_Return:
    case Qt::Key_Enter:
      if (ctrl) return false;
      MoveTo(std::clamp(row + (shift ? -1 : 1), 0, rows - 1), col, false);
      return true;
    default:
      return false;
  }
  if (ctrl) {
    std::tie(row, col) = DataEdge(model->Sheet(), row, col, dRow, dCol, rows, columns);
  } else {
    row = std::clamp(row + dRow, 0, rows - 1);
    col = std::clamp(col + dCol, 0, columns - 1);
  }
  MoveTo(row, col, shift);
  return true;
}

void GridCommands::MoveTo(int row, int col, bool extend) {
  const QModelIndex target = grid_->model()->index(row, col);
  const QModelIndex current = grid_->currentIndex();
  // The selection began where the current cell was last put by anything but a Shift move.
  if (!anchor_.isValid() || anchor_.model() != grid_->model() || moved_ != current) {
    anchor_ = current;
  }
  QItemSelectionModel* selection = grid_->selectionModel();
  if (extend) {
    selection->setCurrentIndex(target, QItemSelectionModel::NoUpdate);
    selection->select(QItemSelection(anchor_, target), QItemSelectionModel::ClearAndSelect);
  } else {
    // Not the view's setCurrentIndex: with Ctrl held it would toggle the cell.
    selection->setCurrentIndex(target, QItemSelectionModel::ClearAndSelect);
    anchor_ = target;
  }
  moved_ = target;
  grid_->scrollTo(target);
}

const std::string* GridCommands::LinkUnder(const QMouseEvent& event) const {
  const auto* model = static_cast<const SheetModel*>(grid_->model());
  const QModelIndex index = grid_->indexAt(event.position().toPoint());
  return model && index.isValid() ? model->LinkAt(index.row(), index.column()) : nullptr;
}

bool GridCommands::OnMouse(QEvent* event) {
  switch (event->type()) {
    case QEvent::MouseButtonPress: {
      const auto& press = *static_cast<QMouseEvent*>(event);
      const QModelIndex index = grid_->indexAt(press.position().toPoint());
      const Qt::KeyboardModifiers mods = press.modifiers();
      const bool plain = !(mods & (Qt::ShiftModifier | Qt::ControlModifier));
      pressed_ = plain && press.button() == Qt::LeftButton ? index : QModelIndex();
      if (index.isValid() && press.button() == Qt::LeftButton &&
          (mods & (Qt::ShiftModifier | Qt::ControlModifier)) == Qt::ShiftModifier) {
        // Shift+click extends from where the selection began, as a Shift move does.
        MoveTo(index.row(), index.column(), true);
        return true;
      }
      if (!(mods & Qt::ShiftModifier)) anchor_ = index;
      break;
    }
    case QEvent::MouseButtonRelease: {
      const auto& release = *static_cast<QMouseEvent*>(event);
      moved_ = grid_->currentIndex();
      const QModelIndex index = grid_->indexAt(release.position().toPoint());
      const std::string* link = LinkUnder(release);
      const bool click = pressed_.isValid() && index == pressed_;
      pressed_ = QModelIndex();
      if (click && link) emit LinkClicked(QString::fromStdString(*link));
      break;
    }
    case QEvent::MouseMove: {
      // The pointing hand over a link, as over a link anywhere.
      const bool link = LinkUnder(*static_cast<QMouseEvent*>(event));
      if (link != (grid_->viewport()->cursor().shape() == Qt::PointingHandCursor)) {
        if (link) {
          grid_->viewport()->setCursor(Qt::PointingHandCursor);
        } else {
          grid_->viewport()->unsetCursor();
        }
      }
      break;
    }
    default:
      break;
  }
  return false;
}

template <typename Field>
Field* GridCommands::Focused() const {
  auto* field = qobject_cast<Field*>(QApplication::focusWidget());
  return field && window_->isAncestorOf(field) ? field : nullptr;
}

void GridCommands::Copy() {
  if (auto* line = Focused<QLineEdit>()) {
    line->copy();
  } else if (auto* text = Focused<QPlainTextEdit>()) {
    text->copy();
  } else {
    CopySelection();
  }
}

void GridCommands::SelectAll() {
  if (auto* line = Focused<QLineEdit>()) {
    line->selectAll();
  } else if (auto* text = Focused<QPlainTextEdit>()) {
    text->selectAll();
  } else if (grid_->model()) {
    grid_->selectAll();
  }
}

void GridCommands::CopySelection() {
  const auto* model = static_cast<const SheetModel*>(grid_->model());
  if (!model) return;
  std::vector<CellRect> ranges;
  for (const QItemSelectionRange& r : grid_->selectionModel()->selection()) {
    if (r.isValid()) ranges.push_back(CellRect{r.top(), r.left(), r.bottom(), r.right()});
  }
  const QModelIndex current = grid_->currentIndex();
  if (ranges.empty() && current.isValid()) {
    ranges.push_back(CellRect{current.row(), current.column(), current.row(), current.column()});
  }
  if (ranges.empty()) return;
  const CopyLimits limits;
  const CopiedCells copied = CopyCells(model->Sheet(), ranges, limits);
  // Counts grouped as everywhere else in the program: 1,234,567, whatever the locale.
  const auto count = [](auto n) {
    return QString::fromStdString(WithThousands(static_cast<std::int64_t>(n)));
  };
  if (copied.rowsCopied == 0) {
    say_(tr("Nothing was copied: one row of the selection holds more than %1 MB of text, "
            "more than a copy may hold.")
             .arg(count(limits.bytes >> 20)),
         0);
    return;
  }
  auto* mime = new QMimeData;
  mime->setText(copied.text);
  mime->setHtml(copied.html);
  QGuiApplication::clipboard()->setMimeData(mime);
  if (copied.Capped()) {
    // Said until the next message, so that nobody pastes a part believing it the whole.
    say_(tr("Copied only the first %1 of %2 rows: a copy holds at most %3 cells and %4 MB of "
            "text. Save As writes the whole workbook.")
             .arg(count(copied.rowsCopied), count(copied.rows), count(limits.cells),
                  count(limits.bytes >> 20)),
         0);
  } else if (copied.cellsCopied == 1) {
    say_(tr("Copied 1 cell."), 5000);
  } else {
    say_(tr("Copied %1 cells.").arg(count(copied.cellsCopied)), 5000);
  }
}

}  // namespace palomet::xlwindow
