#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "filelist/AddFolder.h"
#include "tests/filelist/ScanHost.h"
#include "tests/support/TempDir.h"

namespace palomet {
namespace {

namespace fs = std::filesystem;
using Texts = std::vector<std::string>;
using test::ScanHost;
using test::TempDir;

// The entries relative to the temporary folder, so expectations read as trees.
Texts Relative(const PlainFileList& list, const TempDir& dir) {
  Texts out;
  const std::string prefix = dir.Str() + "/";
  for (const auto& t : list.Texts()) {
    out.push_back(t.rfind(prefix, 0) == 0 ? t.substr(prefix.size()) : "OUTSIDE:" + t);
  }
  return out;
}

Texts Scan(const TempDir& dir, const std::string& top, const std::string& pattern = "*.xml") {
  PlainFileList list;
  NoWindowHost host;
  EXPECT_TRUE(AddFolderTree(dir.Str() + "/" + top, pattern, true, list, host));
  return Relative(list, dir);
}

TEST(AddFolderTree, WalksBreadthFirstGroupedByParentInListingOrder) {
  TempDir dir;
  for (const char* f : {"A/x.xml", "A/b/d/f/f.xml", "A/b/d/d.xml", "A/b/b.xml", "A/C/e/e.xml",
                        "A/C/c.xml", "A/b/d2/g.xml"}) {
    dir.Write(f, "<r/>");
  }
  // "b" before "C": names are ordered without regard to case, not by their bytes.
  EXPECT_EQ(Scan(dir, "A"), (Texts{"A/x.xml", "A/b/b.xml", "A/C/c.xml", "A/b/d/d.xml",
                                   "A/b/d2/g.xml", "A/C/e/e.xml", "A/b/d/f/f.xml"}));
}

TEST(AddFolderTree, SkipsTildeFileNamesAndHiddenFoldersButTakesHiddenFiles) {
  TempDir dir;
  for (const char* f : {"T/~lock.xml", "T/a~b.xml", "T/~sub/in.xml", "T/.h.xml", "T/.hid/n.xml",
                        "T/.hid/deep/m.xml", "T/.hid/.x/q.xml", "T/ok/.git/o.xml"}) {
    dir.Write(f, "");
  }
  EXPECT_EQ(Scan(dir, "T"), (Texts{"T/.h.xml", "T/a~b.xml", "T/~sub/in.xml"}));
  // A hidden folder chosen itself is scanned; its hidden subfolders are not.
  EXPECT_EQ(Scan(dir, "T/.hid"), (Texts{"T/.hid/n.xml", "T/.hid/deep/m.xml"}));
}

TEST(AddFolderTree, EndsLinkLoopsAndWalksOtherFolderLinks) {
  TempDir dir;
  dir.Write("top/a/x.xml", "");
  dir.Write("outside/o.xml", "");
  fs::create_directories(dir.Path() / "top/b");
  const auto p = dir.Path();
  fs::create_directory_symlink(p / "top", p / "top/a/up");       // an ancestor
  fs::create_directory_symlink(p / "top/a", p / "top/a/self");   // the folder itself
  fs::create_directory_symlink("../a", p / "top/b/toA");         // a sibling: walked
  fs::create_directory_symlink(p / "outside", p / "top/ext");    // outside the tree
  fs::create_directory_symlink(p / "top", p / "outside/back");   // back up the walk
  fs::create_directory_symlink(p / "gone", p / "top/dangling");  // dangling: passed over
  EXPECT_EQ(Scan(dir, "top"), (Texts{"top/a/x.xml", "top/ext/o.xml", "top/b/toA/x.xml"}));
}

TEST(AddFolderTree, KeepsTheFolderTextAsGivenInTheJoins) {
  TempDir dir;
  dir.Write("a.xml", "");
  dir.Write("sub/b.xml", "");
  PlainFileList list;
  NoWindowHost host;
  // A folder given with its final separator (as the root "/" is) keeps both.
  AddFolderTree(dir.Str() + "/", "*.xml", false, list, host);
  EXPECT_EQ(list.Texts(), (Texts{dir.Str() + "//a.xml", dir.Str() + "//sub/b.xml"}));
}

TEST(ListFolderFiles, MatchesWithoutRegardToCaseAndKeepsOnlyRegularFiles) {
  TempDir dir;
  for (const char* f : {"b.XML", "a.xml", "A.xml", "c.xmlx", "d.xml.bak", "e.txt", "noext", ".xml",
                        "\xC3\x84rger.xml", "z.xml", "dir.xml/in.xml"}) {
    dir.Write(f, "");
  }
  ASSERT_EQ(mkfifo((dir.Path() / "fifo.xml").c_str(), 0600), 0);
  fs::create_symlink(dir.Path() / "a.xml", dir.Path() / "link.xml");
  fs::create_symlink(dir.Path() / "none", dir.Path() / "dead.xml");

  const struct {
    const char* pattern;
    Texts names;
  } cases[] = {
      {"*.xml", {".xml", "A.xml", "a.xml", "b.XML", "link.xml", "z.xml", "\xC3\x84rger.xml"}},
      {"*.XmL", {".xml", "A.xml", "a.xml", "b.XML", "link.xml", "z.xml", "\xC3\x84rger.xml"}},
      {"?.xml", {"A.xml", "a.xml", "b.XML", "z.xml"}},
      {"*.*",
       {".xml", "A.xml", "a.xml", "b.XML", "c.xmlx", "d.xml.bak", "e.txt", "link.xml", "noext",
        "z.xml", "\xC3\x84rger.xml"}},
      {"noext.*", {"noext"}},
      {"*.csv", {}},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ListFolderFiles(dir.Str(), c.pattern), c.names) << c.pattern;
    EXPECT_EQ(ListFolderFiles(dir.Str() + "/", c.pattern), c.names) << c.pattern;
  }
  EXPECT_EQ(ListFolderFiles(dir.Str() + "/missing", "*.*"), Texts{});
}

TEST(AddFolderTree, FolderRemovedDuringTheWalkIsPassedOver) {
  TempDir dir;
  for (const char* f : {"T/a/a.xml", "T/b/b.xml", "T/b/deep/c.xml", "T/c/c.xml"}) dir.Write(f, "");
  PlainFileList list;
  ScanHost host;
  host.onYield = [&] {
    if (host.yields == 2) fs::remove_all(dir.Path() / "T/b");
  };
  EXPECT_TRUE(AddFolderTree(dir.Str() + "/T", "*.xml", true, list, host));
  EXPECT_EQ(Relative(list, dir), (Texts{"T/a/a.xml", "T/c/c.xml"}));
}

// A list that notes the window pointer at each append.
class PointerNotingList : public PlainFileList {
 public:
  explicit PointerNotingList(const WindowHost& host) : host_(host) {}
  void Add(const std::string& text) override {
    pointerAtAdd.push_back(host_.MousePointer());
    PlainFileList::Add(text);
  }
  std::vector<Pointer> pointerAtAdd;

 private:
  const WindowHost& host_;
};

TEST(AddChosenFolder, StaysBusyAndResponsiveWhileAppendingThenResetsThePointer) {
  TempDir dir;
  for (const char* f : {"a.xml", "b.xml", "s/c.xml", "s/d.xml", "s/t/e.xml"}) dir.Write(f, "");
  ScanHost host;
  PointerNotingList list(host);
  std::vector<int> countsSeen;
  host.onYield = [&] {
    countsSeen.push_back(list.Count());
    host.SetMousePointer(Pointer::Default);  // another handler's rest rule meanwhile
  };
  AddChosenFolder(dir.Str(), list, host);
  EXPECT_EQ(list.Count(), 5);
  EXPECT_EQ(list.pointerAtAdd, std::vector<Pointer>(5, Pointer::Busy));
  EXPECT_EQ(host.MousePointer(), Pointer::Default);
  // Handlers run between appends see the list as far as it is filled.
  for (int n = 0; n <= 4; ++n) {
    EXPECT_NE(std::find(countsSeen.begin(), countsSeen.end(), n), countsSeen.end()) << n;
  }
}

TEST(AddChosenFolder, ClosingTheWindowAtAnyYieldEndsTheScanAtOnce) {
  TempDir dir;
  for (const char* f : {"a.xml", "b.xml", "s/c.xml", "s/u/d.xml", "t/e.xml"}) dir.Write(f, "");
  PlainFileList full;
  ScanHost counter;
  AddChosenFolder(dir.Str(), full, counter);
  ASSERT_EQ(full.Count(), 5);

  for (int closeAt = 1; closeAt <= counter.yields; ++closeAt) {
    PlainFileList list;
    ScanHost host;
    host.closeAtYield = closeAt;
    int countAtClose = -1;
    host.onYield = [&] {
      if (host.yields == closeAt) countAtClose = list.Count();
    };
    AddChosenFolder(dir.Str(), list, host);
    EXPECT_EQ(host.touchedAfterClose, 0) << closeAt;
    EXPECT_EQ(host.yields, closeAt);
    EXPECT_EQ(list.Count(), countAtClose) << closeAt;
  }
}

}  // namespace
}  // namespace palomet
