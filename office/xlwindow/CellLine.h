#pragma once

#include <QWidget>
#include <cstdint>

#include "office/xl/Excel.h"

class QLabel;
class QLineEdit;
class QPlainTextEdit;

namespace palomet::xlwindow {

// The current cell above the grid, as a spreadsheet's formula bar shows it: its address in
// a box where an address can be typed to go there (Go To), and its whole value, read-only
// but selectable. A cell cut to what a cell holds shows the whole value kept for it, with a
// note saying the cell holds only its start. Object names for tests: "CellAddress",
// "ValueLine", "ValueNote".
class CellLine : public QWidget {
  Q_OBJECT
 public:
  explicit CellLine(QWidget* parent);

  // Shows the 0-based cell of `sheet`, or nothing when `sheet` is nullptr. Cheap when
  // nothing changed: called whenever the run may have written cells.
  void Show(const xl::Worksheet* sheet, int row, int col);
  // Puts the cursor in the address box, its text selected (F5).
  void EditAddress();
  QLineEdit* Address() const { return address_; }
  QPlainTextEdit* Value() const { return value_; }

  // At most this many bytes of a kept value are shown; the note says when there is more.
  // Laying out one paragraph costs about 1.3 s a megabyte, so the line stays responsive.
  static constexpr std::size_t kMostShownBytes = std::size_t{256} << 10;

 signals:
  // Enter in the address box: go to what was typed.
  void GoToTyped(const QString& reference);
  // Enter or Escape in the address box: the grid takes the focus back.
  void AddressDone();

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void FitValueLine();
  void SetValue(const QString& value, const QString& note);

  QLineEdit* address_;
  QPlainTextEdit* value_;
  QLabel* note_;
  QString addressShown_;  // the current cell's, while the box holds something typed
  QString valueShown_;    // what value_ holds, to leave a selection in it alone when unchanged
  // The cell last read, to read a kept value only once while the cell stays unchanged.
  struct Read {
    std::uint64_t sheet = 0, revision = 0;
    int row = -1, col = -1;
  } read_;
};

}  // namespace palomet::xlwindow
