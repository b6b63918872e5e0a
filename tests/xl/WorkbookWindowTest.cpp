// The workbook window, headless: tabs follow the sheets, the grid fills as cells are
// written, Save As and the copy for the desktop's spreadsheet application, the question on
// closing, and the registration while the window is open.

#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QFont>
#include <QHeaderView>
#include <QMainWindow>
#include <QProgressBar>
#include <QScrollBar>
#include <QTableView>
#include <QTest>
#include <QTimer>
#include <cmath>
#include "office/xlwindow/SheetTabs.h"

#include "WorkbookWindowFixture.h"
#include "office/xl/Excel.h"
#include "office/xlwindow/WorkbookWindow.h"
#include "office/xlwindow/WorkbookWindowImpl.h"
#include "tests/support/TempDir.h"
#include "tests/support/XlsxReadBack.h"

namespace palomet::xlwindow {
namespace {

TEST_F(WorkbookWindowTest, ShowsTheSheetsAndFillsAsCellsAreWritten) {
  auto app = xl::Application::Create();
  app->SetVisible(true);
  QMainWindow* w = Window();
  ASSERT_NE(w, nullptr);
  ASSERT_TRUE(QTest::qWaitForWindowExposed(w));
  app->AddWorkbook();
  EXPECT_EQ(Tabs(w), (QStringList{"Sheet1", "Sheet2", "Sheet3"}));

  xl::Worksheet& s = app->AddSheet();
  s.SetName("Orders");
  app->ActiveWorkbook().Sheets("Sheet3").Delete();
  EXPECT_EQ(Tabs(w), (QStringList{"Sheet1", "Orders", "Sheet2"}));
  EXPECT_EQ(w->findChild<xlwindow::SheetTabs*>("Sheets")->currentIndex(), 1);

  for (int r = 1; r <= 250; ++r) s.SetCell(r, 30, std::to_string(r) + ".50");
  s.SetCell(2, 1, "Zoë");
  QTest::qWait(400);  // the grid picks new cells up on its timer
  QAbstractItemModel* grid = Grid(w, 1);
  EXPECT_EQ(grid->rowCount(), xl::kMaxRows) << "the grid is as big as the sheet";
  EXPECT_EQ(grid->columnCount(), xl::kMaxColumns);
  EXPECT_FALSE(grid->data(grid->index(xl::kMaxRows - 1, xl::kMaxColumns - 1)).isValid());
  EXPECT_EQ(grid->data(grid->index(249, 29)).toString(), "250.50");
  EXPECT_EQ(grid->data(grid->index(1, 0)).toString(), "Zoë");
  EXPECT_EQ(grid->headerData(29, Qt::Horizontal).toString(), "AD");
  EXPECT_FALSE(grid->data(grid->index(0, 0)).isValid());

  // Registered while open: the running check finds it.
  EXPECT_EQ(xl::Application::Attach(), app);
}

// Bold rows in bold, the sheet's column widths, and its frozen rows kept in view over the
// grid while the rest scrolls; a sheet without frozen rows has none.
TEST_F(WorkbookWindowTest, ShowsBoldRowsColumnWidthsAndFrozenRows) {
  auto app = xl::Application::Create();
  app->SetVisible(true);
  QMainWindow* w = Window();
  ASSERT_NE(w, nullptr);
  ASSERT_TRUE(QTest::qWaitForWindowExposed(w));
  w->resize(800, 600);
  xl::Workbook& book = app->AddWorkbook();
  xl::Worksheet& s = book.Sheet(1);
  s.SetCell(1, 1, "id");
  s.SetCell(1, 2, "a rather long field name");
  for (int r = 2; r <= 500; ++r) {
    s.SetCell(r, 1, std::to_string(r));
    s.SetCell(r, 2, "x");
  }
  s.SetRowBold(1);
  s.SetFitColumns(true);
  s.FreezeRows(1);
  book.Sheet(2).SetCell(1, 1, "plain");

  QAbstractItemModel* model = Grid(w, 0);
  ASSERT_NE(model, nullptr);
  QTest::qWait(300);
  EXPECT_TRUE(model->data(model->index(0, 1), Qt::FontRole).value<QFont>().bold());
  EXPECT_FALSE(model->data(model->index(1, 1), Qt::FontRole).isValid());

  auto* grid = w->findChild<QTableView*>("Grid");
  const int digit = grid->fontMetrics().horizontalAdvance(QLatin1Char('0'));
  EXPECT_EQ(grid->columnWidth(1), static_cast<int>(std::lround(s.ColumnWidth(2) * digit)) + 5);
  EXPECT_LT(grid->columnWidth(0), grid->columnWidth(1));
  EXPECT_EQ(grid->columnWidth(2), grid->horizontalHeader()->defaultSectionSize());

  auto* frozen = grid->findChild<QTableView*>("FrozenRows");
  ASSERT_NE(frozen, nullptr);
  EXPECT_TRUE(frozen->isVisible());
  EXPECT_EQ(frozen->model(), model);
  EXPECT_EQ(frozen->selectionModel(), grid->selectionModel());
  EXPECT_EQ(frozen->height(), grid->rowHeight(0) + 1);
  EXPECT_EQ(frozen->columnWidth(1), grid->columnWidth(1));
  // Scrolled far down and to the side, the field names stay at the top, above their columns.
  grid->scrollTo(model->index(499, 1), QAbstractItemView::PositionAtBottom);
  grid->horizontalScrollBar()->setValue(grid->horizontalScrollBar()->maximum());
  QTest::qWait(50);
  EXPECT_GT(grid->rowAt(0), 0);
  EXPECT_EQ(frozen->rowAt(0), 0);
  EXPECT_EQ(frozen->horizontalScrollBar()->value(), grid->horizontalScrollBar()->value());
  const QPoint top = frozen->mapTo(grid, QPoint(0, 0));
  EXPECT_EQ(top.y(), grid->viewport()->mapTo(grid, QPoint(0, 0)).y());

  Grid(w, 1);
  EXPECT_FALSE(frozen->isVisible());
  EXPECT_FALSE(grid->model()->data(grid->model()->index(0, 0), Qt::FontRole).isValid());
}

// The tabs follow every change of a workbook of many sheets, in order and with their names,
// and the one grid shows the current sheet, also when the sheet it showed is deleted.
TEST_F(WorkbookWindowTest, TabsFollowAWorkbookOfManySheetsAndTheGridItsCurrentSheet) {
  auto app = xl::Application::Create();
  app->SetVisible(true);
  QMainWindow* w = Window();
  ASSERT_NE(w, nullptr);
  xl::Workbook& wb = app->AddWorkbook();
  auto names = [&] {
    QStringList out;
    for (long i = 1; i <= wb.SheetCount(); ++i) out << QString::fromStdString(wb.Sheet(i).Name());
    return out;
  };
  auto* tabs = w->findChild<xlwindow::SheetTabs*>("Sheets");
  auto shown = [&]() -> QString {
    if (!Settled(w)) return "(not settled)";
    QAbstractItemModel* m = w->findChild<QTableView*>("Grid")->model();
    return m ? m->data(m->index(0, 0)).toString() : QString("(nothing)");
  };
  for (int i = 1; i <= 300; ++i) {
    xl::Worksheet& s = app->AddSheet();
    s.SetName("T" + std::to_string(i));
    s.SetCell(1, 1, "cell of T" + std::to_string(i));
  }
  QCoreApplication::processEvents();
  EXPECT_EQ(Tabs(w), names());
  EXPECT_EQ(tabs->currentIndex(), 300);  // the last added, after Sheet1 and T1..T299
  EXPECT_EQ(shown(), "cell of T300");

  // The shown sheet goes: the grid moves to the sheet that becomes active.
  wb.Sheets("T300").Delete();
  EXPECT_EQ(Tabs(w), names());
  EXPECT_EQ(tabs->tabText(tabs->currentIndex()), "Sheet2");  // the next sheet became active
  EXPECT_EQ(shown(), QString());                             // and it is empty
  // Deletions in the middle and at the ends, renames, a new sheet in the middle.
  wb.Sheets("T150").Delete();
  wb.Sheets("Sheet1").Delete();
  wb.Sheets("Sheet3").Delete();
  wb.Sheets("T7").SetName("Seven");
  wb.Sheets("t8").SetName("T8 renamed");
  wb.Activate(wb.Sheets("T20"));
  xl::Worksheet& middle = app->AddSheet();
  middle.SetCell(1, 1, "new one");
  EXPECT_EQ(Tabs(w), names());
  EXPECT_EQ(tabs->tabText(tabs->currentIndex()), QString::fromStdString(middle.Name()));
  EXPECT_EQ(shown(), "new one");
  // Within a run of changes the grid lets go of the sheet it shows as soon as it is deleted.
  wb.Sheets("T1").SetName("First");
  middle.Delete();
  EXPECT_EQ(w->findChild<QTableView*>("Grid")->model(), nullptr);
  EXPECT_EQ(Tabs(w), names());
  // Choosing a tab shows that sheet, as a click would.
  EXPECT_EQ(Grid(w, 0)->data(Grid(w, 0)->index(0, 0)).toString(), "cell of T1");
}

TEST_F(WorkbookWindowTest, SaveAsWritesTheWorkbookAndClosingThenAsksNothing) {
  auto app = xl::Application::Create();
  app->SetVisible(true);
  app->AddWorkbook().ActiveSheet().SetCell(1, 1, "12.50");
  QMainWindow* w = Window();
  ASSERT_NE(w, nullptr);

  const QString name = QString::fromStdString(app->ActiveWorkbook().Name());
  prompts->savePath = QString::fromStdString((dir.Path() / "saved").string());
  w->findChild<QAction*>("SaveAs")->trigger();
  EXPECT_EQ(prompts->suggestedNames, QStringList{name + ".xlsx"});
  const auto book = test::ReadXlsx((dir.Path() / "saved.xlsx").string());
  ASSERT_TRUE(book.ok) << book.dump;
  EXPECT_EQ(book.sheets[0].InOrder()[0].number, 12.5);
  EXPECT_EQ(w->windowTitle(), "saved.xlsx - Palomet");

  EXPECT_TRUE(w->close());
  EXPECT_TRUE(prompts->asked.isEmpty());
  EXPECT_THROW(xl::Application::Attach(), Error) << "a closed window's instance is gone";
}

// A save that takes more than a moment shows the busy pointer and how far it got, keeps the
// window open when asked to close meanwhile, and puts pointer and progress away afterwards.
TEST_F(WorkbookWindowTest, ALongSaveShowsTheBusyPointerAndItsProgress) {
  auto app = xl::Application::Create();
  app->SetVisible(true);
  xl::Worksheet& sheet = app->AddWorkbook().ActiveSheet();
  for (int r = 1; r <= 50'000; ++r) {
    sheet.SetCell(r, 1, "1.5");
    sheet.SetCell(r, 2, "text");
    sheet.SetCell(r, 3, "2026-01-05");
  }
  auto* w = qobject_cast<WorkbookWindow*>(Window());
  ASSERT_NE(w, nullptr);
  w->SetSaveFeedbackDelay(0);
  Qt::CursorShape during = Qt::ArrowCursor;
  bool shown = false, closed = true;
  int value = -1;
  QTimer::singleShot(0, w, [&] {
    during = w->cursor().shape();
    auto* bar = w->findChild<QProgressBar*>("SaveProgress");
    shown = bar && bar->isVisible();
    value = bar ? bar->value() : -1;
    closed = w->close();
  });
  prompts->savePath = QString::fromStdString((dir.Path() / "long.xlsx").string());
  EXPECT_TRUE(w->SaveAs());
  EXPECT_EQ(during, Qt::WaitCursor);
  EXPECT_TRUE(shown);
  EXPECT_GT(value, 0);
  EXPECT_LT(value, 1000);
  EXPECT_FALSE(closed) << "the window closed while its workbook was being written";
  EXPECT_TRUE(w->isVisible());
  EXPECT_EQ(w->cursor().shape(), Qt::ArrowCursor) << "the busy pointer stayed";
  EXPECT_FALSE(w->findChild<QProgressBar*>("SaveProgress")->isVisible());
  EXPECT_TRUE(app->ActiveWorkbook().Saved());
  EXPECT_EQ(std::system(("unzip -tqq '" + (dir.Path() / "long.xlsx").string() + "'").c_str()), 0);
}

TEST_F(WorkbookWindowTest, ClosingAnUnsavedWorkbookAsksEvenWithAlertsOff) {
  auto app = xl::Application::Create();
  app->SetVisible(true);
  app->SetDisplayAlerts(false);
  app->AddWorkbook().ActiveSheet().SetCell(1, 1, "x");
  QMainWindow* w = Window();
  ASSERT_NE(w, nullptr);

  prompts->answer = WindowPrompts::SaveAnswer::Cancel;
  EXPECT_FALSE(w->close());
  EXPECT_EQ(prompts->asked, QStringList{QString::fromStdString(app->ActiveWorkbook().Name())});

  // Save, but the file dialog is cancelled: the window stays.
  prompts->answer = WindowPrompts::SaveAnswer::Save;
  EXPECT_FALSE(w->close());

  // Save into a folder that does not exist: the error shows and the window stays.
  prompts->savePath = QString::fromStdString((dir.Path() / "missing" / "x.xlsx").string());
  EXPECT_FALSE(w->close());
  ASSERT_EQ(prompts->errors.size(), 1);
  EXPECT_TRUE(prompts->errors[0].contains("x.xlsx"));

  prompts->answer = WindowPrompts::SaveAnswer::Discard;
  EXPECT_TRUE(w->close());
  EXPECT_EQ(prompts->asked.size(), 4);
}

// "Open in spreadsheet application" opens the workbook's own file, never a copy: a workbook
// never saved is saved first (a cancelled Save As opens nothing); one changed since its save
// is saved again, or opened as saved, as the user answers.
TEST_F(WorkbookWindowTest, OpenInSpreadsheetOpensTheSavedFileItself) {
  auto app = xl::Application::Create();
  app->SetVisible(true);
  xl::Worksheet& s = app->AddWorkbook().ActiveSheet();
  s.SetCell(1, 1, "first");
  QMainWindow* w = Window();
  ASSERT_NE(w, nullptr);
  QAction* open = w->findChild<QAction*>("OpenInSpreadsheet");
  const QString path = QString::fromStdString((dir.Path() / "opened.xlsx").string());
  const auto inFile = [&] { return test::ReadXlsx(path.toStdString()).sheets[0].At(1, 1); };
  using A = WindowPrompts::SaveAnswer;
  const struct {
    const char* cell;  // written before the command; nullptr for none
    QString savePath;  // the Save As dialog's answer
    A answer;          // whether to save the changes, when asked
    int asked;
    bool opened;
    const char* inFile;  // nullptr: no file
    bool saved;
  } steps[] = {
      {nullptr, {}, {}, 0, false, nullptr, false},          // never saved, Save As cancelled
      {nullptr, path, {}, 0, true, "first", true},          // never saved: saved first
      {nullptr, {}, {}, 0, true, "first", true},            // saved, unchanged
      {"second", {}, A::Cancel, 1, false, "first", false},  // changed
      {nullptr, {}, A::Discard, 1, true, "first", false},   // opened as saved
      {nullptr, {}, A::Save, 1, true, "second", true},      // saved first
  };
  for (const auto& step : steps) {
    const int what = static_cast<int>(&step - steps);
    if (step.cell) s.SetCell(1, 1, step.cell);
    prompts->savePath = step.savePath;
    prompts->answer = step.answer;
    const QStringList askedBefore = prompts->asked;
    opened.clear();
    open->trigger();
    EXPECT_EQ(prompts->asked.size() - askedBefore.size(), step.asked) << what;
    EXPECT_EQ(opened, step.opened ? QStringList{path} : QStringList{}) << what;
    if (step.inFile) {
      EXPECT_EQ(inFile(), step.inFile) << what;
    } else {
      EXPECT_FALSE(std::filesystem::exists(path.toStdString())) << what;
    }
    EXPECT_EQ(app->ActiveWorkbook().Saved(), step.saved) << what;
  }
  EXPECT_EQ(prompts->suggestedNames.size(), 2) << "Save As asked only while never saved";
  EXPECT_TRUE(prompts->errors.isEmpty());
}

TEST_F(WorkbookWindowTest, TheWindowKeepsTheApplicationAfterTheRunLetsGo) {
  std::weak_ptr<xl::Application> weak;
  {
    auto app = xl::Application::Create();
    weak = app;
    app->SetVisible(true);
    app->AddWorkbook();
  }
  ASSERT_FALSE(weak.expired());
  QMainWindow* w = Window();
  ASSERT_NE(w, nullptr);
  w->close();
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  EXPECT_TRUE(weak.expired());
}

}  // namespace
}  // namespace palomet::xlwindow
