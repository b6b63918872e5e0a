#pragma once

#include <QTimer>
#include <QWidget>
#include <cstdint>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "office/xl/Excel.h"

class QTableView;

namespace palomet::xlwindow {

class FrozenRows;
class SheetGrid;
class SheetModel;
class SheetTabBar;

// The active workbook's sheets as tabs under one grid, which shows the current tab's sheet (a
// workbook may have tens of thousands of sheets; a grid, a page or a model each would make
// every new sheet and every switch cost in proportion to them all). A sheet's model is made
// when its tab is chosen, and a few are kept; each sheet keeps its current cell and scroll
// place while another is shown. The tab follows the workbook's active sheet when that
// changes (a run adds a sheet); any other change leaves the user's tab alone. Object names
// for tests: "Sheets" (this), "SheetTabs" (the tabs), "Grid", "FrozenRows".
class SheetTabs : public QWidget {
  Q_OBJECT
 public:
  SheetTabs(xl::Application& app, QWidget* parent);
  ~SheetTabs() override;

  // The tabs, as a tab widget offers them.
  int count() const;
  int currentIndex() const;
  void setCurrentIndex(int index);
  QString tabText(int index) const;
  SheetTabBar* tabBar() const { return bar_; }

  QTableView* Grid() const;
  // The model of the sheet on the grid, or nullptr.
  SheetModel* Shown() const;
  // The id of the sheet on the grid, 0 for none.
  std::uint64_t ShownSheet() const { return shownSheet_; }
  // The sheet of the current tab, 0 for none (it may be on the grid only a moment later).
  std::uint64_t CurrentTabSheet() const;

  // Sheets were added, renamed, deleted or activated, or another workbook came.
  void StructureChanged();
  // Shows the sheet with the 0-based cell as the current cell, selected alone, or with the
  // rectangle from it to the cell at `toRow`, `toCol` selected. False when the workbook has
  // no such sheet.
  bool GoTo(std::uint64_t sheetId, int row, int col, int toRow = -1, int toCol = -1);
  // Shows the sheet `step` tabs on from the current one, stopping at the first and last.
  void StepSheet(int step);
  // Opens the list of every sheet with its bottom left corner at `corner` (global), or just
  // above the tabs' left end; the sheet chosen there is shown.
  void ListSheets(std::optional<QPoint> corner = std::nullopt);

 signals:
  // Another tab was chosen.
  void currentChanged(int index);
  // The current cell moved, or another sheet came on the grid.
  void CurrentCellChanged();
  // Cells of the shown sheet may have changed (a run writes them).
  void CellsChanged();

 private:
  struct Tab {
    std::uint64_t id;  // the sheet's
    std::string name;  // as last shown
  };
  // Where a sheet was left: its current cell and how far it was scrolled.
  struct Spot {
    int row = 0, col = 0, top = 0, left = 0;
  };

  const xl::Workbook* Book() const;
  void SyncTabs();
  // Puts the grid on the current tab, showing its sheet.
  void ShowCurrent();
  // Takes the sheet off the grid, showing nothing.
  void DetachGrid();
  // The model of the sheet `id`, made now when there is none (nullptr for no such sheet).
  SheetModel* ModelOf(std::uint64_t id);
  // The tab position of the sheet `id`, -1 for none.
  int PositionOf(std::uint64_t id) const;
  // Keeps the place of the sheet leaving the grid.
  void KeepSpot();
  // True when the shown workbook still has that sheet.
  bool IsLive(std::uint64_t sheetId) const;
  // Brings tabs from position `from` on in line with the workbook's sheets.
  void Rearrange(const xl::Workbook& wb, std::size_t from);
  // Gives the tab at `pos` the sheet's name when it changed.
  void Rename(std::size_t pos, const xl::Worksheet& sheet);
  void Refresh();
  // The shown sheet's column widths and frozen rows on the grid.
  void ShowSheetLook(const SheetModel& model);
  // A column of the grid was sized by the user: the sheet keeps its width, to be saved.
  void KeepColumnWidth(int col, int pixels);

  xl::Application& app_;
  SheetGrid* grid_;
  FrozenRows* frozen_;
  QTimer refresh_;
  QTimer settle_;  // gathers the changes that follow one another closely
  const xl::Workbook* shown_ = nullptr;
  SheetTabBar* bar_;
  // The models made for the sheets shown lately, by sheet id, and the order they were shown.
  std::unordered_map<std::uint64_t, SheetModel*> models_;
  std::vector<std::uint64_t> modelsUsed_;
  std::unordered_map<std::uint64_t, Spot> spots_;          // by sheet id, once left
  std::vector<Tab> order_;                                 // in tab order
  bool pending_ = false;                                   // changes gathered, not shown yet
  std::uint64_t shownSheet_ = 0;                           // the sheet on the grid, 0 for none
  std::uint64_t followedActive_ = 0;  // the workbook's active sheet when last followed
  bool syncing_ = false;              // tabs being brought in line
  bool showingLook_ = false;          // the grid's columns being sized to the sheet's
  mutable long liveHint_ = 1;         // where IsLive last found a sheet (1-based)
};

}  // namespace palomet::xlwindow
