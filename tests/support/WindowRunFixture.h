#pragma once

// A main window with workbook windows installed, for tests that press "Start Importing":
// the workbook windows never ask anything, the staging database starts as shipped, and
// every window is closed again afterwards.

#include <gtest/gtest.h>

#include <QApplication>
#include <QPushButton>
#include <QTest>
#include <string>
#include <vector>

#include "office/xl/Excel.h"
#include "office/xlwindow/WorkbookWindow.h"
#include "tests/support/Form1Harness.h"

namespace palomet::test {

class DiscardingPrompts : public xlwindow::WindowPrompts {
 public:
  SaveAnswer AskSaveChanges(const QString&) override { return SaveAnswer::Discard; }
  QString AskSavePath(const QString&) override { return {}; }
  void ShowError(const QString&) override {}
};

class WindowRunFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    xlwindow::InstallWorkbookWindows(std::make_shared<DiscardingPrompts>(),
                                     [](const QString&) { return true; });
    h.CopyShippedProgramFile("temp.mdb");
  }
  void TearDown() override {
    h.Stop();
    for (QWidget* w : QApplication::topLevelWidgets()) {
      if (w->objectName() == "WorkbookWindow") w->close();
    }
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    xl::Application::SetViewFactory(nullptr);
  }

  void ClickStart() { QTest::mouseClick(h.Find<QPushButton>("PushButton4"), Qt::LeftButton); }
  // The texts of the message boxes shown so far.
  std::vector<std::string> Texts() const {
    std::vector<std::string> out;
    for (const auto& s : h.messages.shown) out.push_back(s.text);
    return out;
  }

  Form1Harness h;
};

}  // namespace palomet::test
