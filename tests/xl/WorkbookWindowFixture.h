#pragma once

// The workbook window tests' fixture: workbook windows installed with prompts the test
// answers and an opener that only records, every window closed again afterwards.

#include <gtest/gtest.h>

#include <QApplication>
#include <QClipboard>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QTableView>
#include <QTest>
#include "office/xlwindow/SheetTabs.h"

#include "office/xl/Excel.h"
#include "office/xlwindow/WorkbookWindow.h"
#include "tests/support/TempDir.h"
#include "tests/support/WorkbookWindowProbe.h"

// Failures name the texts compared.
inline void PrintTo(const QString& text, std::ostream* os) {
  *os << '"' << text.toStdString() << '"';
}

namespace palomet::xlwindow {

class FakePrompts : public WindowPrompts {
 public:
  SaveAnswer AskSaveChanges(const QString& title) override {
    asked.push_back(title);
    return answer;
  }
  QString AskSavePath(const QString& suggested) override {
    suggestedNames.push_back(suggested);
    return savePath;
  }
  void ShowError(const QString& text) override { errors.push_back(text); }

  SaveAnswer answer = SaveAnswer::Cancel;
  QString savePath;
  QStringList asked, suggestedNames, errors;
};

class WorkbookWindowTest : public testing::Test {
 protected:
  void SetUp() override {
    prompts = std::make_shared<FakePrompts>();
    InstallWorkbookWindows(prompts, [this](const QString& path) {
      opened.push_back(path);
      return true;
    });
  }
  void TearDown() override {
    for (QWidget* w : QApplication::topLevelWidgets()) {
      if (w->objectName() == "WorkbookWindow") {
        prompts->answer = WindowPrompts::SaveAnswer::Discard;
        w->close();
      }
    }
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    xl::Application::SetViewFactory(nullptr);
  }

  static QMainWindow* Window() {
    for (QWidget* w : QApplication::topLevelWidgets()) {
      if (w->objectName() == "WorkbookWindow" && w->isVisible())
        return qobject_cast<QMainWindow*>(w);
    }
    return nullptr;
  }
  static QStringList Tabs(QMainWindow* w) { return test::SettledTabs(w); }
  // Chooses the tab, as a click on it would, and gives what the grid then shows.
  static QAbstractItemModel* Grid(QMainWindow* w, int tab) {
    QTest::qWait(250);
    auto* tabs = w->findChild<xlwindow::SheetTabs*>("Sheets");
    tabs->setCurrentIndex(tab);
    return Settled(w) ? w->findChild<QTableView*>("Grid")->model() : nullptr;
  }
  // While sheets keep coming the grid catches up with the current tab a moment later.
  static bool Settled(QMainWindow* w) {
    QTest::qWait(250);
    auto* tabs = w->findChild<xlwindow::SheetTabs*>("Sheets");
    return QTest::qWaitFor(
        [&] { return tabs->ShownSheet() != 0 && tabs->ShownSheet() == tabs->CurrentTabSheet(); },
        2000);
  }

  std::shared_ptr<FakePrompts> prompts;
  QStringList opened;
  test::TempDir dir;
};

// Driving a window as a user would: clicks on cells, keys, and what the window then shows.
class WorkbookWindowEdit : public WorkbookWindowTest {
 protected:
  // A visible, active window over a new workbook whose first sheet the test fills.
  QMainWindow* Open(xl::Application& app) {
    app.SetVisible(true);
    if (!app.WorkbookCount()) app.AddWorkbook();
    QMainWindow* w = Window();
    EXPECT_NE(w, nullptr);
    w->activateWindow();
    EXPECT_TRUE(QTest::qWaitForWindowActive(w));
    QTest::qWait(250);  // the grid takes the cells in on its timer
    GridOf(w)->setFocus();
    return w;
  }
  static QTableView* GridOf(QMainWindow* w) { return w->findChild<QTableView*>("Grid"); }
  static QString ValueLine(QMainWindow* w) {
    return w->findChild<QPlainTextEdit*>("ValueLine")->toPlainText();
  }
  static QString Address(QMainWindow* w) { return w->findChild<QLineEdit*>("CellAddress")->text(); }
  static QString FindStatus(QMainWindow* w) { return w->findChild<QLabel*>("FindStatus")->text(); }
  static QString CurrentTab(QMainWindow* w) {
    auto* tabs = w->findChild<xlwindow::SheetTabs*>("Sheets");
    return tabs->tabText(tabs->currentIndex());
  }
  // A click on the cell at 0-based `row`, `col` of the grid.
  static void Click(QMainWindow* w, int row, int col, Qt::KeyboardModifiers mods = {}) {
    QTableView* grid = GridOf(w);
    const QRect cell = grid->visualRect(grid->model()->index(row, col));
    QTest::mouseClick(grid->viewport(), Qt::LeftButton, mods, cell.center());
  }
  static void Press(QWidget* target, QKeySequence::StandardKey key) {
    const QKeyCombination k = QKeySequence(key)[0];
    QTest::keyClick(target, k.key(), k.keyboardModifiers());
  }
  static QString ClipboardText() { return QGuiApplication::clipboard()->text(); }
  static QString ClipboardHtml() { return QGuiApplication::clipboard()->mimeData()->html(); }
};

}  // namespace palomet::xlwindow
