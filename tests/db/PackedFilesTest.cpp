// Members of archives are read from the archive kept open, and named so that a member's name
// never leads to another file; hostile and damaged packed files fail naming the file (and the
// member) and what is wrong, and leave the tables of earlier files as they were. (That each
// packing imports the tables of the unpacked file is checked on whole workbooks, tests/cli.)

#include <gtest/gtest.h>
#include <zstd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include "office/ArchiveMembers.h"
#include "office/Error.h"
#include "office/PackedFile.h"
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

// Members are read from one archive kept open between imports: in any order, twice over,
// afresh when the archive changed in between, and whatever lies after them.
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

  // Damage after the last member, met while looking onwards for an earlier one, is no
  // answer while the member lies before it; a member past it is the damage's.
  const std::string tar = (dir.Path() / "d.tar").string();
  WritePacked(tar, {"tar", ""}, {{"5.xml", xml(5)}, {"6.xml", xml(6)}});
  dir.Write("d.tar", test::ReadFile(tar).substr(0, 4 * 512) + std::string(512, 'x'));
  EXPECT_EQ(staging.Import(tar + ":6.xml"), "");
  EXPECT_EQ(staging.Import(tar + ":5.xml"), "");
  EXPECT_EQ(staging.Import(tar + ":7.xml"),
            "Cannot import '" + tar + ":7.xml': the archive cannot be read (Damaged tar archive).");
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
      {"a truncated gzip stream", path("cut.xml.gz"), "the compressed data ends too soon"},
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
       "the compressed data is damaged (CRC mismatch)"},
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

// Writes a byte of the file over with itself and moves its modification time on, as a
// program that writes into a file while it is read does.
void RewriteInPlace(const std::string& path) {
  {
    std::fstream file(path, std::ios::in | std::ios::out | std::ios::binary);
    const char first = static_cast<char>(file.get());
    file.seekp(0);
    file.put(first);
  }
  fs::last_write_time(path, fs::last_write_time(path) + std::chrono::seconds(1));
}

// `data` as one zstd frame that carries its content's checksum, as zstd writes by default
// (libarchive's writer leaves it out).
std::string ZstdWithChecksum(const std::string& data) {
  ZSTD_CCtx* cctx = ZSTD_createCCtx();
  ZSTD_CCtx_setParameter(cctx, ZSTD_c_checksumFlag, 1);
  std::string out(ZSTD_compressBound(data.size()), '\0');
  out.resize(ZSTD_compress2(cctx, out.data(), out.size(), data.data(), data.size()));
  ZSTD_freeCCtx(cctx);
  return out;
}

struct Stream {
  const char* what;
  std::string name;     // as the file list would hold it
  std::string says;     // the description after "Cannot import 'name': ", or "" to import
  std::string changes = {};  // a file rewritten in place once reading has begun, or ""
};

// Every stream is read to its end and checked as its format checks it, on the import's own
// input: data that no longer matches its check, bytes after the stream, a stream cut short and
// a file that changes while it is read each fail the file, naming it, and leave no table.
TEST(PackedFilesTest, EveryStreamIsReadToItsEndAndChecked) {
  TempDir dir;
  const auto path = [&](const std::string& name) { return (dir.Path() / name).string(); };
  const auto write = [&](const std::string& name, const std::string& data) {
    return dir.Write(name, data).string();
  };
  std::string xml = "<r>";
  for (int g = 0; g < 50; ++g) {
    xml += "<g><v>g" + std::to_string(g) + "-v" + std::to_string(g * 7) + "</v></g>";
  }
  xml += "</r>";
  // Stored gzip blocks: a changed byte of the data is a changed value, and nothing else shows.
  const std::string stored = "gzip:compression-level=0";
  const auto pack = [&](const std::string& name, const std::string& filter,
                        const std::string& options, const std::vector<Member>& members) {
    WritePacked(path(name),
                {name.find(".tar") != std::string::npos ? "tar" : "raw", filter, "", options},
                members);
    return test::ReadFile(path(name));
  };
  const std::string gz = pack("s.xml.gz", "gzip", stored, {{"data", xml}});
  const std::string xz = pack("s.xml.xz", "xz", "", {{"data", xml}});
  const std::string bz2 = pack("s.xml.bz2", "bzip2", "", {{"data", xml}});
  const std::string zst = ZstdWithChecksum(xml);
  const std::string tgz = pack("s.tar.gz", "gzip", stored, {{"a.xml", xml}, {"b.xml", xml}});
  const std::string half1 = pack("h1.gz", "gzip", "", {{"data", xml.substr(0, 500)}});
  const std::string half2 = pack("h2.gz", "gzip", "", {{"data", xml.substr(500)}});
  WritePacked(path("s.zip"), {"zip", ""}, {{"a.xml", xml}});

  const auto changedValue = [](std::string data) {
    data[data.find("g6-v42") + 4] = '9';
    return data;
  };
  const auto flipped = [](std::string data, std::size_t fromEnd, int bits) {
    data[data.size() - fromEnd] = static_cast<char>(data[data.size() - fromEnd] ^ bits);
    return data;
  };
  const auto cut = [](const std::string& data) { return data.substr(0, data.size() - 4); };
  const std::string crc = "the compressed data is damaged (CRC mismatch)";
  const std::string trailing =
      "the compressed data is followed by bytes that are no compressed data";
  const std::string tooSoon = "the compressed data ends too soon";
  const std::string changed = "the file changed while it was read";

  const std::vector<Stream> cases = {
      {"a plain file", write("plain.xml", xml), ""},
      {"gzip members one after the other", write("two.xml.gz", half1 + half2), ""},
      {"gzip padded with zero bytes", write("padded.xml.gz", gz + std::string(512, '\0')), ""},
      {"gzip whose data no longer matches its CRC", write("crc.xml.gz", changedValue(gz)), crc},
      {"xz whose footer fails its check", write("crc.xml.xz", flipped(xz, 12, 1)),
       "the compressed data is damaged (corrupt data or CRC mismatch)"},
      {"bzip2 whose stream CRC fails", write("crc.xml.bz2", flipped(bz2, 1, 0x80)), crc},
      {"zstd whose checksum fails", write("crc.xml.zst", flipped(zst, 1, 1)), crc},
      {"a tar.gz's member whose data no longer matches the CRC",
       write("crc.tar.gz", changedValue(tgz)) + ":a.xml", crc},
      {"gzip followed by other bytes", write("trailing.xml.gz", gz + "trailing"), trailing},
      {"bzip2 followed by zero bytes", write("trailing.xml.bz2", bz2 + std::string(4, '\0')),
       trailing},
      {"a tar.gz followed by other bytes", write("trailing.tar.gz", tgz + "x") + ":b.xml",
       trailing},
      {"gzip cut short", write("cut.xml.gz", cut(gz)), tooSoon},
      {"xz cut short", write("cut.xml.xz", cut(xz)), tooSoon},
      {"bzip2 cut short", write("cut.xml.bz2", cut(bz2)), tooSoon},
      {"zstd cut short", write("cut.xml.zst", cut(zst)), tooSoon},
      {"a tar.gz cut short", write("cut.tar.gz", cut(tgz)) + ":a.xml", tooSoon},
      {"a plain file changed while it is read", write("changes.xml", xml), changed,
       path("changes.xml")},
      {"gzip changed while it is read", write("changes.xml.gz", gz), changed,
       path("changes.xml.gz")},
      {"a zip changed while its member is read", path("s.zip") + ":a.xml", changed, path("s.zip")},
  };
  // Each case in a staging database of its own: a file that imports gives the plain file's
  // table, value for value; one that fails leaves none.
  Staging reference(dir, "reference.mdb");
  ASSERT_EQ(reference.Import(path("plain.xml")), "");
  int n = 0;
  for (const Stream& c : cases) {
    SCOPED_TRACE(c.what);
    Staging staging(dir, "case" + std::to_string(++n) + ".mdb");
    bool rewritten = false;
    if (!c.changes.empty()) {
      packed::testing::SetAfterFileRead([&] {
        if (!std::exchange(rewritten, true)) RewriteInPlace(c.changes);
      });
    }
    const std::string failure = staging.Import(c.name);
    packed::testing::SetAfterFileRead({});
    EXPECT_EQ(failure, c.says.empty() ? "" : "Cannot import '" + c.name + "': " + c.says + ".");
    EXPECT_EQ(staging.Tables(), c.says.empty() ? reference.Tables() : "");
  }
}

// A compressed archive that its listing read whole is not read whole again for its members;
// the same archive changed since is.
TEST(PackedFilesTest, AnArchiveChangedSinceItsListingIsReadWholeAgain) {
  TempDir dir;
  const std::string tgz = (dir.Path() / "a.tar.gz").string();
  WritePacked(tgz, {"tar", "gzip", "", "gzip:compression-level=0"},
              {{"a.xml", "<r><g><v>g6-v42</v></g></r>"}});
  ASSERT_EQ(ListArchive(tgz).members, std::vector<std::string>{"a.xml"});
  std::string damaged = test::ReadFile(tgz);
  damaged[damaged.find("v42") + 1] = '9';
  const auto when = fs::last_write_time(tgz);
  dir.Write("a.tar.gz", damaged);
  fs::last_write_time(tgz, when + std::chrono::seconds(1));
  Staging staging(dir);
  EXPECT_EQ(staging.Import(tgz + ":a.xml"),
            "Cannot import '" + tgz + ":a.xml': the compressed data is damaged (CRC mismatch).");
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
