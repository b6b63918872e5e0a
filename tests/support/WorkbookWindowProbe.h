#pragma once

// What tests read off a workbook window, shared by the window's own tests and the run's.

#include <QMainWindow>
#include <QStringList>
#include <QTabWidget>
#include <QTest>

namespace palomet::test {

// The tabs once the window has shown the changes it gathers (a few times a second); a tab
// the bar keeps hidden is no tab the user can choose, and is left out.
inline QStringList SettledTabs(QMainWindow* w) {
  QTest::qWait(250);
  QStringList out;
  auto* tabs = w->findChild<QTabWidget*>("Sheets");
  for (int i = 0; i < tabs->count(); ++i) {
    if (tabs->isTabVisible(i)) out << tabs->tabText(i);
  }
  return out;
}

}  // namespace palomet::test
