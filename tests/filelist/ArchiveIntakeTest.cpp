// An archive given to the list (dropped, in a dropped folder, picked or typed in the file
// dialog) is taken as a folder: one entry per XML file in it, in the archive's order.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "filelist/AddFolder.h"
#include "filelist/DialogIntake.h"
#include "filelist/DropIntake.h"
#include "tests/filelist/ScanHost.h"
#include "tests/support/ArchiveFixtures.h"
#include "tests/support/TempDir.h"

namespace palomet {
namespace {

using Texts = std::vector<std::string>;
using test::Member;
using test::ScanHost;
using test::TempDir;
using test::WritePacked;

class ArchiveIntake : public ::testing::Test {
 protected:
  void SetUp() override {
    WritePacked(Abs("in/x.zip"), {"zip", ""},
                {{"b.xml", "<r/>"},
                 {"notes.txt", "x"},
                 {"A.XML", "<r/>"},
                 {"sub/", ""},
                 {"sub/c.xml.gz", "packed"},
                 {"sub/~lock.xml", "<r/>"},
                 {".git/x.xml", "<r/>"},
                 {"__MACOSX/._b.xml", "fork"},
                 {"inner.zip", "PK"},
                 {"../up.xml", "<r/>"},
                 {"d.xml.zst", "packed"}});
    dir_.Write("in/plain.xml", "<r/>");
    // A zip by its content, but an office document by its name: one file.
    WritePacked(Abs("in/report.docx"), {"zip", ""}, {{"word/document.xml", "<r/>"}});
    test::WriteCompressed(Abs("in/p.xml.gz"), "gzip", "<r/>");
  }
  std::string Abs(const std::string& rel) const { return dir_.Str() + "/" + rel; }
  Texts Members(const std::string& archive, const Texts& names) const {
    Texts out;
    for (const auto& n : names) out.push_back(Abs(archive) + ":" + n);
    return out;
  }

  TempDir dir_;
};

TEST_F(ArchiveIntake, AnArchiveAddsItsXmlFilesInTheArchivesOrder) {
  const Texts xOnly =
      Members("in/x.zip", {"b.xml", "A.XML", "sub/c.xml.gz", "../up.xml", "d.xml.zst"});
  Texts folder = {Abs("in/p.xml.gz"), Abs("in/plain.xml"), Abs("in/report.docx")};
  folder.insert(folder.end(), xOnly.begin(), xOnly.end());  // in listing order

  PlainFileList dropped;
  ScanHost host;
  ASSERT_TRUE(AddDroppedPaths({Abs("in/x.zip")}, dropped, host));
  EXPECT_EQ(dropped.Texts(), xOnly);

  PlainFileList droppedFolder;
  ASSERT_TRUE(AddDroppedPaths({Abs("in")}, droppedFolder, host));
  EXPECT_EQ(droppedFolder.Texts(), folder);

  PlainFileList picked;
  AddDialogSelection(picked, {Abs("in/x.zip")});
  EXPECT_EQ(picked.Texts(), xOnly);

  PlainFileList typed;  // several names, one of them typed as a full path
  AddDialogSelection(typed, {Abs("in"), "plain.xml", Abs("in/x.zip"), "p.xml.gz"});
  Texts expected = {Abs("in/plain.xml")};
  expected.insert(expected.end(), xOnly.begin(), xOnly.end());
  expected.push_back(Abs("in/p.xml.gz"));
  EXPECT_EQ(typed.Texts(), expected);

  // The folder button takes what palomet-import's scan takes: not the office document.
  PlainFileList scanned;
  AddChosenFolder(Abs("in"), scanned, host);
  Texts packed = {Abs("in/p.xml.gz"), Abs("in/plain.xml")};
  packed.insert(packed.end(), xOnly.begin(), xOnly.end());
  EXPECT_EQ(scanned.Texts(), packed);
}

TEST_F(ArchiveIntake, AnArchiveThatCannotBeReadToItsEndIsListedAfterWhatWasRead) {
  std::vector<Member> members;
  for (int i = 0; i < 200; ++i) {
    std::string xml = "<r>";
    for (int j = 0; j < 200; ++j) xml += "<v>" + std::to_string(i * 1000 + j) + "</v>";
    members.push_back({std::to_string(100 + i) + ".xml", xml + "</r>"});
  }
  WritePacked(Abs("full.tgz"), {"tar", "gzip"}, members);
  const std::string tgz = test::ReadFile(Abs("full.tgz"));
  dir_.Write("cut.tgz", tgz.substr(0, tgz.size() / 2));

  PlainFileList list;
  ScanHost host;
  ASSERT_TRUE(AddDroppedPaths({Abs("cut.tgz")}, list, host));
  const Texts texts = list.Texts();
  ASSERT_GT(texts.size(), 10u);
  ASSERT_LT(texts.size(), 200u);
  EXPECT_EQ(texts.front(), Abs("cut.tgz") + ":100.xml");
  EXPECT_EQ(texts.back(), Abs("cut.tgz"));
}

TEST_F(ArchiveIntake, ClosingTheWindowWhileAnArchiveIsReadStopsTheDrop) {
  PlainFileList list;
  ScanHost host;
  host.closeAtYield = 3;
  EXPECT_FALSE(AddDroppedPaths({Abs("in/x.zip"), Abs("in/plain.xml")}, list, host));
  EXPECT_EQ(list.Count(), 0);
  EXPECT_EQ(host.touchedAfterClose, 0);
}

}  // namespace
}  // namespace palomet
