// The sheet tabs' strip: tabs found under the pointer and scrolled into view, chosen by a
// click, kept chosen while others come, go and move, and scrolled by its buttons.

#include <gtest/gtest.h>

#include <QSignalSpy>
#include <QTest>
#include <QToolButton>

#include "office/xlwindow/SheetTabBar.h"

namespace palomet::xlwindow {
namespace {

TEST(SheetTabBarTest, FindsChoosesScrollsAndKeepsTheChosenTab) {
  SheetTabBar bar;
  for (int i = 1; i <= 200; ++i) bar.insertTab(bar.count(), QString("Customer%1").arg(i));
  bar.resize(500, bar.sizeHint().height());
  bar.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&bar));
  QSignalSpy changed(&bar, &SheetTabBar::currentChanged);
  EXPECT_EQ(bar.currentIndex(), 0) << "the first tab is chosen when it comes";

  // Every tab in view is where the pointer finds it; none lies under the scroll buttons.
  const QToolButton* on = nullptr;
  for (const QToolButton* b : bar.findChildren<QToolButton*>()) {
    if (b->isVisible() && b->arrowType() == Qt::RightArrow) on = b;
  }
  ASSERT_NE(on, nullptr) << "200 tabs do not fit in 500 pixels";
  for (int i = 0; !bar.tabRect(i).isEmpty(); ++i) {
    EXPECT_EQ(bar.tabAt(bar.tabRect(i).center()), i);
    EXPECT_LE(bar.tabRect(i).left(), on->x());
  }

  // Chosen from code, a tab far away comes into view; a click chooses a tab.
  bar.setCurrentIndex(150);
  ASSERT_FALSE(bar.tabRect(150).isEmpty());
  EXPECT_LE(bar.tabRect(150).right(), on->x());
  QTest::mouseClick(&bar, Qt::LeftButton, {}, bar.tabRect(149).center());  // "Customer150"
  EXPECT_EQ(bar.currentIndex(), 149);
  EXPECT_EQ(changed.count(), 2);

  // The buttons scroll a tab at a time, as far as the ends.
  const int first = bar.tabAt(QPoint(1, 5));
  QTest::mouseClick(const_cast<QToolButton*>(on), Qt::LeftButton);
  EXPECT_EQ(bar.tabAt(QPoint(1, 5)), first + 1);
  for (int i = 0; i < 300; ++i) QTest::mouseClick(const_cast<QToolButton*>(on), Qt::LeftButton);
  EXPECT_FALSE(bar.tabRect(199).isEmpty()) << "the last tab in view at the end";
  EXPECT_FALSE(on->isEnabled());

  // Tabs that come, go and move around the chosen one leave it chosen, unsaid.
  changed.clear();
  bar.insertTab(0, "First");
  EXPECT_EQ(bar.tabText(bar.currentIndex()), "Customer150");
  bar.moveTab(0, 199);
  EXPECT_EQ(bar.tabText(bar.currentIndex()), "Customer150");
  bar.removeTab(0);
  EXPECT_EQ(bar.tabText(bar.currentIndex()), "Customer150");
  bar.setTabText(bar.currentIndex(), "Renamed to a much longer name than before");
  bar.setCurrentIndex(bar.currentIndex());  // scrolled back into view
  EXPECT_EQ(bar.tabAt(bar.tabRect(bar.currentIndex()).center()), bar.currentIndex());
  EXPECT_EQ(changed.count(), 0);
  // The chosen tab removed: the one after it is chosen.
  const QString next = bar.tabText(bar.currentIndex() + 1);
  bar.removeTab(bar.currentIndex());
  EXPECT_EQ(bar.tabText(bar.currentIndex()), next);
  EXPECT_EQ(changed.count(), 1);
  EXPECT_FALSE(bar.grab().isNull());
}

}  // namespace
}  // namespace palomet::xlwindow
