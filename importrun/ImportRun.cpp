#include "importrun/ImportRun.h"

#include <exception>
#include <new>

#include "importrun/RunningCheck.h"
#include "office/Error.h"

namespace palomet {

namespace {

constexpr const char* kWorkbookWindowClosed =
    "The workbook window was closed before the import was finished.";

constexpr const char* kIncomplete =
    "The import did not finish: this workbook holds only part of the data.";

// Sets the pointer back and shows `description` in a warning box, unless the window is
// gone. A workbook the run had begun says in its own window that it is incomplete, so that
// it is not taken for the whole once the box is gone.
void ShowRunError(ImportWindow& window, const std::weak_ptr<xl::Application>& started,
                  const std::string& description) {
  if (const auto app = started.lock(); app && app->View()) app->SetStatusBar(kIncomplete);
  if (window.Host().Closed()) return;
  window.Host().SetMousePointer(Pointer::Default);
  window.Boxes().Show(description, MsgButtons::Ok, MsgIcon::Warning);
}

}  // namespace

std::string StagingDatabasePath(const std::string& programFolder) {
  return programFolder + "/temp.mdb";
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
  const bool combineTables = window_.CombineTables();
  started_.reset();
  try {
    Run(multipleSheets, combineTables);
  } catch (const RunAborted&) {
    // The main window was closed: the program's part ends here, silently.
  } catch (const Error& e) {
    ShowRunError(window_, started_, e.Description());
  } catch (const std::bad_alloc&) {
    ShowRunError(window_, started_, "Out of memory.");
  } catch (const std::exception& e) {
    ShowRunError(window_, started_, e.what());
  }
}

void ImportRun::Run(bool multipleSheets, bool combineTables) {
  WindowHost& host = window_.Host();
  MessageBoxes& boxes = window_.Boxes();
  host.SetMousePointer(Pointer::Busy);

  if (StopForRunningExcel(boxes)) {
    host.SetMousePointer(Pointer::Default);
    return;
  }
  const FileList& files = window_.Files();
  if (files.Count() == 0) {
    boxes.Show("No files added.", MsgButtons::Ok, MsgIcon::None);
    host.SetMousePointer(Pointer::Default);
    return;
  }

  ImportRequest request;
  request.stagingPath = stagingDatabase_();
  const int count = files.Count();
  request.files.reserve(static_cast<std::size_t>(count));
  for (int i = 1; i <= count; ++i) request.files.push_back(files.Text(i));
  request.mode = multipleSheets ? SheetMode::MultipleSheets : SheetMode::OneSheet;
  request.combineTables = combineTables;
  // A row at a time, as the command line reads them: a whole table held while its cells are
  // written would cost more memory than the cells themselves.
  request.reading = TableReading::Streaming;

  ImportHooks hooks;
  hooks.host = &host;
  hooks.boxes = &boxes;
  hooks.setProgress = [this](double percent) { window_.SetProgress(percent); };
  // The user may close the workbook's window while the run yields; writing on into a
  // workbook nobody can see and then saying "Done." would report a loss as success.
  const xl::Application* shown = nullptr;
  hooks.workbookStarted = [&](WorkbookAssembly& workbook) {
    started_ = workbook.SharedApplication();
    window_.ShowInFront();
    if (workbook.Application().View()) shown = &workbook.Application();
  };
  hooks.progress.check = [&shown] {
    if (shown != nullptr && !shown->View())
      throw Error(errnum::kSpreadsheet, kWorkbookWindowClosed);
  };
  const auto workbook = RunImportPipeline(request, hooks);
  hooks.progress.check();

  boxes.Show("Done.", MsgButtons::Ok, MsgIcon::None);
  if (host.Closed()) return;
  window_.SetProgress(0);
  host.SetMousePointer(Pointer::Default);
}

}  // namespace palomet
