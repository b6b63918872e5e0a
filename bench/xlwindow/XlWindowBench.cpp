// Find and copy in the real workbook window (offscreen) on one sheet shaped like W1's
// table: 293,133 rows of 10 fields (IDs, names beyond ASCII, amounts with two decimals,
// dates, date-times, notes of a few words), 2.9 M cells.
//
//   xlwindow_bench [--rows N]      (N up to 1048576, a full sheet)
//
// For each search it prints the time from the typed text to the answer, and the longest
// time the window went without serving its events meanwhile (a timer that asks to run
// every millisecond measures it). For copy (a blocking command, bounded by its cap) it
// prints the time of Select All and Copy and what the copy held; for the keys that jump
// (Ctrl+arrows, Ctrl+End, Ctrl+PgDn) the time of one press and where it went; for scrolling
// (PageDown and PageUp held, Ctrl+End, Ctrl+Home, each press drawn) the longest press.

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QStatusBar>
#include <QTableView>
#include <QTimer>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include "office/xlwindow/SheetTabs.h"

#include "office/xl/Excel.h"
#include "office/xlwindow/WorkbookWindow.h"

using namespace palomet;

namespace {

class NoPrompts : public xlwindow::WindowPrompts {
 public:
  SaveAnswer AskSaveChanges(const QString&) override { return SaveAnswer::Discard; }
  QString AskSavePath(const QString&) override { return {}; }
  void ShowError(const QString&) override {}
};

void Fill(xl::Worksheet& sheet, int rows) {
  static const char* first[] = {"Anna", "José", "Zoë", "Łukasz", "Søren", "Björn", "Liam", "Emma"};
  static const char* last[] = {"Müller", "O'Brien", "García", "Nowak", "Smith", "Nguyễn", "Côté"};
  static const char* cities[] = {"München", "Zürich", "São Paulo", "Kraków", "Malmö", "Oslo"};
  static const char* words[] = {"order", "late", "paid", "call", "back", "invoice", "sent", "ok"};
  std::mt19937 engine(20240601);
  auto rng = [&engine] { return static_cast<unsigned>(engine()); };
  auto pick = [&](auto& list) { return list[rng() % std::size(list)]; };
  const char* names[] = {"ID",      "Name",        "Company", "Email",    "City",
                         "Balance", "CreditLimit", "Joined",  "LastOrder", "Notes"};
  for (int c = 0; c < 10; ++c) sheet.SetCell(1, c + 1, names[c]);
  char buf[64];
  for (int r = 2; r <= rows; ++r) {
    const std::string name = std::string(pick(first)) + " " + pick(last);
    sheet.SetCell(r, 1, std::to_string(r - 1));
    sheet.SetCell(r, 2, name);
    sheet.SetCell(r, 3, std::string(pick(last)) + " GmbH & Co. KG");
    sheet.SetCell(r, 4, "user" + std::to_string(r) + "@example.com");
    sheet.SetCell(r, 5, pick(cities));
    std::snprintf(buf, sizeof buf, "%.2f", static_cast<double>(rng() % 25'500'000) / 100 - 5000);
    sheet.SetCell(r, 6, buf);
    sheet.SetCell(r, 7, std::to_string(rng() % 200 * 500));
    std::snprintf(buf, sizeof buf, "%04u-%02u-%02u", 1995 + rng() % 30, 1 + rng() % 12, 1 + rng() % 28);
    sheet.SetCell(r, 8, buf);
    std::snprintf(buf, sizeof buf, "%04u-%02u-%02uT%02u:%02u:00", 2015 + rng() % 10, 1 + rng() % 12,
                  1 + rng() % 28, rng() % 24, rng() % 60);
    sheet.SetCell(r, 9, buf);
    std::string notes;
    for (unsigned n = rng() % 13; n > 0; --n) notes += std::string(notes.empty() ? "" : " ") + pick(words);
    sheet.SetCell(r, 10, notes);
  }
}

// The longest gap between the ticks of a timer that asks for one every millisecond.
class StallMeter {
 public:
  StallMeter() {
    timer_.setInterval(1);
    QObject::connect(&timer_, &QTimer::timeout, [this] {
      worst_ = std::max(worst_, clock_.restart());
    });
  }
  void Start() {
    worst_ = 0;
    clock_.start();
    timer_.start();
  }
  qint64 Stop() {
    timer_.stop();
    return std::max(worst_, clock_.elapsed());
  }

 private:
  QTimer timer_;
  QElapsedTimer clock_;
  qint64 worst_ = 0;
};

}  // namespace

int main(int argc, char** argv) {
  int rows = 293'134;  // the field names and W1's 293,133 records
  for (int i = 1; i + 1 < argc; ++i) {
    if (std::string(argv[i]) == "--rows") rows = std::max(2, std::atoi(argv[++i]));
  }
  std::setvbuf(stdout, nullptr, _IOLBF, 0);
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication qapp(argc, argv);
  xlwindow::InstallWorkbookWindows(std::make_shared<NoPrompts>(), [](const QString&) { return true; });
  auto app = xl::Application::Create();
  app->SetVisible(true);
  xl::Workbook& wb = app->AddWorkbook();
  QElapsedTimer fill;
  fill.start();
  Fill(wb.Sheet(1), rows);
  wb.Sheet(3).SetCell(2, 2, "on the last sheet");  // B2: the search ends off A1
  std::printf("sheet of %d rows x 10 columns (%zu cells) filled in %.2f s\n", rows,
              wb.Sheet(1).CellCount(), fill.elapsed() / 1000.0);

  QMainWindow* w = nullptr;
  for (QWidget* top : QApplication::topLevelWidgets()) {
    if (top->objectName() == "WorkbookWindow") w = qobject_cast<QMainWindow*>(top);
  }
  if (!w) return 1;
  QElapsedTimer settle;
  settle.start();
  while (settle.elapsed() < 500) QCoreApplication::processEvents();
  auto* field = w->findChild<QLineEdit*>("FindText");
  auto* status = w->findChild<QLabel*>("FindStatus");
  StallMeter stalls;

  std::printf("\n%-44s %9s %12s  %s\n", "search (from A1, whole workbook)", "seconds",
              "worst stall", "answer");
  const struct {
    const char* what;
    const char* text;
  } searches[] = {
      {"no match, ASCII text", "no such text"},
      {"no match, text beyond ASCII", "Ørsted"},
      {"match on the last sheet", "on the last"},
  };
  for (const auto& s : searches) {
    w->findChild<QAction*>("Find")->trigger();
    w->findChild<QTableView*>("Grid")->setCurrentIndex(
        w->findChild<QTableView*>("Grid")->model()->index(0, 0));
    field->clear();
    QElapsedTimer t;
    stalls.Start();
    t.start();
    field->setText(QString::fromUtf8(s.text));
    while (status->text().startsWith("Searching") || status->text().isEmpty()) {
      if (status->text().isEmpty() && w->findChild<QLineEdit*>("CellAddress")->text() != "A1") break;
      QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
    }
    const double secs = t.elapsed() / 1000.0;
    const qint64 worst = stalls.Stop();
    const QString answer = status->text().isEmpty()
                               ? "found at " + w->findChild<QLineEdit*>("CellAddress")->text()
                               : status->text();
    std::printf("%-44s %9.2f %9lld ms  %s\n", s.what, secs, static_cast<long long>(worst),
                qPrintable(answer));
  }

  std::printf("\n%-44s %9s  %s\n", "copy", "seconds", "status line");
  w->findChild<xlwindow::SheetTabs*>("Sheets")->setCurrentIndex(0);  // back to the big sheet
  auto* grid = w->findChild<QTableView*>("Grid");
  grid->setFocus();
  const struct {
    const char* what;
    int rows;
  } copies[] = {{"10,000 rows x 10 columns", 10'000}, {"50,000 rows x 10 columns (the cap)", 50'000},
                {"the whole sheet (Select All)", 0}};
  for (const auto& c : copies) {
    QElapsedTimer t;
    t.start();
    if (c.rows) {
      grid->selectionModel()->select(
          QItemSelection(grid->model()->index(0, 0), grid->model()->index(c.rows - 1, 9)),
          QItemSelectionModel::ClearAndSelect);
    } else {
      w->findChild<QAction*>("SelectAll")->trigger();
    }
    w->findChild<QAction*>("Copy")->trigger();
    const double secs = t.elapsed() / 1000.0;
    std::printf("%-44s %9.2f  %s\n", c.what, secs, qPrintable(w->statusBar()->currentMessage()));
  }

  std::printf("\n%-44s %9s  %s\n", "key", "seconds", "went to");
  const struct {
    const char* what;
    Qt::Key key;
    Qt::KeyboardModifiers mods;
    const char* action = nullptr;  // a window command rather than a key of the grid
  } keys[] = {
      {"Ctrl+Home", Qt::Key_Home, Qt::ControlModifier},
      {"Ctrl+Down (to the end of the ID column)", Qt::Key_Down, Qt::ControlModifier},
      {"Ctrl+Right (the table's last column)", Qt::Key_Right, Qt::ControlModifier},
      {"Ctrl+Right (past the table: the grid's edge)", Qt::Key_Right, Qt::ControlModifier},
      {"Ctrl+Up (an empty column, to row 1)", Qt::Key_Up, Qt::ControlModifier},
      {"Ctrl+Shift+Down (selects the empty column)", Qt::Key_Down,
       Qt::ControlModifier | Qt::ShiftModifier},
      {"Ctrl+End", Qt::Key_End, Qt::ControlModifier},
      {"Ctrl+PgDn (to an empty sheet)", Qt::Key_PageDown, Qt::ControlModifier, "NextSheet"},
      {"Ctrl+PgUp (back, widths and place restored)", Qt::Key_PageUp, Qt::ControlModifier,
       "PreviousSheet"},
  };
  auto* address = w->findChild<QLineEdit*>("CellAddress");
  grid->clearSelection();
  for (const auto& k : keys) {
    QElapsedTimer t;
    t.start();
    if (k.action) {
      w->findChild<QAction*>(k.action)->trigger();
    } else {
      QKeyEvent press(QEvent::KeyPress, k.key, k.mods);
      QApplication::sendEvent(grid, &press);
    }
    QCoreApplication::processEvents();
    std::printf("%-44s %9.3f  %s\n", k.what, t.elapsed() / 1000.0, qPrintable(address->text()));
  }

  // Scrolling the big sheet as a user holding a key does: every press drawn before the next.
  // With --rows 1048576 the sheet is full and Ctrl+End goes to its last row.
  std::printf("\n%-44s %9s %12s  %s\n", "scrolling the first sheet", "presses", "worst press",
              "went to");
  w->findChild<xlwindow::SheetTabs*>("Sheets")->setCurrentIndex(0);
  grid->setFocus();
  grid->clearSelection();
  const auto press = [&](Qt::Key key, Qt::KeyboardModifiers mods, int times) {
    qint64 worst = 0;
    for (int i = 0; i < times; ++i) {
      QElapsedTimer t;
      t.start();
      QKeyEvent e(QEvent::KeyPress, key, mods, QString(), /*autorep=*/times > 1);
      QApplication::sendEvent(grid, &e);
      grid->viewport()->repaint();
      QCoreApplication::processEvents();
      worst = std::max(worst, t.nsecsElapsed());
    }
    return worst;
  };
  const struct {
    const char* what;
    Qt::Key key;
    Qt::KeyboardModifiers mods;
    int times;
  } scrolls[] = {
      {"Ctrl+Home", Qt::Key_Home, Qt::ControlModifier, 1},
      {"PageDown held", Qt::Key_PageDown, Qt::NoModifier, 2000},
      {"Ctrl+End", Qt::Key_End, Qt::ControlModifier, 1},
      {"PageUp held (from the end)", Qt::Key_PageUp, Qt::NoModifier, 2000},
      {"Ctrl+Home", Qt::Key_Home, Qt::ControlModifier, 1},
  };
  for (const auto& sc : scrolls) {
    const qint64 worst = press(sc.key, sc.mods, sc.times);
    std::printf("%-44s %9d %9.1f ms  %s\n", sc.what, sc.times, worst / 1e6,
                qPrintable(address->text()));
  }
  return 0;
}
