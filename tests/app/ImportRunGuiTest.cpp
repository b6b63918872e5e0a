// "Start Importing" in the real main window, headless, on real XML files: the run from
// the click to the workbook window, its messages, the bar, the pointer, and what the
// window can do while the run yields.

#include <gtest/gtest.h>

#include <QAbstractItemModel>
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QTableView>
#include <QTest>
#include <QTimer>
#include <cstdlib>
#include <fstream>
#include "office/xlwindow/SheetTabs.h"

#include "importrun/RunningCheck.h"
#include "office/xl/Excel.h"
#include "office/xlwindow/WorkbookWindow.h"
#include "tests/support/Form1Harness.h"
#include "tests/support/LowSheetRows.h"
#include "tests/support/WindowRunFixture.h"
#include "tests/support/WorkbookWindowProbe.h"
#include "tests/support/XlsxReadBack.h"

namespace palomet {
namespace {

using test::Form1Harness;

// Two files of one shape: tables T and T1, each with its field names and two records.
std::string Shape(const std::string& first, const std::string& second) {
  return "<root><T><id>" + first + "</id><name>x</name></T><T><id>" + second +
         "</id><name>y</name></T></root>";
}

class ImportRunGui : public test::WindowRunFixture {
 protected:
  std::string Xml(const std::string& name, const std::string& contents) {
    return h.temp.Write("in/" + name, contents).string();
  }
  QProgressBar* Bar() const { return h.Find<QProgressBar>("ProgressBar1"); }

  static std::vector<QMainWindow*> WorkbookWindows() {
    std::vector<QMainWindow*> out;
    for (QWidget* w : QApplication::topLevelWidgets()) {
      if (w->objectName() == "WorkbookWindow" && w->isVisible()) {
        out.push_back(qobject_cast<QMainWindow*>(w));
      }
    }
    return out;
  }
  static QStringList Tabs(QMainWindow* w) { return test::SettledTabs(w); }
  static QString Cell(QMainWindow* w, int tab, int row, int col) {
    QTest::qWait(250);
    auto* tabs = w->findChild<xlwindow::SheetTabs*>("Sheets");
    auto* grid = w->findChild<QTableView*>("Grid");
    tabs->setCurrentIndex(tab);
    // After a run of sheets the grid catches up with the current tab a moment later.
    if (!QTest::qWaitFor(
            [&] {
              return tabs->ShownSheet() != 0 && tabs->ShownSheet() == tabs->CurrentTabSheet();
            },
            2000)) {
      return "(grid not on the tab)";
    }
    QAbstractItemModel* m = grid->model();
    return m->data(m->index(row - 1, col - 1)).toString();
  }
  // Saves the workbook of the open workbook window and reads it back.
  test::XlsxBook SaveAndRead(const std::string& name) {
    const std::string path = h.temp.Str() + "/" + name;
    xl::Application::Attach()->Workbooks(1).SaveAs(path);
    return test::ReadXlsx(path);
  }
};

TEST_F(ImportRunGui, BothModesFillTheWorkbookWindowAndMatchTheCommandLine) {
  for (const auto& [multiple, combine] : {std::pair{false, false}, {true, false}, {true, true}}) {
    SCOPED_TRACE(std::string(multiple ? "multiple sheets" : "one sheet") +
                 (combine ? ", combined" : ""));
    Form1& form = h.Start();
    h.Find<QRadioButton>(multiple ? "Option2" : "Option1")->click();
    // The option is read when the run starts.
    auto* check1 = h.Find<QCheckBox>("Check1");
    if (check1->isChecked() != combine) QTest::mouseClick(check1, Qt::LeftButton, {}, QPoint(8, 8));
    ASSERT_EQ(check1->isChecked(), combine);
    const std::string a = Xml("a.xml", Shape("1", "2"));
    const std::string b = Xml("b.xml", Shape("3", "4"));
    h.List().Add(a);
    h.List().Add(b);
    QSignalSpy bar(Bar(), &QProgressBar::valueChanged);
    h.messages.shown.clear();
    ClickStart();

    EXPECT_EQ(Texts(), std::vector<std::string>{"Done."});
    EXPECT_EQ(h.messages.shown.at(0).icon, MsgIcon::None);
    // A step a table (the combined files have one), then back to 0.
    ASSERT_EQ(bar.count(), combine ? 2 : 3);
    EXPECT_EQ(bar.at(0).at(0).toInt(), combine ? 100 : 50);
    EXPECT_EQ(bar.at(bar.count() - 2).at(0).toInt(), 100);
    EXPECT_EQ(Bar()->value(), 0);
    EXPECT_EQ(form.MousePointer(), Pointer::Default);
    EXPECT_EQ(h.List().Count(), 2) << "the run leaves the list as it was";

    const auto windows = WorkbookWindows();
    ASSERT_EQ(windows.size(), 1u);
    if (combine) {
      EXPECT_EQ(Tabs(windows[0]), QStringList{"T"});
      EXPECT_EQ(Cell(windows[0], 0, 1, 1), "File");
      EXPECT_EQ(Cell(windows[0], 0, 5, 1), QString::fromStdString(b));
      EXPECT_EQ(Cell(windows[0], 0, 5, 2), "4");
    } else if (multiple) {
      EXPECT_EQ(Tabs(windows[0]), (QStringList{"T", "T1"}));
      EXPECT_EQ(Cell(windows[0], 1, 1, 2), "name");
      EXPECT_EQ(Cell(windows[0], 1, 3, 1), "4");
    } else {
      EXPECT_EQ(Tabs(windows[0]), QStringList{"T1"});
      EXPECT_EQ(Cell(windows[0], 0, 4, 1), "id");
      EXPECT_EQ(Cell(windows[0], 0, 6, 2), "y");
    }

    // The command line on the same list and mode writes the same workbook.
    const auto window = SaveAndRead("window.xlsx");
    const std::string cli = h.temp.Str() + "/cli.xlsx";
    const std::string command = std::string("'") + PALOMET_PROGRAM_DIR + "/palomet-import' -q " +
                                (multiple ? "--multiple-sheets " : "") +
                                (combine ? "--combine " : "") + "-o '" + cli + "' '" + a + "' '" +
                                b + "'";
    ASSERT_EQ(std::system(command.c_str()), 0) << command;
    EXPECT_EQ(test::ReadXlsx(cli).dump, window.dump);

    windows[0]->close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  }
}

TEST_F(ImportRunGui, AValueLongerThanACellEndsInDoneAndTheStatusLineSaysWhereItIsWhole) {
  h.Start();
  h.Find<QRadioButton>("Option2")->click();
  h.List().Add(Xml("kml.xml", "<kml><LinearRing><coordinates>" + std::string(46'563, '7') +
                                  "</coordinates></LinearRing></kml>"));
  h.messages.shown.clear();
  ClickStart();
  EXPECT_EQ(Texts(), std::vector<std::string>{"Done."});
  const auto windows = WorkbookWindows();
  ASSERT_EQ(windows.size(), 1u);
  EXPECT_EQ(Tabs(windows[0]), (QStringList{"LinearRing", "Long texts"}));
  auto* note = windows[0]->findChild<QLabel*>("StatusNote");
  ASSERT_NE(note, nullptr);
  EXPECT_EQ(note->text().toStdString(),
            "1 value longer than a cell holds was cut in its cell and kept whole on sheet "
            "\"Long texts\".");
  EXPECT_EQ(Cell(windows[0], 1, 2, 3), "46563");
}

TEST_F(ImportRunGui, ATableLongerThanASheetGoesOnOnTabsOfItsNameAndTheStatusLineSaysWhere) {
  test::LowSheetRows rows(3);
  h.Start();
  h.Find<QRadioButton>("Option2")->click();
  std::string xml = "<r>";
  for (int i = 1; i <= 5; ++i) {
    xml += "<T><v>" + (i == 4 ? std::string(40'000, 'v') : std::to_string(i)) + "</v></T>";
  }
  h.List().Add(Xml("t.xml", xml + "</r>"));
  h.messages.shown.clear();
  ClickStart();
  EXPECT_EQ(Texts(), std::vector<std::string>{"Done."});
  ASSERT_EQ(WorkbookWindows().size(), 1u);
  QMainWindow* w = WorkbookWindows()[0];
  EXPECT_EQ(Tabs(w), (QStringList{"T", "T (2)", "T (3)", "Long texts"}));
  auto* tabs = w->findChild<xlwindow::SheetTabs*>("Sheets");
  EXPECT_EQ(tabs->tabText(tabs->currentIndex()), "T (3)") << "the window opens on the tables";
  EXPECT_EQ(w->findChild<QLabel*>("StatusNote")->text().toStdString(),
            "Table \"T\" has 5 rows, more than a sheet holds; it goes on on sheets \"T (2)\" and "
            "\"T (3)\".\n1 value longer than a cell holds was cut in its cell and kept whole on "
            "sheet \"Long texts\".");
}

// Names such as "ImportErrors" are the user's own elements: nothing is skipped for its name.
TEST_F(ImportRunGui, TablesNamedLikeErrorReportsAreWrittenLikeAnyOther) {
  h.Start();
  h.Find<QRadioButton>("Option2")->click();
  h.List().Add(Xml("a.xml",
                   "<r><A><v>1</v></A><ImportErrors><v>e</v></ImportErrors><B><v>2</v></B>"
                   "<LastImportErrorsSeen><v>3</v></LastImportErrorsSeen></r>"));
  QSignalSpy bar(Bar(), &QProgressBar::valueChanged);
  ClickStart();
  EXPECT_EQ(Texts(), std::vector<std::string>{"Done."});
  std::vector<int> values;
  for (const auto& call : bar) values.push_back(call.at(0).toInt());
  EXPECT_EQ(values, (std::vector<int>{25, 50, 75, 100, 0}));
  ASSERT_EQ(WorkbookWindows().size(), 1u);
  EXPECT_EQ(Tabs(WorkbookWindows()[0]),
            (QStringList{"A", "ImportErrors", "B", "LastImportErrorsSeen"}));
  EXPECT_EQ(Cell(WorkbookWindows()[0], 1, 2, 1), "e");
}

// Something registered as a spreadsheet application that answers another name.
class Impostor : public xl::RunningObject {
 public:
  std::string Name() const override { return "Microsoft excel"; }
};

TEST_F(ImportRunGui, AnEmptyListAsksAboutARunningSpreadsheetFirstAndTouchesNothing) {
  const std::string question =
      "Excel may be open. It is recommended that you close Excel first.\r"
      "Use Ctrl+Alt+Del > Task Manager > EXCEL.EXE if necessary.\r\n\r\n"
      "Would you like to proceed anyway?";
  enum Running { kNone, kWorkbookWindow, kOtherName };
  const struct {
    const char* name;
    Running running;
    MsgResult answer;
    std::vector<std::string> shown;
  } cases[] = {
      {"none running", kNone, MsgResult::Ok, {"No files added."}},
      {"running, Yes", kWorkbookWindow, MsgResult::Yes, {question, "No files added."}},
      {"running, No", kWorkbookWindow, MsgResult::No, {question}},
      {"another name", kOtherName, MsgResult::Ok, {"No files added."}},
  };
  h.WriteProgramFile("temp.mdb", "left as it was");
  for (const auto& c : cases) {
    Form1& form = h.Start();
    h.messages.shown.clear();
    h.messages.answers = {c.answer};
    // A workbook window left open by an earlier run is a running spreadsheet.
    auto app = xl::Application::Create();
    if (c.running == kWorkbookWindow) app->SetVisible(true);
    auto impostor = std::make_shared<Impostor>();
    const auto cookie = xl::RunningObjectTable::Register(xl::kClassName, impostor);
    if (c.running != kOtherName) xl::RunningObjectTable::Revoke(cookie);
    ClickStart();
    xl::RunningObjectTable::Revoke(cookie);
    EXPECT_EQ(Texts(), c.shown) << c.name;
    EXPECT_EQ(form.MousePointer(), Pointer::Default) << c.name;
    if (c.running == kWorkbookWindow) {
      EXPECT_EQ(h.messages.shown[0].buttons, MsgButtons::YesNo);
      EXPECT_EQ(h.messages.shown[0].defaultButton, MsgResult::Yes);
      EXPECT_EQ(h.messages.shown[0].icon, MsgIcon::None);
    }
    for (QMainWindow* w : WorkbookWindows()) w->close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  }
  EXPECT_EQ(test::ReadFile(h.ProgramFolder() / "temp.mdb"), "left as it was");
  EXPECT_TRUE(WorkbookWindows().empty());
}

TEST_F(ImportRunGui, ErrorsShowTheirCauseWithTheWarningIconAndNoDone) {
  const struct {
    const char* name;
    std::string file;
    bool removeStaging;
    std::string named;
  } cases[] = {
      {"malformed file", Xml("bad.xml", "<root><T><id>1</id></T>"), false, "bad.xml"},
      {"missing staging database", Xml("good.xml", Shape("1", "2")), true, "temp.mdb"},
  };
  for (const auto& c : cases) {
    if (c.removeStaging) std::filesystem::remove(h.ProgramFolder() / "temp.mdb");
    Form1& form = h.Start();
    h.messages.shown.clear();
    Bar()->setValue(40);  // what an earlier run left
    h.List().Add(c.file);
    ClickStart();
    ASSERT_EQ(h.messages.shown.size(), 1u) << c.name;
    EXPECT_EQ(h.messages.shown[0].icon, MsgIcon::Warning) << c.name;
    EXPECT_NE(h.messages.shown[0].text.find(c.named), std::string::npos)
        << c.name << ": " << h.messages.shown[0].text;
    EXPECT_EQ(Bar()->value(), 40) << c.name;
    EXPECT_EQ(form.MousePointer(), Pointer::Default) << c.name;
    EXPECT_TRUE(WorkbookWindows().empty()) << c.name;
  }
}

TEST_F(ImportRunGui, ASecondClickDuringTheRunIsIgnoredAndTheModeChangeWaitsForTheNext) {
  h.Start();
  h.List().Add(Xml("a.xml", Shape("1", "2")));
  h.List().Add(Xml("b.xml", Shape("3", "4")));
  int clicks = 0;
  // Served by the run's first yield while it writes cells.
  QObject::connect(Bar(), &QProgressBar::valueChanged, Bar(), [&](int value) {
    if (value != 50 || clicks++) return;
    QMetaObject::invokeMethod(
        Bar(),
        [&] {
          ClickStart();
          h.Find<QRadioButton>("Option2")->click();
        },
        Qt::QueuedConnection);
  });
  ClickStart();
  EXPECT_EQ(clicks, 1);
  EXPECT_EQ(Texts(), std::vector<std::string>{"Done."});
  ASSERT_EQ(WorkbookWindows().size(), 1u);
  EXPECT_EQ(Tabs(WorkbookWindows()[0]), QStringList{"T1"}) << "rows moved by the mode change";
  EXPECT_TRUE(h.Find<QRadioButton>("Option2")->isChecked());
  EXPECT_EQ(h.StoredSetting("Option"), "2");
}

// The workbook window is used while the run fills it: the run goes on to "Done." with every
// row, and copy and find see what has been written so far.
TEST_F(ImportRunGui, CopyAndFindWhileTheRunFillsTheWorkbook) {
  h.Start();
  h.Find<QRadioButton>("Option1")->click();  // one sheet, which the grid shows throughout
  h.List().Add(Xml("a.xml",
                   "<root><T><id>1</id><name>alpha</name></T><T><id>2</id><name>beta</name></T>"
                   "</root>"));
  h.List().Add(Xml("b.xml",
                   "<root><T><id>3</id><name>gamma</name></T><T><id>4</id><name>a Needle</name>"
                   "</T></root>"));
  QMainWindow* w = nullptr;
  QLineEdit* field = nullptr;
  QString statusAtFirst, copiedAtSecond, statusAtSecond;
  const auto press = [](QWidget* target, QKeySequence::StandardKey key) {
    const QKeyCombination k = QKeySequence(key)[0];
    QTest::keyClick(target, k.key(), k.keyboardModifiers());
  };
  // Served by the run's first yield of each table, before that table's first row.
  QObject::connect(Bar(), &QProgressBar::valueChanged, Bar(), [&](int value) {
    if (value != 50 && value != 100) return;
    QMetaObject::invokeMethod(
        Bar(),
        [&, value] {
          if (value == 50) {
            ASSERT_EQ(WorkbookWindows().size(), 1u);
            w = WorkbookWindows()[0];
            w->activateWindow();
            ASSERT_TRUE(QTest::qWaitForWindowActive(w));
            // The user looks at the new window for a moment: it shows the sheets by then.
            auto* grid = w->findChild<QTableView*>("Grid");
            ASSERT_TRUE(QTest::qWaitFor([&] { return grid->isVisible(); }, 2000));
            grid->setFocus();
            press(grid, QKeySequence::Find);
            field = w->findChild<QLineEdit*>("FindText");
            QTest::keyClicks(field, "needle");
            statusAtFirst = w->findChild<QLabel*>("FindStatus")->text();
          } else {
            auto* grid = w->findChild<QTableView*>("Grid");
            grid->setFocus();
            press(grid, QKeySequence::SelectAll);
            press(grid, QKeySequence::Copy);
            copiedAtSecond = QGuiApplication::clipboard()->text();
            QTest::keyClick(field, Qt::Key_Return);
            statusAtSecond = w->findChild<QLabel*>("FindStatus")->text();
          }
        },
        Qt::QueuedConnection);
  });
  ClickStart();
  EXPECT_EQ(Texts(), std::vector<std::string>{"Done."});
  ASSERT_NE(w, nullptr);
  EXPECT_EQ(statusAtFirst, "No match.");
  EXPECT_EQ(copiedAtSecond, "id\tname\n1\talpha\n2\tbeta\n") << "the first table, whole";
  EXPECT_EQ(statusAtSecond, "No match.") << "the second table is not written yet";

  // Once the run is done the same search finds the second table's cell.
  QTest::keyClick(field, Qt::Key_Return);
  EXPECT_EQ(w->findChild<QLineEdit*>("CellAddress")->text(), "B6");
  const auto book = SaveAndRead("during.xlsx");
  ASSERT_NE(book.Find("T1"), nullptr) << book.dump;
  EXPECT_EQ(book.Find("T1")->Rows(), 6) << "no row lost";
}

TEST_F(ImportRunGui, ClosingTheWindowEndsTheRunAndTheWorkbookKeepsWhatWasWritten) {
  Form1& form = h.Start();
  h.Find<QRadioButton>("Option2")->click();
  h.List().Add(Xml("a.xml", Shape("1", "2")));
  h.List().Add(Xml("b.xml", Shape("3", "4")));
  // The user closes the main window while the second table is written.
  QObject::connect(Bar(), &QProgressBar::valueChanged, Bar(), [&](int value) {
    if (value == 100)
      QMetaObject::invokeMethod(
          &form, [&] { form.close(); }, Qt::QueuedConnection);
  });
  ClickStart();
  EXPECT_TRUE(form.Closed());
  EXPECT_TRUE(h.messages.shown.empty()) << h.messages.shown[0].text;
  ASSERT_EQ(WorkbookWindows().size(), 1u);
  const auto book = SaveAndRead("partial.xlsx");
  ASSERT_NE(book.Find("T"), nullptr) << book.dump;
  EXPECT_EQ(book.Find("T")->Rows(), 3);
}

TEST_F(ImportRunGui, ClosingTheWorkbookWindowDuringTheRunIsAnErrorNotDone) {
  Form1& form = h.Start();
  h.Find<QRadioButton>("Option2")->click();
  h.List().Add(Xml("a.xml", Shape("1", "2")));
  h.List().Add(Xml("b.xml", Shape("3", "4")));
  // The user closes the workbook window (discarding it) while the second table is written.
  QObject::connect(Bar(), &QProgressBar::valueChanged, Bar(), [&](int value) {
    if (value != 100) return;
    QMetaObject::invokeMethod(
        Bar(),
        [] {
          for (QMainWindow* w : WorkbookWindows()) w->close();
        },
        Qt::QueuedConnection);
  });
  ClickStart();
  ASSERT_EQ(h.messages.shown.size(), 1u);
  EXPECT_EQ(h.messages.shown[0].icon, MsgIcon::Warning);
  EXPECT_NE(h.messages.shown[0].text.find("workbook window was closed"), std::string::npos)
      << h.messages.shown[0].text;
  EXPECT_EQ(Bar()->value(), 100);
  EXPECT_EQ(form.MousePointer(), Pointer::Default);
  EXPECT_TRUE(WorkbookWindows().empty());
}

}  // namespace
}  // namespace palomet
