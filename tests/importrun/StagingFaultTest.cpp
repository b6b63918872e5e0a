// "Start Importing" when the staging database or the program folder is in a bad state: the
// run ends with a warning that names the staging database and says what is wrong, starts no
// workbook, and leaves the user's files and the staging database's contents as they were.

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "importrun/ImportRun.h"
#include "office/db/DatabaseApplication.h"
#include "staging/Access1.h"
#include "tests/importrun/ImportRunFakes.h"
#include "tests/support/FakeMessageBoxes.h"
#include "tests/support/FilePermissions.h"
#include "tests/support/TempDir.h"

namespace palomet {
namespace {

namespace fs = std::filesystem;
using test::FakeWindow;
using test::TempDir;
using test::Views;

// A second process that holds the database file locked, as another copy of the program in
// the middle of its import does, until the object goes: `begin` is "BEGIN IMMEDIATE" (others
// may still read) or "BEGIN EXCLUSIVE" (nobody may).
class SecondCopy {
 public:
  SecondCopy(const std::string& db, const std::string& begin) {
    const std::string script =
        "import sqlite3, sys, time\n"
        "c = sqlite3.connect(sys.argv[1], isolation_level=None)\n"
        "c.execute('" +
        begin +
        "')\n"
        "c.execute('CREATE TABLE busy (x)')\n"
        "print('locked', flush=True)\n"
        "time.sleep(60)\n";
    int out[2];
    if (::pipe(out) != 0) return;
    pid_ = ::fork();
    if (pid_ == 0) {
      ::dup2(out[1], STDOUT_FILENO);
      ::close(out[0]);
      ::execl("/usr/bin/python3", "python3", "-c", script.c_str(), db.c_str(), nullptr);
      ::_exit(127);
    }
    ::close(out[1]);
    reader_ = out[0];  // kept open: the process must not die writing to a closed pipe
    std::string said;
    char c;
    while (said.size() < 7 && ::read(reader_, &c, 1) == 1) said += c;
    locked_ = said == "locked\n";
  }
  ~SecondCopy() {
    if (pid_ > 0) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
    }
    if (reader_ >= 0) ::close(reader_);
  }
  SecondCopy(const SecondCopy&) = delete;
  SecondCopy& operator=(const SecondCopy&) = delete;
  bool Locked() const { return locked_; }

 private:
  pid_t pid_ = -1;
  int reader_ = -1;
  bool locked_ = false;
};

class StagingFaultTest : public ::testing::Test {
 protected:
  std::string Program() const { return dir_.Str() + "/program"; }
  std::string Staging() const { return StagingDatabasePath(Program()); }

  // A staging database that holds the tables of an earlier run.
  void EarlierRun() {
    dir_.Write("program/temp.mdb", "");
    DatabaseApplication app;
    app.OpenCurrentDatabase(Staging());
    app.ImportXml(dir_.Write("earlier.xml", "<r><Old><v>1</v></Old></r>").string());
    app.Quit();
  }

  test::KeepAliveViews views_;
  TempDir dir_;
};

TEST_F(StagingFaultTest, ABadStagingDatabaseEndsTheRunWithAWarningNamingIt) {
  const struct {
    const char* what;
    std::function<void()> prepare;  // run with permissions applying
    std::vector<std::string> says;  // parts of the warning
    bool permissions;
  } cases[] = {
      {"a read-only staging database holding an earlier run's tables",
       [&] {
         EarlierRun();
         fs::permissions(Staging(), fs::perms::owner_read);
       },
       {"cannot be written"},
       true},
      {"an empty read-only staging database",
       [&] {
         dir_.Write("program/temp.mdb", "");
         fs::permissions(Staging(), fs::perms::owner_read);
       },
       {"cannot be written"},
       true},
      {"a staging database that is not a database",
       [&] { dir_.Write("program/temp.mdb", "a text file, not a database"); },
       {"Unrecognized database format"},
       false},
      {"a staging database that is missing",
       [&] { fs::create_directories(Program()); },
       {"Could not find or open"},
       false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    fs::remove_all(Program());
    c.prepare();
    const std::string xml = dir_.Write("in/good.xml", "<r><T><v>2</v></T></r>").string();
    const auto before = fs::exists(Staging()) ? test::ReadFile(Staging()) : std::string("(none)");
    FakeWindow w;
    w.files.Add(xml);
    Views().clear();
    {
      test::PermissionsApply permissions;
      if (c.permissions && !permissions.Holds()) continue;
      ImportRun(w, Program()).Start();
    }
    ASSERT_FALSE(w.boxes.empty());
    const test::ShownBox& warning = w.boxes.back();
    EXPECT_EQ(warning.icon, MsgIcon::Warning);
    EXPECT_NE(warning.text.find(Staging()), std::string::npos) << warning.text;
    for (const std::string& part : c.says) {
      EXPECT_NE(warning.text.find(part), std::string::npos) << warning.text;
    }
    EXPECT_TRUE(Views().empty()) << "a workbook was started";
    EXPECT_EQ(w.pointer, Pointer::Default);
    EXPECT_EQ(fs::exists(Staging()) ? test::ReadFile(Staging()) : std::string("(none)"), before);
    EXPECT_EQ(test::ReadFile(xml), "<r><T><v>2</v></T></r>");
    fs::permissions(Program(), fs::perms::owner_all, fs::perm_options::add);
  }
}

TEST_F(StagingFaultTest, AStagingDatabaseHeldByASecondCopyIsNotImportedInto) {
  for (const char* begin : {"BEGIN IMMEDIATE", "BEGIN EXCLUSIVE"}) {
    for (const bool earlier : {false, true}) {
      SCOPED_TRACE(std::string(begin) + (earlier ? ", holding an earlier run's tables" : ""));
      fs::remove_all(Program());
      if (earlier) {
        EarlierRun();
      } else {
        dir_.Write("program/temp.mdb", "");
      }
      SecondCopy other(Staging(), begin);
      ASSERT_TRUE(other.Locked());
      FakeWindow w;
      w.files.Add(dir_.Write("in/good.xml", "<r><T><v>2</v></T></r>").string());
      Views().clear();
      ImportRun(w, Program()).Start();
      ASSERT_EQ(w.boxes.size(), 1u);
      EXPECT_EQ(w.boxes[0].icon, MsgIcon::Warning);
      EXPECT_NE(w.boxes[0].text.find(Staging()), std::string::npos) << w.boxes[0].text;
      EXPECT_NE(w.boxes[0].text.find("nother copy"), std::string::npos) << w.boxes[0].text;
      EXPECT_TRUE(Views().empty());
    }
  }
}

TEST_F(StagingFaultTest, AProgramFolderThatTakesNoNewFilesStillRuns) {
  EarlierRun();
  fs::permissions(Program(), fs::perms::owner_read | fs::perms::owner_exec);
  FakeWindow w;
  w.files.Add(dir_.Write("in/good.xml", "<r><T><v>2</v></T></r>").string());
  {
    test::PermissionsApply permissions;
    if (!permissions.Holds()) GTEST_SKIP() << "permissions cannot be made to apply";
    ImportRun(w, Program()).Start();
  }
  fs::permissions(Program(), fs::perms::owner_all, fs::perm_options::add);
  EXPECT_EQ(w.BoxTexts(), std::vector<std::string>{"Done."});
  test::FakeMessageBoxes boxes;
  EXPECT_EQ(GetTableNames(Staging(), "", boxes), std::vector<std::string>{"T"})
      << "the earlier run's tables stayed";
}

}  // namespace
}  // namespace palomet
