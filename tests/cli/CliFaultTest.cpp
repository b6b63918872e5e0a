// The command line where writing fails: an output folder it may not write, a disk that fills
// up, a file size limit. Each run exits 1 with one line giving the reason, leaves no .xlsx
// (whole or partial) and no temporary file behind, and keeps earlier outputs and the user's
// files as they were.

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "cli/Cli.h"
#include "tests/support/FilePermissions.h"
#include "tests/support/TempDir.h"

namespace palomet {
namespace {

namespace fs = std::filesystem;
using test::TempDir;

// Every file under `folder` with its contents.
std::map<std::string, std::string> Snapshot(const fs::path& folder) {
  std::map<std::string, std::string> files;
  for (const auto& e : fs::recursive_directory_iterator(folder)) {
    if (e.is_regular_file())
      files[fs::relative(e.path(), folder).string()] = test::ReadFile(e.path());
  }
  return files;
}

// An XML file of `rows` records whose values hardly compress.
std::string Incompressible(int rows) {
  std::string xml = "<r>";
  unsigned x = 12345;
  for (int i = 0; i < rows; ++i) {
    xml += "<T>";
    for (const char* f : {"a", "b", "c"}) {
      x = x * 1103515245u + 12345u;
      char value[16];
      std::snprintf(value, sizeof value, "%08x", x);
      xml += std::string("<") + f + ">k" + value + "</" + f + ">";
    }
    xml += "</T>";
  }
  return xml + "</r>";
}

struct Outcome {
  int status = -1;
  std::string out;  // standard output of the shell
  std::string err;  // the program's standard error
};

// Runs `script` with /bin/sh; PROGRAM stands for palomet-import, ERR for its error file.
Outcome Shell(const TempDir& scratch, std::string script) {
  const std::string err = (scratch.Path() / "stderr.txt").string();
  for (auto [key, value] :
       {std::pair<std::string, std::string>{"PROGRAM", PALOMET_IMPORT_EXE}, {"ERR", err}}) {
    for (std::size_t at; (at = script.find(key)) != std::string::npos;) {
      script.replace(at, key.size(), "'" + value + "'");
    }
  }
  Outcome o;
  FILE* p = ::popen(script.c_str(), "r");
  if (p == nullptr) return o;
  char buf[4096];
  for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, p)) > 0;) o.out.append(buf, n);
  const int status = ::pclose(p);
  o.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  o.err = test::ReadFile(err);
  return o;
}

class CliFaultTest : public ::testing::Test {
 protected:
  // The runs get a temporary folder of their own, so that what they leave there is seen
  // (and runs of other tests do not disturb the count).
  void SetUp() override {
    input_ = dir_.Write("in/data.xml", Incompressible(20'000)).string();
    earlier_ = dir_.Write("out/earlier.xlsx", "an earlier output").string();
    inputs_ = Snapshot(dir_.Path() / "in");
    fs::create_directory(dir_.Path() / "tmp");
    if (const char* old = std::getenv("TMPDIR")) savedTmp_ = old;
    ::setenv("TMPDIR", (dir_.Path() / "tmp").c_str(), 1);
  }
  void TearDown() override {
    if (savedTmp_) {
      ::setenv("TMPDIR", savedTmp_->c_str(), 1);
    } else {
      ::unsetenv("TMPDIR");
    }
  }
  void ExpectNothingLost() {
    EXPECT_EQ(Snapshot(dir_.Path() / "in"), inputs_) << "the input files changed";
    EXPECT_EQ(test::ReadFile(earlier_), "an earlier output");
    EXPECT_EQ(test::EntryNames(dir_.Path() / "tmp"), std::vector<std::string>{})
        << "temporary files were left behind";
  }
  static void ExpectOneLineReason(const std::string& err, const std::string& reason) {
    EXPECT_EQ(err.rfind("palomet-import: ", 0), 0u) << err;
    EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
    EXPECT_NE(err.find(reason), std::string::npos) << err;
  }

  TempDir dir_;
  std::string input_;
  std::string earlier_;
  std::map<std::string, std::string> inputs_;
  std::optional<std::string> savedTmp_;
};

TEST_F(CliFaultTest, AnOutputFolderThatCannotBeWrittenFailsBeforeAnyImport) {
  const fs::path locked = dir_.Path() / "out";
  fs::permissions(locked, fs::perms::owner_read | fs::perms::owner_exec);
  test::PermissionsApply permissions;
  if (!permissions.Holds()) GTEST_SKIP() << "permissions cannot be made to apply";
  std::ostringstream out, err;
  const int status = RunCli({"-q", "-o", (locked / "new.xlsx").string(), input_}, out, err);
  EXPECT_EQ(status, 1);
  ExpectOneLineReason(err.str(), "'" + (locked / "new.xlsx").string() + "'");
  EXPECT_NE(err.str().find("Permission denied"), std::string::npos) << err.str();
  EXPECT_EQ(Snapshot(locked),
            (std::map<std::string, std::string>{{"earlier.xlsx", "an earlier output"}}));
  ExpectNothingLost();
}

TEST_F(CliFaultTest, AFileSizeLimitAnywhereInTheRunExitsOneWithTheReason) {
  const std::string out = (dir_.Path() / "out" / "earlier.xlsx").string();
  // A small limit stops the staging database, a larger one the workbook's own temporary files.
  // Neither is the fault of the file being imported, so --keep-going does not pass it over.
  for (const std::string options : {"-q", "-q -k"}) {
    for (const int kilobytes : {64, 1024}) {
      SCOPED_TRACE(options + ", " + std::to_string(kilobytes) + " KB");
      const Outcome o =
          Shell(dir_, "ulimit -f " + std::to_string(kilobytes) + "; PROGRAM " + options + " -o '" +
                          out + "' '" + input_ + "' 2>ERR; echo $?");
      EXPECT_EQ(o.out, "1\n") << "killed by the limit instead of failing: " << o.err;
      ExpectOneLineReason(o.err, "File too large");
      EXPECT_EQ(Snapshot(dir_.Path() / "out"),
                (std::map<std::string, std::string>{{"earlier.xlsx", "an earlier output"}}))
          << "a partial workbook was left";
      ExpectNothingLost();
    }
  }
}

TEST_F(CliFaultTest, AFullDiskUnderTheOutputLeavesNoPartialWorkbook) {
  // A private mount of a 128 KB file system, seen only by this shell and the program.
  const fs::path small = dir_.Path() / "small";
  fs::create_directory(small);
  const std::string target = (small / "new.xlsx").string();
  const Outcome o =
      Shell(dir_, "unshare -m sh -c \"mount -t tmpfs -o size=128k tmpfs '" + small.string() +
                      "' || exit 77; PROGRAM -q -o '" + target + "' '" + input_ +
                      "' 2>ERR; echo \\$?; ls -A '" + small.string() + "'\" 2>/dev/null; echo end");
  if (o.out == "end\n") GTEST_SKIP() << "no private mount of a small file system here";
  EXPECT_EQ(o.out, "1\nend\n") << "status and files left on the full disk: " << o.err;
  ExpectOneLineReason(o.err, target);
  EXPECT_NE(o.err.find("No space left on device"), std::string::npos) << o.err;
  ExpectNothingLost();
}

TEST_F(CliFaultTest, AStagingDatabaseOnAFullDiskGivesItsRoomBackBeforeTheRunFails) {
  // The staging database on a private 256 KB file system: a first file fits, the next fills
  // it.
  const fs::path small = dir_.Path() / "small";
  fs::create_directory(small);
  const std::string staging = (small / "temp.mdb").string();
  const std::string first = dir_.Write("first/data.xml", Incompressible(2'000)).string();
  const Outcome o =
      Shell(dir_, "unshare -m sh -c \"mount -t tmpfs -o size=256k tmpfs '" + small.string() +
                      "' || exit 77; : > '" + staging + "'; PROGRAM -q -k --staging '" + staging +
                      "' -o '" + earlier_ + "' '" + first + "' '" + input_ +
                      "' 2>ERR; echo \\$?; wc -c < '" + staging + "'\" 2>/dev/null; echo end");
  if (o.out == "end\n") GTEST_SKIP() << "no private mount of a small file system here";
  EXPECT_EQ(o.out, "1\n0\nend\n") << "status, and the staging database's size after: " << o.err;
  ExpectOneLineReason(o.err, "No space left on device");
  ExpectNothingLost();
}

}  // namespace
}  // namespace palomet
