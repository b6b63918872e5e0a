#include "importrun/ImportRun.h"

#include <exception>
#include <filesystem>
#include <new>
#include <optional>

#include "importrun/RunningCheck.h"
#include "office/Error.h"
#include "office/StageTimes.h"
#include "office/db/DatabaseApplication.h"
#include "staging/Access1.h"

namespace palomet {

namespace {

constexpr const char* kWorkbookWindowClosed =
    "The workbook window was closed before the import was finished.";

// The staging password: the staging database has none.
const std::string kNoPassword;

// Hands out a streamed table's rows to WriteRows.
class StreamedRows : public RowSource {
 public:
  StreamedRows(const std::string& table, StagingReader& database) : reader_(table, database) {}
  const RowString* Next() override { return reader_.Next(row_) ? &row_ : nullptr; }

 private:
  TableRowReader reader_;
  RowString row_;
};

// Hands on a source's rows, adding the time spent getting them to the stage "table reads".
class TimedRows : public RowSource {
 public:
  explicit TimedRows(RowSource& inner) : inner_(inner) {}
  ~TimedRows() override { stagetimes::Add("table reads", seconds_); }
  TimedRows(const TimedRows&) = delete;
  TimedRows& operator=(const TimedRows&) = delete;
  const RowString* Next() override {
    const auto start = stagetimes::Clock::now();
    const RowString* row = inner_.Next();
    seconds_ += stagetimes::Since(start);
    return row;
  }

 private:
  RowSource& inner_;
  double seconds_ = 0;
};

// Hands on a source's rows, reporting the count now and then and giving the front end
// its chance to stop the run.
class WatchedRows : public RowSource {
 public:
  WatchedRows(RowSource& inner, const std::string& table, const RunProgress& progress)
      : inner_(inner), table_(table), progress_(progress) {}
  const RowString* Next() override {
    if (progress_.check && count_ % kCheckEvery == 0) progress_.check();
    const RowString* row = inner_.Next();
    if (row) {
      ++count_;
      if (progress_.rows && count_ % kReportEvery == 0) progress_.rows(table_, count_);
    } else if (!done_) {
      done_ = true;
      if (progress_.rows) progress_.rows(table_, count_);
    }
    return row;
  }

 private:
  static constexpr std::int64_t kCheckEvery = 256;
  static constexpr std::int64_t kReportEvery = 10'000;
  RowSource& inner_;
  const std::string& table_;
  const RunProgress& progress_;
  std::int64_t count_ = 0;
  bool done_ = false;
};

// Sets the pointer back and shows `description` in a warning box, unless the window is
// gone.
void ShowRunError(ImportWindow& window, const std::string& description) {
  if (window.Host().Closed()) return;
  window.Host().SetMousePointer(pointer::kDefault);
  window.Boxes().Show(description, MsgButtons::Ok, MsgIcon::Warning);
}

}  // namespace

std::string StagingDatabasePath(const std::string& programFolder) {
  return programFolder + "/temp.mdb";
}

bool IsFileFault(const Error& error) {
  return error.Number() == errnum::kXmlImport;
}

void StageFiles(const std::string& stagingPath, const std::vector<std::string>& paths,
                MessageBoxes& boxes, const RunProgress& progress, const FileLeftOut& leaveOut) {
  ResetStagingDatabase(stagingPath, kNoPassword, boxes);
  DatabaseApplication access;
  access.SetVisible(true);
  access.OpenCurrentDatabase(stagingPath);
  const int count = static_cast<int>(paths.size());
  for (int i = 0; i < count; ++i) {
    const std::string& path = paths[static_cast<std::size_t>(i)];
    if (progress.file) progress.file(i + 1, count, path);
    try {
      // A pipe or a device would block the import (which reads a file twice) for good,
      // with the window not answering meanwhile.
      std::error_code ec;
      const auto st = std::filesystem::status(path, ec);
      if (!ec && std::filesystem::exists(st) && !std::filesystem::is_regular_file(st) &&
          !std::filesystem::is_directory(st)) {
        throw Error(errnum::kXmlImport,
                    "'" + path + "' is not a regular file and cannot be imported.");
      }
      access.ImportXml(path);
    } catch (const Error& e) {
      if (!leaveOut || !IsFileFault(e)) throw;
      leaveOut(path, e);
    }
  }
  access.Quit();
}

std::vector<std::string> StagedTableNames(const std::string& stagingPath, MessageBoxes& boxes) {
  auto names = GetTableNames(stagingPath, kNoPassword, boxes);
  if (!names) {
    throw Error(errnum::kTypeMismatch,
                "The tables of the staging database '" + stagingPath + "' could not be listed.");
  }
  return std::move(*names);
}

void CopyTables(WorkbookAssembly& workbook, const std::vector<std::string>& names,
                const std::string& stagingPath, WindowHost& host, TableReading reading,
                const std::function<void(double)>& setProgress, const RunProgress& progress) {
  const int count = static_cast<int>(names.size());
  // One connection for every table, opened at the first one copied.
  std::optional<StagingReader> database;
  for (int t = 0; t < count; ++t) {
    const std::string& name = names[static_cast<std::size_t>(t)];
    if (setProgress) setProgress(static_cast<double>(t + 1) / count * 100.0);
    // Our import writes no error tables of its own (a failing file fails whole), so every
    // staged table is the user's data, whatever its name.
    if (progress.table) progress.table(t, count, name);
    {
      stagetimes::Timer timer("sheet preparation");
      workbook.PrepareSheet(name);
    }
    const auto write = [&](RowSource& rows) {
      stagetimes::Timer timer("table reads + cell writes");
      if (stagetimes::Enabled()) {
        TimedRows timed(rows);
        if (!progress.rows && !progress.check) return workbook.WriteRows(name, timed, host);
        WatchedRows watched(timed, name, progress);
        return workbook.WriteRows(name, watched, host);
      }
      if (!progress.rows && !progress.check) return workbook.WriteRows(name, rows, host);
      WatchedRows watched(rows, name, progress);
      workbook.WriteRows(name, watched, host);
    };
    if (reading == TableReading::WholeTable) {
      const std::vector<RowString> rows = [&] {
        stagetimes::Timer timer("table reads (whole table)");
        if (!database) database.emplace(stagingPath, kNoPassword);
        return ReadTableRows(name, *database);
      }();
      VectorRowSource source(rows);
      write(source);
    } else {
      std::optional<StreamedRows> source;
      {
        stagetimes::Timer timer("table opening");
        if (!database) database.emplace(stagingPath, kNoPassword);
        source.emplace(name, *database);
      }
      write(*source);
    }
  }
  workbook.AddLongTexts(host);
}

ImportRun::ImportRun(ImportWindow& window, std::string programFolder)
    : ImportRun(window,
                [folder = std::move(programFolder)] { return StagingDatabasePath(folder); }) {}

ImportRun::ImportRun(ImportWindow& window, std::function<std::string()> stagingDatabase)
    : window_(window), stagingDatabase_(std::move(stagingDatabase)) {}

void ImportRun::Start() {
  // The run yields to window events while it writes cells; a click on "Start Importing"
  // served there must not start a run inside the run.
  if (running_) return;
  running_ = true;
  struct Reset {
    bool& flag;
    ~Reset() { flag = false; }
  } reset{running_};

  // Read once: a change of the option during the run is stored for the next one but does
  // not move this run's rows.
  const bool multipleSheets = window_.MultipleSheets();
  try {
    Run(multipleSheets);
  } catch (const RunAborted&) {
    // The main window was closed: the program's part ends here, silently.
  } catch (const Error& e) {
    ShowRunError(window_, e.Description());
  } catch (const std::bad_alloc&) {
    ShowRunError(window_, "Out of memory.");
  } catch (const std::exception& e) {
    ShowRunError(window_, e.what());
  }
}

void ImportRun::Run(bool multipleSheets) {
  WindowHost& host = window_.Host();
  MessageBoxes& boxes = window_.Boxes();
  host.SetMousePointer(pointer::kBusy);

  if (StopForRunningExcel(boxes)) {
    host.SetMousePointer(pointer::kDefault);
    return;
  }
  const FileList& files = window_.Files();
  if (files.Count() == 0) {
    boxes.Show("No files added.", MsgButtons::Ok, MsgIcon::None);
    host.SetMousePointer(pointer::kDefault);
    return;
  }

  const std::string staging = stagingDatabase_();
  std::vector<std::string> paths;
  const int count = files.Count();
  paths.reserve(static_cast<std::size_t>(count));
  for (int i = 1; i <= count; ++i) paths.push_back(files.Text(i));
  StageFiles(staging, paths, boxes);

  auto workbook = WorkbookAssembly::StartWorkbook(multipleSheets ? SheetMode::MultipleSheets
                                                                 : SheetMode::OneSheet);
  window_.ShowInFront();

  // The user may close the workbook's window while the run yields; writing on into a
  // workbook nobody can see and then saying "Done." would report a loss as success.
  RunProgress watch;
  if (const xl::Application& app = workbook->Application(); app.View()) {
    watch.check = [&app] {
      if (!app.View()) throw Error(errnum::kSpreadsheet, kWorkbookWindowClosed);
    };
  }
  const std::vector<std::string> names = StagedTableNames(staging, boxes);
  CopyTables(
      *workbook, names, staging, host, TableReading::WholeTable,
      [this](double percent) { window_.SetProgress(percent); }, watch);
  workbook->RemoveDefaultSheets();
  if (watch.check) watch.check();

  boxes.Show("Done.", MsgButtons::Ok, MsgIcon::None);
  if (host.Closed()) return;
  window_.SetProgress(0);
  host.SetMousePointer(pointer::kDefault);
}

}  // namespace palomet
