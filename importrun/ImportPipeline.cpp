#include "importrun/ImportPipeline.h"

#include <optional>

#include "office/Files.h"
#include "office/KillPoint.h"
#include "office/StageTimes.h"
#include "office/db/DatabaseApplication.h"
#include "staging/Access1.h"

namespace palomet {

namespace {

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

}  // namespace

bool IsFileFault(const Error& error) {
  return error.Number() == errnum::kXmlImport;
}

void StageFiles(const std::string& stagingPath, const std::vector<std::string>& paths,
                MessageBoxes& boxes, const RunProgress& progress, const FileLeftOut& leaveOut,
                bool combineTables) {
  ResetStagingDatabase(stagingPath, kNoPassword, boxes);
  DatabaseApplication access;
  access.SetVisible(true);
  access.CombineTables(combineTables);
  // The run holds the staging database for itself until it has read it back.
  access.OpenCurrentDatabase(stagingPath, true);
  const int count = static_cast<int>(paths.size());
  for (int i = 0; i < count; ++i) {
    const std::string& path = paths[static_cast<std::size_t>(i)];
    if (progress.file) progress.file(i + 1, count, path);
    try {
      // A pipe or a device would block the import (which reads a file twice) for good,
      // with the window not answering meanwhile.
      std::error_code ec;
      if (KindOfPath(path, ec) == PathKind::Other) {
        throw Error(errnum::kXmlImport,
                    "'" + path + "' is not a regular file and cannot be imported.");
      }
      access.ImportXml(path);
      KillPoint("file-staged");
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
    throw Error(errnum::kTablesNotListed,
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

std::unique_ptr<WorkbookAssembly> RunImportPipeline(const ImportRequest& request,
                                                    const ImportHooks& hooks) {
  // The staging database is this run's from its reset to the last table read.
  std::optional<StagingLock> held(std::in_place, request.stagingPath);
  int leftOut = 0;
  try {
    stagetimes::Timer timer("staging (parse, inserts)");
    FileLeftOut leaveOut;
    if (hooks.leaveOut) {
      leaveOut = [&](const std::string& path, const Error& e) {
        ++leftOut;
        hooks.leaveOut(path, e);
      };
    }
    StageFiles(request.stagingPath, request.files, *hooks.boxes, hooks.progress, leaveOut,
               request.combineTables);
  } catch (const Error& e) {
    // A staging database that could not take the data (a full disk, most often) gives its
    // room back before the run reports: what it holds is of no use without the rest.
    if (e.Number() == errnum::kDatabaseWrite) {
      try {
        EmptyStagingDatabase(request.stagingPath);
      } catch (const Error&) {
      }
    }
    throw;
  }
  if (leftOut == static_cast<int>(request.files.size())) return nullptr;

  auto workbook = WorkbookAssembly::StartWorkbook(request.mode, request.target);
  if (hooks.workbookStarted) hooks.workbookStarted(*workbook);
  const std::vector<std::string> names = [&] {
    stagetimes::Timer timer("table names");
    return StagedTableNames(request.stagingPath, *hooks.boxes);
  }();
  CopyTables(*workbook, names, request.stagingPath, *hooks.host, request.reading, hooks.setProgress,
             hooks.progress);
  held.reset();
  workbook->RemoveDefaultSheets();
  return workbook;
}

}  // namespace palomet
