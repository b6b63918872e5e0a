#pragma once

#include <QFrame>
#include <QStringList>

class QLineEdit;
class QListWidget;

namespace palomet::xlwindow {

// Every sheet of a workbook by name, in tab order, the current one marked (bold, and chosen
// when the list opens), for a workbook of more sheets than the tabs can show. Typing narrows
// the list to the names that hold the text; Enter or a click on a name goes to that sheet;
// Escape or a click elsewhere closes it. A popup that deletes itself when closed. Object
// names for tests: "SheetList", "SheetFilter", "SheetNames".
class SheetList : public QFrame {
  Q_OBJECT
 public:
  SheetList(const QStringList& names, int current, QWidget* parent);

  // Shows the list with its bottom left corner at `corner` (global), kept on the screen.
  void Popup(const QPoint& corner);

 signals:
  // The sheet at tab position `index` was chosen.
  void Chosen(int index);

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void Narrow(const QString& text);
  void Choose();

  QLineEdit* filter_;
  QListWidget* names_;
};

}  // namespace palomet::xlwindow
