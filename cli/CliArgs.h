#pragma once

#include <string>
#include <vector>

namespace palomet {

// What the command line was asked to do.
struct CliOptions {
  bool multipleSheets = false;
  bool quiet = false;
  bool keepGoing = false;          // leave out a file that cannot be imported and go on
  bool combine = false;            // one table per name from all files, with a File column
  std::string output;              // the .xlsx to write
  std::string staging;             // a staging database to use; empty: a fresh one per run
  std::vector<std::string> paths;  // XML files and folders, in import order
};

struct CliRequest {
  enum class Kind { Run, Help, Version, Usage };
  Kind kind = Kind::Usage;
  CliOptions options;
  std::string usageError;  // for Kind::Usage: what is wrong with the arguments
};

// Parses the arguments after the program name. Options may come before, between
// or after the paths; "--" ends the options so a path may begin with "-".
// --help and --version win over everything else, usage errors included.
CliRequest ParseCliArgs(const std::vector<std::string>& args);

// The text --help prints.
std::string CliHelpText();

}  // namespace palomet
