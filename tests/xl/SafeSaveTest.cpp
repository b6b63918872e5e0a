// Saving over files that are there already: what the replaced file keeps (permissions,
// owner, the symbolic link that led to it), what a file the user may not write gets (a
// refusal), and a save told to stop at its last moment leaving everything as it was.

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>

#include "office/SafeReplace.h"
#include "office/xl/Excel.h"
#include "tests/support/FilePermissions.h"
#include "tests/support/TempDir.h"
#include "tests/support/XlsxReadBack.h"

namespace palomet::xl {
namespace {

namespace fs = std::filesystem;
using test::ReadXlsx;
using test::TempDir;

std::shared_ptr<Application> SmallBook() {
  auto app = Application::Create();
  app->AddWorkbook();
  app->ActiveSheet().SetCell(1, 1, "saved");
  return app;
}

unsigned ModeOf(const fs::path& p) {
  struct stat st {};
  ::stat(p.c_str(), &st);
  return st.st_mode & 07777;
}

bool Saved(const fs::path& p) {
  const auto book = ReadXlsx(p.string());
  return book.ok && !book.sheets.empty() && book.sheets[0].cells.size() == 1 &&
         book.sheets[0].InOrder()[0].text == "saved";
}

TEST(SafeSave, AReplacedFileKeepsItsPermissionsAndANewOneFollowsTheUmask) {
  TempDir dir;
  auto app = SmallBook();
  for (const unsigned mode : {0600u, 0640u, 0664u}) {
    SCOPED_TRACE(mode);
    const fs::path p = dir.Write("kept.xlsx", "old");
    ::chmod(p.c_str(), mode);
    app->ActiveWorkbook().SaveAs(p);
    EXPECT_TRUE(Saved(p));
    EXPECT_EQ(ModeOf(p), mode);
  }
  const mode_t saved = ::umask(0);
  for (const mode_t mask : {022u, 077u, 002u}) {
    SCOPED_TRACE(mask);
    ::umask(mask);
    const fs::path p = dir.Path() / ("new" + std::to_string(mask) + ".xlsx");
    app->ActiveWorkbook().SaveAs(p);
    EXPECT_EQ(ModeOf(p), 0666u & ~mask);
  }
  ::umask(saved);
  EXPECT_EQ(test::EntryNames(dir.Path()),
            (std::vector<std::string>{"kept.xlsx", "new18.xlsx", "new2.xlsx", "new63.xlsx"}));
  // Owner and group too, where the process may set them (root may give a file away).
  if (::geteuid() != 0) return;
  const fs::path theirs = dir.Write("theirs.xlsx", "old");
  ASSERT_EQ(::chown(theirs.c_str(), 65534, 65534), 0);
  app->ActiveWorkbook().SaveAs(theirs);
  struct stat st {};
  ASSERT_EQ(::stat(theirs.c_str(), &st), 0);
  EXPECT_EQ(st.st_uid + st.st_gid, 2 * 65534u);
}

TEST(SafeSave, ASymbolicLinkStaysAndTheFileItPointsToIsWritten) {
  TempDir dir;
  auto app = SmallBook();
  const fs::path real = dir.Write("elsewhere/real.xlsx", "old");
  ::chmod(real.c_str(), 0600);
  fs::create_directory(dir.Path() / "here");
  // Absolute, relative, and a chain of two links.
  fs::create_symlink(real, dir.Path() / "here" / "abs.xlsx");
  fs::create_symlink("../elsewhere/real.xlsx", dir.Path() / "here" / "rel.xlsx");
  fs::create_symlink("rel.xlsx", dir.Path() / "here" / "chain.xlsx");
  // A link to a file not there yet: the file is made where the link points.
  fs::create_symlink("../elsewhere/later.xlsx", dir.Path() / "here" / "dangling.xlsx");
  for (const char* name : {"abs.xlsx", "rel.xlsx", "chain.xlsx"}) {
    SCOPED_TRACE(name);
    fs::resize_file(real, 0);
    app->ActiveWorkbook().SaveAs(dir.Path() / "here" / name);
    EXPECT_TRUE(fs::is_symlink(dir.Path() / "here" / name));
    EXPECT_TRUE(Saved(real));
    EXPECT_EQ(ModeOf(real), 0600u);
  }
  app->ActiveWorkbook().SaveAs(dir.Path() / "here" / "dangling.xlsx");
  EXPECT_TRUE(fs::is_symlink(dir.Path() / "here" / "dangling.xlsx"));
  EXPECT_TRUE(Saved(dir.Path() / "elsewhere" / "later.xlsx"));
  EXPECT_EQ(test::EntryNames(dir.Path() / "here"),
            (std::vector<std::string>{"abs.xlsx", "chain.xlsx", "dangling.xlsx", "rel.xlsx"}));
  EXPECT_EQ(test::EntryNames(dir.Path() / "elsewhere"),
            (std::vector<std::string>{"later.xlsx", "real.xlsx"}));
}

TEST(SafeSave, AFileTheUserMayNotWriteIsRefusedAndKept) {
  TempDir dir;
  auto app = SmallBook();
  const fs::path p = dir.Write("readonly.xlsx", "old");
  ::chmod(p.c_str(), 0444);
  test::PermissionsApply permissions;
  if (!permissions.Holds()) GTEST_SKIP() << "permissions cannot be made to apply";
  try {
    app->ActiveWorkbook().SaveAs(p);
    FAIL() << "saved over a read-only file";
  } catch (const Error& e) {
    EXPECT_EQ(e.Description(),
              "Cannot save the workbook as \"" + p.string() + "\": Permission denied.");
  }
  EXPECT_EQ(test::ReadFile(p), "old");
  EXPECT_EQ(test::EntryNames(dir.Path()), std::vector<std::string>{"readonly.xlsx"});
}

bool StopAlways() noexcept {
  return true;
}

TEST(SafeSave, ASaveStoppedAtItsLastMomentLeavesTheTargetAndNothingBeside) {
  TempDir dir;
  auto app = SmallBook();
  const fs::path p = dir.Write("old.xlsx", "old");
  SetReplaceStopCheck(StopAlways);
  EXPECT_THROW(app->ActiveWorkbook().SaveAs(p), ReplaceStopped);
  EXPECT_THROW(app->ActiveWorkbook().SaveAs(dir.Path() / "new.xlsx"), ReplaceStopped);
  SetReplaceStopCheck(nullptr);
  EXPECT_EQ(test::ReadFile(p), "old");
  EXPECT_EQ(test::EntryNames(dir.Path()), std::vector<std::string>{"old.xlsx"});
  app->ActiveWorkbook().SaveAs(p);
  EXPECT_TRUE(Saved(p));
}

// Run as an ordinary user: as root the folder's permissions would not hold. When the suite
// runs as root (as CI does) the test runs again as the user nobody, from a copy of this
// program that user may read.
TEST(SafeSave, AnUnwritableFolderIsRefusedAndLeftEmpty) {
  if (::geteuid() == 0) {
    TempDir dir;
    fs::permissions(dir.Path(), fs::perms::all);
    const fs::path copy = dir.Path() / "xl_tests";
    fs::copy_file("/proc/self/exe", copy);
    fs::permissions(copy, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                              fs::perms::others_read | fs::perms::others_exec);
    const std::string log = (dir.Path() / "log.txt").string();
    const std::string cmd =
        "cd / && TMPDIR=/tmp setpriv --reuid=nobody --regid=nogroup "
        "--clear-groups '" +
        copy.string() +
        "' --gtest_filter=SafeSave.AnUnwritableFolderIsRefusedAndLeftEmpty"
        " >'" +
        log + "' 2>&1";
    const int status = std::system(cmd.c_str());
    const std::string out = test::ReadFile(log);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << out;
    EXPECT_NE(out.find("[  PASSED  ] 1 test"), std::string::npos) << out;
    EXPECT_EQ(out.find("SKIPPED"), std::string::npos) << out;
    return;
  }
  TempDir dir;
  auto app = SmallBook();
  fs::create_directory(dir.Path() / "ro");
  fs::permissions(dir.Path() / "ro", fs::perms::owner_read | fs::perms::owner_exec);
  const fs::path p = dir.Path() / "ro" / "x.xlsx";
  try {
    app->ActiveWorkbook().SaveAs(p);
    FAIL() << "saved into a folder it may not write";
  } catch (const Error& e) {
    EXPECT_EQ(e.Description(),
              "Cannot save the workbook as \"" + p.string() + "\": Permission denied.");
  }
  EXPECT_EQ(test::EntryNames(dir.Path() / "ro"), std::vector<std::string>{});
}

}  // namespace
}  // namespace palomet::xl
