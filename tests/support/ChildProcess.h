#pragma once

#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "tests/support/TempDir.h"

namespace palomet::test {

// A program started in a process of its own, as a user would start it: `args[0]` looked up
// on the PATH, $TMPDIR set to `tmpDir`, PALOMET_KILL_AT to `killAt` (unset when empty), the
// usual umask 022, and its standard error written to the file `errFile`. The object waits for
// the process when it goes.
class ChildProcess {
 public:
  ChildProcess(const std::vector<std::string>& args, const std::string& tmpDir,
               std::string errFile, const std::string& killAt = "")
      : err_(std::move(errFile)) {
    pid_ = ::fork();
    if (pid_ == 0) {
      ::umask(022);
      ::setenv("TMPDIR", tmpDir.c_str(), 1);
      if (killAt.empty()) {
        ::unsetenv("PALOMET_KILL_AT");
      } else {
        ::setenv("PALOMET_KILL_AT", killAt.c_str(), 1);
      }
      if (!std::freopen(err_.c_str(), "w", stderr)) ::_exit(99);
      std::vector<char*> argv;
      for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
      argv.push_back(nullptr);
      ::execvp(argv[0], argv.data());
      ::_exit(98);
    }
  }
  ~ChildProcess() { Wait(); }
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  // The exit status, or 128 + the signal that ended it.
  int Wait() {
    if (pid_ > 0) {
      int status = 0;
      ::waitpid(pid_, &status, 0);
      signal_ = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
      status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + signal_;
      pid_ = -1;
    }
    return status_;
  }
  // The signal that ended the process, 0 when it exited.
  int Signal() {
    Wait();
    return signal_;
  }
  pid_t Pid() const { return pid_; }
  std::string Err() const { return ReadFile(err_); }

 private:
  std::string err_;
  pid_t pid_ = -1;
  int status_ = -1;
  int signal_ = 0;
};

}  // namespace palomet::test
