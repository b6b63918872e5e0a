// Files a user may drop in that are damaged, huge, deep, hostile or not files at all: each
// fails with a description naming the file and what is wrong, quickly, without reading
// anything else, and leaves the tables of earlier files as they were. Large but sound
// values import whole.

#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "office/Error.h"
#include "office/db/Ado.h"
#include "office/db/DatabaseApplication.h"
#include "tests/db/DbTestSupport.h"
#include "tests/support/FilePermissions.h"
#include "tests/support/TempDir.h"

namespace palomet {
namespace {

using test::DumpTables;
using test::TempDir;
namespace fs = std::filesystem;

// A TCP port on the loopback interface that records whether anyone connected to it.
class Listener {
 public:
  Listener() {
    fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    if (fd_ < 0 || ::bind(fd_, reinterpret_cast<sockaddr*>(&addr), len) != 0 ||
        ::listen(fd_, 8) != 0 || ::getsockname(fd_, reinterpret_cast<sockaddr*>(&addr), &len)) {
      ADD_FAILURE() << "no loopback port";
      return;
    }
    port_ = ntohs(addr.sin_port);
  }
  ~Listener() {
    if (fd_ >= 0) ::close(fd_);
  }
  std::string Url(const std::string& file) const {
    return "http://127.0.0.1:" + std::to_string(port_) + "/" + file;
  }
  bool Contacted() const {
    const int c = ::accept(fd_, nullptr, nullptr);
    if (c >= 0) ::close(c);
    return c >= 0;
  }

 private:
  int fd_ = -1;
  int port_ = 0;
};

class HostileFilesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    db_ = dir_.Write("temp.mdb", "").string();
    app_.OpenCurrentDatabase(db_);
    app_.ImportXml(dir_.Write("earlier.xml", "<r><kept a=\"1\"><v>1</v></kept></r>").string());
    before_ = DumpTables(db_);
  }
  std::string PathOf(const std::string& name) const { return (dir_.Path() / name).string(); }

  // Imports `path`; the description of the failure, or "" when it imported.
  std::string Failure(const std::string& path) { return test::ImportFailureOf(app_, path); }

  TempDir dir_;
  std::string db_;
  std::string before_;
  DatabaseApplication app_;
};

struct BadFile {
  const char* what;
  std::function<std::string(const TempDir&)> make;  // writes the file, returns its path
  std::vector<std::string> says;                    // parts of the description
};

std::function<std::string(const TempDir&)> Contents(std::string xml) {
  return [xml](const TempDir& d) { return d.Write("bad.xml", xml).string(); };
}

std::string Nested(int levels) {
  std::string s;
  s.reserve(static_cast<std::size_t>(levels) * 7 + 16);
  for (int i = 0; i < levels; ++i) s += "<d>";
  s += "<v>x</v>";
  for (int i = 0; i < levels; ++i) s += "</d>";
  return s;
}

TEST_F(HostileFilesTest, DamagedHostileAndUnreadableFilesFailNamingFileAndCause) {
  Listener web;
  const std::string fullDocument =
      "<?xml version=\"1.0\"?>\n<orders>\n  <order id=\"7\">\n    <customer>Ann</customer>\n"
      "  </order>\n</orders>\n";
  std::string binary = "\x89PNG\r\n\x1a\n";
  for (int i = 0; i < 4096; ++i) binary += static_cast<char>((i * 131 + 7) & 0xFF);
  const std::vector<BadFile> cases = {
      {"a file cut off in the middle",
       Contents(fullDocument.substr(0, 60)),
       {"not well-formed", "line "}},
      {"a file cut off inside a tag", Contents("<r><a>1</a><b x=\"2"), {"not well-formed"}},
      {"binary data", Contents(binary), {"line 1"}},
      {"NUL bytes inside a value",
       Contents(std::string("<r><c>a\0b</c></r>", 17)),
       {"not well-formed", "line 1"}},
      {"only NUL bytes", Contents(std::string(1000, '\0')), {}},
      {"UTF-16 bytes declared as UTF-8", Contents(std::string("<\0r\0>\0<\0/\0r\0>\0", 14)), {}},
      {"100,000 levels of nesting", Contents(Nested(100'000)), {"deeper than 256 levels"}},
      {"a 10 MB attribute value",
       Contents("<r><big a=\"" + std::string(10u << 20, 'v') + "\"><n>1</n></big></r>"),
       {"an attribute value is longer than the parser takes (10000000 bytes)"}},
      {"a 10 MB CDATA section",
       Contents("<r><big><a><![CDATA[" + std::string(10u << 20, 'v') + "]]></a></big></r>"),
       {"a CDATA section is longer than the parser takes (10000000 bytes)"}},
      {"an element name of 60,000 characters",
       Contents("<r><" + std::string(60'000, 'n') + "/></r>"),
       {"a name is longer than the parser takes (50000 characters)"}},
      {"an external entity on a web server",
       Contents("<!DOCTYPE r [<!ENTITY x SYSTEM \"" + web.Url("x.txt") +
                "\">]>\n<r><c>&x;</c></r>"),
       {"external entity '&x;'", "line 2"}},
      {"an external parameter entity on a web server",
       Contents("<!DOCTYPE r [<!ENTITY % p SYSTEM \"" + web.Url("p.dtd") + "\">\n%p;]><r/>"),
       {"external parameter entity '%p;'", "line 2"}},
      {"an external subset on a web server with an entity it would declare",
       Contents("<!DOCTYPE r SYSTEM \"" + web.Url("r.dtd") + "\">\n<r><c>&e;</c></r>"),
       {"'&e;' is not declared"}},
      {"a folder given as a file",
       [](const TempDir& d) {
         fs::create_directories(d.Path() / "folder.xml");
         return (d.Path() / "folder.xml").string();
       },
       {"it is a folder, not a file"}},
      {"a file that vanished after it was listed",
       [](const TempDir& d) {
         const fs::path p = d.Write("vanished.xml", "<r><c>1</c></r>");
         fs::remove(p);
         return p.string();
       },
       {"cannot be read", "No such file or directory"}},
      {"a pipe, which would block the import until someone writes to it",
       [](const TempDir& d) {
         const std::string p = (d.Path() / "pipe.xml").string();
         EXPECT_EQ(::mkfifo(p.c_str(), 0600), 0);
         return p;
       },
       {"not a regular file"}},
      {"a socket",
       [](const TempDir& d) {
         const std::string p = (d.Path() / "sock.xml").string();
         const int s = ::socket(AF_UNIX, SOCK_STREAM, 0);
         sockaddr_un addr{};
         addr.sun_family = AF_UNIX;
         p.copy(addr.sun_path, sizeof addr.sun_path - 1);
         EXPECT_EQ(::bind(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
         ::close(s);
         return p;
       },
       {"not a regular file"}},
      {"a device", [](const TempDir&) { return std::string("/dev/zero"); }, {"not a regular file"}},
  };
  for (const BadFile& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string path = c.make(dir_);
    const auto start = std::chrono::steady_clock::now();
    const std::string failure = Failure(path);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
    ASSERT_FALSE(failure.empty()) << "imported";
    EXPECT_EQ(failure.rfind("Cannot import '" + path + "': ", 0), 0u) << failure;
    for (const std::string& part : c.says) {
      EXPECT_NE(failure.find(part), std::string::npos) << failure;
    }
    EXPECT_EQ(DumpTables(db_), before_);
  }
  EXPECT_FALSE(web.Contacted()) << "the import went to the network";
}

TEST_F(HostileFilesTest, AFileThatLostItsReadPermissionFailsNamingTheCause) {
  const std::string path = dir_.Write("locked.xml", "<r><c>1</c></r>").string();
  fs::permissions(path, fs::perms::none);
  test::PermissionsApply permissions;
  if (!permissions.Holds()) GTEST_SKIP() << "permissions cannot be made to apply";
  const std::string failure = Failure(path);
  EXPECT_EQ(failure, "Cannot import '" + path + "': the file cannot be read (Permission denied).");
  EXPECT_EQ(DumpTables(db_), before_);
}

TEST_F(HostileFilesTest, ATenMegabyteTextValueImportsWhole) {
  // In one piece, and in pieces split by entity references, which are one value all the same.
  const std::string big(10u << 20, 'v');
  const std::string split = big.substr(0, 5u << 20) + "&amp;&#65;" + big.substr(5u << 20);
  const struct {
    const char* table;
    std::string xml;
    std::size_t length;
  } cases[] = {
      {"`big`", "<r><big><a>" + big + "</a><n>1</n></big></r>", big.size()},
      {"`big1`", "<r><big><a>" + split + "</a><n>1</n></big></r>", big.size() + 2},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.table);
    ASSERT_EQ(Failure(dir_.Write("big.xml", c.xml).string()), "");
    Connection connection;
    connection.Mode = kAdModeReadWrite;
    connection.Open("Data Source=" + db_);
    Recordset rs;
    rs.Open(std::string("SELECT length(a), n FROM ") + c.table, connection);
    ASSERT_FALSE(rs.Eof());
    EXPECT_EQ(std::string(*rs.Fields(0).Value), std::to_string(c.length));
    EXPECT_EQ(std::string(*rs.Fields(1).Value), "1");
  }
}

}  // namespace
}  // namespace palomet
