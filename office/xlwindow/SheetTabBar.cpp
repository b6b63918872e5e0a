#include "office/xlwindow/SheetTabBar.h"

#include <QContextMenuEvent>
#include <QStyleOptionTab>

namespace palomet::xlwindow {

void SheetTabBar::initStyleOption(QStyleOptionTab* option, int tabIndex) const {
  const QRect place = tabRect(tabIndex);
  if (option == nullptr || place.isNull() || place.intersects(rect())) {
    QTabBar::initStyleOption(option, tabIndex);
    return;
  }
  // Not drawn; what the bar may still use of it (the edge marks of tabs cut by the view)
  // takes the bar's own look and the tab's place.
  option->initFrom(this);
  option->rect = place;
  option->shape = shape();
  option->text = tabText(tabIndex);
  option->documentMode = documentMode();
}

void SheetTabBar::contextMenuEvent(QContextMenuEvent* event) {
  emit ListAsked(event->globalPos());
  event->accept();
}

}  // namespace palomet::xlwindow
