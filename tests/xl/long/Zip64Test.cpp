// A sheet whose XML passes 4 GB: the package needs ZIP64 fields for that part. Written
// through the writer from cells made here, then checked by another zip reader (Python's
// zipfile: every entry's CRC) and by the last row's cells, read from the streamed part.

#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdlib>
#include <string>

#include "office/xl/Excel.h"
#include "tests/support/TempDir.h"

namespace palomet::xl {
namespace {

TEST(Zip64, ASheetOfMoreThanFourGigabytesOfXmlReadsBackWhole) {
  test::TempDir dir;
  // Written through: the texts wait in a temporary file, not in memory.
  auto app = Application::Create(CellStorage::WriteThrough);
  app->AddWorkbook();
  Worksheet& s = app->ActiveSheet();
  // Control characters are spelled out as seven bytes each (_x0001_): a full cell of them
  // is 229 KB of XML, so some 19,000 cells pass 4 GB.
  const std::string full(32'767, '\x01');
  constexpr int kRows = 6'600, kCols = 3;
  for (int r = 1; r <= kRows; ++r) {
    for (int c = 1; c <= kCols; ++c) s.SetCell(r, c, full);
  }
  s.SetCell(kRows + 1, 1, "12345.50");
  s.SetCell(kRows + 1, 2, "the last row");
  s.SetCell(kRows + 1, 3, "2026-12-08");
  const auto path = dir.Path() / "big.xlsx";
  app->ActiveWorkbook().SaveAs(path);
  app.reset();

  const std::string cmd =
      "/usr/bin/python3 '" PALOMET_SOURCE_DIR "/tests/xl/long/zip64_check.py' '" + path.string() +
      "' xl/worksheets/sheet1.xml " + std::to_string(kRows + 1) + " 2>&1";
  std::FILE* p = ::popen(cmd.c_str(), "r");
  ASSERT_NE(p, nullptr);
  std::string out;
  char buf[4096];
  for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, p)) > 0;) out.append(buf, n);
  const int status = ::pclose(p);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << out;
  EXPECT_EQ(out,
            "every CRC good\n"
            "sheet part over 4 GB: yes\n"
            "A6601 n 12345.5\n"
            "B6601 inlineStr the last row\n"
            "C6601 n 46364\n");
}

}  // namespace
}  // namespace palomet::xl
