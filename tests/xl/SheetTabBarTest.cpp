// The sheet tabs' bar prepares tabs out of view with their place alone: what it draws must
// be what a plain tab bar draws, wherever the current tab and the view are.

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QImage>
#include <QTabBar>

#include "office/xlwindow/SheetTabBar.h"

namespace palomet::xlwindow {
namespace {

TEST(SheetTabBarTest, DrawsWhatAPlainTabBarDraws) {
  QTabBar plain;
  SheetTabBar ours;
  for (QTabBar* bar : {&plain, static_cast<QTabBar*>(&ours)}) {
    bar->setShape(QTabBar::RoundedSouth);
    bar->setDocumentMode(true);
    bar->setElideMode(Qt::ElideNone);
    bar->setUsesScrollButtons(true);
    for (int i = 1; i <= 200; ++i) bar->addTab(QString("Customer%1").arg(i));
    bar->resize(500, bar->sizeHint().height());
    bar->show();
  }
  // At the start, in the middle (tabs cut at both edges) and at the end.
  for (const int current : {0, 100, 199}) {
    plain.setCurrentIndex(current);
    ours.setCurrentIndex(current);
    QCoreApplication::processEvents();
    EXPECT_EQ(ours.tabRect(current), plain.tabRect(current));
    EXPECT_TRUE(ours.grab().toImage() == plain.grab().toImage()) << "current tab " << current;
  }
}

}  // namespace
}  // namespace palomet::xlwindow
