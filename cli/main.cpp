#include <signal.h>
#include <unistd.h>

#include <iostream>
#include <string>
#include <vector>

#include "cli/Cli.h"

namespace {

// The first Ctrl+C (or SIGTERM, SIGHUP) lets the run stop and clean up; a second one
// ends the program at once, for a file too large to wait for. The new workbook has no name
// until it takes the output's place, so it goes with the process; the staging folder is
// removed here.
void OnSignal(int sig) {
  static volatile sig_atomic_t seen = 0;
  if (seen) {
    palomet::AbandonCli();
    signal(sig, SIG_DFL);
    raise(sig);
    return;
  }
  seen = 1;
  palomet::InterruptCli();
}

}  // namespace

int main(int argc, char** argv) {
  struct sigaction action {};
  action.sa_handler = OnSignal;
  sigemptyset(&action.sa_mask);
  for (int sig : {SIGINT, SIGTERM, SIGHUP}) sigaction(sig, &action, nullptr);
  // Past a file size limit (ulimit -f) a write then fails with EFBIG and the run ends with
  // its error, removing what it wrote, instead of the process being killed halfway.
  signal(SIGXFSZ, SIG_IGN);

  std::vector<std::string> args(argv + 1, argv + argc);
  return palomet::RunCli(args, std::cout, std::cerr, isatty(STDERR_FILENO) != 0);
}
