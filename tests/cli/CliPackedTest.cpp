// Compressed XML files and archives of them on the command line: the workbook is the one the
// unpacked files give, a folder's scan takes them beside "*.xml", and a hostile one ends the
// run with one line naming it, or, with --keep-going, is left out alone.

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/cli/CliInProcess.h"
#include "tests/support/ArchiveFixtures.h"
#include "tests/support/TempDir.h"
#include "tests/support/XlsxReadBack.h"

namespace palomet {
namespace {

namespace fs = std::filesystem;
using test::Cli;
using test::Lines;
using test::Member;
using test::ReadXlsx;
using test::TempDir;
using test::WritePacked;
using Args = std::vector<std::string>;

Args Joined(Args a, const Args& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

// The benchmarks' workloads W1 (one flat export) and W2 (many small ones), made small.
void MakeWorkloads(const fs::path& folder) {
  const std::string command = std::string("/usr/bin/python3 '") + PALOMET_SOURCE_DIR +
                              "/bench/gen.py' '" + folder.string() +
                              "' --scale 0.002 --only w1,w2 > /dev/null";
  ASSERT_EQ(std::system(command.c_str()), 0) << command;
}

TEST(CliPacked, EveryPackingGivesTheWorkbookOfTheUnpackedFiles) {
  TempDir dir;
  MakeWorkloads(dir.Path() / "w");
  const fs::path w = dir.Path() / "w";
  const std::string flat = (w / "flat.xml").string();
  const std::string xml = test::ReadFile(flat);
  Args compressed;
  for (const char* filter : {"gzip", "xz", "bzip2", "zstd"}) {
    compressed.push_back(dir.Str() + "/flat-" + filter);  // told by content, not by name
    test::WriteCompressed(compressed.back(), filter, xml);
  }
  std::vector<std::string> parts;
  for (const auto& e : fs::directory_iterator(w / "many")) parts.push_back(e.path().filename());
  std::sort(parts.begin(), parts.end());
  ASSERT_EQ(parts.size(), 4u);
  std::vector<Member> members = {{"many/readme.txt", "passed over"}};
  for (const std::string& part : parts) {
    members.push_back({"many/" + part, test::ReadFile(w / "many" / part)});
  }
  // A member compressed inside the archive.
  test::WriteCompressed(dir.Path() / "part.gz", "gzip", members.back().head);
  members.back() = {members.back().name + ".gz", test::ReadFile(dir.Path() / "part.gz")};
  Args archives;
  for (const auto& [format, filter, name] :
       {std::tuple{"zip", "", "many.zip"}, std::tuple{"tar", "", "many.tar"},
        std::tuple{"tar", "gzip", "many.tar.gz"}, std::tuple{"tar", "xz", "many.tar.xz"}}) {
    archives.push_back(dir.Str() + "/" + name);
    WritePacked(archives.back(), {format, filter}, members);
  }
  const std::string folder = (w / "many").string();

  for (const bool multiple : {false, true}) {
    SCOPED_TRACE(multiple ? "multiple sheets" : "one sheet");
    const Args mode = multiple ? Args{"--multiple-sheets", "-q"} : Args{"-q"};
    const auto workbook = [&](const std::string& name, const Args& paths) {
      const std::string out = dir.Str() + "/" + name + ".xlsx";
      const auto r = Cli(Joined(Joined(mode, {"-o", out}), paths));
      EXPECT_EQ(r.status, 0) << r.err;
      return ReadXlsx(out).dump;
    };
    const std::string unpacked =
        workbook("unpacked", {flat, flat, flat, flat, folder, folder, folder, folder});
    EXPECT_EQ(workbook("packed", Joined(compressed, archives)), unpacked);
  }
}

TEST(CliPacked, AFolderScanTakesCompressedFilesAndArchivesBesideXmlFiles) {
  TempDir dir;
  const std::string xml = "<r><T><v>1</v></T></r>";
  dir.Write("in/a.xml", xml);
  dir.Write("in/b.txt", xml);
  dir.Write("in/~lock.xml.gz", xml);
  test::WriteCompressed(dir.Path() / "in/c.XML.GZ", "gzip", xml);
  test::WriteCompressed(dir.Path() / "in/sub/d.xml.zst", "zstd", xml);
  test::WriteCompressed(dir.Path() / "in/e.gz", "gzip", xml);  // not named as XML
  WritePacked(dir.Path() / "in/f.tar.bz2", {"tar", "bzip2"},
              {{"1.xml", xml}, {"notes.txt", xml}, {"2.xml.xz", "not read"}});
  WritePacked(dir.Path() / "in/g.zip", {"zip", ""}, {{"3.xml", xml}});
  const auto r = Cli({"-o", dir.Str() + "/out.xlsx", dir.Str() + "/in"}, true);
  ASSERT_EQ(r.status, 1) << r.err;  // 2.xml.xz is no xz data
  const std::string in = dir.Str() + "/in/";
  const Args imported = {in + "a.xml", in + "c.XML.GZ", in + "f.tar.bz2:1.xml",
                         in + "f.tar.bz2:2.xml.xz"};
  std::string expected;
  for (std::size_t i = 0; i < imported.size(); ++i) {
    expected += "Importing file " + std::to_string(i + 1) + "/6: " + imported[i] + "\n";
  }
  EXPECT_EQ(r.err.substr(0, expected.size()), expected);
  const auto k = Cli({"-k", "-q", "-o", dir.Str() + "/out.xlsx", dir.Str() + "/in"}, true);
  EXPECT_EQ(k.status, 3) << k.err;
  EXPECT_TRUE(k.err.ends_with("1 of 6 files was left out; the workbook holds the other 5.\n"))
      << k.err;
  // A path may name one member.
  const auto one = Cli({"-q", "-o", dir.Str() + "/one.xlsx", in + "g.zip:3.xml"});
  EXPECT_EQ(one.status, 0) << one.err;
}

TEST(CliPacked, AHostileMemberEndsTheRunOrIsLeftOutAloneWithItsName) {
  TempDir dir;
  const std::string good = "<r><T><v>1</v></T></r>";
  const std::string mixed = dir.Str() + "/mixed.zip";
  WritePacked(mixed, {"zip", ""},
              {{"1.xml", good},
               {"latin1.xml", "<?xml version=\"1.0\"?><r><T><v>caf\xe9</v></T></r>"},
               {"../../evil.xml", good},
               {"2.xml", "<r><T><v>2</v></T></r>"}});
  const std::string secret = dir.Str() + "/secret.zip";
  WritePacked(secret, {"zip", "", "pass"}, {{"s.xml", good}});
  const std::string bomb = dir.Str() + "/bomb.xml.zst";
  WritePacked(bomb, {"raw", "zstd"}, {{"bomb.xml", "<r>", "<!---->", 30'000'000, "</r>"}});
  const std::string many = dir.Str() + "/many.zip";
  WritePacked(many, {"zip", ""}, std::vector<Member>(100'000, Member{"empty.xml", ""}));
  const std::string out = dir.Str() + "/out.xlsx";

  const Args inputs = {mixed, secret, bomb, many};
  const auto stopped = Cli(Joined({"-q", "-o", out}, inputs));
  EXPECT_EQ(stopped.status, 1);
  EXPECT_EQ(stopped.err, "palomet-import: Cannot import '" + mixed +
                             ":latin1.xml': line 1, column 34: the file's encoding is unknown "
                             "or does not match its bytes (Input is not proper UTF-8, indicate "
                             "encoding ! Bytes: 0xE9 0x3C 0x2F 0x76).\n");
  EXPECT_FALSE(fs::exists(out));

  const auto kept = Cli(Joined({"-q", "-k", "-o", out}, inputs));
  EXPECT_EQ(kept.status, 3);
  const std::string cannot = "palomet-import: Cannot import '";
  EXPECT_EQ(kept.err, cannot + mixed +
                          ":latin1.xml': line 1, column 34: the file's encoding is unknown or "
                          "does not match its bytes (Input is not proper UTF-8, indicate "
                          "encoding ! Bytes: 0xE9 0x3C 0x2F 0x76).\n" +
                          cannot + mixed +
                          ":../../evil.xml': the member's name leads outside the "
                          "archive, and such members are not read.\n" +
                          cannot + secret +
                          ":s.xml': the member is encrypted, and encrypted members "
                          "are not read.\n" +
                          cannot + bomb +
                          "': decompressed, it grows to more than 1,000 times the size "
                          "of the file that holds it, the import's limit against "
                          "decompression bombs.\n" +
                          cannot + many +
                          "': the archive holds more than 10,000 members, the most the "
                          "import takes from one archive.\n"
                          "palomet-import: 5 of 7 files were left out; the workbook "
                          "holds the other 2.\n");
  const auto book = ReadXlsx(out);
  ASSERT_EQ(book.sheets.size(), 1u);
  EXPECT_EQ(book.sheets[0].At(2, 1), "1");
  EXPECT_EQ(book.sheets[0].At(4, 1), "2");
}

}  // namespace
}  // namespace palomet
