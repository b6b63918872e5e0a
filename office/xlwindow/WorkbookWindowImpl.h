#pragma once

#include <QKeySequence>
#include <QMainWindow>
#include <QPointer>
#include <QRect>
#include <functional>
#include <memory>
#include <optional>

#include "office/xl/Excel.h"
#include "office/xlwindow/WorkbookWindow.h"

class QAction;
class QLabel;
class QMenu;

namespace palomet::xlwindow {

class CellLine;
class FindBar;
class GridCommands;
class SheetTabs;
class WorkbookSaver;

// The window of one application, titled with its workbook's name ("Book1", or the file's
// once saved): the current cell's address and whole value above the grid (CellLine), the
// active workbook's sheets as tabs over one grid (SheetTabs), the find bar below them
// (FindBar), the grid's keys and edit commands (GridCommands) and saving (WorkbookSaver).
// Object names for tests: "WorkbookWindow", "StatusNote" (the application's status bar
// text in the status line); actions "Save", "SaveAs", "OpenInSpreadsheet", "Copy",
// "SelectAll", "Find", "FindNext", "GoTo", "NextSheet", "PreviousSheet", "ListSheets".
class WorkbookWindow : public QMainWindow, public xl::ApplicationView {
  Q_OBJECT
 public:
  // `anchor`: the window whose screen this one first opens on (see Place); may be null.
  WorkbookWindow(std::shared_ptr<xl::Application> app, std::shared_ptr<WindowPrompts> prompts,
                 FileOpener opener, QWidget* anchor = nullptr);
  ~WorkbookWindow() override;

  void Show() override;
  void Hide() override;
  void StructureChanged() override;
  void StatusBarChanged() override;

  // The commands, reachable for tests as well as through the actions.
  bool Save();
  bool SaveAs();
  // A save that takes longer than this shows the busy pointer and its progress (tests set 0).
  void SetSaveFeedbackDelay(int ms);

 protected:
  void closeEvent(QCloseEvent* event) override;
  // Watches the window system's window until it has framed it (see Place).
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  // A command of `menu` with `keys`, working wherever the focus is in the window.
  QAction* AddCommand(QMenu* menu, const QString& text, const char* name,
                      const QList<QKeySequence>& keys, const std::function<void()>& run);
  void MakeMenus();
  // Sizes and places the window before it first shows: wholly on the anchor's screen,
  // cascaded from the last workbook window opened there, else in the screen's middle. The
  // frame is taken to be the one the window system gave that window or the anchor; once it
  // has framed this one, a window it leaves partly off the screen is moved and sized in.
  void Place();
  void KeepOnScreen();
  void UpdateTitle();
  // The current cell of the grid in the value line and address box.
  void ShowCell();
  // Goes to a cell or range typed in the address box, or to the place a link holds; says in
  // the status line when there is no such place.
  void GoToPlace(const QString& reference, bool typed);
  // A place was reached: what the status line said of a place not found no longer holds.
  void PlaceReached();

  std::shared_ptr<xl::Application> app_;
  CellLine* cellLine_;
  SheetTabs* tabs_;
  FindBar* findBar_;
  GridCommands* commands_;
  WorkbookSaver* saver_;
  QPointer<QWidget> anchor_;
  bool placed_ = false;
  QLabel* note_;       // the application's status bar text
  QString placeNote_;  // the status line's message of a place not found, while it shows
};

// Where a new window goes, as its frame's rectangle: on `screen` (the available area), as
// big as `wanted` but no bigger than the area; one `step` down and right from `last` (the
// frame of the last window opened, when there is one on that screen), back at the area's top
// left when that would run off it, else in the middle of the area.
QRect NewWindowFrame(const QRect& screen, const QSize& wanted, const std::optional<QRect>& last,
                     int step);

}  // namespace palomet::xlwindow
