#pragma once

// What tests read off a workbook window, shared by the window's own tests and the run's.

#include <QMainWindow>
#include <QStringList>
#include <QTest>
#include "office/xlwindow/SheetTabs.h"

namespace palomet::test {

// The tabs once the window has shown the changes it gathers (a few times a second).
inline QStringList SettledTabs(QMainWindow* w) {
  QTest::qWait(250);
  QStringList out;
  auto* tabs = w->findChild<xlwindow::SheetTabs*>("Sheets");
  for (int i = 0; i < tabs->count(); ++i) out << tabs->tabText(i);
  return out;
}

}  // namespace palomet::test
