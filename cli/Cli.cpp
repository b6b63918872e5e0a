#include "cli/Cli.h"

#include <dirent.h>
#include <fcntl.h>
#include <limits.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <functional>
#include <new>
#include <optional>
#include <system_error>

#include "cli/CliArgs.h"
#include "filelist/AddFolder.h"
#include "filelist/ArchiveIntake.h"
#include "filelist/FileList.h"
#include "filelist/WindowHost.h"
#include "importrun/ImportRun.h"
#include "office/ArchiveMembers.h"
#include "office/CaseFold.h"
#include "office/Error.h"
#include "office/Files.h"
#include "office/Numbers.h"
#include "office/SafeReplace.h"
#include "office/StageTimes.h"

namespace palomet {

namespace fs = std::filesystem;

namespace {

constexpr const char* kProgram = "palomet-import";

std::atomic<bool> gInterrupted{false};
static_assert(std::atomic<bool>::is_always_lock_free, "set from a signal handler");

struct Interrupted {};

// The command line's stand-in for a window: an interrupt closes it, which ends the
// writing of rows at its next yield.
class InterruptibleHost : public NoWindowHost {
 public:
  bool Closed() const override { return gInterrupted.load(); }
};

// What the window would show in a message box; the command line keeps it for its report.
class CollectedMessages : public MessageBoxes {
 public:
  MsgResult Show(const std::string& text, MsgButtons buttons, MsgIcon,
                 MsgResult defaultButton) override {
    texts.push_back(text);
    return buttons == MsgButtons::Ok ? MsgResult::Ok : defaultButton;
  }
  std::vector<std::string> texts;
};

// A message on one line: line breaks become blanks.
std::string OneLine(std::string text) {
  for (char& c : text) {
    if (c == '\r' || c == '\n') c = ' ';
  }
  return text;
}

Error FileError(const std::string& path, const std::string& what) {
  return Error(errnum::kGeneric, "'" + path + "': " + what);
}

// The private staging folders are named palomet-import-<pid>[.<n>] in $TMPDIR, and a run
// holds a lock on its own while it lives. Their paths are kept where a signal handler may
// remove them (the second Ctrl+C ends the program at once).
constexpr std::string_view kStagingPrefix = "palomet-import-";
char gStagingFolder[PATH_MAX];
char gStagingFile[PATH_MAX];
std::atomic<bool> gStagingKept{false};

// The process that made a private staging folder of this name, or 0 for another name.
pid_t StagingOwner(const std::string& name) {
  if (name.rfind(kStagingPrefix, 0) != 0) return 0;
  const std::string rest = name.substr(kStagingPrefix.size());
  const std::size_t dot = rest.find('.');
  const std::string pid = rest.substr(0, dot);
  const std::string tail = dot == std::string::npos ? "" : rest.substr(dot + 1);
  const auto digits = [](const std::string& t) {
    return !t.empty() && t.size() < 10 && std::all_of(t.begin(), t.end(), AsciiIsDigit);
  };
  if (!digits(pid) || (dot != std::string::npos && !digits(tail))) return 0;
  return static_cast<pid_t>(std::stol(pid));
}

// Removes what runs of this user that were killed left in `base`: private staging folders
// whose process is gone and which no run holds. Another user's folders and a live run's stay.
void RemoveStaleStaging(const fs::path& base) {
  // Listed with readdir: the library's iterator ends the program when memory runs out.
  std::unique_ptr<DIR, int (*)(DIR*)> listing(::opendir(base.c_str()), ::closedir);
  if (!listing) return;
  while (const dirent* entry = ::readdir(listing.get())) {
    const std::string name = entry->d_name;
    const pid_t pid = StagingOwner(name);
    if (pid <= 0 || pid == ::getpid()) continue;
    if (::kill(pid, 0) == 0 || errno != ESRCH) continue;  // alive, or not ours to ask
    const fs::path folder = base / name;
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) continue;
    struct stat st {};
    if (::fstat(fd, &st) == 0 && st.st_uid == ::geteuid() && ::flock(fd, LOCK_EX | LOCK_NB) == 0) {
      std::error_code ignored;
      fs::remove_all(folder, ignored);
    }
    ::close(fd);
  }
}

// A staging database of this run's own in a fresh temporary folder, removed with it.
class PrivateStaging {
 public:
  PrivateStaging() {
    const fs::path base = fs::temp_directory_path();
    RemoveStaleStaging(base);
    const std::string own = std::string(kStagingPrefix) + std::to_string(::getpid());
    // The staged rows are the user's data: the folder and the database are the user's alone,
    // whatever the umask, also in a $TMPDIR that others may list.
    for (int attempt = 0;; ++attempt) {
      folder_ = base / (attempt == 0 ? own : own + "." + std::to_string(attempt));
      if (::mkdir(folder_.c_str(), S_IRWXU) == 0) break;
      if (errno != EEXIST || attempt > 100) {
        throw FileError(base.string(), std::string("cannot make a temporary folder for the "
                                                   "staging database: ") +
                                           std::strerror(errno));
      }
    }
    ::chmod(folder_.c_str(), S_IRWXU);
    lock_ = ::open(folder_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (lock_ >= 0) ::flock(lock_, LOCK_EX);
    path_ = (folder_ / "temp.mdb").string();
    // An empty file is an empty database.
    const int fd = ::open(path_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, S_IRUSR | S_IWUSR);
    if (fd >= 0) ::close(fd);
    if (folder_.native().size() < sizeof gStagingFolder && path_.size() < sizeof gStagingFile) {
      std::strcpy(gStagingFolder, folder_.c_str());
      std::strcpy(gStagingFile, path_.c_str());
      gStagingKept.store(true);
    }
  }
  ~PrivateStaging() {
    gStagingKept.store(false);
    std::error_code ec;
    fs::remove_all(folder_, ec);
    if (lock_ >= 0) ::close(lock_);
  }
  PrivateStaging(const PrivateStaging&) = delete;
  PrivateStaging& operator=(const PrivateStaging&) = delete;
  const std::string& Path() const { return path_; }

 private:
  fs::path folder_;
  std::string path_;
  int lock_ = -1;
};

// The files to import, in argument order: a file as given, a folder as its tree of
// ScanPattern() files in the folder scan's order, an archive (given or found) as its XML
// files. A path that cannot serve raises, or, with `leaveOut`, is passed to it and left out.
std::vector<std::string> CollectFiles(const std::vector<std::string>& args,
                                      const std::function<void(const Error&)>& leaveOut) {
  PlainFileList list;
  NoWindowHost host;
  for (const std::string& arg : args) {
    std::error_code ec;
    const PathKind kind = KindOfPath(arg, ec);
    std::optional<Error> problem;
    std::string archive, member;
    if (kind == PathKind::Missing && SplitAtArchive(arg, archive, member)) {
      list.Add(arg);  // a member of an archive, named as the list names it
      continue;
    }
    // Memory running out is no fault of the path's: it ends the run.
    if (ec == std::errc::not_enough_memory) throw std::bad_alloc();
    if (kind == PathKind::Missing) {
      problem = FileError(arg, ec && ec != std::errc::no_such_file_or_directory
                                   ? ec.message()
                                   : "no such file or folder");
    } else if (kind == PathKind::Other) {
      // The import reads a file twice (once to learn its shape), so a pipe or a device
      // cannot serve; such a path fails here rather than hanging or half-reading.
      problem = FileError(arg, "is neither a regular file nor a folder");
    }
    if (problem) {
      if (!leaveOut) throw *problem;
      leaveOut(*problem);
      continue;
    }
    if (kind == PathKind::Folder) {
      std::string folder = arg;
      while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
      AddFolderTree(folder, ScanPattern(), false, list, host, true);
    } else {
      AddFileOrArchive(arg, list, host);
    }
  }
  return list.Texts();
}

// Refuses an output that cannot be written before any work is done. An output that is a
// symbolic link stands for the file it points to.
void CheckOutput(const std::string& given) {
  std::error_code ec;
  if (fs::is_directory(given, ec)) throw FileError(given, "is a folder");
  const std::string output = FollowLinks(given);
  fs::path parent = fs::path(output).parent_path();
  if (parent.empty()) parent = ".";
  if (!fs::is_directory(parent, ec)) {
    throw FileError(given, "the folder '" + parent.string() + "' does not exist");
  }
  // The workbook is made in the output's folder and takes the output's place there, so the
  // folder itself must take new files.
  if (::faccessat(AT_FDCWD, parent.c_str(), W_OK | X_OK, AT_EACCESS) != 0) {
    throw FileError(given, "the folder '" + parent.string() + "' cannot be written (" +
                               std::strerror(errno) + ")");
  }
  if (fs::exists(output, ec) && ::faccessat(AT_FDCWD, output.c_str(), W_OK, AT_EACCESS) != 0) {
    throw FileError(given,
                    std::string("the file cannot be written (") + std::strerror(errno) + ")");
  }
}

// Progress lines on standard error: one per file and table, a table's row count
// rewritten in place.
class ProgressLines {
 public:
  explicit ProgressLines(std::ostream& err) : err_(err) {}
  ~ProgressLines() { EndLine(); }

  RunProgress Callbacks() {
    RunProgress p;
    p.file = [this](int i, int n, const std::string& path) {
      EndLine();
      err_ << "Importing file " << i << "/" << n << ": " << path << "\n" << std::flush;
    };
    p.table = [this](int t, int n, const std::string& name) {
      EndLine();
      current_ = "Table " + std::to_string(t + 1) + "/" + std::to_string(n) + ": " + name;
      err_ << current_ << std::flush;
      open_ = true;
    };
    p.rows = [this](const std::string&, std::int64_t rows) {
      err_ << "\r" << current_ << ", " << rows << " rows" << std::flush;
      open_ = true;
    };
    return p;
  }
  void Line(const std::string& text) {
    EndLine();
    err_ << text << "\n" << std::flush;
  }

 private:
  void EndLine() {
    if (open_) err_ << "\n";
    open_ = false;
  }
  std::ostream& err_;
  std::string current_;
  bool open_ = false;
};

// The closing line of a run that left files out: how many of how many, and what became of
// the workbook.
std::string LeftOutSummary(int leftOut, int total) {
  if (leftOut == total) {
    return (total == 1 ? std::string("the only file was")
                       : "all " + WithThousands(total) + " files were") +
           " left out; no workbook was written.";
  }
  const int kept = total - leftOut;
  return WithThousands(leftOut) + " of " + WithThousands(total) + " files " +
         (leftOut == 1 ? "was" : "were") + " left out; the workbook holds the other " +
         (kept == 1 ? std::string("one") : WithThousands(kept)) + ".";
}

// Exit status of a run that wrote its workbook but left files out (--keep-going).
constexpr int kStatusFilesLeftOut = 3;

int RunImport(const CliOptions& o, std::ostream& err, bool showProgress) {
  CheckOutput(o.output);
  std::unique_ptr<ProgressLines> lines;
  // Files left out (--keep-going): each gets the error line it would have ended the run with.
  int leftOut = 0;
  const auto leaveOut = [&](const Error& e) {
    ++leftOut;
    const std::string line = std::string(kProgram) + ": " + OneLine(e.Description());
    if (lines) {
      lines->Line(line);
    } else {
      err << line << "\n" << std::flush;
    }
  };
  const std::vector<std::string> files =
      CollectFiles(o.paths, o.keepGoing ? std::function<void(const Error&)>(leaveOut) : nullptr);
  const int total = static_cast<int>(files.size()) + leftOut;
  const auto allLeftOut = [&] {
    err << kProgram << ": " << LeftOutSummary(leftOut, total) << "\n";
    return 1;
  };
  if (files.empty()) {
    if (leftOut > 0) return allLeftOut();
    throw Error(errnum::kGeneric, "No files added.");
  }

  std::unique_ptr<PrivateStaging> privateStaging;
  std::string staging = o.staging;
  if (staging.empty()) {
    privateStaging = std::make_unique<PrivateStaging>();
    staging = privateStaging->Path();
  } else {
    std::error_code ec;
    if (fs::is_directory(staging, ec)) throw FileError(staging, "is a folder");
    if (!fs::exists(staging, ec)) {
      // The user's alone, as the run's own staging database is.
      const int fd = ::open(staging.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC,
                            S_IRUSR | S_IWUSR);
      if (fd < 0) {
        throw FileError(staging, std::string("cannot create the staging database: ") +
                                     std::strerror(errno));
      }
      ::close(fd);
    }
  }

  RunProgress progress;
  if (showProgress) {
    lines = std::make_unique<ProgressLines>(err);
    progress = lines->Callbacks();
  }

  // Files are imported whole, so an interrupt takes effect before the next one.
  progress.file = [report = progress.file](int i, int n, const std::string& path) {
    if (gInterrupted.load()) throw Interrupted{};
    if (report) report(i, n, path);
  };
  const auto runStart = stagetimes::Clock::now();
  ImportRequest request;
  request.files = files;
  request.mode = o.multipleSheets ? SheetMode::MultipleSheets : SheetMode::OneSheet;
  request.stagingPath = staging;
  request.combineTables = o.combine;
  request.reading = TableReading::Streaming;
  request.target = kFileTarget;

  InterruptibleHost host;
  CollectedMessages boxes;
  ImportHooks hooks;
  hooks.host = &host;
  hooks.boxes = &boxes;
  hooks.progress = progress;
  if (o.keepGoing) hooks.leaveOut = [&](const std::string&, const Error& e) { leaveOut(e); };
  const auto workbook = RunImportPipeline(request, hooks);
  if (!workbook) {
    lines.reset();
    return allLeftOut();
  }

  if (lines) lines->Line("Writing " + o.output);
  {
    stagetimes::Timer timer("xlsx writing (save)");
    // An interrupt stops the writing at its next report, and the replace at its last
    // moment: until the new file has taken the output's place, the run can still end as
    // if it had not begun. From then on it is done, whatever comes.
    const auto stop = [](std::uint64_t, std::uint64_t) {
      if (gInterrupted.load()) throw Interrupted{};
    };
    SetReplaceStopCheck([]() noexcept { return gInterrupted.load(); });
    struct Unset {
      ~Unset() { SetReplaceStopCheck(nullptr); }
    } unset;
    workbook->Workbook().SaveAs(o.output, stop);
  }
  lines.reset();
  if (stagetimes::Enabled()) {
    stagetimes::Add("whole run", stagetimes::Since(runStart));
    err << stagetimes::Report();
  }
  for (const auto& text : boxes.texts) err << kProgram << ": " << OneLine(text) << "\n";
  // Said even when quiet: tables that go on on further sheets, values cut in their cells.
  for (const std::string& note : workbook->Notes()) {
    err << kProgram << ": " << OneLine(note) << "\n";
  }
  if (leftOut == 0) return 0;
  err << kProgram << ": " << LeftOutSummary(leftOut, total) << "\n";
  return kStatusFilesLeftOut;
}

}  // namespace

int RunCli(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
           bool showProgress) {
  std::optional<CliRequest> parsed;
  try {
    parsed = ParseCliArgs(args);
  } catch (const std::bad_alloc&) {
    err << kProgram << ": out of memory\n";
    return 1;
  }
  const CliRequest& request = *parsed;
  switch (request.kind) {
    case CliRequest::Kind::Help:
      out << CliHelpText();
      return 0;
    case CliRequest::Kind::Version:
      out << kProgram << " " << PALOMET_VERSION << "\n";
      return 0;
    case CliRequest::Kind::Usage:
      err << kProgram << ": " << request.usageError << "\n"
          << "Try '" << kProgram << " --help' for more information.\n";
      return 2;
    case CliRequest::Kind::Run:
      break;
  }
  try {
    return RunImport(request.options, err, showProgress && !request.options.quiet);
  } catch (const Interrupted&) {
    err << kProgram << ": interrupted\n";
    return 130;
  } catch (const RunAborted&) {
    err << kProgram << ": interrupted\n";
    return 130;
  } catch (const ReplaceStopped&) {
    err << kProgram << ": interrupted\n";
    return 130;
  } catch (const Error& e) {
    err << kProgram << ": " << OneLine(e.Description()) << "\n";
  } catch (const std::bad_alloc&) {
    err << kProgram << ": out of memory\n";
  } catch (const std::exception& e) {
    err << kProgram << ": " << OneLine(e.what()) << "\n";
  }
  return 1;
}

void InterruptCli() noexcept {
  gInterrupted.store(true);
}

void AbandonCli() noexcept {
  if (!gStagingKept.load()) return;
  ::unlink(gStagingFile);
  // The part files beside it, temp.mdb.2, temp.mdb.3, ...: named without the library, which
  // a signal handler may not call.
  char part[PATH_MAX + 16];
  const std::size_t length = std::strlen(gStagingFile);
  std::memcpy(part, gStagingFile, length);
  for (unsigned number = 2;; ++number) {
    char digits[12];
    int count = 0;
    for (unsigned n = number; n > 0; n /= 10) digits[count++] = static_cast<char>('0' + n % 10);
    std::size_t at = length;
    part[at++] = '.';
    while (count > 0) part[at++] = digits[--count];
    part[at] = '\0';
    if (::unlink(part) != 0) break;
  }
  ::rmdir(gStagingFolder);
}

}  // namespace palomet
