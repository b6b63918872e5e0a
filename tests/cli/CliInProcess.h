#pragma once

// Runs the command line in-process and keeps what it printed.

#include <algorithm>
#include <sstream>
#include <string>
#include <vector>

#include "cli/Cli.h"

namespace palomet::test {

struct CliResult {
  int status;
  std::string out;
  std::string err;
};

inline CliResult Cli(const std::vector<std::string>& args, bool progress = false) {
  std::ostringstream out, err;
  const int status = RunCli(args, out, err, progress);
  return {status, out.str(), err.str()};
}

// The number of lines of a text.
inline int Lines(const std::string& s) {
  return static_cast<int>(std::count(s.begin(), s.end(), '\n'));
}

}  // namespace palomet::test
