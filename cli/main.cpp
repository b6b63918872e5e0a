#include <unistd.h>

#include <csignal>
#include <iostream>
#include <string>
#include <vector>

#include "cli/Cli.h"

int main(int argc, char** argv) {
  // Past a file size limit (ulimit -f) a write then fails with EFBIG and the run ends with
  // its error, removing what it wrote, instead of the process being killed halfway.
  std::signal(SIGXFSZ, SIG_IGN);
  std::vector<std::string> args(argv + 1, argv + argc);
  return palomet::RunCli(args, std::cout, std::cerr, isatty(STDERR_FILENO) != 0);
}
