#pragma once

#include <QTabBar>

namespace palomet::xlwindow {

// The sheet tabs' bar. A workbook may have thousands of sheets, and the bar prepares every
// tab for drawing at every repaint (measuring its text to elide it, which shapes the text)
// though it draws only those in view: a tab wholly out of view is prepared with its place
// alone, which is all the bar reads of a tab it does not draw. A right click on the bar or its
// scroll buttons asks for the list of every sheet.
class SheetTabBar : public QTabBar {
  Q_OBJECT
 public:
  explicit SheetTabBar(QWidget* parent = nullptr) : QTabBar(parent) {}

 signals:
  // At `at`, the global place of the click.
  void ListAsked(const QPoint& at);

 protected:
  void initStyleOption(QStyleOptionTab* option, int tabIndex) const override;
  void contextMenuEvent(QContextMenuEvent* event) override;
};

}  // namespace palomet::xlwindow
