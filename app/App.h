#pragma once

#include <optional>
#include <ostream>
#include <string>
#include <vector>

class QApplication;

namespace palomet {

class Form1;

// Runs the program on `app`: the main window with the real dialogs, message boxes,
// settings store and desktop, until the last window closes. Returns the exit
// status. Files and folders named on the command line are put in the list as a drop
// of them would be, once the window is up.
//
// With the arguments --screenshot FILE [ENTRY...] it instead builds the window
// with fresh settings and the given list entries, saves a picture of it as a PNG
// to FILE and returns (used by scripts/screenshot.sh; no browser is ever opened).
int RunApp(QApplication& app);

// What the command line `palomet [OPTION]... [FILE|FOLDER]...` asks for. Qt's own options
// (-platform and the like) have been taken out by QApplication before this is parsed.
struct AppArguments {
  enum class Kind { Window, Help, Version, Screenshot, Usage };
  Kind kind = Kind::Window;
  std::vector<std::string> paths;  // for the list, in the order given
  std::string screenshot;          // the PNG to write, for Kind::Screenshot
  std::string usageError;          // for Kind::Usage: what is wrong
};

// Parses the arguments after the program name. "--" ends the options, so a path may
// begin with "-"; --help and --version win over everything else.
AppArguments ParseAppArguments(const std::vector<std::string>& args);

// The texts `palomet --help` and `palomet --version` print.
std::string AppHelpText();
std::string AppVersionText();

// For main(), before anything needs a display: prints the help or the version to `out`
// when the arguments (after the program name) ask for either, and returns the exit status.
// Nothing otherwise.
std::optional<int> RunInfoOption(const std::vector<std::string>& args, std::ostream& out);

// Adds `paths` to the window's list as dropping them would: a file as it is, a folder as
// every file of its tree. A relative path is taken from the current folder. Returns
// false when the window was closed meanwhile.
bool AddStartPaths(const std::vector<std::string>& paths, Form1& form);

}  // namespace palomet
