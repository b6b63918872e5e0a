// One staging database and the runs that use it: a second run at the same time is refused
// before it touches anything, so two runs never mix; whatever a killed run or a damaged file
// left, the next run starts from an empty database; the staging files are the user's alone.

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <tuple>
#include <vector>

#include "tests/support/ChildProcess.h"
#include "tests/support/TempDir.h"

namespace palomet {
namespace {

namespace fs = std::filesystem;
using test::TempDir;

// palomet-import ("" as the program) or another program, $TMPDIR the test's folder, its
// standard error in NAME.err there.
class Process : public test::ChildProcess {
 public:
  Process(const TempDir& dir, std::vector<std::string> args, const std::string& killAt = "",
          const std::string& name = "run")
      : ChildProcess(WithProgram(std::move(args)), dir.Str(),
                     (dir.Path() / (name + ".err")).string(), killAt) {}

 private:
  static std::vector<std::string> WithProgram(std::vector<std::string> args) {
    if (args[0].empty()) args[0] = PALOMET_IMPORT_EXE;
    return args;
  }
};

// An export whose every value begins with `prefix`.
std::string Export(const std::string& prefix, int rows) {
  std::string xml = "<r>";
  for (int i = 0; i < rows; ++i) {
    xml += "<T><v>" + prefix + std::to_string(i) + "</v><w>" + prefix + "w</w></T>";
  }
  return xml + "</r>";
}

// The text of the workbook's sheets, as the package holds it.
std::string SheetXml(const std::string& xlsx) {
  std::string text;
  FILE* p = ::popen(("unzip -p '" + xlsx + "' 'xl/worksheets/*.xml' 2>/dev/null").c_str(), "r");
  if (p == nullptr) return text;
  char buf[65536];
  for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, p)) > 0;) text.append(buf, n);
  ::pclose(p);
  return text;
}

constexpr const char* kInUse = "palomet-import: Another import is using the staging database";

TEST(CliStaging, TwoRunsOnOneStagingDatabaseNeverMix) {
  TempDir dir;
  const std::string db = dir.Write("staging/temp.mdb", "").string();
  const std::string a = dir.Write("a.xml", Export("alpha-", 40'000)).string();
  const std::string b = dir.Write("b.xml", Export("bravo-", 40'000)).string();

  // Started together, again and again: a run that reports success holds its own rows alone,
  // and a run that found the database taken says so and writes nothing.
  for (int round = 0; round < 3; ++round) {
    SCOPED_TRACE(round);
    const std::string outA = dir.Str() + "/a" + std::to_string(round) + ".xlsx";
    const std::string outB = dir.Str() + "/b" + std::to_string(round) + ".xlsx";
    Process runA(dir, {"", "-q", "--staging", db, "-o", outA, a}, "", "a");
    Process runB(dir, {"", "-q", "--staging", db, "-o", outB, b}, "", "b");
    for (auto [run, out, own, other] : {std::tuple{&runA, outA, "alpha-39999", "bravo-"},
                                        {&runB, outB, "bravo-39999", "alpha-"}}) {
      const int status = run->Wait();
      if (status == 0) {
        const std::string sheets = SheetXml(out);
        EXPECT_NE(sheets.find(own), std::string::npos);
        EXPECT_EQ(sheets.find(other), std::string::npos) << "another run's rows were taken";
      } else {
        EXPECT_EQ(status, 1) << run->Err();
        EXPECT_EQ(run->Err().rfind(kInUse, 0), 0u) << run->Err();
        EXPECT_FALSE(fs::exists(out));
      }
    }
  }

  // Held by another process for the length of a run: refused before anything is touched.
  const std::string held = dir.Str() + "/held";
  Process holder(dir,
                 {"python3", "-c",
                  "import fcntl, sys, time\n"
                  "f = open(sys.argv[1])\n"
                  "fcntl.flock(f, fcntl.LOCK_EX)\n"
                  "open(sys.argv[2], 'w').close()\n"
                  "time.sleep(60)\n",
                  db, held},
                 "", "holder");
  struct Ender {
    pid_t pid;
    ~Ender() { ::kill(pid, SIGKILL); }
  } ender{holder.Pid()};
  for (int i = 0; i < 500 && !fs::exists(held); ++i) ::usleep(10'000);
  ASSERT_TRUE(fs::exists(held));
  const std::string content = test::ReadFile(db);
  Process refused(dir, {"", "-q", "--staging", db, "-o", dir.Str() + "/held.xlsx", a}, "", "held");
  EXPECT_EQ(refused.Wait(), 1);
  const std::string err = refused.Err();
  EXPECT_EQ(err.rfind(kInUse, 0), 0u) << err;
  EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
  EXPECT_EQ(test::ReadFile(db), content) << "the held database was touched";
  EXPECT_FALSE(fs::exists(dir.Str() + "/held.xlsx"));
}

TEST(CliStaging, WhateverAKilledRunOrADamagedFileLeftTheNextRunStartsAfresh) {
  TempDir dir;
  const std::string small = dir.Write("small.xml", Export("small-", 10)).string();
  // Values worth more than the import's page cache, so that pages reach the file before the
  // file is committed.
  const std::string big = dir.Write("big.xml", Export(std::string(200, 'x'), 40'000)).string();
  const auto database = [&](const std::string& sql) {
    const std::string made = dir.Str() + "/made.mdb";
    fs::remove(made);
    Process sqlite(dir,
                   {"python3", "-c",
                    "import sqlite3, sys\n"
                    "c = sqlite3.connect(sys.argv[1])\n"
                    "c.executescript(sys.argv[2])\n"
                    "c.commit()\n",
                    made, sql},
                   "", "sqlite");
    EXPECT_EQ(sqlite.Wait(), 0);
    return test::ReadFile(made);
  };
  const std::string sound = database(
      "PRAGMA page_size=1024; CREATE TABLE Old (v); "
      "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 3000) "
      "INSERT INTO Old SELECT printf('old-%05d', i) FROM n;");
  const struct {
    const char* what;
    std::function<void(const std::string& db)> damage;
  } cases[] = {
      {"a run killed while it staged into a new database",
       [&](const std::string& db) {
         Process killed(dir, {"", "-q", "--staging", db, "-o", dir.Str() + "/k.xlsx", big},
                        "file-rows", "killed");
         EXPECT_EQ(killed.Wait(), 128 + SIGKILL) << killed.Err();
       }},
      {"a header left unwritten",
       [&](const std::string& db) {
         std::ofstream(db, std::ios::binary) << std::string(40'000, '\0') + "rows";
       }},
      {"a header the engine refuses",
       [&](const std::string& db) {
         std::string bytes = sound;
         bytes[16] = 3;  // no such page size
         std::ofstream(db, std::ios::binary) << bytes;
       }},
      {"pages overwritten",
       [&](const std::string& db) {
         std::string bytes = sound;
         for (std::size_t i = 3 * 1024; i < 40 * 1024 && i < bytes.size(); ++i) bytes[i] = 'Z';
         std::ofstream(db, std::ios::binary) << bytes;
       }},
      {"a file cut short",
       [&](const std::string& db) {
         std::ofstream(db, std::ios::binary) << sound.substr(0, 20'000);
       }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string db = dir.Write("staging/temp.mdb", "").string();
    c.damage(db);
    const std::string out = dir.Str() + "/out.xlsx";
    fs::remove(out);
    Process next(dir, {"", "-q", "--staging", db, "-o", out, small}, "", "next");
    EXPECT_EQ(next.Wait(), 0) << next.Err();
    EXPECT_EQ(next.Err(), "") << "the damage was reported";
    const std::string sheets = SheetXml(out);
    EXPECT_NE(sheets.find("small-9"), std::string::npos);
    EXPECT_EQ(sheets.find("old-"), std::string::npos);
    EXPECT_EQ(sheets.find("xxxx"), std::string::npos);
  }

  // A file of another kind is no staging database of ours: reported, and left as it is.
  const std::string foreign = dir.Write("staging/temp.mdb", "my notes, not a database").string();
  Process notOurs(dir, {"", "-q", "--staging", foreign, "-o", dir.Str() + "/f.xlsx", small}, "",
                  "f");
  EXPECT_EQ(notOurs.Wait(), 1);
  EXPECT_NE(notOurs.Err().find("Unrecognized database format"), std::string::npos) << notOurs.Err();
  EXPECT_EQ(test::ReadFile(foreign), "my notes, not a database");

  // A big import's room goes back at the next reset.
  const std::string db = dir.Write("staging/temp.mdb", "").string();
  Process large(dir, {"", "-q", "--staging", db, "-o", dir.Str() + "/l.xlsx", big}, "", "large");
  EXPECT_EQ(large.Wait(), 0) << large.Err();
  EXPECT_GT(fs::file_size(db), 5'000'000u);
  Process after(dir, {"", "-q", "--staging", db, "-o", dir.Str() + "/s.xlsx", small}, "", "after");
  EXPECT_EQ(after.Wait(), 0) << after.Err();
  EXPECT_LT(fs::file_size(db), 100'000u);
}

TEST(CliStaging, StagingFilesAreTheUsersAloneWhateverTheUmask) {
  TempDir dir;
  const std::string xml = dir.Write("in.xml", Export("v-", 5)).string();
  // A run's own staging in $TMPDIR, looked at while the run is stopped after its file.
  Process stopped(dir, {"", "-q", "-o", dir.Str() + "/o.xlsx", xml}, "file-staged:19", "stopped");
  int state = 0;
  ::waitpid(stopped.Pid(), &state, WUNTRACED);
  ASSERT_TRUE(WIFSTOPPED(state));
  const fs::path folder = dir.Path() / ("palomet-import-" + std::to_string(stopped.Pid()));
  struct stat info {};
  ASSERT_EQ(::stat(folder.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0700u);
  ASSERT_EQ(::stat((folder / "temp.mdb").c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600u);
  ::kill(stopped.Pid(), SIGKILL);
  stopped.Wait();

  // A staging database that --staging makes.
  const std::string made = dir.Str() + "/new.mdb";
  Process given(dir, {"", "-q", "--staging", made, "-o", dir.Str() + "/o.xlsx", xml}, "", "given");
  EXPECT_EQ(given.Wait(), 0) << given.Err();
  ASSERT_EQ(::stat(made.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600u);
}

}  // namespace
}  // namespace palomet
