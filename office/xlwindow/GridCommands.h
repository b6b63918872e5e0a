#pragma once

#include <QObject>
#include <QPersistentModelIndex>
#include <functional>

#include "office/xl/Excel.h"

class QKeyEvent;
class QMouseEvent;
class QTableView;
class QWidget;

namespace palomet::xlwindow {

// The grid as a spreadsheet user drives it: the keys that move the current cell, the
// selection following it (Shift extends it from where it began), Copy and Select All, and
// clicks on cells that link to a place in the workbook.
//
// Keys: arrows one cell; Ctrl+arrows to the edge of the block of filled cells, or on to the
// next filled cell, or to the sheet's edge; Home to column A, End to the last used column;
// Ctrl+Home to A1; Ctrl+End to the last used cell; PgUp / PgDn a screen; Enter /
// Shift+Enter down / up.
class GridCommands : public QObject {
  Q_OBJECT
 public:
  // `window` holds the grid and the text fields the edit commands also act on; `say` shows
  // a passing message in the status line (0 ms: until the next).
  using Say = std::function<void(const QString& text, int ms)>;
  GridCommands(QTableView* grid, QWidget* window, Say say);

  // Edit commands act on the text field that has the focus, else on the grid: Copy puts the
  // selected cells on the clipboard, Select All selects the whole sheet.
  void Copy();
  void SelectAll();

 signals:
  // A click, without Shift or Ctrl, on a cell that links to `location`.
  void LinkClicked(const QString& location);

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  // True when the key was one of the grid's moves.
  bool Navigate(const QKeyEvent& key);
  // Makes `target` the current cell: selected alone, or with Shift the rectangle from the
  // cell the selection began at.
  void MoveTo(int row, int col, bool extend);
  // True when the event was taken here (Shift+click).
  bool OnMouse(QEvent* event);
  const std::string* LinkUnder(const QMouseEvent& event) const;
  void CopySelection();
  // The window's text field of that kind that has the focus, or nullptr.
  template <typename Field>
  Field* Focused() const;

  QTableView* grid_;
  QWidget* viewport_;
  QWidget* window_;
  Say say_;
  QPersistentModelIndex anchor_;   // where a Shift move extends from
  QPersistentModelIndex moved_;    // the current cell after the last move made here
  QPersistentModelIndex pressed_;  // under the last plain press, for a link's click
};

// Where Ctrl+arrow goes from the 0-based cell (`row`, `col`) of `sheet`, one step being
// (`dRow`, `dCol`), on a grid of `rows` x `columns`: to the last filled cell of the block it
// is in, or from an empty cell or the block's end on to the next filled cell, or to the
// grid's edge when there is none.
std::pair<int, int> DataEdge(const xl::Worksheet& sheet, int row, int col, int dRow, int dCol,
                             int rows, int columns);

}  // namespace palomet::xlwindow
