#include "office/Files.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "tests/support/TempDir.h"

namespace palomet {
namespace {

using test::TempDir;

TEST(Files, KindOfPathTellsFilesFoldersAndTheRest) {
  TempDir dir;
  const std::string file = dir.Write("a.xml", "<a/>").string();
  const std::string fifo = (dir.Path() / "pipe").string();
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  std::error_code ec;
  EXPECT_EQ(KindOfPath(file, ec), PathKind::File);
  EXPECT_EQ(KindOfPath(dir.Str(), ec), PathKind::Folder);
  EXPECT_EQ(KindOfPath(fifo, ec), PathKind::Other);
  EXPECT_EQ(KindOfPath((dir.Path() / "missing").string(), ec), PathKind::Missing);
  EXPECT_EQ(KindOfPath(file + "/below", ec), PathKind::Missing);
  EXPECT_TRUE(ec);  // not a folder: the file system says why
}

TEST(Files, TheTemporaryFileKeepsWhatIsWrittenAndLeavesNoName) {
  TempDir dir;
  const char* old = std::getenv("TMPDIR");
  const std::string saved = old != nullptr ? old : "";
  ::setenv("TMPDIR", dir.Str().c_str(), 1);
  FilePtr file = UnlinkedTemporaryFile();
  if (old != nullptr) {
    ::setenv("TMPDIR", saved.c_str(), 1);
  } else {
    ::unsetenv("TMPDIR");
  }
  ASSERT_NE(file, nullptr);
  ASSERT_GE(std::fputs("kept", file.get()), 0);
  std::rewind(file.get());
  char back[8] = {};
  EXPECT_EQ(std::fread(back, 1, sizeof back, file.get()), 4u);
  EXPECT_STREQ(back, "kept");
  EXPECT_TRUE(std::filesystem::is_empty(dir.Path()));
}

}  // namespace
}  // namespace palomet
