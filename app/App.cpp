#include "app/App.h"

#include <cstdio>
#include <filesystem>
#include <iostream>
#include <random>
#include <system_error>

#include <QApplication>
#include <QDesktopServices>
#include <QFile>
#include <QIcon>
#include <QPixmap>
#include <QStandardPaths>
#include <QStringList>
#include <QTemporaryDir>
#include <QTimer>
#include <QUrl>

#include "app/Form1.h"
#include "app/ProgramFolder.h"
#include "app/QtDialogs.h"
#include "filelist/DropIntake.h"
#include "office/xlwindow/QtMessageBoxes.h"
#include "office/xlwindow/WorkbookWindow.h"

#ifndef PALOMET_VERSION
#define PALOMET_VERSION "0"
#endif
// The installed program folder, relative to the installed executable's folder.
#ifndef PALOMET_INSTALLED_PROGRAM_DIR
#define PALOMET_INSTALLED_PROGRAM_DIR ""
#endif

namespace palomet {

namespace {

std::function<double()> SystemDraw() {
  auto engine = std::make_shared<std::mt19937>(std::random_device{}());
  return [engine] { return std::uniform_real_distribution<double>(0.0, 1.0)(*engine); };
}

void OpenWithDesktop(const std::string& address) {
  QDesktopServices::openUrl(QUrl(QString::fromStdString(address)));
}

constexpr const char* kProgram = "palomet";

std::string ProgramFolder() {
  return FindProgramFolder(QFile::encodeName(QCoreApplication::applicationDirPath()).toStdString(),
                           PALOMET_INSTALLED_PROGRAM_DIR);
}

// Where the window's run stages its tables when the program folder is read-only.
std::string UserDataFolder() {
  return QFile::encodeName(QStandardPaths::writableLocation(QStandardPaths::AppDataLocation))
      .toStdString();
}

std::vector<std::string> Arguments(const QStringList& args) {
  std::vector<std::string> out;
  for (qsizetype i = 1; i < args.size(); ++i) {
    out.push_back(QFile::encodeName(args[i]).toStdString());
  }
  return out;
}

// `path` made absolute against the current folder, as a drop would give it: without "."
// steps or a trailing slash; ".." and links are kept as given, since paths are never
// canonicalised.
std::string AbsolutePath(const std::string& path) {
  std::error_code ec;
  const std::filesystem::path absolute = std::filesystem::absolute(path, ec);
  if (ec) return path;
  std::filesystem::path out;
  for (const auto& part : absolute) {
    if (part != "." && !part.empty()) out /= part;
  }
  return out.string();
}

int SaveScreenshot(const std::string& path, const std::vector<std::string>& entries) {
  const QString file = QFile::decodeName(QByteArray::fromStdString(path));
  QTemporaryDir settings;
  if (!settings.isValid()) {
    std::fprintf(stderr, "palomet: cannot make a temporary settings folder\n");
    return 1;
  }
  QtMessageBoxes messages;
  QtDialogs dialogs;
  Form1 form({messages, dialogs, [] { return 0.5; }, [](const std::string&) {},
              QFile::encodeName(settings.path()).toStdString(), ProgramFolder()});
  for (const std::string& entry : entries) form.List().Add(entry);
  form.show();
  QCoreApplication::processEvents();
  if (!form.grab().save(file, "PNG")) {
    std::fprintf(stderr, "palomet: cannot write the screenshot %s\n",
                 QFile::encodeName(file).constData());
    return 1;
  }
  return 0;
}

}  // namespace

AppArguments ParseAppArguments(const std::vector<std::string>& args) {
  AppArguments parsed;
  bool options = true;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (options && arg == "--") {
      options = false;
    } else if (options && (arg == "-h" || arg == "--help")) {
      return {AppArguments::Kind::Help, {}, {}, {}};
    } else if (options && (arg == "-V" || arg == "--version")) {
      return {AppArguments::Kind::Version, {}, {}, {}};
    } else if (options && arg == "--screenshot") {
      if (i + 1 >= args.size()) {
        parsed.kind = AppArguments::Kind::Usage;
        parsed.usageError = "option '--screenshot' needs a file";
        continue;
      }
      if (parsed.kind == AppArguments::Kind::Window) parsed.kind = AppArguments::Kind::Screenshot;
      parsed.screenshot = args[++i];
    } else if (options && arg.size() > 1 && arg[0] == '-') {
      if (parsed.kind != AppArguments::Kind::Usage) {
        parsed.kind = AppArguments::Kind::Usage;
        parsed.usageError = "unknown option '" + arg + "'";
      }
    } else {
      parsed.paths.push_back(arg);
    }
  }
  return parsed;
}

std::string AppHelpText() {
  return R"text(Usage: palomet [FILE|FOLDER]...

Puts the contents of many XML files into one new spreadsheet workbook, shown in
a window of its own and ready to be saved as .xlsx.

Gather the files in the list of the main window, in the order they are to be
imported: with "Add XML File(s)", with "Add All XML File(s) In Folder", by
dropping files and folders onto the list, or by naming them here. Choose "Send
XML file(s) to one sheet" or "Send XML file(s) to multiple sheets" (a sheet per
table) and press "Start Importing".

Each FILE given is added to the list and each FOLDER adds the files in it and
in its subfolders, in the order given, as if they were dropped onto the list.

Options:
  -h, --help     show this help and exit
  -V, --version  show the version and exit

Qt's standard options, such as -platform, are accepted as well.
)text";
}

std::string AppVersionText() {
  return std::string(kProgram) + " " + PALOMET_VERSION + "\n";
}

namespace {

// --help and --version: the text on `out` and the exit status, or nothing for other requests.
std::optional<int> AnswerInfo(const AppArguments& parsed, std::ostream& out) {
  if (parsed.kind == AppArguments::Kind::Help) {
    out << AppHelpText();
    return 0;
  }
  if (parsed.kind == AppArguments::Kind::Version) {
    out << AppVersionText();
    return 0;
  }
  return std::nullopt;
}

}  // namespace

std::optional<int> RunInfoOption(const std::vector<std::string>& args, std::ostream& out) {
  return AnswerInfo(ParseAppArguments(args), out);
}

bool AddStartPaths(const std::vector<std::string>& paths, Form1& form) {
  std::vector<std::string> absolute;
  absolute.reserve(paths.size());
  for (const std::string& path : paths) absolute.push_back(AbsolutePath(path));
  return AddDroppedPaths(absolute, form.List(), form);
}

int RunApp(QApplication& app) {
  QApplication::setOrganizationName(QStringLiteral("Corvane"));
  QApplication::setApplicationName(QStringLiteral("Palomet"));
  QApplication::setWindowIcon(QIcon(QStringLiteral(":/icons/palomet.png")));
  // Ties the windows to the installed desktop entry (Wayland's application id).
  QGuiApplication::setDesktopFileName(QStringLiteral("palomet"));

  const AppArguments args = ParseAppArguments(Arguments(QCoreApplication::arguments()));
  if (const auto status = AnswerInfo(args, std::cout)) return *status;
  switch (args.kind) {
    case AppArguments::Kind::Help:
    case AppArguments::Kind::Version:
      break;  // answered above
    case AppArguments::Kind::Usage:
      std::fprintf(stderr, "%s: %s\nTry '%s --help' for more information.\n", kProgram,
                   args.usageError.c_str(), kProgram);
      return 2;
    case AppArguments::Kind::Screenshot:
      return SaveScreenshot(args.screenshot, args.paths);
    case AppArguments::Kind::Window:
      break;
  }

  QtMessageBoxes messages;
  QtDialogs dialogs;
  const std::string programFolder = ProgramFolder();
  Form1 form({messages, dialogs, SystemDraw(), OpenWithDesktop, std::string(), programFolder,
              [programFolder] { return StagingDatabaseFor(programFolder, UserDataFolder()); }});
  // The import run's workbook appears in a workbook window, on the main window's screen.
  xlwindow::InstallWorkbookWindows(nullptr, nullptr, &form);
  messages.SetOwner(&form);
  dialogs.SetOwner(&form);
  form.show();
  if (!args.paths.empty()) {
    // Once the event loop runs, so that closing the window during a long folder walk
    // still ends the program.
    QTimer::singleShot(0, &form, [&form, &messages, paths = args.paths] {
      try {
        AddStartPaths(paths, form);
      } catch (const std::exception& e) {
        messages.Show(e.what(), MsgButtons::Ok, MsgIcon::Warning);
      }
    });
  }
  // Workbook windows outlive the main window: the program ends when the last
  // window has closed.
  return app.exec();
}

}  // namespace palomet
