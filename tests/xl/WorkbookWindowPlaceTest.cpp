// The workbook window keeps what the user sees in place: the frozen field names, the
// status line, the sheet and cell across a save, each sheet's own column widths.

#include <gtest/gtest.h>

#include <QHeaderView>
#include <QScrollBar>
#include <QStatusBar>
#include <QWheelEvent>

#include "WorkbookWindowFixture.h"
#include "office/xlwindow/SheetTabBar.h"
#include "office/xlwindow/WorkbookWindowImpl.h"
#include "tests/support/XlsxReadBack.h"

namespace palomet::xlwindow {
namespace {

// A sheet as a table lands on it: bold field names, fitted columns, the names frozen.
void FillTable(xl::Worksheet& s, int rows, int columns) {
  for (int c = 1; c <= columns; ++c) s.SetCell(1, c, "field name " + std::to_string(c));
  for (int r = 2; r <= rows; ++r) {
    for (int c = 1; c <= columns; ++c) s.SetCell(r, c, std::to_string(r * 100 + c));
  }
  s.SetRowBold(1);
  s.SetFitColumns(true);
  s.FreezeRows(1);
}

// Whatever moves the current cell (a click, Shift+click, Select All, Find), the frozen strip
// keeps showing the field names; the wheel over it scrolls the sheet.
TEST_F(WorkbookWindowEdit, FrozenFieldNamesStayWhateverMovesTheCurrentCell) {
  auto app = xl::Application::Create();
  FillTable(app->AddWorkbook().ActiveSheet(), 500, 5);
  QMainWindow* w = Open(*app);
  auto* frozen = GridOf(w)->findChild<QTableView*>("FrozenRows");
  ASSERT_TRUE(frozen->isVisible());
  const auto top = [&] { return frozen->rowAt(0); };
  Click(w, 9, 2);
  EXPECT_EQ(top(), 0) << "a click on C10";
  Click(w, 19, 3, Qt::ShiftModifier);
  EXPECT_EQ(top(), 0) << "Shift+click";
  Press(GridOf(w), QKeySequence::SelectAll);
  EXPECT_EQ(top(), 0) << "Select All";
  Press(GridOf(w), QKeySequence::Find);
  QTest::keyClicks(w->findChild<QLineEdit*>("FindText"), "40003");
  EXPECT_EQ(Address(w), "C400");
  EXPECT_EQ(top(), 0) << "Find";
  EXPECT_GT(GridOf(w)->rowAt(GridOf(w)->viewport()->height() / 2), 300);

  const int before = GridOf(w)->verticalScrollBar()->value();
  QWheelEvent wheel(QPointF(5, 5), frozen->viewport()->mapToGlobal(QPointF(5, 5)), {},
                    QPoint(0, 120), Qt::NoButton, {}, Qt::NoScrollPhase, false);
  QApplication::sendEvent(frozen->viewport(), &wheel);
  EXPECT_LT(GridOf(w)->verticalScrollBar()->value(), before);
  EXPECT_EQ(top(), 0);
}

// A save that shows its progress leaves the status line as it was: the application's note
// stays and later messages show.
TEST_F(WorkbookWindowEdit, TheStatusLineStaysAfterALongSave) {
  auto app = xl::Application::Create();
  app->AddWorkbook().ActiveSheet().SetCell(1, 1, "x");
  app->SetStatusBar("1 value longer than a cell holds was cut.");
  auto* w = qobject_cast<WorkbookWindow*>(Open(*app));
  w->SetSaveFeedbackDelay(0);
  prompts->savePath = QString::fromStdString((dir.Path() / "a.xlsx").string());
  ASSERT_TRUE(w->SaveAs());
  EXPECT_TRUE(w->statusBar()->isVisible());
  EXPECT_TRUE(w->findChild<QLabel*>("StatusNote")->isVisible());
  GridOf(w)->setFocus();
  Press(GridOf(w), QKeySequence::Copy);
  EXPECT_EQ(w->statusBar()->currentMessage(), "Copied 1 cell.");
}

// Save As leaves the user on the sheet and cell they chose, though another sheet is the
// workbook's active one.
TEST_F(WorkbookWindowEdit, SaveAsKeepsTheSheetAndCellTheUserIsOn) {
  auto app = xl::Application::Create();
  xl::Workbook& wb = app->AddWorkbook();
  wb.Sheet(1).SetName("Customer");
  FillTable(wb.Sheet(1), 50, 5);
  app->AddSheet().SetName("dataroot99");  // the run's last sheet is the active one
  QMainWindow* w = Open(*app);
  ASSERT_EQ(CurrentTab(w), "dataroot99");
  auto* tabs = w->findChild<xlwindow::SheetTabs*>("Sheets");
  tabs->tabBar()->setCurrentIndex(0);
  QTest::qWait(50);
  Click(w, 1, 3);
  ASSERT_EQ(Address(w), "D2");
  prompts->savePath = QString::fromStdString((dir.Path() / "b.xlsx").string());
  ASSERT_TRUE(qobject_cast<WorkbookWindow*>(w)->SaveAs());
  QTest::qWait(400);  // past the moment in which changes are gathered
  EXPECT_EQ(CurrentTab(w), "Customer");
  EXPECT_EQ(Address(w), "D2");
}

// A sheet with fewer used columns shows its other columns at the default width, not at the
// widths of the sheet shown before it.
TEST_F(WorkbookWindowEdit, EachSheetShowsItsOwnColumnWidths) {
  auto app = xl::Application::Create();
  xl::Workbook& wb = app->AddWorkbook();
  FillTable(wb.Sheet(1), 3, 8);
  wb.Sheet(1).SetCell(2, 8, std::string(50, 'w'));
  FillTable(wb.Sheet(2), 3, 2);
  QMainWindow* w = Open(*app);
  QTableView* grid = GridOf(w);
  const int standard = grid->horizontalHeader()->defaultSectionSize();
  ASSERT_GT(grid->columnWidth(7), 2 * standard);
  Grid(w, 1);
  for (int col = 2; col < 8; ++col) EXPECT_EQ(grid->columnWidth(col), standard) << col;
  Grid(w, 0);
  EXPECT_GT(grid->columnWidth(7), 2 * standard);
}

// A new window opens wholly on the screen: as big as it may be there, cascaded from the last
// window opened on that screen, back at the top left when the next step would run off it.
TEST(WindowPlace, NewWindowsOpenWhollyOnTheScreenCascaded) {
  const QRect screen(0, 0, 1280, 1000), right(1280, 0, 1920, 1080);
  const struct {
    QRect screen;
    std::optional<QRect> last;
    QRect frame;
  } cases[] = {
      {screen, std::nullopt, QRect(190, 185, 900, 630)},
      {QRect(0, 24, 800, 576), std::nullopt, QRect(0, 24, 800, 576)},
      {screen, QRect(190, 185, 900, 630), QRect(220, 215, 900, 630)},
      {screen, QRect(370, 365, 900, 630), QRect(0, 0, 900, 630)},      // would run off the bottom
      {right, QRect(190, 185, 900, 630), QRect(1790, 225, 900, 630)},  // another screen's
  };
  for (const auto& c : cases) {
    EXPECT_EQ(NewWindowFrame(c.screen, QSize(900, 630), c.last, 30), c.frame) << c.frame.x();
  }
}

// A column the user drags wider or narrower keeps that width, on its sheet and in the saved
// file, fitted or not and past the used columns too; the workbook then has changes to save.
TEST_F(WorkbookWindowEdit, ColumnWidthsTheUserDragsAreKeptAndSaved) {
  auto app = xl::Application::Create();
  xl::Workbook& wb = app->AddWorkbook();
  FillTable(wb.Sheet(1), 3, 3);
  const QString path = QString::fromStdString((dir.Path() / "widths.xlsx").string());
  prompts->savePath = path;
  auto* w = qobject_cast<WorkbookWindow*>(Open(*app));
  ASSERT_TRUE(w->SaveAs());
  QTableView* grid = GridOf(w);
  QHeaderView* header = grid->horizontalHeader();
  const auto drag = [&](int col, int by) {
    const int edge = header->sectionViewportPosition(col) + header->sectionSize(col) - 1;
    QTest::mousePress(header->viewport(), Qt::LeftButton, {}, QPoint(edge, 5));
    QTest::mouseMove(header->viewport(), QPoint(edge + by, 5));
    QTest::mouseRelease(header->viewport(), Qt::LeftButton, {}, QPoint(edge + by, 5));
    return header->sectionSize(col);
  };
  const int fitted = grid->columnWidth(2);
  const int c = drag(2, -20), h = drag(7, 40);  // a fitted column, and one past the used ones
  EXPECT_EQ(c, fitted - 20);
  EXPECT_FALSE(wb.Saved());
  Grid(w, 1);
  Grid(w, 0);
  EXPECT_EQ(grid->columnWidth(2), c) << "kept while another sheet was shown";
  EXPECT_EQ(grid->columnWidth(7), h);

  ASSERT_TRUE(w->Save());
  const auto saved = test::ReadXlsx(path.toStdString());
  ASSERT_TRUE(saved.ok) << saved.dump;
  // As the file holds a width: in characters of a 7-pixel digit, with 5 pixels of padding.
  const int digit = grid->fontMetrics().horizontalAdvance(QLatin1Char('0'));
  const auto inFile = [&](int pixels) {
    const double chars = (pixels - 5.0) / digit;
    return static_cast<int>((static_cast<int>(chars * 7 + 0.5) + 5) / 7.0 * 256) / 256.0;
  };
  EXPECT_EQ(saved.sheets[0].widths.at(3), inFile(c));
  EXPECT_EQ(saved.sheets[0].widths.at(8), inFile(h));
}

}  // namespace
}  // namespace palomet::xlwindow
