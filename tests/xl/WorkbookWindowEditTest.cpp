// The workbook window as a sheet is used, headless, with real clicks and key presses: copy
// (text and HTML, the cap), select all and by headers, the value line, find across sheets.

#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QStatusBar>
#include <QTableView>
#include <QTest>
#include "office/xlwindow/SheetTabs.h"

#include "WorkbookWindowFixture.h"
#include "office/xl/Excel.h"
#include "office/xlwindow/CellSearch.h"
#include "office/xlwindow/SheetCopy.h"

namespace palomet::xlwindow {
namespace {

TEST_F(WorkbookWindowEdit, CopyPutsTheShownCellsOnTheClipboardAsTextAndAsATable) {
  auto app = xl::Application::Create();
  xl::Worksheet& s = app->AddWorkbook().ActiveSheet();
  const char* cells[3][3] = {{"12.50", "2024-06-01", "007"},
                             {"a\tb", "two\nlines", "say \"hi\""},
                             {"", "<b>&amp;", "2024-06-01T08:30:00"}};
  for (int r = 0; r < 3; ++r) {
    for (int c = 0; c < 3; ++c) s.SetCell(r + 1, c + 1, cells[r][c]);
  }
  s.SetCell(5, 5, "outside");
  QMainWindow* w = Open(*app);
  QTableView* grid = GridOf(w);

  Click(w, 0, 0);
  Click(w, 2, 2, Qt::ShiftModifier);
  Press(grid, QKeySequence::Copy);
  EXPECT_EQ(ClipboardText(),
            "12.50\t2024-06-01\t007\n"
            "\"a\tb\"\t\"two\nlines\"\t\"say \"\"hi\"\"\"\n"
            "\t<b>&amp;\t2024-06-01T08:30:00\n");
  const QString html = ClipboardHtml();
  EXPECT_EQ(html.count("<tr>"), 3);
  for (const char* part :
       {"<tr><td class=n2 align=right>12.50</td><td class=d align=right>2024-06-01</td>"
        "<td class=t>007</td></tr>",
        "<tr><td class=t>a\tb</td><td class=t>two<br>lines</td>"
        "<td class=t>say &quot;hi&quot;</td></tr>",
        "<tr><td></td><td class=t>&lt;b&gt;&amp;amp;</td>"
        "<td class=dt align=right>2024-06-01T08:30:00</td></tr>",
        // The formats a spreadsheet keeps the cells in, for those the table uses.
        "td.t{mso-number-format:\"\\@\"}", "td.n2{mso-number-format:\"0.00\"}",
        "td.dt{mso-number-format:\"yyyy-mm-dd\\\"T\\\"hh:mm:ss\"}"}) {
    EXPECT_TRUE(html.contains(part)) << part << "\n" << html.toStdString();
  }
  EXPECT_FALSE(html.contains("td.n0")) << "no whole number was copied";
  EXPECT_EQ(w->statusBar()->currentMessage(), "Copied 9 cells.");

  // Cells picked one by one copy as the rectangle around them, the others empty. The menu
  // command does what the key does.
  Click(w, 0, 1);
  Click(w, 1, 2, Qt::ControlModifier);
  w->findChild<QAction*>("Copy")->trigger();
  EXPECT_EQ(ClipboardText(), "2024-06-01\t\n\t\"say \"\"hi\"\"\"\n");
}

TEST_F(WorkbookWindowEdit, SelectAllAndHeaderClicksSelectTheSheetAColumnOrARow) {
  auto app = xl::Application::Create();
  xl::Worksheet& s = app->AddWorkbook().ActiveSheet();
  for (int r = 1; r <= 150; ++r) {
    for (int c = 1; c <= 3; ++c) s.SetCell(r, c, std::string(1, 'A' + c - 1) + std::to_string(r));
  }
  QMainWindow* w = Open(*app);
  QTableView* grid = GridOf(w);
  QItemSelectionModel* sel = grid->selectionModel();

  Press(grid, QKeySequence::SelectAll);
  ASSERT_EQ(sel->selection().size(), 1);
  EXPECT_EQ(sel->selection()[0].height(), xl::kMaxRows) << "the whole sheet";
  EXPECT_EQ(sel->selection()[0].width(), xl::kMaxColumns);
  Press(grid, QKeySequence::Copy);
  const QStringList lines = ClipboardText().split('\n');
  ASSERT_EQ(lines.size(), 151) << "150 rows and what follows the last newline";
  EXPECT_EQ(lines[0], "A1\tB1\tC1") << "the empty columns after the last used one are left out";
  EXPECT_EQ(lines[149], "A150\tB150\tC150");

  QHeaderView* columns = grid->horizontalHeader();
  QTest::mouseClick(columns->viewport(), Qt::LeftButton, {},
                    QPoint(columns->sectionViewportPosition(1) + 5, 5));
  EXPECT_TRUE(sel->isColumnSelected(1));
  EXPECT_FALSE(sel->isColumnSelected(0));
  Press(grid, QKeySequence::Copy);
  EXPECT_TRUE(ClipboardText().startsWith("B1\nB2\nB3\n"));
  EXPECT_EQ(ClipboardText().count('\n'), 150);

  QHeaderView* rows = grid->verticalHeader();
  QTest::mouseClick(rows->viewport(), Qt::LeftButton, {},
                    QPoint(5, rows->sectionViewportPosition(4) + 5));
  EXPECT_TRUE(sel->isRowSelected(4));
  Press(grid, QKeySequence::Copy);
  EXPECT_EQ(ClipboardText(), "A5\tB5\tC5\n");

  // In the find bar's field the keys act on its text, not on the grid.
  Press(grid, QKeySequence::Find);
  auto* field = w->findChild<QLineEdit*>("FindText");
  ASSERT_TRUE(field->hasFocus());
  QTest::keyClicks(field, "B7");
  field->deselect();
  Press(field, QKeySequence::SelectAll);
  EXPECT_EQ(field->selectedText(), "B7");
  Press(field, QKeySequence::Copy);
  EXPECT_EQ(ClipboardText(), "B7");
  EXPECT_TRUE(sel->isSelected(grid->model()->index(6, 1))) << "found, B7 is the current cell";
}

TEST_F(WorkbookWindowEdit, TheValueLineShowsTheCurrentCellWholeAsShownAndCopiesIt) {
  auto app = xl::Application::Create();
  xl::Worksheet& s = app->AddWorkbook().ActiveSheet();
  // The longest text a cell holds: 32,767 UTF-16 units, one of them beyond ASCII, and lines.
  const std::string longest = "first line\n" + std::string(32'767 - 12, 'x') + "é";
  const std::vector<std::pair<std::string, QString>> row = {
      {longest, QString::fromStdString(longest)},
      {"2024-06-01", "2024-06-01"},
      {"2024-06-01T08:30:00", "2024-06-01T08:30:00"},
      {"12.50", "12.50"},
      {"-3", "-3"},
      {"0.730", "0.730"},
      {"123456789012345", "123456789012345"},
      {"007", "007"},
      {"1e5", "1e5"}};
  for (std::size_t c = 0; c < row.size(); ++c) s.SetCell(2, static_cast<int>(c) + 1, row[c].first);
  QMainWindow* w = Open(*app);
  QTableView* grid = GridOf(w);
  EXPECT_EQ(Address(w), "A1");
  EXPECT_EQ(ValueLine(w), "");

  QTest::keyClick(grid, Qt::Key_Down);
  ASSERT_EQ(ValueLine(w).size(), 32'767);
  EXPECT_EQ(ValueLine(w), row[0].second);
  for (std::size_t c = 1; c < row.size(); ++c) {
    QTest::keyClick(grid, Qt::Key_Right);
    EXPECT_EQ(Address(w), QChar('A' + static_cast<char>(c)) + QString("2"));
    EXPECT_EQ(ValueLine(w), row[c].second);
  }

  // What a run writes into the current cell shows there as well.
  s.SetCell(2, static_cast<int>(row.size()), "written later");
  EXPECT_TRUE(QTest::qWaitFor([&] { return ValueLine(w) == "written later"; }, 2000));

  // The whole long text, selected and copied from the value line.
  Click(w, 1, 0);
  auto* line = w->findChild<QPlainTextEdit*>("ValueLine");
  QTest::mouseClick(line->viewport(), Qt::LeftButton, {}, QPoint(5, 5));
  ASSERT_TRUE(line->hasFocus());
  Press(line, QKeySequence::SelectAll);
  Press(line, QKeySequence::Copy);
  EXPECT_EQ(ClipboardText(), row[0].second);
}

TEST_F(WorkbookWindowEdit, FindGoesFromMatchToMatchAcrossSheetsAndSaysWhenThereIsNone) {
  auto app = xl::Application::Create();
  xl::Workbook& wb = app->AddWorkbook();
  wb.Sheet(1).SetCell(2, 2, "Needle");
  wb.Sheet(3).SetCell(1, 3, "12.50");
  wb.Sheet(3).SetCell(5, 1, "a nEEdle here");
  QMainWindow* w = Open(*app);
  QTableView* grid = GridOf(w);
  auto* bar = w->findChild<QWidget*>("FindBar");
  auto* field = w->findChild<QLineEdit*>("FindText");
  EXPECT_FALSE(bar->isVisible());

  Press(grid, QKeySequence::Find);
  ASSERT_TRUE(bar->isVisible());
  ASSERT_TRUE(field->hasFocus());
  QTest::keyClicks(field, "needle");  // searched as typed, from the current cell on
  EXPECT_EQ(CurrentTab(w), "Sheet1");
  EXPECT_EQ(Address(w), "B2");
  QTest::keyClick(field, Qt::Key_Return);
  EXPECT_EQ(CurrentTab(w), "Sheet3");
  EXPECT_EQ(Address(w), "A5");
  EXPECT_EQ(ValueLine(w), "a nEEdle here");
  EXPECT_EQ(FindStatus(w), "");
  Press(field, QKeySequence::FindNext);
  EXPECT_EQ(CurrentTab(w), "Sheet1");
  EXPECT_EQ(Address(w), "B2");
  EXPECT_EQ(FindStatus(w), "Continued from the first sheet.");
  // The only match, found again from itself.
  QTest::mouseClick(w->findChild<QCheckBox*>("MatchCase"), Qt::LeftButton);
  EXPECT_EQ(FindStatus(w), "No match.");
  field->setFocus();
  field->selectAll();
  QTest::keyClicks(field, "Needle");
  QTest::keyClick(field, Qt::Key_Return);
  EXPECT_EQ(CurrentTab(w), "Sheet1");
  EXPECT_EQ(Address(w), "B2");

  // Numbers are found as they show.
  field->selectAll();
  QTest::keyClicks(field, "12.5");
  EXPECT_EQ(CurrentTab(w), "Sheet3");
  EXPECT_EQ(Address(w), "C1");
  QTest::keyClicks(field, "1");
  EXPECT_EQ(FindStatus(w), "No match.");
  EXPECT_EQ(CurrentTab(w), "Sheet1") << "no match: back where the typing began";
  EXPECT_EQ(Address(w), "B2");

  QTest::keyClick(field, Qt::Key_Escape);
  EXPECT_FALSE(bar->isVisible());
  EXPECT_TRUE(grid->hasFocus());
}

// Whatever is typed is looked for from the cell the typing began at: a failed search, which
// leaves the current cell there, does not make the next one skip a match.
TEST_F(WorkbookWindowEdit, TypedTextIsLookedForFromWhereTheTypingBegan) {
  auto app = xl::Application::Create();
  xl::Worksheet& s = app->AddWorkbook().ActiveSheet();
  s.SetCell(3, 2, "Zoe");
  s.SetCell(2, 6, "true");
  s.SetCell(5, 6, "TRUE");
  QMainWindow* w = Open(*app);
  auto* field = w->findChild<QLineEdit*>("FindText");
  Press(GridOf(w), QKeySequence::Find);
  QTest::keyClicks(field, "z");
  EXPECT_EQ(Address(w), "B3");
  QTest::keyClicks(field, "zzz");
  EXPECT_EQ(FindStatus(w), "No match.");
  EXPECT_EQ(Address(w), "A1");
  field->selectAll();
  QTest::keyClicks(field, "TRUE");
  EXPECT_EQ(Address(w), "F2");
  QTest::keyClick(field, Qt::Key_Return);
  EXPECT_EQ(Address(w), "F5");
  // A click elsewhere is where the next typing begins.
  Click(w, 3, 0);
  field->setFocus();
  field->selectAll();
  QTest::keyClicks(field, "t");
  EXPECT_EQ(Address(w), "F5");
}

TEST_F(WorkbookWindowEdit, ALongSearchYieldsBetweenSlicesAndStillFindsTheLastCell) {
  auto app = xl::Application::Create();
  xl::Workbook& wb = app->AddWorkbook();
  for (long i = 1; i <= 3; ++i) {
    for (int r = 1; r <= 100'000; ++r) wb.Sheet(i).SetCell(r, 1, std::to_string(r));
  }
  wb.Sheet(3).SetCell(100'000, 2, "end");
  QMainWindow* w = Open(*app);
  Press(GridOf(w), QKeySequence::Find);
  QTest::keyClicks(w->findChild<QLineEdit*>("FindText"), "end");
  // The key press came back before 300,000 cells were read; the window serves its events.
  EXPECT_TRUE(FindStatus(w).startsWith("Searching Sheet")) << FindStatus(w).toStdString();
  EXPECT_TRUE(QTest::qWaitFor([&] { return FindStatus(w).isEmpty(); }, 20'000));
  EXPECT_EQ(CurrentTab(w), "Sheet3");
  EXPECT_EQ(Address(w), "B100000");
}

// A copy stops at whole rows within its cap and says so in the status line.
TEST_F(WorkbookWindowEdit, ACopyPastItsCapHoldsWholeRowsAndTheStatusLineSaysSo) {
  auto app = xl::Application::Create();
  xl::Worksheet& s = app->AddWorkbook().ActiveSheet();
  const std::string big(32'767, 'x');
  for (int r = 1; r <= 600; ++r) s.SetCell(r, 1, big);  // 600 rows of 64 KB as text and HTML
  s.SetCell(1, 2, "second column");
  QMainWindow* w = Open(*app);
  Press(GridOf(w), QKeySequence::SelectAll);
  Press(GridOf(w), QKeySequence::Copy);
  const QString message = w->statusBar()->currentMessage();
  EXPECT_TRUE(message.startsWith("Copied only the first ")) << message.toStdString();
  EXPECT_TRUE(message.contains(" of 600 rows: a copy holds at most 500,000 cells and 32 MB"))
      << message.toStdString();
  const QString text = ClipboardText();
  const qsizetype rows = text.count('\n');
  EXPECT_GT(rows, 450);
  EXPECT_LT(rows, 600);
  EXPECT_TRUE(message.contains(QLocale(QLocale::English).toString(rows) + " of"));
  EXPECT_TRUE(text.endsWith(QString::fromStdString(big) + "\t\n")) << "whole rows only";
  EXPECT_EQ(ClipboardHtml().count("<tr>"), rows);
}

// The limits themselves, small: the cell cap, and a row that passes the byte cap left out.
TEST(SheetCopy, StopsAtWholeRowsAtEitherLimit) {
  auto app = xl::Application::Create();
  xl::Worksheet& s = app->AddWorkbook().ActiveSheet();
  for (int r = 1; r <= 10; ++r) {
    s.SetCell(r, 1, "r" + std::to_string(r));
    s.SetCell(r, 2, r == 4 ? std::string(200, 'y') : "z");
  }
  const std::vector<CellRect> all = {{0, 0, 99, 25}};
  auto copied = CopyCells(s, all, {.cells = 7, .bytes = 1 << 20});
  EXPECT_EQ(copied.rows, 10);
  EXPECT_EQ(copied.rowsCopied, 3);
  EXPECT_EQ(copied.text, "r1\tz\nr2\tz\nr3\tz\n");
  EXPECT_TRUE(copied.Capped());
  copied = CopyCells(s, all, {.cells = 100, .bytes = 300});
  EXPECT_EQ(copied.rowsCopied, 3) << "row 4 passes 300 bytes and is left out whole";
  EXPECT_EQ(copied.html.count("<tr>"), 3);
  copied = CopyCells(s, {{3, 0, 3, 1}}, {.cells = 100, .bytes = 100});
  EXPECT_EQ(copied.rowsCopied, 0);
  copied = CopyCells(s, all);
  EXPECT_FALSE(copied.Capped());
  EXPECT_EQ(copied.cellsCopied, 20u);
}

// A run adds and deletes sheets while a search is under way (the default sheets go at its
// end): the search goes on with the sheet that takes a deleted one's place, reads the
// sheets added after it, and still ends when nothing matches.
TEST(CellSearch, FollowsSheetsAddedAndDeletedBetweenSlices) {
  using namespace std::chrono_literals;
  auto app = xl::Application::Create();
  xl::Workbook& wb = app->AddWorkbook();
  for (int r = 1; r <= 5'000; ++r) wb.Sheet(2).SetCell(r, 1, "n");
  wb.Sheet(3).SetCell(9, 9, "target");
  const CellSearch::Where atSheet2{wb.Sheet(2).Id(), 1, 1};

  CellSearch search;
  search.Start(wb, "TARGET", false, atSheet2, true);
  ASSERT_EQ(search.Continue(0ns), CellSearch::State::Searching) << "stops after a slice";
  wb.Sheet(2).Delete();
  ASSERT_EQ(search.Continue(10s), CellSearch::State::Found);
  EXPECT_EQ(search.Match().sheet, wb.Sheets("Sheet3").Id());
  EXPECT_EQ(search.Match().row, 9);
  EXPECT_EQ(search.Match().col, 9);

  wb.Activate(wb.Sheets("Sheet1"));
  xl::Worksheet& more = app->AddSheet();  // between Sheet1 and Sheet3
  for (int r = 1; r <= 5'000; ++r) more.SetCell(r, 1, "n");
  search.Start(wb, "late", false, {more.Id(), 1, 1}, true);
  ASSERT_EQ(search.Continue(0ns), CellSearch::State::Searching);
  app->AddSheet().SetCell(1, 1, "written late");
  ASSERT_EQ(search.Continue(10s), CellSearch::State::Found);
  EXPECT_EQ(search.Match().sheet, wb.Sheet(3).Id()) << "the sheet added after the one read";

  search.Start(wb, "absent", true, {more.Id(), 1, 1}, true);
  ASSERT_EQ(search.Continue(0ns), CellSearch::State::Searching);
  more.Delete();
  EXPECT_EQ(search.Continue(10s), CellSearch::State::NoMatch);
}

}  // namespace
}  // namespace palomet::xlwindow
