// A long run of many files whose tables fill part files of the staging database: a file that
// fails in the middle ends the run with nothing written, or with --keep-going is left out;
// a workbook of more sheets than readers open says so, even with --quiet.

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "importrun/WorkbookAssembly.h"
#include "office/db/XmlImportTuning.h"
#include "tests/cli/CliInProcess.h"
#include "tests/support/TempDir.h"
#include "tests/support/XlsxReadBack.h"

namespace palomet {
namespace {

namespace fs = std::filesystem;
using test::Cli;
using test::TempDir;

TEST(CliManyFiles, AFailureMidRunWritesNothingAndKeepGoingLeavesOutOnlyThatFile) {
  auto& tuning = xmlimport::ImportTuning();
  const xmlimport::Tuning saved = tuning;
  tuning.partTables = 3;  // the 40 files' tables fill a dozen part files
  SetSheetsReadersOpen(30);

  TempDir dir;
  constexpr int kFiles = 40, kBad = 20;
  for (int i = 0; i < kFiles; ++i) {
    char name[16];
    std::snprintf(name, sizeof name, "in/%02d.xml", i);
    dir.Write(name,
              i == kBad ? "<r><T><v>cut off" : "<r><T><v>" + std::to_string(i) + "</v></T></r>");
  }
  const std::string out = dir.Str() + "/out.xlsx";
  const std::string badLine = "palomet-import: Cannot import '" + dir.Str() + "/in/20.xml'";

  const auto failed = Cli({"-q", "--multiple-sheets", "-o", out, dir.Str() + "/in"});
  EXPECT_EQ(failed.status, 1);
  EXPECT_EQ(failed.err.rfind(badLine, 0), 0u) << failed.err;
  EXPECT_EQ(test::Lines(failed.err), 1) << failed.err;
  EXPECT_FALSE(fs::exists(out));

  const auto kept = Cli({"-q", "-k", "--multiple-sheets", "-o", out, dir.Str() + "/in"});
  EXPECT_EQ(kept.status, 3) << kept.err;
  EXPECT_NE(kept.err.find(badLine), std::string::npos) << kept.err;
  EXPECT_NE(kept.err.find("palomet-import: the workbook has 39 sheets; LibreOffice opens no "
                          "workbook of more than 30. Send the files to one sheet, or combine "
                          "tables of the same name from all files, to make fewer.\n"),
            std::string::npos)
      << kept.err;
  const test::XlsxBook book = test::ReadXlsx(out);
  ASSERT_EQ(book.sheets.size(), static_cast<std::size_t>(kFiles - 1));
  for (int i = 0, t = 0; i < kFiles; ++i) {
    if (i == kBad) continue;
    const test::XlsxSheet& sheet = book.sheets[static_cast<std::size_t>(t)];
    EXPECT_EQ(sheet.name, "T" + (t ? std::to_string(t) : ""));
    EXPECT_EQ(sheet.At(2, 1), std::to_string(i)) << sheet.name;
    ++t;
  }

  // One sheet: no word of the number of sheets.
  const auto one = Cli({"-q", "-k", "-o", out, dir.Str() + "/in"});
  EXPECT_EQ(one.err.find("LibreOffice"), std::string::npos) << one.err;

  SetSheetsReadersOpen(kSheetsReadersOpen);
  tuning = saved;
}

}  // namespace
}  // namespace palomet
