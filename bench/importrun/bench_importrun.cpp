// The whole import from XML files to a workbook, side by side in one run:
//
//   bench_importrun [--repeat N] [--keep] [--only NAME,...] PATH...
//
// For the given XML files and folders it measures, each in a child process of its own
// (so that every peak memory figure is that step's alone):
//   reference    the reference pipeline (parse and write .xlsx, nothing else), when built
//   cli          palomet-import --multiple-sheets (staging, streamed rows, write-through .xlsx)
//   window       the "Start Importing" run as the window does it (whole tables read, cells
//                kept in memory, a yield to the event loop as the run does them), no save
//   window+save  the same followed by "Save As" .xlsx
//   window/noop  the window's run with yields that do nothing, to show what yielding costs
//   window+grid  the window's run with the real workbook window (offscreen), its tabs and
//                grids following every sheet and cell as the user would watch them
// and prints wall time, peak resident memory and the ratio to the reference (and, for
// window, to cli; window+grid also to cli). Each figure is the best of --repeat runs (default
// 3). Then, once:
//   closing      three window runs one after the other into three workbook windows, then
//                every workbook window closed: the resident memory before the first run,
//                with the three windows open, and after closing them
// --only measures the named ones alone (cli,window+grid: the two the window's following of
// a run is judged by). The window's runs stage in a program folder of the benchmark's own, in
// a temporary folder removed at the end, so the build's program folder is left as it was.

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QApplication>
#include <QCoreApplication>
#include <QWidget>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "cli/Cli.h"
#include "filelist/AddFolder.h"
#include "importrun/ImportRun.h"
#include "office/xl/Excel.h"
#include "office/xlwindow/WorkbookWindow.h"

namespace fs = std::filesystem;
using namespace palomet;

namespace {

struct Figure {
  double seconds = 0;
  double peakMb = 0;
  bool ok = false;
};

// Runs `work` in a child process; its exit status 0 means success.
Figure Measure(const std::function<int()>& work) {
  std::fflush(nullptr);  // or the child prints the parent's buffered lines again
  const auto start = std::chrono::steady_clock::now();
  const pid_t pid = fork();
  if (pid == 0) {
    const int status = work();
    std::fflush(nullptr);
    _exit(status);
  }
  int status = 0;
  rusage usage{};
  wait4(pid, &status, 0, &usage);
  Figure f;
  f.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  f.peakMb = static_cast<double>(usage.ru_maxrss) / 1024.0;
  f.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
  return f;
}

Figure Best(int repeat, const std::function<int()>& work) {
  Figure best;
  for (int i = 0; i < repeat; ++i) {
    const Figure f = Measure(work);
    if (!f.ok) return f;
    if (!best.ok || f.seconds < best.seconds) best = f;
  }
  return best;
}

// The process's resident memory now, in MB.
double ResidentMb() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("VmRSS:", 0) == 0) return std::atof(line.c_str() + 6) / 1024.0;
  }
  return 0;
}

// An empty staging database in `program`, as the program folder ships it.
void FreshStaging(const fs::path& program) {
  fs::remove(program / "temp.mdb");
  std::FILE* f = std::fopen((program / "temp.mdb").c_str(), "w");
  if (f) std::fclose(f);
}

// The window stand-in: no widgets, but yields go to a real event loop.
class BenchWindow : public ImportWindow, public WindowHost, public MessageBoxes {
 public:
  BenchWindow(std::vector<std::string> files, bool realYields) : realYields_(realYields) {
    for (const auto& f : files) list_.Add(f);
  }
  WindowHost& Host() override { return *this; }
  MessageBoxes& Boxes() override { return *this; }
  const FileList& Files() const override { return list_; }
  bool MultipleSheets() const override { return true; }
  void SetProgress(double) override {}
  void ShowInFront() override {}
  void DoEvents() override {
    ++yields;
    if (realYields_) QCoreApplication::processEvents();
  }
  Pointer MousePointer() const override { return pointer_; }
  void SetMousePointer(Pointer value) override { pointer_ = value; }
  bool Closed() const override { return false; }
  MsgResult Show(const std::string& text, MsgButtons buttons, MsgIcon icon, MsgResult) override {
    // Asked whether to go on while a workbook window is open: yes, as a user importing again.
    if (buttons == MsgButtons::YesNo) return MsgResult::Yes;
    if (icon == MsgIcon::Warning || text != "Done.") failure = text;
    return MsgResult::Ok;
  }

  std::string failure;
  long yields = 0;

 private:
  PlainFileList list_;
  bool realYields_;
  Pointer pointer_ = Pointer::Default;
};

// Workbook windows that never ask: nothing is saved on closing.
class NoPrompts : public xlwindow::WindowPrompts {
 public:
  SaveAnswer AskSaveChanges(const QString&) override { return SaveAnswer::Discard; }
  QString AskSavePath(const QString&) override { return {}; }
  void ShowError(const QString&) override {}
};

// An offscreen application whose workbook windows never ask.
class OffscreenWindows {
 public:
  OffscreenWindows() : app_((qputenv("QT_QPA_PLATFORM", "offscreen"), argc_), argv_) {
    xlwindow::InstallWorkbookWindows(std::make_shared<NoPrompts>(),
                                     [](const QString&) { return true; });
  }

 private:
  int argc_ = 1;
  char name_[6] = "bench";
  char* argv_[2] = {name_, nullptr};
  QApplication app_;
};

// One window's run into a real workbook window; false, said on standard error, if it failed.
bool RunIntoWindow(const std::vector<std::string>& files, const fs::path& program) {
  BenchWindow window(files, true);
  ImportRun(window, program.string()).Start();
  QCoreApplication::processEvents();
  if (!window.failure.empty()) {
    std::fprintf(stderr, "window run failed: %s\n", window.failure.c_str());
    return false;
  }
  return true;
}

// The window's run with the real workbook window, drawn offscreen.
int GridRun(const std::vector<std::string>& files, const fs::path& program) {
  OffscreenWindows windows;
  return RunIntoWindow(files, program) ? 0 : 1;
}

// Three window runs into three workbook windows, then every workbook window closed; prints
// the resident memory before, with the windows open and after closing them.
int ClosedRuns(const std::vector<std::string>& files, const fs::path& program) {
  OffscreenWindows offscreen;
  QApplication::setQuitOnLastWindowClosed(false);
  QCoreApplication::processEvents();
  const double before = ResidentMb();
  for (int run = 0; run < 3; ++run) {
    FreshStaging(program);
    if (!RunIntoWindow(files, program)) return 1;
  }
  FreshStaging(program);
  const double open = ResidentMb();
  int windows = 0;
  for (QWidget* top : QApplication::topLevelWidgets()) {
    if (top->objectName() == "WorkbookWindow" && top->isVisible()) {
      top->close();
      ++windows;
    }
  }
  // Served as the event loop serves them: the windows' deferred deletes, then what those
  // leave queued.
  for (int i = 0; i < 3; ++i) {
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QCoreApplication::processEvents();
  }
  const double after = ResidentMb();
  std::printf(
      "%-12s %8.1f MB before, %8.1f MB with %d windows, %8.1f MB after closing them"
      " (%+.1f MB)\n",
      "closing", before, open, windows, after, after - before);
  return windows == 3 ? 0 : 1;
}

int WindowRun(const std::vector<std::string>& files, const fs::path& program, bool realYields,
              const fs::path& saveTo) {
  int argc = 1;
  char name[] = "bench";
  char* argv[] = {name, nullptr};
  QCoreApplication app(argc, argv);
  std::shared_ptr<xl::Application> kept;
  // Keep the workbook alive past the run, as its window would, so it can be saved.
  class Keep : public xl::ApplicationView {
   public:
    void Show() override {}
    void Hide() override {}
    void StructureChanged() override {}
  };
  static Keep view;
  xl::Application::SetViewFactory([&kept](std::shared_ptr<xl::Application> a) {
    kept = std::move(a);
    return &view;
  });
  BenchWindow window(files, realYields);
  ImportRun(window, program.string()).Start();
  if (!window.failure.empty()) {
    std::fprintf(stderr, "window run failed: %s\n", window.failure.c_str());
    return 1;
  }
  if (!saveTo.empty()) kept->Workbooks(1).SaveAs(saveTo);
  return 0;
}

void Print(const char* name, const Figure& f, const Figure* base, const char* baseName,
           const Figure* second = nullptr, const char* secondName = nullptr) {
  if (!f.ok) {
    std::printf("%-12s FAILED\n", name);
    return;
  }
  std::printf("%-12s %8.2f s  %8.1f MB peak", name, f.seconds, f.peakMb);
  if (base && base->ok) std::printf("  %5.2fx %s", f.seconds / base->seconds, baseName);
  if (second && second->ok) std::printf("  %5.2fx %s", f.seconds / second->seconds, secondName);
  std::printf("\n");
}

}  // namespace

int main(int argc, char** argv) {
  int repeat = 3;
  bool keep = false;
  std::string only;
  std::vector<std::string> paths;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--repeat" && i + 1 < argc) {
      repeat = std::max(1, std::atoi(argv[++i]));
    } else if (a == "--keep") {
      keep = true;
    } else if (a == "--only" && i + 1 < argc) {
      only = "," + std::string(argv[++i]) + ",";
    } else {
      paths.push_back(a);
    }
  }
  if (paths.empty()) {
    std::fprintf(stderr,
                 "usage: bench_importrun [--repeat N] [--keep] [--only NAME,...] PATH...\n");
    return 2;
  }

  // The window run takes a list; folders give their tree as the folder scan does.
  PlainFileList list;
  NoWindowHost host;
  std::uintmax_t bytes = 0;
  for (const auto& p : paths) {
    if (fs::is_directory(p)) {
      AddFolderTree(p, "*.xml", false, list, host);
    } else {
      list.Add(p);
    }
  }
  const std::vector<std::string> files = list.Texts();
  for (const auto& f : files) bytes += fs::file_size(f);

  const fs::path work = fs::temp_directory_path() / ("palomet-bench-" + std::to_string(getpid()));
  fs::create_directories(work / "program");
  std::printf("%zu files, %.1f MB of XML, best of %d\n", files.size(), bytes / 1e6, repeat);

  const auto wanted = [&only](const char* name) {
    return only.empty() || only.find("," + std::string(name) + ",") != std::string::npos;
  };
  // Left out by --only: not measured, and counted as no failure.
  const auto measured = [&wanted, repeat](const char* name, const std::function<int()>& work) {
    return wanted(name) ? Best(repeat, work) : Figure{};
  };
  Figure reference;
#ifdef PALOMET_REFERENCE_EXE
  reference = measured("reference", [&] {
    std::vector<std::string> args = {PALOMET_REFERENCE_EXE, "--output",
                                     (work / "reference.xlsx").string()};
    args.insert(args.end(), paths.begin(), paths.end());
    std::vector<char*> cargs;
    for (auto& a : args) cargs.push_back(a.data());
    cargs.push_back(nullptr);
    execv(cargs[0], cargs.data());
    return 127;
  });
  if (wanted("reference")) Print("reference", reference, nullptr, nullptr);
#endif
  const Figure cli = measured("cli", [&] {
    std::vector<std::string> args = {"-q", "--multiple-sheets", "-o", (work / "cli.xlsx").string()};
    args.insert(args.end(), paths.begin(), paths.end());
    std::ostringstream out;
    return RunCli(args, out, std::cerr);
  });
  if (wanted("cli")) Print("cli", cli, &reference, "reference");
  const auto window = [&](const char* name, bool realYields, const fs::path& saveTo) {
    return measured(name, [&] {
      FreshStaging(work / "program");
      return WindowRun(files, work / "program", realYields, saveTo);
    });
  };
  const Figure windowRun = window("window", true, {});
  if (wanted("window")) Print("window", windowRun, &reference, "reference", &cli, "cli");
  const Figure windowSave = window("window+save", true, work / "window.xlsx");
  if (wanted("window+save")) Print("window+save", windowSave, &reference, "reference", &cli, "cli");
  const Figure windowNoop = window("window/noop", false, {});
  if (wanted("window/noop"))
    Print("window/noop", windowNoop, &reference, "reference", &windowRun, "window");
  const Figure windowGrid = measured("window+grid", [&] {
    FreshStaging(work / "program");
    return GridRun(files, work / "program");
  });
  if (wanted("window+grid")) {
    Print("window+grid", windowGrid, &reference, "reference", windowRun.ok ? &windowRun : &cli,
          windowRun.ok ? "window" : "cli");
    if (windowRun.ok && cli.ok)
      std::printf("%-12s %5.2fx cli\n", "", windowGrid.seconds / cli.seconds);
  }
  const Figure closed =
      wanted("closing") ? Measure([&] { return ClosedRuns(files, work / "program"); }) : Figure{};
  if (wanted("closing") && !closed.ok) std::printf("%-12s FAILED\n", "closing");

  if (!keep) fs::remove_all(work);
  const auto failed = [&](const char* name, const Figure& f) { return wanted(name) && !f.ok; };
  return failed("cli", cli) || failed("window", windowRun) || failed("window+save", windowSave) ||
                 failed("window+grid", windowGrid) || failed("closing", closed)
             ? 1
             : 0;
}
