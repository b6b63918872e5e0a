#pragma once

// The "Start Importing" command, free of widgets, and the steps it shares with the
// command line: staging the listed files, then copying the staged tables into a workbook.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "filelist/FileList.h"
#include "filelist/WindowHost.h"
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
  // The progress bar's value, 0 to 100, unrounded.
  virtual void SetProgress(double percent) = 0;
  // Shows the main window again in front of the new workbook window.
  virtual void ShowInFront() = 0;
};

// The staging database in a program folder.
std::string StagingDatabasePath(const std::string& programFolder);

// Reports a run's progress to a front end and lets it stop the run; every call is optional.
struct RunProgress {
  // Before file `index` (1-based) of `count` is imported.
  std::function<void(int index, int count, const std::string& path)> file;
  // Before table `index` (0-based) of the catalogue's `count` is copied.
  std::function<void(int index, int count, const std::string& name)> table;
  // Now and then while a table's rows are written: rows written so far.
  std::function<void(const std::string& name, std::int64_t rows)> rows;
  // Before a table's first row and every few hundred rows after; throws to end the run.
  std::function<void()> check;
};

// Called for a file left out of the staging: its path and why it could not be imported.
using FileLeftOut = std::function<void(const std::string& path, const Error& error)>;

// Whether `error` is a fault of the one file being imported (not well-formed, unreadable,
// past a limit of the import), which leaves every other file importable.
bool IsFileFault(const Error& error);

// Empties the staging database at `stagingPath` and has the database application import
// every path, in order (a path given twice is imported twice). Raises Error from the
// staging layer and the import; the database application is released either way. With
// `leaveOut`, a file that fails through a fault of its own is left out instead (its import
// has rolled back whole), `leaveOut` is told, and staging goes on with the next file.
void StageFiles(const std::string& stagingPath, const std::vector<std::string>& paths,
                MessageBoxes& boxes, const RunProgress& progress = {},
                const FileLeftOut& leaveOut = {});

// The staged tables, in the catalogue's order. Raises Error naming the staging database
// when the catalogue could not list it (after any message the catalogue itself showed).
std::vector<std::string> StagedTableNames(const std::string& stagingPath, MessageBoxes& boxes);

// How a table's rows reach the workbook.
enum class TableReading {
  WholeTable,  // read the whole table, then write it (the window's run)
  Streaming,   // a row at a time, memory flat whatever the table's size (command line)
};

// Copies every table `names` of the staging database into the workbook in their order,
// whatever its name: before each, `setProgress` gets (t + 1) / count × 100; then the table
// gets PrepareSheet, its rows, and WriteRows; values cut to fit their cells then go whole
// onto the sheet that AddLongTexts adds. Raises what the layers raise, and RunAborted when
// the window was closed during a yield.
void CopyTables(WorkbookAssembly& workbook, const std::vector<std::string>& names,
                const std::string& stagingPath, WindowHost& host, TableReading reading,
                const std::function<void(double)>& setProgress, const RunProgress& progress = {});

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
  void Start();

  bool Running() const { return running_; }

 private:
  void Run(bool multipleSheets);

  ImportWindow& window_;
  std::function<std::string()> stagingDatabase_;
  bool running_ = false;
};

}  // namespace palomet
