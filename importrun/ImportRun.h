#pragma once

// The "Start Importing" command, free of widgets: what the window adds to the import
// pipeline it shares with the command line (ImportPipeline.h).

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "filelist/FileList.h"
#include "filelist/WindowHost.h"
#include "importrun/ImportPipeline.h"
#include "importrun/WorkbookAssembly.h"
#include "office/Error.h"
#include "office/MessageBoxes.h"

namespace palomet {

// What the import run needs of the main window. Form1 implements it.
class ImportWindow {
 public:
  virtual ~ImportWindow() = default;
  // Pointer, serving pending events, and whether the window has been closed.
  virtual WindowHost& Host() = 0;
  virtual MessageBoxes& Boxes() = 0;
  virtual const FileList& Files() const = 0;
  // The state of "Send XML file(s) to multiple sheets".
  virtual bool MultipleSheets() const = 0;
  // The state of "Combine tables of the same name from all files".
  virtual bool CombineTables() const { return false; }
  // The progress bar's value, 0 to 100, unrounded.
  virtual void SetProgress(double percent) = 0;
  // Shows the main window again in front of the new workbook window.
  virtual void ShowInFront() = 0;
};

// The staging database in a program folder.
std::string StagingDatabasePath(const std::string& programFolder);

// The "Start Importing" command of one main window.
class ImportRun {
 public:
  // `programFolder` holds the staging database temp.mdb.
  ImportRun(ImportWindow& window, std::string programFolder);
  // The staging database is the path `stagingDatabase` gives, asked afresh at every run
  // once the list is known not to be empty; what it raises ends the run as any error does.
  ImportRun(ImportWindow& window, std::function<std::string()> stagingDatabase);

  // Runs the command: the busy pointer, the running-spreadsheet question, "No files
  // added." for an empty list, the staging of every listed file, a new visible workbook,
  // every staged table copied in the sheet mode read once at the start, the default sheets
  // removed, "Done.", and the bar and the pointer back to 0. Any error ends the run with
  // the default pointer and its description in a warning box; the bar keeps its value.
  // A call while a run is under way (from the run's own yields) is ignored; when the
  // window is closed during the run, the run ends at once and shows nothing more; when the
  // workbook's window is closed during the run, the run ends with a warning, not "Done.".
  // A run that fails once its workbook is shown says in the workbook's status line that the
  // workbook is incomplete.
  void Start();

  bool Running() const { return running_; }

 private:
  void Run(bool multipleSheets, bool combineTables);

  ImportWindow& window_;
  std::function<std::string()> stagingDatabase_;
  bool running_ = false;
  std::weak_ptr<xl::Application> started_;  // the workbook of the run under way, once begun
};

}  // namespace palomet
