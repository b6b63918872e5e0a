#pragma once

#include <QTimer>
#include <QWidget>
#include <functional>

#include "office/xl/Excel.h"
#include "office/xlwindow/CellSearch.h"

class QCheckBox;
class QLabel;
class QLineEdit;

namespace palomet::xlwindow {

// The find bar below the tabs: searches every sheet of the workbook as the text is typed,
// a slice at a time so that the window (and a run) go on meanwhile. Whatever is typed is
// looked for from the cell the typing began at, so the current cell shows the first match
// from there, and goes back there when there is none; Enter and F3 go on from the current
// cell. Object names for tests: "FindBar", "FindText", "MatchCase", "FindNextButton",
// "FindStatus".
class FindBar : public QWidget {
  Q_OBJECT
 public:
  // `book` gives the workbook to search (nullptr for none), `from` where a search begins:
  // the current cell, or the first cell of the current sheet when there is none (then
  // `hasCell` is false).
  using Book = std::function<const xl::Workbook*()>;
  using From = std::function<CellSearch::Where(bool& hasCell)>;
  FindBar(Book book, From from, QWidget* parent);

  // Opens the bar with its text selected.
  void Open();
  // Goes to the next cell that holds the text (opens the bar when it is closed or empty).
  void FindNext();
  void Close();

 signals:
  // The current cell is to go to that cell: a match, or where the typing began.
  void Found(std::uint64_t sheetId, std::int64_t row, std::int64_t col);
  void Closed();

 private:
  // Begins a search for what was typed, at the cell the typing began at (itself included).
  void SearchTyped();
  // Begins a search at `from` (itself included or not; included when there is no current
  // cell), of typed text or not.
  void Start(CellSearch::Where from, bool hasCell, bool includeFrom, bool typed);
  // Reads a slice of cells and shows what came of it; schedules the next slice.
  void Slice();
  void SetStatus(const QString& text);

  Book book_;
  From from_;
  QLineEdit* text_;
  QCheckBox* matchCase_;
  QLabel* status_;
  CellSearch search_;
  QTimer slice_;
  bool typing_ = false;       // the search under way is of typed text
  bool typed_ = false;        // text was typed since the current cell was moved otherwise
  CellSearch::Where origin_;  // the cell the typing began at
  bool originCell_ = false;   // whether there was a current cell then
  CellSearch::Where placed_;  // where the typed text's search last put the current cell
};

}  // namespace palomet::xlwindow
