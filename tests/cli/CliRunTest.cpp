#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "cli/Cli.h"
#include "office/MessageBoxes.h"
#include "staging/Access1.h"
#include "tests/cli/CliInProcess.h"
#include "tests/support/FakeMessageBoxes.h"
#include "tests/support/TempDir.h"
#include "tests/support/XlsxReadBack.h"

namespace palomet {
namespace {

namespace fs = std::filesystem;
using test::Cli;
using test::Lines;
using test::ReadXlsx;
using test::TempDir;

// Two files of one shape: the second file's table is named T1.
std::string Shape(const std::string& first, const std::string& second) {
  return "<root><T><id>" + first + "</id><name>x</name></T><T><id>" + second +
         "</id><name>y</name></T></root>";
}

TEST(CliRun, OneSheetStacksEveryTableWithItsOwnHeaderRow) {
  TempDir dir;
  const auto a = dir.Write("a.xml", Shape("1", "2"));
  const auto b = dir.Write("b.xml", Shape("3", "4"));
  const std::string out = dir.Str() + "/out.xlsx";
  const auto r = Cli({"--output", out, a.string(), b.string()});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "");

  const auto book = ReadXlsx(out);
  ASSERT_EQ(book.SheetNames(), std::vector<std::string>{"T1"}) << book.dump;
  const auto& s = book.sheets[0];
  const std::vector<std::vector<std::string>> expected = {{"id", "name"}, {"1", "x"}, {"2", "y"},
                                                          {"id", "name"}, {"3", "x"}, {"4", "y"}};
  ASSERT_EQ(s.Rows(), 6);
  for (int row = 1; row <= 6; ++row) {
    EXPECT_EQ(s.At(row, 1), expected[row - 1][0]) << "row " << row;
    EXPECT_EQ(s.At(row, 2), expected[row - 1][1]) << "row " << row;
    EXPECT_EQ(s.At(row, 3), "") << "row " << row;
  }
  EXPECT_EQ(s.cells.at({2, 1}).kind, "n");  // typed as a person typing would
  EXPECT_EQ(s.cells.at({1, 1}).kind, "s");
}

TEST(CliRun, MultipleSheetsGiveEachTableItsOwnSheetAndAPathGivenTwiceIsImportedTwice) {
  TempDir dir;
  const auto a = dir.Write("a.xml", Shape("1", "2"));
  const std::string out = dir.Str() + "/out.xlsx";
  const auto r = Cli({a.string(), "--multiple-sheets", a.string(), "-o", out});
  ASSERT_EQ(r.status, 0) << r.err;
  const auto book = ReadXlsx(out);
  ASSERT_EQ(book.SheetNames(), (std::vector<std::string>{"T", "T1"})) << book.dump;
  for (const auto& s : book.sheets) {
    EXPECT_EQ(s.Rows(), 3) << s.name;
    EXPECT_EQ(s.At(1, 2), "name");
    EXPECT_EQ(s.At(3, 1), "2");
  }
}

TEST(CliRun, FoldersGiveTheirXmlTreeAndFilesKeepArgumentOrder) {
  TempDir dir;
  const auto loose = dir.Write("loose.data", "<r><X><v>x</v></X></r>");  // any extension
  dir.Write("d/b.xml", "<r><B><v>b</v></B></r>");
  dir.Write("d/a.XML", "<r><A><v>a</v></A></r>");
  dir.Write("d/~a.xml", "<r><Skipped><v>s</v></Skipped></r>");
  dir.Write("d/notes.txt", "<r><Txt><v>t</v></Txt></r>");
  dir.Write("d/sub/c.xml", "<r><C><v>c</v></C></r>");
  const std::string out = dir.Str() + "/out.xlsx";
  const auto r = Cli({"--multiple-sheets", "-o", out, loose.string(), dir.Str() + "/d/"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(ReadXlsx(out).SheetNames(), (std::vector<std::string>{"X", "A", "B", "C"}));
}

TEST(CliRun, ErrorsExitOneWithOneLineNamingTheFileAndLeaveNoOutput) {
  TempDir dir;
  const auto good = dir.Write("good.xml", Shape("1", "2")).string();
  const auto bad = dir.Write("bad.xml", "<root><T><id>1</id></T>").string();
  const auto text = dir.Write("notadb.mdb", "this is not a database").string();
  fs::create_directory(dir.Path() / "folder.xlsx");
  const std::string out = dir.Str() + "/out.xlsx";
  const struct {
    std::string name;
    std::vector<std::string> args;
    std::string named;  // the file the message must name
  } cases[] = {
      {"malformed file after a good one", {"-o", out, good, bad}, bad},
      {"missing input", {"-o", out, good, dir.Str() + "/nope.xml"}, "nope.xml"},
      {"output folder missing", {"-o", dir.Str() + "/no/such/out.xlsx", good}, "no/such"},
      {"output is a folder", {"-o", dir.Str() + "/folder.xlsx", good}, "folder.xlsx"},
      {"staging is not a database", {"--staging", text, "-o", out, good}, text},
      {"a folder without XML files", {"-o", out, dir.Str() + "/folder.xlsx"}, "No files added."},
      {"a device", {"-o", out, good, "/dev/null"}, "/dev/null"},
  };
  const auto before = test::EntryNames(dir.Path());
  for (const auto& c : cases) {
    const auto r = Cli(c.args);
    EXPECT_EQ(r.status, 1) << c.name;
    EXPECT_EQ(Lines(r.err), 1) << c.name << ": " << r.err;
    EXPECT_NE(r.err.find(c.named), std::string::npos) << c.name << ": " << r.err;
    EXPECT_EQ(r.err.rfind("palomet-import: ", 0), 0u) << c.name;
    EXPECT_EQ(test::EntryNames(dir.Path()), before) << c.name << ": something was left behind";
  }
}

TEST(CliRun, AFailedRunLeavesAnEarlierOutputUntouched) {
  TempDir dir;
  const auto bad = dir.Write("bad.xml", "<root>").string();
  const auto out = dir.Write("out.xlsx", "earlier contents");
  EXPECT_EQ(Cli({"-o", out.string(), bad}).status, 1);
  EXPECT_EQ(test::ReadFile(out), "earlier contents");
}

TEST(CliRun, UsageErrorsExitTwoAndHelpAndVersionExitZero) {
  for (const auto& args : std::vector<std::vector<std::string>>{
           {}, {"a.xml"}, {"-o", "x.xlsx"}, {"--nonsense", "-o", "x.xlsx", "a.xml"}}) {
    const auto r = Cli(args);
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("--help"), std::string::npos) << r.err;
    EXPECT_EQ(r.out, "");
  }
  const auto help = Cli({"--help"});
  EXPECT_EQ(help.status, 0);
  EXPECT_EQ(help.out.rfind("Usage: palomet-import", 0), 0u);
  const auto version = Cli({"--version"});
  EXPECT_EQ(version.status, 0);
  EXPECT_EQ(version.out.rfind("palomet-import ", 0), 0u);
  EXPECT_EQ(Lines(version.out), 1);
}

// Points the temporary folder at a folder of the test's own while alive.
class TmpDirOverride {
 public:
  explicit TmpDirOverride(const std::string& dir) {
    if (const char* old = std::getenv("TMPDIR")) old_ = old;
    setenv("TMPDIR", dir.c_str(), 1);
  }
  ~TmpDirOverride() {
    if (old_.empty()) {
      unsetenv("TMPDIR");
    } else {
      setenv("TMPDIR", old_.c_str(), 1);
    }
  }

 private:
  std::string old_;
};

TEST(CliRun, StagingIsPrivateAndRemovedUnlessAFileIsNamed) {
  TempDir dir;
  TempDir tmp;
  const auto a = dir.Write("a.xml", Shape("1", "2")).string();
  const auto other = dir.Write("o.xml", "<r><Other><v>1</v></Other></r>").string();
  const auto bad = dir.Write("bad.xml", "<r>").string();
  {
    TmpDirOverride override(tmp.Str());
    EXPECT_EQ(Cli({"-o", dir.Str() + "/1.xlsx", a}).status, 0);
    EXPECT_EQ(Cli({"-o", dir.Str() + "/2.xlsx", a, bad}).status, 1);
  }
  EXPECT_TRUE(test::EntryNames(tmp.Path()).empty()) << "a private staging database stayed";

  const std::string staging = dir.Str() + "/staging.db";  // made when missing
  ASSERT_EQ(Cli({"--staging", staging, "-o", dir.Str() + "/3.xlsx", a}).status, 0);
  test::FakeMessageBoxes boxes;
  EXPECT_EQ(GetTableNames(staging, "", boxes), std::vector<std::string>{"T"});
  // A second run empties the named database first.
  ASSERT_EQ(Cli({"--staging=" + staging, "-o", dir.Str() + "/4.xlsx", other}).status, 0);
  EXPECT_EQ(GetTableNames(staging, "", boxes), std::vector<std::string>{"Other"});
  EXPECT_TRUE(boxes.shown.empty());
}

TEST(CliRun, ProgressGoesToStandardErrorOnlyWhenWantedAndNotQuiet) {
  TempDir dir;
  const auto a = dir.Write("a.xml", Shape("1", "2")).string();
  const std::string out = dir.Str() + "/out.xlsx";
  const auto shown = Cli({"-o", out, a}, true);
  ASSERT_EQ(shown.status, 0) << shown.err;
  EXPECT_NE(shown.err.find("Importing file 1/1: " + a), std::string::npos) << shown.err;
  EXPECT_NE(shown.err.find("Table 1/1: T, 3 rows"), std::string::npos) << shown.err;
  EXPECT_NE(shown.err.find("Writing " + out), std::string::npos) << shown.err;
  EXPECT_EQ(shown.out, "");
  EXPECT_EQ(Cli({"-o", out, "--quiet", a}, true).err, "");
  EXPECT_EQ(Cli({"-o", out, a}, false).err, "");
}

// The installed program: runs without a display and without the widget library.
// An interrupt stops the program cleanly: exit 130, no output, no staging left behind.
TEST(CliExecutable, AnInterruptStopsTheRunAndLeavesNothingBehind) {
  TempDir dir;
  TempDir tmp;
  {
    std::ofstream f(dir.Path() / "big.xml", std::ios::binary);
    f << "<r>";
    for (int i = 0; i < 400'000; ++i) f << "<T><a>" << i << "</a><b>x</b><c>y</c></T>";
    f << "</r>";
  }
  const std::string exe = PALOMET_IMPORT_EXE;
  const std::string out = dir.Str() + "/out.xlsx";
  const std::string in = dir.Str() + "/big.xml";
  const std::string errPath = dir.Str() + "/err.txt";
  const pid_t pid = fork();
  if (pid == 0) {
    setenv("TMPDIR", tmp.Str().c_str(), 1);
    if (!freopen(errPath.c_str(), "w", stderr)) _exit(99);
    execl(exe.c_str(), exe.c_str(), "-q", "-o", out.c_str(), in.c_str(), nullptr);
    _exit(98);
  }
  usleep(300'000);
  kill(pid, SIGINT);
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  ASSERT_TRUE(WIFEXITED(status)) << "ended by a signal";
  EXPECT_EQ(WEXITSTATUS(status), 130);
  EXPECT_FALSE(fs::exists(dir.Path() / "out.xlsx"));
  EXPECT_EQ(test::EntryNames(dir.Path()), (std::vector<std::string>{"big.xml", "err.txt"}));
  EXPECT_TRUE(test::EntryNames(tmp.Path()).empty());
  EXPECT_EQ(test::ReadFile(dir.Path() / "err.txt"), "palomet-import: interrupted\n");
}

// The parser's own reports never reach the terminal: a file whose bytes go bad half-way gives
// the one line that names the fault.
TEST(CliExecutable, AFileWhoseEncodingFailsHalfWayGivesOneLine) {
  TempDir dir;
  const auto bad = dir.Write("sjis.xml",
                             "<?xml version=\"1.0\" encoding=\"Shift_JIS\"?>\n<r>\n"
                             "<a>ok \x82\xa0</a>\n<a>bad \x87\x40\x81\x40 here</a>\n</r>\n");
  const std::string command = std::string("'") + PALOMET_IMPORT_EXE + "' -o '" + dir.Str() +
                              "/o.xlsx' '" + bad.string() + "' 2>'" + dir.Str() + "/err.txt'";
  EXPECT_EQ(WEXITSTATUS(std::system(command.c_str())), 1);
  const std::string err = test::ReadFile(dir.Path() / "err.txt");
  EXPECT_EQ(Lines(err), 1) << err;
  EXPECT_EQ(
      err.rfind("palomet-import: Cannot import '" + bad.string() + "': line 4, column 8: ", 0), 0u)
      << err;
  EXPECT_NE(err.find("0x87 0x40"), std::string::npos) << err;
  EXPECT_NE(err.find("not valid Shift_JIS"), std::string::npos) << err;
}

TEST(CliExecutable, RunsHeadlessWithoutTheWidgetLibrary) {
  TempDir dir;
  const auto a = dir.Write("a.xml", Shape("1", "2")).string();
  const std::string exe = PALOMET_IMPORT_EXE;
  const std::string env = "env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM ";
  EXPECT_EQ(
      std::system((env + "'" + exe + "' -q -o '" + dir.Str() + "/o.xlsx' '" + a + "'").c_str()), 0);
  EXPECT_TRUE(fs::exists(dir.Path() / "o.xlsx"));
  EXPECT_EQ(WEXITSTATUS(std::system((env + "'" + exe + "' --bogus 2>/dev/null").c_str())), 2);
  EXPECT_EQ(
      WEXITSTATUS(std::system(
          (env + "'" + exe + "' -o '" + dir.Str() + "/p.xlsx' /nonexistent 2>/dev/null").c_str())),
      1);

  FILE* ldd = popen(("ldd '" + exe + "'").c_str(), "r");
  ASSERT_NE(ldd, nullptr);
  std::string libs;
  char buf[4096];
  std::size_t n;
  while ((n = fread(buf, 1, sizeof buf, ldd)) > 0) libs.append(buf, n);
  pclose(ldd);
  EXPECT_EQ(libs.find("Qt6Widgets"), std::string::npos) << libs;
  EXPECT_EQ(libs.find("Qt6Gui"), std::string::npos) << libs;
}

}  // namespace
}  // namespace palomet
