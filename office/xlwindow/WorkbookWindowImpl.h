#pragma once

#include <QKeySequence>
#include <QMainWindow>
#include <QTableView>
#include <QTimer>
#include <functional>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "office/xl/Excel.h"
#include "office/xlwindow/CellSearch.h"
#include "office/xlwindow/FrozenRows.h"
#include "office/xlwindow/WorkbookWindow.h"

class QAction;
class QCheckBox;
class QLayout;
class QMenu;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QProgressBar;
class QTabWidget;
class QTableView;

namespace palomet::xlwindow {

class SheetModel;

// The window of one application: the active workbook's sheets as tabs over one grid, which
// shows the current tab's sheet (a workbook may have thousands of sheets; a grid each would
// make every switch and every new sheet cost in proportion to them all). Above the grid, the
// current cell's address and its whole value; below the tabs, a find bar that searches every
// sheet. Object names for tests: "WorkbookWindow", "Sheets" (the tab widget), "Grid" (the
// grid), "CellAddress" and "ValueLine" (the current cell), "StatusNote" (the application's
// status bar text in the status line), "FindBar" with "FindText",
// "MatchCase", "FindNextButton" and "FindStatus"; actions "SaveAs", "OpenInSpreadsheet",
// "Copy", "SelectAll", "Find" and "FindNext".
class WorkbookWindow : public QMainWindow, public xl::ApplicationView {
  Q_OBJECT
 public:
  WorkbookWindow(std::shared_ptr<xl::Application> app, std::shared_ptr<WindowPrompts> prompts,
                 FileOpener opener);
  ~WorkbookWindow() override;

  void Show() override;
  void Hide() override;
  void StructureChanged() override;
  void StatusBarChanged() override;

  // The commands, reachable for tests as well as through the actions.
  bool SaveAs();
  void OpenInSpreadsheet();
  // Edit commands act on the text field that has the focus, else on the grid: Copy puts the
  // selected cells on the clipboard, Select All selects the whole sheet.
  void Copy();
  void SelectAll();
  // Opens the find bar with its text selected.
  void ShowFind();
  // Goes to the next cell that holds the find bar's text (opens the bar when it is closed).
  void FindNext();
  // A save that takes longer than this shows the busy pointer and its progress (tests set 0).
  void SetSaveFeedbackDelay(int ms) { feedbackDelayMs_ = ms; }

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  QLayout* MakeValueLine(QWidget* parent);
  QWidget* MakeFindBar(QWidget* parent);
  // A command of `menu` with the desktop's keys for it, reachable by its object name.
  QAction* AddCommand(QMenu* menu, const QString& text, const char* name,
                      QKeySequence::StandardKey key, const std::function<void()>& run);
  void SyncTabs();
  // Puts the grid on the current tab, showing its sheet.
  void ShowCurrent();
  // Takes the grid off every tab, showing nothing.
  void DetachGrid();
  // True when the shown workbook still has that sheet.
  bool IsLive(std::uint64_t sheetId) const;
  // Brings tabs from position `from` on in line with the workbook's sheets.
  void Rearrange(const xl::Workbook& wb, std::size_t from);
  // Gives the tab at `pos` the sheet's name when it changed.
  void Rename(std::size_t pos, const xl::Worksheet& sheet);
  void RefreshGrids();
  void UpdateTitle();
  // The current cell's address and value, above the grid.
  void UpdateValueLine();
  void FitValueLine();
  void CopySelection();
  void HideFind();
  // Begins a search at the current cell (itself included or not).
  void StartSearch(bool includeCurrent);
  // Reads a slice of cells and shows what came of it; schedules the next slice.
  void SearchSlice();
  void SetFindStatus(const QString& text);
  // Shows the cell of that sheet on the grid as the current cell.
  void GoTo(std::uint64_t sheetId, std::int64_t row, std::int64_t col);
  // Writes the active workbook (or a copy), with the busy pointer and progress in the
  // status bar once the save takes more than a moment. Throws what the save throws.
  void SaveWithFeedback(const QString& path, bool copy);
  // The shown sheet's column widths and frozen rows on the grid.
  void ShowSheetLook(const SheetModel& model);

  std::shared_ptr<xl::Application> app_;
  std::shared_ptr<WindowPrompts> prompts_;
  FileOpener opener_;
  QTabWidget* tabs_;
  QLabel* note_;  // the application's status bar text
  QTimer refresh_;
  QTimer settle_;  // gathers the changes that follow one another closely
  const xl::Workbook* shown_ = nullptr;
  struct Tab {
    std::uint64_t id;  // the sheet's
    std::string name;  // as last shown
  };
  QTableView* grid_;
  FrozenRows* frozen_;  // the grid's frozen top rows, over it
  QLineEdit* address_;
  QPlainTextEdit* value_;
  QString valueShown_;  // what value_ holds, to leave a selection in it alone when unchanged
  QWidget* findBar_;
  QLineEdit* findText_;
  QCheckBox* matchCase_;
  QLabel* findStatus_;
  CellSearch search_;
  QTimer searchSlice_;
  std::unordered_map<std::uint64_t, QWidget*> pages_;      // tab pages by sheet id
  std::unordered_map<std::uint64_t, SheetModel*> models_;  // by sheet id
  std::vector<Tab> order_;                                 // in tab order
  bool pending_ = false;                                   // changes gathered, not shown yet
  std::uint64_t shownSheet_ = 0;                           // the sheet on the grid, 0 for none
  bool syncing_ = false;                                   // tabs being brought in line
  bool saving_ = false;                                    // a save is under way
  int feedbackDelayMs_ = 300;
  QProgressBar* saveProgress_ = nullptr;  // in the status bar, made at the first long save
};

}  // namespace palomet::xlwindow
