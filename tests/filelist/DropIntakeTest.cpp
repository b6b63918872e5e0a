#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <string>
#include <vector>

#include "filelist/DropIntake.h"
#include "tests/filelist/ScanHost.h"
#include "tests/support/TempDir.h"

namespace palomet {
namespace {

using Texts = std::vector<std::string>;
using test::ScanHost;
using test::TempDir;

class DropIntake : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* f : {"F/a.xml", "F/b.txt", "F/~c.xml", "F/.h.xml", "F/.hid/n.xml",
                          "F/sub/s.dat", "G/g.xml", "notes.txt", "~x.xml", ".H/h.xml"}) {
      dir_.Write(f, "");
    }
    ASSERT_EQ(mkfifo(Abs("pipe").c_str(), 0600), 0);
    std::filesystem::create_directory_symlink(Abs("G"), Abs("linkToG"));
  }
  std::string Abs(const std::string& rel) const { return dir_.Str() + "/" + rel; }
  Texts AbsAll(const Texts& rel) const {
    Texts out;
    for (const auto& r : rel) out.push_back(Abs(r));
    return out;
  }

  TempDir dir_;
};

TEST_F(DropIntake, AddsFilesAsDroppedAndFolderTreesInDropOrder) {
  const Texts fTree = {"F/.h.xml", "F/a.xml", "F/b.txt", "F/sub/s.dat"};
  const struct {
    const char* what;
    Texts dropped;
    Texts added;
  } cases[] = {
      {"a file of any type", {"notes.txt"}, {"notes.txt"}},
      {"a '~' file dropped by itself", {"~x.xml"}, {"~x.xml"}},
      {"a folder", {"F"}, fTree},
      {"two folders", {"G", "F"}, {"G/g.xml", "F/.h.xml", "F/a.xml", "F/b.txt", "F/sub/s.dat"}},
      {"folder then file", {"G", "notes.txt"}, {"G/g.xml", "notes.txt"}},
      {"file, folder, file", {"notes.txt", "G", "F/a.xml"}, {"notes.txt", "G/g.xml", "F/a.xml"}},
      {"the same file twice", {"notes.txt", "notes.txt"}, {"notes.txt", "notes.txt"}},
      {"a hidden folder", {".H"}, {".H/h.xml"}},
      {"a link to a folder", {"linkToG"}, {"linkToG/g.xml"}},
      {"folders sent with trailing slashes",
       {"G/", "F//"},
       {"G/g.xml", "F/.h.xml", "F/a.xml", "F/b.txt", "F/sub/s.dat"}},
      {"a vanished path", {"gone.xml", "notes.txt"}, {"notes.txt"}},
      {"a FIFO", {"pipe", "notes.txt"}, {"notes.txt"}},
      {"an empty folder list", {}, {}},
  };
  for (const auto& c : cases) {
    PlainFileList list;
    list.Add("already");
    ScanHost host;
    host.SetMousePointer(Pointer::Image);
    EXPECT_TRUE(AddDroppedPaths(AbsAll(c.dropped), list, host)) << c.what;
    Texts expected = {"already"};
    for (const auto& a : AbsAll(c.added)) expected.push_back(a);
    EXPECT_EQ(list.Texts(), expected) << c.what;
    EXPECT_EQ(host.MousePointer(), Pointer::Image) << c.what;  // the drop leaves it alone
    EXPECT_EQ(host.pointerWrites, 1) << c.what;
  }
}

TEST(DroppedFolderPath, LosesItsTrailingSeparatorsButTheRootStays) {
  const std::pair<const char*, const char*> cases[] = {
      {"/data/in/", "/data/in"},
      {"/data/in//", "/data/in"},
      {"/data/in", "/data/in"},
      {"/", "/"},
      {"//", "/"},
      {"in/", "in"},
  };
  for (const auto& [path, kept] : cases) EXPECT_EQ(WithoutTrailingSeparators(path), kept) << path;
}

TEST_F(DropIntake, ClosingTheWindowDuringAFolderWalkEndsTheDrop) {
  const Texts dropped = AbsAll({"notes.txt", "F", "G", "notes.txt"});
  ScanHost counter;
  PlainFileList full;
  ASSERT_TRUE(AddDroppedPaths(dropped, full, counter));
  ASSERT_GT(counter.yields, 2);

  for (int closeAt = 1; closeAt <= counter.yields; ++closeAt) {
    PlainFileList list;
    ScanHost host;
    host.closeAtYield = closeAt;
    int countAtClose = -1;
    host.onYield = [&] {
      if (host.yields == closeAt) countAtClose = list.Count();
    };
    EXPECT_FALSE(AddDroppedPaths(dropped, list, host)) << closeAt;
    EXPECT_EQ(host.touchedAfterClose, 0) << closeAt;
    EXPECT_EQ(list.Count(), countAtClose) << closeAt;
  }
}

}  // namespace
}  // namespace palomet
