// The workbook window driven as a spreadsheet user drives it, with real keys and clicks:
// moving and selecting by keys, going to a typed address, sheets by keys, saving by keys,
// each window's own name, links, and the whole value of a cut cell.

#include <gtest/gtest.h>

#include <QAction>
#include <QListWidget>
#include <QScreen>
#include <QScrollBar>
#include <QStatusBar>
#include <QToolButton>
#include <QWheelEvent>
#include "office/xlwindow/SheetTabBar.h"

#include "WorkbookWindowFixture.h"
#include "office/xl/LongValues.h"
#include "office/xl/Places.h"
#include "office/xlwindow/CellLine.h"
#include "office/xlwindow/SheetModel.h"
#include "office/xlwindow/WorkbookWindowImpl.h"
#include "tests/support/XlsxReadBack.h"

namespace palomet::xlwindow {
namespace {

class WindowKeys : public WorkbookWindowEdit {
 protected:
  // The selection as "A1:B5" ranges.
  static QString Selection(QMainWindow* w) {
    QStringList out;
    for (const QItemSelectionRange& r : GridOf(w)->selectionModel()->selection()) {
      out << CellName(r.top(), r.left()) + ":" + CellName(r.bottom(), r.right());
    }
    return out.join(",");
  }
  static void Key(QMainWindow* w, Qt::Key key, Qt::KeyboardModifiers mods = {}) {
    QTest::keyClick(QApplication::focusWidget() ? QApplication::focusWidget() : w, key, mods);
  }
  static QString Status(QMainWindow* w) { return w->statusBar()->currentMessage(); }
};

// Ctrl+arrows go to the edge of the block of filled cells, on to the next filled cell, or to
// the sheet's edge (its last row and column, however few cells it holds); Home and End to
// column A and the last used column, with Ctrl to A1 and the last used cell; each selects the
// cell it goes to, so that Copy takes it.
TEST_F(WindowKeys, CtrlMovesGoToTheDataEdgesAndSelectTheCellTheyReach) {
  auto app = xl::Application::Create();
  xl::Worksheet& s = app->AddWorkbook().ActiveSheet();
  for (int r = 1; r <= 5; ++r) {
    for (int c = 1; c <= 3; ++c) s.SetCell(r, c, CellName(r - 1, c - 1).toStdString());
  }
  s.SetCell(8, 1, "A8");
  s.SetCell(1, 6, "F1");
  QMainWindow* w = Open(*app);
  const Qt::KeyboardModifiers ctrl = Qt::ControlModifier, none = {};
  const std::vector<std::tuple<Qt::Key, Qt::KeyboardModifiers, const char*>> steps = {
      {Qt::Key_Down, ctrl, "A5"},          {Qt::Key_Down, ctrl, "A8"},
      {Qt::Key_Down, ctrl, "A1048576"},    {Qt::Key_Down, none, "A1048576"},
      {Qt::Key_Up, none, "A1048575"},      {Qt::Key_Right, ctrl, "XFD1048575"},
      {Qt::Key_Right, none, "XFD1048575"}, {Qt::Key_Up, ctrl, "XFD1"},
      {Qt::Key_Home, ctrl, "A1"},          {Qt::Key_Right, ctrl, "C1"},
      {Qt::Key_Right, ctrl, "F1"},         {Qt::Key_Right, ctrl, "XFD1"},
      {Qt::Key_Left, ctrl, "F1"},          {Qt::Key_End, ctrl, "F8"},
      {Qt::Key_Home, none, "A8"},          {Qt::Key_End, none, "F8"},
      {Qt::Key_Return, none, "F9"},        {Qt::Key_Return, Qt::ShiftModifier, "F8"}};
  for (const auto& [key, mods, to] : steps) {
    Key(w, key, mods);
    EXPECT_EQ(Address(w), to);
    EXPECT_EQ(Selection(w), QString(to) + ":" + to) << "the selection follows the current cell";
  }
  Key(w, Qt::Key_Home, Qt::ControlModifier);
  Key(w, Qt::Key_Down, Qt::ControlModifier);
  Press(GridOf(w), QKeySequence::Copy);
  EXPECT_EQ(ClipboardText(), "A5\n");
}

// The scroll bars span the used cells and a screenful past them, so that the thumb moves
// through the data; scrolling on at their end goes on a screenful at a time, and the keys
// take them to the sheet's last row and back.
TEST_F(WindowKeys, TheScrollBarsSpanTheDataAndGoOnToTheSheetsEdge) {
  auto app = xl::Application::Create();
  xl::Worksheet& s = app->AddWorkbook().ActiveSheet();
  for (int r = 1; r <= 300; ++r) s.SetCell(r, 1, std::to_string(r));
  QMainWindow* w = Open(*app);
  QTableView* grid = GridOf(w);
  QScrollBar* bar = grid->verticalScrollBar();
  const auto lastShown = [&] { return grid->rowAt(grid->viewport()->height() - 1); };
  const int page = std::max(1, grid->viewport()->height() / grid->rowHeight(0));
  const int end = bar->maximum();
  bar->setValue(end);
  EXPECT_GE(lastShown(), 299) << "past the data";
  EXPECT_LT(lastShown(), 299 + 2 * page) << "by a screenful";
  QWheelEvent wheel(QPointF(5, 5), grid->viewport()->mapToGlobal(QPointF(5, 5)), {},
                    QPoint(0, -120), Qt::NoButton, {}, Qt::NoScrollPhase, false);
  QApplication::sendEvent(grid->viewport(), &wheel);
  EXPECT_GT(bar->value(), end) << "the wheel goes on";
  EXPECT_LT(grid->horizontalScrollBar()->maximum(), 2 * page);
  Key(w, Qt::Key_Right);
  Key(w, Qt::Key_Down, Qt::ControlModifier);  // an empty column
  EXPECT_EQ(lastShown(), xl::kMaxRows - 1);
  Key(w, Qt::Key_Home, Qt::ControlModifier);
  EXPECT_EQ(bar->maximum(), end) << "back to the data";
}

// Shift with any move extends the selection from the cell it began at, also after a click.
TEST_F(WindowKeys, ShiftExtendsTheSelectionFromWhereItBegan) {
  auto app = xl::Application::Create();
  xl::Worksheet& s = app->AddWorkbook().ActiveSheet();
  for (int r = 1; r <= 5; ++r) {
    for (int c = 1; c <= 3; ++c) s.SetCell(r, c, CellName(r - 1, c - 1).toStdString());
  }
  QMainWindow* w = Open(*app);
  Click(w, 1, 1);
  Key(w, Qt::Key_Down, Qt::ControlModifier | Qt::ShiftModifier);
  EXPECT_EQ(Selection(w), "B2:B5");
  EXPECT_EQ(Address(w), "B5");
  Key(w, Qt::Key_Left, Qt::ShiftModifier);
  EXPECT_EQ(Selection(w), "A2:B5");
  Press(GridOf(w), QKeySequence::Copy);
  EXPECT_EQ(ClipboardText(), "A2\tB2\nA3\tB3\nA4\tB4\nA5\tB5\n");
  Key(w, Qt::Key_Home, Qt::ControlModifier | Qt::ShiftModifier);
  EXPECT_EQ(Selection(w), "A1:B2");
  Key(w, Qt::Key_End, Qt::ControlModifier | Qt::ShiftModifier);
  EXPECT_EQ(Selection(w), "B2:C5");
  // A plain move starts afresh; Shift+click then extends from the new place.
  Key(w, Qt::Key_Right);
  EXPECT_EQ(Selection(w), "D5:D5");
  Click(w, 0, 0, Qt::ShiftModifier);
  EXPECT_EQ(Selection(w), "A1:D5");
  EXPECT_EQ(Address(w), "A1");
}

// Ctrl+PgDn / Ctrl+PgUp go from sheet to sheet, stopping at the ends; each sheet is shown at
// the cell it was left at.
TEST_F(WindowKeys, CtrlPageKeysStepThroughTheSheetsWhichKeepTheirPlace) {
  auto app = xl::Application::Create();
  app->AddWorkbook();
  QMainWindow* w = Open(*app);
  Click(w, 3, 2);
  Key(w, Qt::Key_PageDown, Qt::ControlModifier);
  EXPECT_EQ(CurrentTab(w), "Sheet2");
  EXPECT_EQ(Address(w), "A1");
  Key(w, Qt::Key_PageDown, Qt::ControlModifier);
  Key(w, Qt::Key_PageDown, Qt::ControlModifier);
  EXPECT_EQ(CurrentTab(w), "Sheet3");
  for (int i = 0; i < 3; ++i) Key(w, Qt::Key_PageUp, Qt::ControlModifier);
  EXPECT_EQ(CurrentTab(w), "Sheet1");
  EXPECT_EQ(Address(w), "C4");
  EXPECT_EQ(Selection(w), "C4:C4");
  // A click on a tab leaves the keys with the grid.
  xlwindow::SheetTabBar* bar = w->findChild<xlwindow::SheetTabs*>("Sheets")->tabBar();
  QTest::mouseClick(bar, Qt::LeftButton, {}, bar->tabRect(1).center());
  EXPECT_EQ(CurrentTab(w), "Sheet2");
  Key(w, Qt::Key_Down);
  EXPECT_EQ(Address(w), "A2");
}

// With more sheets than the tabs show, a right click on the tabs' scroll buttons (or Sheet >
// All Sheets…) lists every sheet, the current one marked; typing narrows the list, and Enter
// or a click goes to the sheet chosen.
TEST_F(WindowKeys, AListOfEverySheetGoesToTheOneChosen) {
  auto app = xl::Application::Create();
  xl::Workbook& wb = app->AddWorkbook();
  for (int i = 1; i <= 200; ++i)
    app->AddSheet().SetName(QString::asprintf("T%03d", i).toStdString());
  wb.Activate(*wb.FindSheet("T047"));
  QMainWindow* w = Open(*app);
  ASSERT_TRUE(Settled(w));
  xlwindow::SheetTabBar* bar = w->findChild<xlwindow::SheetTabs*>("Sheets")->tabBar();
  QToolButton* scroll = nullptr;
  for (QToolButton* b : bar->findChildren<QToolButton*>()) {
    if (b->isVisible()) scroll = b;
  }
  ASSERT_NE(scroll, nullptr) << "200 tabs do not fit";
  QTest::mouseClick(w->windowHandle(), Qt::RightButton, {},
                    scroll->mapTo(w, scroll->rect().center()));
  auto* list = w->findChild<QWidget*>("SheetList");
  ASSERT_TRUE(list && list->isVisible());
  auto* names = list->findChild<QListWidget*>("SheetNames");
  ASSERT_EQ(names->count(), 203);
  EXPECT_EQ(names->currentItem()->text(), "T047");
  EXPECT_TRUE(names->currentItem()->font().bold() && !names->item(0)->font().bold());
  auto* filter = list->findChild<QLineEdit*>("SheetFilter");
  ASSERT_TRUE(filter->hasFocus());
  QTest::keyClicks(filter, "15");  // T015, T115, T150 to T159
  EXPECT_EQ(names->currentItem()->text(), "T015");
  EXPECT_TRUE(names->item(50)->isHidden());
  QTest::keyClick(filter, Qt::Key_Down);
  QTest::keyClick(filter, Qt::Key_Return);
  EXPECT_EQ(CurrentTab(w), "T115");
  EXPECT_TRUE(GridOf(w)->hasFocus());
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  w->findChild<QAction*>("ListSheets")->trigger();
  names = w->findChild<QListWidget*>("SheetNames");
  ASSERT_NE(names, nullptr);
  EXPECT_EQ(names->currentItem()->text(), "T115");
  names->scrollToItem(names->item(0));
  QTest::mouseClick(names->viewport(), Qt::LeftButton, {},
                    names->visualItemRect(names->item(0)).center());
  EXPECT_EQ(CurrentTab(w), "Sheet1");
}

// F5 puts the cursor in the address box; a typed address or range and Enter go there, on
// the sheet it names (in any letter case), a range selected from its top left cell; a bad one
// says so and leaves the current cell alone, until a Go To that succeeds.
TEST_F(WindowKeys, GoToTakesATypedAddressOrRangeAndSaysWhenItIsNone) {
  auto app = xl::Application::Create();
  xl::Workbook& wb = app->AddWorkbook();
  wb.Sheet(1).SetName("Customer");
  wb.Sheet(2).SetName("Long texts");
  wb.Sheet(2).SetCell(2, 1, "kept");
  QMainWindow* w = Open(*app);
  auto* box = w->findChild<QLineEdit*>("CellAddress");
  const auto go = [&](const char* typed) {
    Key(w, Qt::Key_F5);
    EXPECT_TRUE(box->hasFocus());
    EXPECT_EQ(box->selectedText(), box->text());
    QTest::keyClicks(box, typed);
    QTest::keyClick(box, Qt::Key_Return);
  };
  go("b7");
  EXPECT_EQ(Address(w), "B7");
  EXPECT_TRUE(GridOf(w)->hasFocus());
  go("'Long texts'!A2");
  EXPECT_EQ(CurrentTab(w), "Long texts");
  EXPECT_EQ(ValueLine(w), "kept");
  go(" customer!$C$10 ");
  EXPECT_EQ(CurrentTab(w), "Customer");
  EXPECT_EQ(Selection(w), "C10:C10");
  go("C3:E5");
  EXPECT_EQ(Address(w), "C3");
  EXPECT_EQ(Selection(w), "C3:E5");
  for (const char* bad : {"Q0", "XFE1", "A1048577", "B7:Customer!C9", "hello"}) {
    go(bad);
    EXPECT_EQ(Address(w), "C3");
    EXPECT_EQ(Status(w), QString("\"%1\" is not a cell address or range; type one such as B7, "
                                 "C3:E5 or Customer!C10.")
                             .arg(bad));
  }
  go("XFD1048576");
  EXPECT_EQ(Address(w), "XFD1048576");
  EXPECT_EQ(Status(w), "") << "the message goes with a Go To that succeeds";
  go("Orders!A1");
  EXPECT_EQ(Status(w), "There is no sheet \"Orders\" in this workbook.");
  EXPECT_EQ(CurrentTab(w), "Customer");
  go("'Long texts'!b3:$A$2");
  EXPECT_EQ(CurrentTab(w), "Long texts");
  EXPECT_EQ(Selection(w), "A2:B3");
  // Escape leaves the box as it was.
  Key(w, Qt::Key_F5);
  QTest::keyClicks(box, "D4");
  QTest::keyClick(box, Qt::Key_Escape);
  EXPECT_EQ(Address(w), "A2");
  EXPECT_TRUE(GridOf(w)->hasFocus());
}

TEST(Places, ReadReferencesAsTheyAreWritten) {
  const auto place = [](const char* text) {
    const auto p = xl::ParsePlace(text);
    return p ? (p->hasSheet ? p->sheet + "!" : "") + xl::CellAddress(p->row, p->col) : "none";
  };
  EXPECT_EQ(place("xfd1048576"), "XFD1048576");
  EXPECT_EQ(place("'It''s here'!B2"), "It's here!B2");
  EXPECT_EQ(place("'a!b'!C3"), "a!b!C3");
  EXPECT_EQ(place("Sheet1!$A$1"), "Sheet1!A1");
  for (const char* bad :
       {"", "A", "7", "A0", "XFE1", "A1048577", "!A1", "''!A1", "'open!A1", "A1B", "B7:C9"}) {
    EXPECT_EQ(place(bad), "none") << bad;
  }
  // A range: a cell, a colon and a cell without a sheet, any two opposite corners.
  const auto range = [](const char* text) {
    const auto r = xl::ParseRange(text);
    return r ? r->first.sheet + "!" + xl::CellAddress(r->first.row, r->first.col) + ":" +
                   xl::CellAddress(r->lastRow, r->lastCol)
             : "none";
  };
  EXPECT_EQ(range("C9:b7"), "!B7:C9");
  EXPECT_EQ(range("'a!b'!C7 : $B$9"), "a!b!B7:C9");
  EXPECT_EQ(range("D4"), "!D4:D4");
  for (const char* bad : {"B7:", ":C9", "B7:S!C9", "B7:C9:D10", "'a:b'!A1", "B7:XFE1"}) {
    EXPECT_EQ(range(bad), "none") << bad;
  }
}

// Ctrl+S saves to the file it was saved to, asking for one only the first time; Ctrl+Shift+S
// always asks. Both are in the File menu with their keys.
TEST_F(WindowKeys, CtrlSSavesToTheSameFileAndCtrlShiftSAsks) {
  auto app = xl::Application::Create();
  xl::Worksheet& s = app->AddWorkbook().ActiveSheet();
  s.SetCell(1, 1, "first");
  QMainWindow* w = Open(*app);
  EXPECT_EQ(w->findChild<QAction*>("Save")->shortcut(), QKeySequence("Ctrl+S"));
  EXPECT_EQ(w->findChild<QAction*>("SaveAs")->shortcut(), QKeySequence("Ctrl+Shift+S"));
  const QString path = QString::fromStdString((dir.Path() / "kept.xlsx").string());
  prompts->savePath = path;
  Key(w, Qt::Key_S, Qt::ControlModifier);
  ASSERT_EQ(prompts->suggestedNames.size(), 1);
  EXPECT_EQ(w->windowTitle(), "kept.xlsx - Palomet");
  s.SetCell(1, 1, "second");
  Key(w, Qt::Key_S, Qt::ControlModifier);
  EXPECT_EQ(prompts->suggestedNames.size(), 1) << "saved again without asking";
  EXPECT_TRUE(app->ActiveWorkbook().Saved());
  EXPECT_EQ(test::ReadXlsx(path.toStdString()).sheets[0].InOrder()[0].text, "second");
  prompts->savePath.clear();
  Key(w, Qt::Key_S, Qt::ControlModifier | Qt::ShiftModifier);
  ASSERT_EQ(prompts->suggestedNames.size(), 2);
  EXPECT_EQ(prompts->suggestedNames[1], "kept.xlsx");
}

// Windows are named Book1, Book2, ... across the program, as a spreadsheet names new
// workbooks, and their files are first offered that name; each opens wholly on the screen.
TEST_F(WindowKeys, EachWindowHasItsOwnName) {
  auto first = xl::Application::Create();
  first->SetVisible(true);
  first->AddWorkbook();
  QMainWindow* one = Window();
  const auto onScreen = [](QWidget* window) {
    return QTest::qWaitForWindowExposed(window) &&
           window->screen()->availableGeometry().contains(window->frameGeometry());
  };
  EXPECT_TRUE(onScreen(one));
  auto second = xl::Application::Create();
  second->AddWorkbook();
  one->hide();
  second->SetVisible(true);
  QMainWindow* two = Window();
  ASSERT_NE(two, one);
  EXPECT_EQ(two->focusWidget(), GridOf(two)) << "the keys begin on the grid";
  EXPECT_TRUE(onScreen(two));
  const QString a = one->windowTitle(), b = two->windowTitle();
  ASSERT_TRUE(a.startsWith("Book")) << a.toStdString();
  const int n = a.mid(4).section(' ', 0, 0).toInt();
  EXPECT_EQ(a, QString("Book%1 - Palomet").arg(n));
  EXPECT_EQ(b, QString("Book%1 - Palomet").arg(n + 1));
  two->findChild<QAction*>("OpenInSpreadsheet")->trigger();
  EXPECT_EQ(prompts->suggestedNames, QStringList{QString("Book%1.xlsx").arg(n + 1)});
  EXPECT_TRUE(opened.isEmpty()) << "Save As cancelled";
}

// A text cell that links to a place looks like a link, as in the saved file; a click goes
// there, a Ctrl+click only selects it, and a link to a place that is gone says so.
TEST_F(WindowKeys, LinksLookLikeLinksAndAClickFollowsThem) {
  auto app = xl::Application::Create();
  xl::Workbook& wb = app->AddWorkbook();
  xl::Worksheet& s = wb.Sheet(1);
  wb.Sheet(2).SetName("Long texts");
  s.SetCell(1, 1, "to B3");
  s.SetHyperlink(1, 1, "'Long texts'!B3");
  s.SetCell(2, 1, "12.5");
  s.SetHyperlink(2, 1, "'Long texts'!A1");
  s.SetCell(3, 1, "to nowhere");
  s.SetHyperlink(3, 1, "Gone!A1");
  s.SetCell(4, 1, "plain");
  QMainWindow* w = Open(*app);
  QAbstractItemModel* m = GridOf(w)->model();
  const auto font = [&](int row) { return m->data(m->index(row, 0), Qt::FontRole).value<QFont>(); };
  EXPECT_TRUE(font(0).underline());
  EXPECT_EQ(m->data(m->index(0, 0), Qt::ForegroundRole).value<QColor>(), QColor(0, 0, 255));
  EXPECT_FALSE(font(1).underline()) << "a number keeps its look, as in the saved file";
  EXPECT_FALSE(m->data(m->index(3, 0), Qt::ForegroundRole).isValid());

  Click(w, 0, 0, Qt::ControlModifier);
  EXPECT_EQ(CurrentTab(w), "Sheet1");
  EXPECT_EQ(Address(w), "A1");
  Click(w, 2, 0);
  EXPECT_EQ(Status(w), "There is no sheet \"Gone\" in this workbook.");
  Click(w, 0, 0);
  EXPECT_EQ(CurrentTab(w), "Long texts");
  EXPECT_EQ(Address(w), "B3");
  EXPECT_EQ(Status(w), "") << "a link followed takes the message of one that was not away";
  Key(w, Qt::Key_PageUp, Qt::ControlModifier);
  Click(w, 1, 0);
  EXPECT_EQ(CurrentTab(w), "Long texts");
  EXPECT_EQ(Address(w), "A1");
}

// A cut cell's value line shows the whole value, read from its pieces, with a note that the
// cell holds only its start; other cells show theirs without the note.
TEST_F(WindowKeys, ACutCellShowsItsWholeValueWithANote) {
  auto app = xl::Application::Create();
  xl::Workbook& wb = app->AddWorkbook();
  xl::Worksheet& s = wb.Sheet(1);
  xl::Worksheet& kept = wb.Sheet(2);
  kept.SetName("Long texts");
  const std::string start(32'767, 'a'), rest(7'233, 'b');
  s.SetCell(2, 2, start);
  s.SetCell(3, 2, start);  // the same text, linked to a row that is not its own
  kept.SetText(2, xl::kKeptSheetColumn, "Sheet1");
  kept.SetText(2, xl::kKeptCellColumn, "B2");
  kept.SetCell(2, xl::kKeptLengthColumn, "40000");
  kept.SetText(2, xl::kKeptFirstPieceColumn, start);
  kept.SetText(2, xl::kKeptFirstPieceColumn + 1, rest);
  s.SetHyperlink(2, 2, "'Long texts'!A2");
  s.SetHyperlink(3, 2, "'Long texts'!A2");
  QMainWindow* w = Open(*app);
  auto* note = w->findChild<QLabel*>("ValueNote");
  Click(w, 0, 1);
  Key(w, Qt::Key_Down);  // a click on the cut cell would follow its link
  EXPECT_EQ(ValueLine(w), QString::fromStdString(start + rest));
  EXPECT_TRUE(note->isVisible());
  EXPECT_EQ(note->text(), "The cell holds only the first 32,767 of 40,000 characters.");
  Key(w, Qt::Key_Down);
  EXPECT_EQ(ValueLine(w).size(), 32'767);
  EXPECT_FALSE(note->isVisible());

  // A value far longer shows its start only, as laying it out whole would stall the window.
  kept.SetText(3, xl::kKeptSheetColumn, "Sheet1");
  kept.SetText(3, xl::kKeptCellColumn, "C2");
  kept.SetCell(3, xl::kKeptLengthColumn, std::to_string(12 * 32'767));
  for (int piece = 0; piece < 12; ++piece) kept.SetText(3, xl::kKeptFirstPieceColumn + piece, start);
  s.SetCell(2, 3, start);
  s.SetHyperlink(2, 3, "'Long texts'!A3");
  Key(w, Qt::Key_Up);
  Key(w, Qt::Key_Right);
  const int shown = static_cast<int>(CellLine::kMostShownBytes / 32'767) * 32'767;
  EXPECT_EQ(ValueLine(w).size(), shown);
  EXPECT_EQ(note->text(), QString("The cell holds only the first 32,767 of 393,204 characters. "
                                  "Shown here: the first %1.")
                              .arg(QLocale(QLocale::English).toString(shown)));
}

}  // namespace
}  // namespace palomet::xlwindow
