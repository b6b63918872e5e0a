// The program stopped at any moment: killed outright (a crash, the out-of-memory killer, a
// closed terminal), interrupted once or twice, at every stage of a run. Until the new
// workbook takes the output's place the earlier output stays as it was and nothing is left
// beside it; what a killed run leaves in $TMPDIR the next run removes.

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/support/ChildProcess.h"
#include "tests/support/TempDir.h"
#include "tests/support/XlsxReadBack.h"

namespace palomet {
namespace {

namespace fs = std::filesystem;
using test::TempDir;

struct Ended {
  int status = -1;  // the exit status, or -1 when ended by a signal
  int signal = 0;
};

class CliStopTest : public ::testing::Test {
 protected:
  void SetUp() override {
    for (int f = 0; f < 2; ++f) {
      std::string xml = "<r>";
      for (int i = 0; i < 2'000; ++i) {
        xml += "<T" + std::to_string(f) + "><a>" + std::to_string(i) + "</a><b>x</b></T" +
               std::to_string(f) + ">";
      }
      inputs_.push_back(dir_.Write("in/f" + std::to_string(f) + ".xml", xml + "</r>").string());
    }
    output_ = dir_.Write("out/book.xlsx", "an earlier output").string();
    fs::create_directory(Tmp());
  }

  fs::path Tmp() const { return dir_.Path() / "tmp"; }

  // Runs palomet-import with PALOMET_KILL_AT=`killAt` (none when empty), $TMPDIR its own.
  Ended Run(const std::string& killAt) const {
    const std::string exe = PALOMET_IMPORT_EXE;
    std::vector<std::string> args = {exe, "-q", "--multiple-sheets", "-o", output_};
    args.insert(args.end(), inputs_.begin(), inputs_.end());
    test::ChildProcess run(args, Tmp().string(), (dir_.Path() / "err.txt").string(), killAt);
    Ended e;
    e.signal = run.Signal();
    if (e.signal == 0) e.status = run.Wait();
    return e;
  }

  std::string Err() const { return test::ReadFile(dir_.Path() / "err.txt"); }

  void ExpectEarlierOutputAlone() const {
    EXPECT_EQ(test::ReadFile(output_), "an earlier output");
    EXPECT_EQ(test::EntryNames(dir_.Path() / "out"), std::vector<std::string>{"book.xlsx"});
  }

  bool NewWorkbookInPlace() const {
    const auto book = test::ReadXlsx(output_);
    return book.ok && book.sheets.size() == 2;
  }

  TempDir dir_;
  std::vector<std::string> inputs_;
  std::string output_;
};

TEST_F(CliStopTest, AKilledRunLeavesNothingBesideTheOutputAndTheNextRunClearsItsStaging) {
  // Staging, the workbook half-written, and complete but not yet in the output's place.
  for (const char* point : {"file-staged", "sheet-written", "replace"}) {
    SCOPED_TRACE(point);
    const Ended killed = Run(point);
    EXPECT_EQ(killed.signal, SIGKILL);
    ExpectEarlierOutputAlone();
    // The killed run's staging folder stays until the next run, which removes it.
    EXPECT_EQ(test::EntryNames(Tmp()).size(), 1u);
    const Ended again = Run("");
    EXPECT_EQ(again.status, 0) << Err();
    EXPECT_TRUE(NewWorkbookInPlace());
    EXPECT_EQ(test::EntryNames(Tmp()), std::vector<std::string>{});
    dir_.Write("out/book.xlsx", "an earlier output");
  }
}

TEST_F(CliStopTest, StaleStagingOfThisUserIsRemovedButALiveRunsAndAnotherUsersStay) {
  // A process that is surely gone: a child already waited for.
  const pid_t child = ::fork();
  if (child == 0) ::_exit(0);
  ::waitpid(child, nullptr, 0);
  const std::string dead = "palomet-import-" + std::to_string(child);
  const std::string live = "palomet-import-" + std::to_string(::getpid());
  dir_.Write("tmp/" + dead + "/temp.mdb", "left by a killed run");
  dir_.Write("tmp/" + dead + ".1/temp.mdb", "left by a killed run");
  dir_.Write("tmp/" + live + "/temp.mdb", "a run under way");
  dir_.Write("tmp/palomet-import-notapid/keep", "not a staging folder");
  dir_.Write("tmp/other-" + std::to_string(child) + "/keep", "someone else's");
  std::vector<std::string> expected = {"other-" + std::to_string(child), live,
                                       "palomet-import-notapid"};
  if (::geteuid() == 0) {
    // Another user's folder of a gone process: not this user's to remove.
    const std::string theirs = "palomet-import-" + std::to_string(child) + ".2";
    dir_.Write("tmp/" + theirs + "/temp.mdb", "another user's");
    ASSERT_EQ(::chown((Tmp() / theirs).c_str(), 65534, 65534), 0);
    expected.push_back(theirs);
  }
  std::sort(expected.begin(), expected.end());
  const Ended e = Run("");
  EXPECT_EQ(e.status, 0) << Err();
  EXPECT_TRUE(NewWorkbookInPlace());
  EXPECT_EQ(test::EntryNames(Tmp()), expected);
  EXPECT_EQ(test::ReadFile(Tmp() / live / "temp.mdb"), "a run under way");
}

TEST_F(CliStopTest, ASignalBeforeTheNewFileTakesThePlaceStopsWith130AfterItTheRunEndsZero) {
  for (const int sig : {SIGINT, SIGTERM, SIGHUP}) {
    const std::string n = std::to_string(sig);
    SCOPED_TRACE(n);
    // While staging, while writing, and at the last moment before the rename.
    for (const char* point : {"file-staged", "sheet-written", "replace"}) {
      SCOPED_TRACE(point);
      const Ended stopped = Run(std::string(point) + ":" + n);
      EXPECT_EQ(stopped.status, 130) << Err();
      EXPECT_EQ(Err(), "palomet-import: interrupted\n");
      ExpectEarlierOutputAlone();
      EXPECT_EQ(test::EntryNames(Tmp()), std::vector<std::string>{});
    }
    // Right after the rename (the signal held back until then): the run is done.
    const Ended done = Run("replaced:" + n);
    EXPECT_EQ(done.status, 0) << Err();
    EXPECT_TRUE(NewWorkbookInPlace());
    EXPECT_EQ(test::EntryNames(dir_.Path() / "out"), std::vector<std::string>{"book.xlsx"});
    EXPECT_EQ(test::EntryNames(Tmp()), std::vector<std::string>{});
    dir_.Write("out/book.xlsx", "an earlier output");
  }
}

TEST_F(CliStopTest, ASecondInterruptEndsAtOnceAndStillLeavesNothing) {
  for (const char* point : {"file-staged:2,2", "sheet-written:2,2", "replace:15,2"}) {
    SCOPED_TRACE(point);
    const Ended e = Run(point);
    EXPECT_EQ(e.signal, SIGINT);
    ExpectEarlierOutputAlone();
    EXPECT_EQ(test::EntryNames(Tmp()), std::vector<std::string>{});
  }
}

}  // namespace
}  // namespace palomet
