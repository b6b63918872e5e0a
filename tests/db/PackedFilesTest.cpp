// Members of archives are read from the archive kept open, and named so that a member's name
// never leads to another file; hostile and damaged packed files fail naming the file (and the
// member) and what is wrong, and leave the tables of earlier files as they were. (That each
// packing imports the tables of the unpacked file is checked on whole workbooks, tests/cli.)

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "office/Error.h"
#include "office/db/DatabaseApplication.h"
#include "tests/db/DbTestSupport.h"
#include "tests/support/ArchiveFixtures.h"
#include "tests/support/TempDir.h"

namespace palomet {
namespace {

namespace fs = std::filesystem;
using test::DumpTables;
using test::Member;
using test::TempDir;
using test::WriteCompressed;
using test::WritePacked;

const std::string kOrders =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<orders>\n"
    "  <order id=\"7\"><customer>Ann &amp; Co</customer>\n"
    "    <line sku=\"A1\"><qty>2</qty><price currency=\"EUR\">12.50</price></line>\n"
    "    <line sku=\"B2\"><qty>1</qty><price currency=\"EUR\">3</price></line>\n"
    "  </order>\n  <order id=\"8\"><customer>Zoë Łukasz</customer></order>\n</orders>\n";

// A staging database of its own, and the tables its imports made.
class Staging {
 public:
  explicit Staging(const TempDir& dir, const std::string& name = "temp.mdb")
      : path_(dir.Write(name, "").string()) {
    app_.OpenCurrentDatabase(path_);
  }
  // Imports `name`; the description of the failure, or "" when it imported.
  std::string Import(const std::string& name) { return test::ImportFailureOf(app_, name); }
  std::string Tables() const { return DumpTables(path_); }

 private:
  std::string path_;
  DatabaseApplication app_;
};

// Members are read from one archive kept open between imports: in any order, twice over, and
// afresh when the archive changed in between.
TEST(PackedFilesTest, MembersImportInAnyOrderAndFromAChangedArchive) {
  TempDir dir;
  const std::string zip = (dir.Path() / "m.zip").string();
  const auto xml = [](int n) {
    return "<r><t" + std::to_string(n) + "><v>" + std::to_string(n) + "</v></t" +
           std::to_string(n) + "></r>";
  };
  WritePacked(zip, {"zip", ""}, {{"1.xml", xml(1)}, {"2.xml", xml(2)}, {"3.xml", xml(3)}});
  Staging staging(dir);
  for (const char* member : {"3.xml", "1.xml", "3.xml", "2.xml"}) {
    ASSERT_EQ(staging.Import(zip + ":" + member), "") << member;
  }
  WritePacked(zip, {"zip", ""}, {{"1.xml", xml(4)}, {"2.xml", xml(2)}});
  ASSERT_EQ(staging.Import(zip + ":1.xml"), "");
  EXPECT_EQ(staging.Tables(), "t3: v\n  3\nt1: v\n  1\nt31: v\n  3\nt2: v\n  2\nt4: v\n  4\n");
}

// How a name is told apart: a file's own name wins, colons and all; otherwise the longest text
// before a colon that names a regular file is the archive.
TEST(PackedFilesTest, NamesWithColonsAreFilesOrMembersAsTheDiskSays) {
  TempDir dir;
  const std::string xml = "<r><c><v>1</v></c></r>";
  const std::string folder = dir.Str() + "/2026-01-05T10:30";
  fs::create_directories(folder);
  WritePacked(folder + "/a.zip", {"zip", ""}, {{"10:30.xml", xml}, {"b.xml", xml}});
  dir.Write("notes", "a file, not an archive");
  dir.Write("notes:v2.xml", xml);
  dir.Write("2026-01-05T10:30/a.zip:b.xml", xml);  // beside a member of the same name
  Staging staging(dir);
  EXPECT_EQ(staging.Import(folder + "/a.zip:10:30.xml"), "");
  EXPECT_EQ(staging.Import(dir.Str() + "/notes:v2.xml"), "");
  const std::string ambiguous = folder + "/a.zip:b.xml";
  EXPECT_EQ(staging.Import(ambiguous), "Cannot import '" + ambiguous +
                                           "': the name is both that of a file and that of a "
                                           "member of the archive '" +
                                           folder + "/a.zip'; rename the file to import it.");
  const std::string missing = dir.Str() + "/notes:v3.xml";
  EXPECT_EQ(staging.Import(missing), "Cannot import '" + missing +
                                         "': the file cannot be read (No such file or directory).");
  EXPECT_EQ(staging.Tables(), "c: v\n  1\nc1: v\n  1\n");
}

struct Hostile {
  const char* what;
  std::string name;  // as the file list would hold it
  std::string says;  // the description after "Cannot import 'name': "
};

TEST(PackedFilesTest, HostileAndDamagedPackedFilesFailNamingFileMemberAndCause) {
  TempDir dir;
  const auto path = [&](const std::string& name) { return (dir.Path() / name).string(); };
  Staging staging(dir);
  ASSERT_EQ(staging.Import(dir.Write("earlier.xml", "<r><kept><v>1</v></kept></r>").string()), "");
  const std::string before = staging.Tables();

  std::string many = "<r>";
  for (int i = 0; i < 20'000; ++i) many += "<c><v>" + std::to_string(i * 7919 % 10007) + "</v></c>";
  WriteCompressed(path("orders.xml.gz"), "gzip", many + "</r>");
  const std::string gz = test::ReadFile(path("orders.xml.gz"));
  dir.Write("cut.xml.gz", gz.substr(0, gz.size() / 2));
  // Fails at its start, while the blocks after are still being decompressed ahead.
  WriteCompressed(path("early.xml.gz"), "gzip", "<r><a></b>" + many);
  WriteCompressed(path("nothing.xml.gz"), "gzip", "");
  // 200 MB of comments: nothing for the import to keep, a few kilobytes packed.
  const Member blanks{"bomb.xml", "<r>", "<!---->", 30'000'000, "</r>"};
  WritePacked(path("bomb.xml.zst"), {"raw", "zstd"}, {blanks});
  WritePacked(path("bombs.tar"), {"tar", ""},
              {{"bomb.xml.zst", test::ReadFile(path("bomb.xml.zst"))}});
  const std::string bad = "<r>\n<c>\n<v>1</v>\n<v>2</w>\n</c></r>";
  WritePacked(
      path("hostile.zip"), {"zip", ""},
      {{"../../etc/passwd.xml", kOrders},
       {"/etc/group.xml", kOrders},
       {"folder/bad.xml", bad},
       {"folder/latin1.xml", "<?xml version=\"1.0\" encoding=\"UTF-8\"?><r><v>caf\xe9</v></r>"},
       {"folder/empty.xml", ""},
       {"inner.xml", test::ReadFile(path("bombs.tar"))}});
  WritePacked(path("secret.zip"), {"zip", "", "secret"}, {{"orders.xml", kOrders}});
  WritePacked(path("stored.zip"), {"zip", "", "", "zip:compression=store"},
              {{"orders.xml", kOrders}});
  std::string stored = test::ReadFile(path("stored.zip"));
  stored[stored.find("Ann")] = 'X';  // the member's data no longer matches its CRC
  dir.Write("crc.zip", stored);

  const std::vector<Hostile> cases = {
      {"a truncated gzip stream", path("cut.xml.gz"),
       "the compressed data cannot be read (truncated gzip input)"},
      {"bad XML at the start of a big compressed file", path("early.xml.gz"),
       "line 1, column 11: the file is not well-formed XML"},
      {"a gzip stream of nothing", path("nothing.xml.gz"), "it holds no data once decompressed"},
      {"a decompression bomb", path("bomb.xml.zst"),
       "decompressed, it grows to more than 1,000 times the size of the file that holds it, "
       "the import's limit against decompression bombs"},
      {"a decompression bomb inside an archive", path("bombs.tar") + ":bomb.xml.zst",
       "decompressed, it grows to more than 1,000 times"},
      {"a member whose name climbs out of the archive",
       path("hostile.zip") + ":../../etc/passwd.xml",
       "the member's name leads outside the archive, and such members are not read"},
      {"a member with an absolute name", path("hostile.zip") + ":/etc/group.xml",
       "the member's name leads outside the archive"},
      {"an encrypted member", path("secret.zip") + ":orders.xml",
       "the member is encrypted, and encrypted members are not read"},
      {"a member whose data is damaged", path("crc.zip") + ":orders.xml",
       "the archive cannot be read (ZIP bad CRC"},
      {"bad XML in a member: line and column inside the member",
       path("hostile.zip") + ":folder/bad.xml",
       "line 4, column 9: the file is not well-formed XML"},
      {"a member in a broken encoding", path("hostile.zip") + ":folder/latin1.xml",
       "line 1, column 48: the file's encoding is unknown or does not match its bytes"},
      {"an empty member", path("hostile.zip") + ":folder/empty.xml", "the file is empty"},
      {"an archive inside an archive", path("hostile.zip") + ":inner.xml",
       "it is itself an archive (tar archive), and archives inside archives are not read"},
      {"a member the archive does not hold", path("hostile.zip") + ":gone.xml",
       "the archive '" + path("hostile.zip") + "' holds no member 'gone.xml'"},
      {"an archive given as a file", path("hostile.zip"), "it is a ZIP archive, not an XML file"},
  };
  for (const Hostile& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string failure = staging.Import(c.name);
    EXPECT_EQ(failure.rfind("Cannot import '" + c.name + "': " + c.says, 0), 0u) << failure;
    EXPECT_EQ(staging.Tables(), before);
  }
}

// The limit on expansion holds for a packed file over the whole run, so an archive of many
// members that each stay below it cannot get round it.
TEST(PackedFilesTest, ExpansionIsCountedOverAllMembersOfAnArchive) {
  TempDir dir;
  const std::string part = (dir.Path() / "part.xml.zst").string();
  WritePacked(part, {"raw", "zstd"}, {{"part.xml", "<r>", "<!---->", 4'500'000, "</r>"}});
  const std::string tar = (dir.Path() / "parts.tar").string();
  const std::string packed = test::ReadFile(part);
  WritePacked(tar, {"tar", ""},
              {{"1.xml.zst", packed}, {"2.xml.zst", packed}, {"3.xml.zst", packed}});
  Staging staging(dir);
  EXPECT_EQ(staging.Import(tar + ":1.xml.zst"), "");
  EXPECT_EQ(staging.Import(tar + ":2.xml.zst"), "");
  const std::string failure = staging.Import(tar + ":3.xml.zst");
  EXPECT_NE(failure.find("grows to more than 1,000 times"), std::string::npos) << failure;
  // Another run starts counting afresh.
  Staging next(dir, "next.mdb");
  EXPECT_EQ(next.Import(tar + ":3.xml.zst"), "");
}

}  // namespace
}  // namespace palomet
