// The zip container on its own: parts streamed through the worker come back whole, ZIP64
// fields only where asked for, and a failing write reaches the caller with the system's reason.

#include <gtest/gtest.h>
#include <fcntl.h>
#include <unistd.h>
#include <unzip.h>

#include <cstdlib>
#include <map>

#include "office/Error.h"
#include "office/xl/PackageZip.h"
#include "tests/support/TempDir.h"

namespace palomet::xl::detail {
namespace {

TEST(PackageZip, PartsComeBackWholeWithZip64FieldsOnlyWhereAskedFor) {
  test::TempDir dir;
  const auto path = dir.Path() / "p.zip";
  std::string big;
  for (int i = 0; big.size() < (std::size_t{3} << 20); ++i) big += "<c r=\"A" + std::to_string(i) + "\"/>";
  {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ASSERT_GE(fd, 0);
    PackageZip zip(fd, path.string());
    zip.BeginPart("small.xml");
    zip.Append("<a/>");
    zip.EndPart();
    zip.BeginPart("big.xml", true);
    for (std::size_t at = 0; at < big.size(); at += 1000) zip.Append(std::string_view(big).substr(at, 1000));
    zip.EndPart();
    zip.BeginPart("empty.xml");
    zip.EndPart();
    zip.Finish();
    ::close(fd);
  }
  EXPECT_EQ(std::system(("unzip -tqq '" + path.string() + "' >/dev/null").c_str()), 0);
  unzFile z = unzOpen64(path.c_str());
  ASSERT_NE(z, nullptr);
  std::map<std::string, std::pair<std::string, unsigned long>> parts;
  for (int rc = unzGoToFirstFile(z); rc == UNZ_OK; rc = unzGoToNextFile(z)) {
    char name[64];
    unz_file_info64 info{};
    unzGetCurrentFileInfo64(z, &info, name, sizeof name, nullptr, 0, nullptr, 0);
    std::string data(info.uncompressed_size, '\0');
    unzOpenCurrentFile(z);
    unzReadCurrentFile(z, data.data(), static_cast<unsigned>(data.size()));
    EXPECT_EQ(unzCloseCurrentFile(z), UNZ_OK) << name;
    parts[name] = {data, info.version_needed};
  }
  unzClose(z);
  ASSERT_EQ(parts.size(), 3u);
  EXPECT_EQ(parts["small.xml"].first, "<a/>");
  EXPECT_EQ(parts["big.xml"].first, big);
  EXPECT_EQ(parts["empty.xml"].first, "");
  // The local headers: a ZIP64 extra field (id 1) on the part that asked for it only.
  const std::string file = test::ReadFile(path);
  auto localExtra = [&](const std::string& name) {
    const std::size_t at = file.find("PK\x03\x04");
    for (std::size_t h = at; h != std::string::npos; h = file.find("PK\x03\x04", h + 4)) {
      const auto u16 = [&](std::size_t o) {
        return static_cast<unsigned>(static_cast<unsigned char>(file[h + o])) |
               static_cast<unsigned>(static_cast<unsigned char>(file[h + o + 1])) << 8;
      };
      if (file.compare(h + 30, u16(26), name) == 0) return file.substr(h + 30 + u16(26), u16(28));
    }
    return std::string("(no header)");
  };
  EXPECT_EQ(localExtra("small.xml"), "");
  EXPECT_EQ(localExtra("big.xml").substr(0, 2), std::string("\x01\x00", 2));
}

TEST(PackageZip, AWriteThatFailsOnTheWorkerReachesTheCaller) {
  test::TempDir dir;
  const auto path = dir.Path() / "p.zip";
  dir.Write("p.zip", "");
  const int fd = ::open(path.c_str(), O_RDONLY);  // every write fails
  ASSERT_GE(fd, 0);
  try {
    PackageZip zip(fd, path.string());
    for (int part = 0; part < 50; ++part) {
      zip.BeginPart("part" + std::to_string(part) + ".xml");
      zip.Append(std::string(700'000, 'x'));
      zip.EndPart();
    }
    zip.Finish();
    ADD_FAILURE() << "the save went through";
  } catch (const Error& e) {
    EXPECT_NE(e.Description().find(path.string()), std::string::npos) << e.Description();
    EXPECT_NE(e.Description().find("Bad file descriptor"), std::string::npos) << e.Description();
  }
  ::close(fd);
}

}  // namespace
}  // namespace palomet::xl::detail
