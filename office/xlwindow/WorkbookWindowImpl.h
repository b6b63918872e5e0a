#pragma once

#include <QMainWindow>
#include <QTimer>
#include <map>
#include <memory>

#include "office/xl/Excel.h"
#include "office/xlwindow/WorkbookWindow.h"

class QTabWidget;
class QTableView;

namespace palomet::xlwindow {

class SheetModel;

// The window of one application: the active workbook's sheets as tabs. Object names for
// tests: "WorkbookWindow", "Sheets" (the tab widget), actions "SaveAs" and
// "OpenInSpreadsheet".
class WorkbookWindow : public QMainWindow, public xl::ApplicationView {
  Q_OBJECT
 public:
  WorkbookWindow(std::shared_ptr<xl::Application> app, std::shared_ptr<WindowPrompts> prompts,
                 FileOpener opener);
  ~WorkbookWindow() override;

  void Show() override;
  void Hide() override;
  void StructureChanged() override;

  // The commands, reachable for tests as well as through the actions.
  bool SaveAs();
  void OpenInSpreadsheet();

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  void SyncTabs();
  void RefreshGrids();
  void UpdateTitle();

  std::shared_ptr<xl::Application> app_;
  std::shared_ptr<WindowPrompts> prompts_;
  FileOpener opener_;
  QTabWidget* tabs_;
  QTimer refresh_;
  const xl::Workbook* shown_ = nullptr;
  std::map<std::uint64_t, QTableView*> views_;  // by sheet id
};

}  // namespace palomet::xlwindow
