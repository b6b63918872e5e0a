// Runs of many files: thousands of tables spread over the staging database and the part
// files beside it, named, listed and read back as one database's, and gone with the reset.

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "office/Error.h"
#include "office/db/DatabaseApplication.h"
#include "office/db/XmlImportTuning.h"
#include "staging/Access1.h"
#include "tests/support/FakeMessageBoxes.h"
#include "tests/support/FilePermissions.h"
#include "tests/support/TempDir.h"

namespace palomet {
namespace {

namespace fs = std::filesystem;
using test::FakeMessageBoxes;
using test::TempDir;

// Imports `files` in order as a run does, after the reset; a file that fails is left out.
void Stage(const std::string& db, const std::vector<std::string>& files, MessageBoxes& boxes) {
  ResetStagingDatabase(db, "", boxes);
  DatabaseApplication access;
  access.OpenCurrentDatabase(db, true);
  for (const std::string& f : files) {
    try {
      access.ImportXml(f);
    } catch (const Error& e) {
      EXPECT_EQ(e.Number(), errnum::kXmlImport) << e.what();
    }
  }
  access.Quit();
}

std::vector<std::string> Values(const std::vector<RowString>& rows) {
  std::vector<std::string> out;
  for (std::size_t r = 1; r < rows.size(); ++r) out.emplace_back(rows[r].Field(0));
  return out;
}

TEST(ManyFiles, ThousandsOfTinyFilesAreNumberedListedAndReadInCatalogueOrder) {
  TempDir dir;
  FakeMessageBoxes boxes;
  const std::string db = dir.Write("temp.mdb", "").string();
  constexpr int kFiles = 3000;
  std::vector<std::string> files;
  for (int i = 0; i < kFiles; ++i) {
    files.push_back(
        dir.Write("in/" + std::to_string(i) + ".xml",
                  "<dataroot><Customer><ID>" + std::to_string(i) + "</ID></Customer></dataroot>")
            .string());
  }
  Stage(db, files, boxes);

  const auto names = GetTableNames(db, "", boxes);
  ASSERT_TRUE(names);
  ASSERT_EQ(names->size(), static_cast<std::size_t>(kFiles));
  for (int i = 0; i < kFiles; ++i) {
    ASSERT_EQ((*names)[static_cast<std::size_t>(i)], "Customer" + (i ? std::to_string(i) : ""));
  }
  ASSERT_TRUE(fs::exists(db + ".2")) << "the tables stayed in one file";
  EXPECT_EQ(fs::status(db + ".2").permissions(), fs::perms::owner_read | fs::perms::owner_write)
      << "a part holds the user's data as the database does";

  // Over one connection, in the catalogue's order, as a run reads them: every row arrives.
  {
    StagingReader reader(db, "");
    for (int i = 0; i < kFiles; ++i) {
      ASSERT_EQ(Values(ReadTableRows((*names)[static_cast<std::size_t>(i)], reader)),
                std::vector<std::string>{std::to_string(i)});
    }
  }
  // Out of order too, over connections of their own; and a part's table drops like the
  // file's own.
  for (const int i : {2999, 3, 1700, 0}) {
    EXPECT_EQ(Values(ReadTableRows("Customer" + (i ? std::to_string(i) : ""), db, "")),
              std::vector<std::string>{std::to_string(i)});
  }
  DropTable("customer2000", db);
  const auto fewer = GetTableNames(db, "", boxes);
  ASSERT_TRUE(fewer);
  EXPECT_EQ(fewer->size(), static_cast<std::size_t>(kFiles - 1));
  EXPECT_EQ((*fewer)[2000], "Customer2001");

  // The reset takes every table, those of the parts with their files.
  ResetStagingDatabase(db, "", boxes);
  EXPECT_EQ(GetTableNames(db, "", boxes), std::vector<std::string>{});
  EXPECT_FALSE(fs::exists(db + ".2"));
  EXPECT_TRUE(boxes.shown.empty());
}

// A good file makes one table T; a bad one makes T and then fails on a table wider than the
// database allows.
std::string GoodFile(int n) {
  return "<r><T><v>" + std::to_string(n) + "</v></T></r>";
}
std::string NamesThenFails() {
  std::string xml = "<r><T><v>bad</v></T><wide";
  for (int i = 0; i < 2100; ++i) xml += " a" + std::to_string(i) + "=\"1\"";
  return xml + "><v>1</v></wide></r>";
}

TEST(ManyFiles, FailedFilesGiveTheirNamesBackWhereverTheirTablesWouldHaveGone) {
  auto& tuning = xmlimport::ImportTuning();
  const xmlimport::Tuning saved = tuning;
  tuning.partTables = 2;  // the file takes two tables, each part two more

  const struct {
    const char* what;
    bool folderTakesFiles;
    std::vector<bool> good;  // per file: imports, or fails after naming its tables
    bool parts;
  } cases[] = {
      {"a failure at the start, inside the file, and as a part's first",
       true,
       {false, true, true, false, true, true, false, false, true},
       true},
      {"a folder that takes no new files keeps every table in the file",
       false,
       {true, true, false, true, true, true},
       false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    TempDir dir;
    FakeMessageBoxes boxes;
    const std::string db = dir.Write("staging/temp.mdb", "").string();
    std::vector<std::string> files, expectedNames, expectedValues;
    for (std::size_t i = 0; i < c.good.size(); ++i) {
      const std::string name = "in/" + std::to_string(i) + ".xml";
      files.push_back(dir.Write(name, c.good[i] ? GoodFile(int(i)) : NamesThenFails()).string());
      if (!c.good[i]) continue;
      const std::size_t n = expectedNames.size();
      expectedNames.push_back("T" + (n ? std::to_string(n) : ""));
      expectedValues.push_back(std::to_string(i));
    }
    {
      test::PermissionsApply permissions;
      if (!c.folderTakesFiles) {
        if (!permissions.Holds()) continue;
        fs::permissions(dir.Path() / "staging", fs::perms::owner_read | fs::perms::owner_exec);
      }
      Stage(db, files, boxes);
      fs::permissions(dir.Path() / "staging", fs::perms::owner_all);
    }
    const auto names = GetTableNames(db, "", boxes);
    ASSERT_TRUE(names);
    EXPECT_EQ(*names, expectedNames) << "numbers taken by failed files are given back";
    for (std::size_t t = 0; t < expectedNames.size(); ++t) {
      EXPECT_EQ(Values(ReadTableRows(expectedNames[t], db, "")),
                std::vector<std::string>{expectedValues[t]});
    }
    EXPECT_EQ(fs::exists(db + ".2"), c.parts);
    EXPECT_TRUE(boxes.shown.empty());
  }
  tuning = saved;
}

}  // namespace
}  // namespace palomet
