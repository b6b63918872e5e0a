#pragma once

// The import, the same for the window and the command line: stage the files, start the
// workbook, list the staged tables, copy them, remove the default sheets. A front end says
// what to import (ImportRequest) and how to hear of it (ImportHooks); what happens to the
// workbook then (shown to the user, saved to a file) and how failures are told (message
// boxes, exit statuses) is the front end's.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "filelist/WindowHost.h"
#include "importrun/WorkbookAssembly.h"
#include "office/Error.h"
#include "office/MessageBoxes.h"

namespace palomet {

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
// `combineTables` has tables of the same name from all files combined into one (see
// DatabaseApplication::CombineTables).
void StageFiles(const std::string& stagingPath, const std::vector<std::string>& paths,
                MessageBoxes& boxes, const RunProgress& progress = {},
                const FileLeftOut& leaveOut = {}, bool combineTables = false);

// The staged tables, in the catalogue's order. Raises Error naming the staging database
// when the catalogue could not list it (after any message the catalogue itself showed).
std::vector<std::string> StagedTableNames(const std::string& stagingPath, MessageBoxes& boxes);

// How a table's rows reach the workbook.
enum class TableReading {
  WholeTable,  // read the whole table, then write it
  Streaming,   // a row at a time, memory flat whatever the table's size (window and command line)
};

// Copies every table `names` of the staging database into the workbook in their order,
// whatever its name: before each, `setProgress` gets (t + 1) / count × 100; then the table
// gets PrepareSheet, its rows, and WriteRows; values cut to fit their cells then go whole
// onto the sheet that AddLongTexts adds, which also tells the status bar the Notes(). Raises what the layers raise, and RunAborted when
// the window was closed during a yield.
void CopyTables(WorkbookAssembly& workbook, const std::vector<std::string>& names,
                const std::string& stagingPath, WindowHost& host, TableReading reading,
                const std::function<void(double)>& setProgress, const RunProgress& progress = {});

// What to import, and how.
struct ImportRequest {
  std::vector<std::string> files;  // in import order; a path given twice is imported twice
  SheetMode mode = SheetMode::OneSheet;
  std::string stagingPath;  // the staging database, emptied first
  bool combineTables = false;  // one table per name from all files, with a column of the file
  TableReading reading = TableReading::WholeTable;
  WorkbookTarget target;
};

// How a front end takes part in a run; every member but `host` and `boxes` is optional.
struct ImportHooks {
  WindowHost* host = nullptr;               // yields while cells are written; closing ends the run
  MessageBoxes* boxes = nullptr;            // messages the staging layer shows
  RunProgress progress;                     // files, tables, rows, and checks that may end the run
  std::function<void(double)> setProgress;  // the bar: (t + 1) / count x 100 before table t
  FileLeftOut leaveOut;                     // with it, a file's own fault leaves the file out
  // The new workbook exists; the staged tables are not listed yet.
  std::function<void(WorkbookAssembly&)> workbookStarted;
};

// Runs the import of `request` and returns the finished workbook, or nullptr when
// `hooks.leaveOut` left out every file (nothing was written). Raises Error from every layer,
// and RunAborted when the host's window was closed during a yield.
std::unique_ptr<WorkbookAssembly> RunImportPipeline(const ImportRequest& request,
                                                    const ImportHooks& hooks);

}  // namespace palomet
