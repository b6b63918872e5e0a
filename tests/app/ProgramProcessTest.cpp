#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>

#include "tests/support/TempDir.h"

namespace palomet {
namespace {

// Past the process's file size limit a write must fail with an error the program
// reports; the kernel's default for that signal would kill it with nothing saved.
TEST(ProgramProcess, WritingPastTheFileSizeLimitFailsInsteadOfKillingTheProgram) {
  test::TempDir dir;
  const std::string out = (dir.Path() / "window.png").string();
  const pid_t pid = fork();
  ASSERT_NE(pid, -1);
  if (pid == 0) {
    rlimit limit{1024, 1024};
    setrlimit(RLIMIT_FSIZE, &limit);
    execl(PALOMET_EXE, PALOMET_EXE, "--screenshot", out.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  ASSERT_FALSE(WIFSIGNALED(status)) << "killed by signal " << WTERMSIG(status);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_NE(WEXITSTATUS(status), 0);
  EXPECT_NE(WEXITSTATUS(status), 127);
}

}  // namespace
}  // namespace palomet
