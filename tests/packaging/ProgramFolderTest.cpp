// Where the programs find their own files, in the build tree and installed, and where the
// window's run keeps its staging database when the program folder is read-only.

#include <grp.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <optional>
#include <string>

#include "app/ProgramFolder.h"
#include "office/Error.h"
#include "tests/support/TempDir.h"

namespace palomet {
namespace {

namespace fs = std::filesystem;
using test::TempDir;

// Runs `probe` as an ordinary user and returns its answer, or "error: " and the
// description of the Error it raised. Root passes every permission check, so as root the
// probe runs in a child process that has become the user "nobody" first; nothing when
// that cannot be done.
std::optional<std::string> AsOrdinaryUser(const std::function<std::string()>& probe) {
  const auto answer = [&probe]() -> std::string {
    try {
      return probe();
    } catch (const Error& e) {
      return "error: " + e.Description();
    }
  };
  if (::geteuid() != 0) return answer();

  int fds[2];
  if (::pipe(fds) != 0) return std::nullopt;
  const pid_t child = ::fork();
  if (child < 0) return std::nullopt;
  if (child == 0) {
    ::close(fds[0]);
    constexpr uid_t kNobody = 65534;
    if (::setgroups(0, nullptr) != 0 || ::setgid(kNobody) != 0 || ::setuid(kNobody) != 0) {
      ::_exit(3);
    }
    const std::string text = answer();
    const bool written =
        ::write(fds[1], text.data(), text.size()) == static_cast<ssize_t>(text.size());
    ::_exit(written ? 0 : 4);
  }
  ::close(fds[1]);
  std::string text;
  char buffer[512];
  for (ssize_t n; (n = ::read(fds[0], buffer, sizeof buffer)) > 0;) text.append(buffer, n);
  ::close(fds[0]);
  int status = 0;
  ::waitpid(child, &status, 0);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return std::nullopt;
  return text;
}

TEST(FindProgramFolder, PrefersTheExecutablesFolderThenTheInstalledOne) {
  TempDir dir;
  const fs::path build = dir.Path() / "build/bin";
  const fs::path installedBin = dir.Path() / "usr/bin";
  const fs::path installed = dir.Path() / "usr/share/palomet";
  const fs::path bare = dir.Path() / "bare/bin";
  dir.Write("build/bin/temp.mdb", "");
  dir.Write("build/share/palomet/temp.mdb", "");  // an installation beside the build tree
  dir.Write("usr/share/palomet/temp.mdb", "");
  fs::create_directories(installedBin);
  fs::create_directories(bare);

  const struct {
    const char* name;
    fs::path executable;
    std::string relative;
    fs::path expected;
  } cases[] = {
      {"build tree", build, "../share/palomet", build},
      {"installed", installedBin, "../share/palomet", installed},
      {"installed, folder given with a slash", installedBin.string() + "/", "../share/palomet/",
       installed},
      {"neither", bare, "../share/palomet", bare},
      {"no installed folder configured", installedBin, "", installedBin},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(FindProgramFolder(c.executable.string(), c.relative), c.expected.string()) << c.name;
  }
}

// The program folder "program" with its shipped temp.mdb, and the user's data folder
// "user/Corvane/Palomet" whose parent the ordinary user may write.
struct StagingRig {
  StagingRig() {
    fs::permissions(dir.Path(), fs::perms::all);
    fs::create_directories(user.parent_path());
    fs::permissions(dir.Path() / "user", fs::perms::all);
    fs::permissions(user.parent_path(), fs::perms::all);
    fs::create_directories(program);
  }
  void Ship() {
    dir.Write("program/temp.mdb", "shipped");
    fs::permissions(program / "temp.mdb", fs::perms::all & ~fs::perms::owner_exec &
                                              ~fs::perms::group_exec & ~fs::perms::others_exec);
  }
  std::optional<std::string> Stage() {
    return AsOrdinaryUser([this] { return StagingDatabaseFor(program.string(), user.string()); });
  }

  TempDir dir;
  fs::path program = dir.Path() / "program";
  fs::path user = dir.Path() / "user/Corvane/Palomet";
};

TEST(StagingDatabaseFor, FallsBackToTheUsersDataFolderWhenTheProgramFolderIsReadOnly) {
  constexpr auto kReadOnlyFolder = fs::perms::owner_read | fs::perms::owner_exec |
                                   fs::perms::group_read | fs::perms::group_exec |
                                   fs::perms::others_read | fs::perms::others_exec;
  constexpr auto kReadOnlyFile =
      fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read;
  const struct {
    const char* name;
    bool shipped;
    bool folderWritable;
    bool fileWritable;
    const char* usersCopy;     // already in the user's data folder; nullptr: none
    bool expectProgram;        // the program folder's temp.mdb is the answer
    const char* expectedUser;  // the user's temp.mdb afterwards; nullptr: absent
  } cases[] = {
      {"writable program folder (the build tree)", true, true, true, nullptr, true, nullptr},
      {"writable, staging database missing", false, true, true, nullptr, true, nullptr},
      {"read-only folder: a copy of the shipped one", true, false, true, nullptr, false, "shipped"},
      {"read-only folder: the last run's tables kept", true, false, true, "last run", false,
       "last run"},
      {"writable folder, read-only database", true, true, false, nullptr, false, "shipped"},
      {"read-only folder, nothing shipped", false, false, true, nullptr, false, nullptr},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    StagingRig rig;
    if (c.shipped) rig.Ship();
    if (c.usersCopy) rig.dir.Write("user/Corvane/Palomet/temp.mdb", c.usersCopy);
    if (c.shipped && !c.fileWritable) fs::permissions(rig.program / "temp.mdb", kReadOnlyFile);
    fs::permissions(rig.program, c.folderWritable ? fs::perms::all : kReadOnlyFolder);

    const std::optional<std::string> answer = rig.Stage();
    if (!answer) {
      GTEST_SKIP() << "cannot run as an ordinary user";
    }
    const fs::path usersFile = rig.user / "temp.mdb";
    EXPECT_EQ(*answer, (c.expectProgram ? rig.program / "temp.mdb" : usersFile).string());
    if (c.expectedUser) {
      EXPECT_EQ(test::ReadFile(usersFile), c.expectedUser);
      EXPECT_NE(fs::status(usersFile).permissions() & fs::perms::owner_write, fs::perms::none)
          << "the user's staging database must be writable";
      // A copy made now, and the folder made for it, are the user's alone.
      if (!c.usersCopy) {
        EXPECT_EQ(fs::status(usersFile).permissions(),
                  fs::perms::owner_read | fs::perms::owner_write);
        EXPECT_EQ(fs::status(rig.user).permissions(), fs::perms::owner_all);
      }
    } else {
      EXPECT_FALSE(fs::exists(usersFile));
    }
    if (c.shipped) {
      EXPECT_EQ(test::ReadFile(rig.program / "temp.mdb"), "shipped");
    }
    // Nothing half-copied is left beside the user's database.
    if (fs::exists(rig.user)) {
      for (const auto& entry : fs::directory_iterator(rig.user)) {
        EXPECT_EQ(entry.path().filename(), "temp.mdb");
      }
    }
  }
}

TEST(StagingDatabaseFor, NamesTheFileWhenTheUsersCopyCannotBeMade) {
  StagingRig rig;
  rig.Ship();
  fs::permissions(rig.program, fs::perms::owner_read | fs::perms::owner_exec |
                                   fs::perms::others_read | fs::perms::others_exec);
  // The user's data folder would have to be made below a file.
  rig.dir.Write("user/Corvane/Palomet", "a file where the folder should be");
  fs::permissions(rig.user, fs::perms::all);
  const auto answer = rig.Stage();
  if (!answer) {
    GTEST_SKIP() << "cannot run as an ordinary user";
  }
  EXPECT_EQ(
      answer->rfind(
          "error: Cannot make the staging database '" + (rig.user / "temp.mdb").string() + "'", 0),
      0u)
      << *answer;
  EXPECT_EQ(test::ReadFile(rig.user), "a file where the folder should be");
}

}  // namespace
}  // namespace palomet
