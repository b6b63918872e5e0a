#include "staging/Access1.h"

#include <gtest/gtest.h>

#include <climits>
#include <filesystem>

#include "office/Error.h"
#include "office/Files.h"
#include "office/db/Ado.h"
#include "tests/support/FakeMessageBoxes.h"
#include "tests/support/TempDir.h"

namespace palomet {
namespace {

using test::FakeMessageBoxes;
using test::TempDir;

constexpr const char* kUnrecognized = "Unrecognized MS Access Database File";
const std::string kSep = "|xxspearaeatorxx|";

// A database file in a temporary folder, filled with SQL.
class StagingTest : public ::testing::Test {
 protected:
  std::string MakeDatabase(const std::string& sql, const std::string& name = "temp.mdb") {
    const std::string path = dir_.Write(name, "").string();
    if (!sql.empty()) {
      Connection c;
      c.Open("Data Source=" + path);
      c.Execute(sql);
    }
    return path;
  }
  std::vector<std::string> Texts(const std::vector<RowString>& rows) {
    std::vector<std::string> out;
    for (const RowString& r : rows) out.push_back(r.Text());
    return out;
  }

  TempDir dir_;
  FakeMessageBoxes boxes_;
};

TEST(TableAttributes, OnlyTheExactValuesOneAndTwoAndNegativesAreLeftOut) {
  const struct {
    long attributes;
    bool listed;
  } cases[] = {{0, true},  {3, true},   {4, true},         {65536, true},        {1, false},
               {2, false}, {-1, false}, {LONG_MIN, false}, {-2147483646L, false}};
  for (const auto& c : cases) {
    EXPECT_EQ(IsListedTableAttributes(c.attributes), c.listed) << c.attributes;
  }
}

TEST_F(StagingTest, CatalogueAnswersNothingOrANameListAndShowsOneMessageForAForeignFile) {
  const std::string empty = MakeDatabase("");
  const std::string two = MakeDatabase("CREATE TABLE B (x); CREATE TABLE A (y);", "two.mdb");
  const std::string text = dir_.Write("text/temp.mdb", "Just a text file, no database.\n").string();
  const std::string missing = (dir_.Path() / "missing.mdb").string();
  const std::string folder = (dir_.Path() / "text").string();
  const struct {
    std::string what, path, password;
    std::optional<std::vector<std::string>> names;
    int messages;
  } cases[] = {
      {"a new, empty database", empty, "", std::vector<std::string>{}, 0},
      {"tables in creation order", two, "", std::vector<std::string>{"B", "A"}, 0},
      {"a password of blanks is none", two, "   ", std::vector<std::string>{"B", "A"}, 0},
      {"a password the file does not have", two, " pw ", std::nullopt, 0},
      {"a text file named like the database", text, "", std::nullopt, 1},
      {"a missing file", missing, "", std::nullopt, 0},
      {"a folder", folder, "", std::nullopt, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    for (auto* list : {&ListUserTables, &GetTableNames}) {
      boxes_.shown.clear();
      EXPECT_EQ(list(c.path, c.password, boxes_), c.names);
      ASSERT_EQ(static_cast<int>(boxes_.shown.size()), c.messages);
      for (const auto& box : boxes_.shown) {
        EXPECT_EQ(box.text, kUnrecognized);
        EXPECT_EQ(box.buttons, MsgButtons::Ok);
        EXPECT_EQ(box.icon, MsgIcon::None);
      }
    }
  }
}

TEST_F(StagingTest, ResetDropsEveryUserTableWhateverItsName) {
  const std::string db = MakeDatabase(
      "CREATE TABLE `order details` (x); CREATE TABLE `we``ird` (y); CREATE TABLE plain (z);"
      "CREATE TABLE k (id INTEGER PRIMARY KEY AUTOINCREMENT); INSERT INTO k DEFAULT VALUES;");
  ResetStagingDatabase(db, "", boxes_);
  EXPECT_EQ(ListUserTables(db, "", boxes_), std::vector<std::string>{});
  EXPECT_TRUE(boxes_.shown.empty());
}

TEST_F(StagingTest, ADropThatFailsMidwayStopsNeitherTheResetNorTheDropsBeforeIt) {
  // Dropping the full-text table drops its own tables too, so that their drops, listed after
  // it, fail; the tables around them still go.
  const std::string db = MakeDatabase(
      "CREATE TABLE first (x); CREATE VIRTUAL TABLE words USING fts5(w);"
      "INSERT INTO words VALUES ('a b'); CREATE TABLE last (y);");
  const auto listed = ListUserTables(db, "", boxes_);
  ASSERT_TRUE(listed);
  ASSERT_GT(listed->size(), 3u) << "the full-text table's own tables are listed too";
  ResetStagingDatabase(db, "", boxes_);
  EXPECT_EQ(ListUserTables(db, "", boxes_), std::vector<std::string>{});
}

TEST_F(StagingTest, ResetOfAMissingEmptyOrForeignFileChangesNothing) {
  const std::string missing = (dir_.Path() / "temp.mdb").string();
  EXPECT_NO_THROW(ResetStagingDatabase(missing, "", boxes_));
  EXPECT_FALSE(std::filesystem::exists(missing));
  EXPECT_TRUE(boxes_.shown.empty());
  EXPECT_NO_THROW(ResetStagingDatabase(MakeDatabase(""), "", boxes_));
  const auto text = dir_.Write("text.mdb", "not a database");
  EXPECT_NO_THROW(ResetStagingDatabase(text.string(), "", boxes_));
  ASSERT_EQ(boxes_.shown.size(), 1u);
  EXPECT_EQ(boxes_.shown[0].text, kUnrecognized);
}

TEST_F(StagingTest, ResetFailsNamingATableThatCouldNotBeDropped) {
  const std::string db = MakeDatabase("CREATE TABLE Kept (x); INSERT INTO Kept VALUES (1);");
  // A second running copy reading the file holds it: the drop statement cannot go through.
  Connection other;
  other.Open("Data Source=" + db);
  other.Execute("BEGIN; SELECT count(*) FROM Kept;");
  try {
    ResetStagingDatabase(db, "", boxes_);
    ADD_FAILURE() << "the reset reported success";
  } catch (const Error& e) {
    EXPECT_NE(std::string(e.what()).find("'Kept'"), std::string::npos) << e.what();
  }
  other.Execute("COMMIT");
  EXPECT_NO_THROW(ResetStagingDatabase(db, "", boxes_));
  EXPECT_EQ(ListUserTables(db, "", boxes_), std::vector<std::string>{});
}

TEST_F(StagingTest, ResetFailsWhenTheFileIsHeldSoThatLastRunsTablesAreNotTakenForNew) {
  const std::string db = MakeDatabase("CREATE TABLE Old (x); INSERT INTO Old VALUES (1);");
  Connection other;
  other.Open("Data Source=" + db);
  other.Execute("BEGIN EXCLUSIVE; INSERT INTO Old VALUES (2);");
  EXPECT_EQ(ListUserTables(db, "", boxes_), std::nullopt);
  try {
    ResetStagingDatabase(db, "", boxes_);
    ADD_FAILURE() << "the reset reported success";
  } catch (const Error& e) {
    EXPECT_NE(std::string(e.what()).find(db), std::string::npos) << e.what();
  }
  EXPECT_TRUE(boxes_.shown.empty());
  other.Execute("ROLLBACK");
  EXPECT_NO_THROW(ResetStagingDatabase(db, "", boxes_));
  EXPECT_EQ(ListUserTables(db, "", boxes_), std::vector<std::string>{});
}

TEST_F(StagingTest, DropTableNeedsAnOpenableFileButIgnoresAFailingStatement) {
  const std::string db = MakeDatabase("CREATE TABLE t (x);");
  EXPECT_NO_THROW(DropTable("no such table", db));
  EXPECT_THROW(DropTable("t", (dir_.Path() / "missing.mdb").string()), Error);
  DropTable("t", db);
  EXPECT_EQ(ListUserTables(db, "", boxes_), std::vector<std::string>{});
}

TEST_F(StagingTest, ReadTableRowsGivesTheHeaderThenEveryRecordWithNullAsEmpty) {
  const std::string db = MakeDatabase(
      "CREATE TABLE t (ID, Name); INSERT INTO t VALUES (1, 'x'); INSERT INTO t VALUES (2, NULL);"
      "CREATE TABLE `order details` (n); CREATE TABLE `a``b` (v TEXT);"
      "INSERT INTO `a``b` VALUES ('A|xxspearaeatorxx|B');"
      "CREATE TABLE mixed (i, r, s); INSERT INTO mixed VALUES (42, 1.5, ' pad ');"
      "CREATE TABLE ordered (v); INSERT INTO ordered (rowid, v) VALUES (3, 'c');"
      "INSERT INTO ordered (rowid, v) VALUES (1, 'a'); INSERT INTO ordered (rowid, v) "
      "VALUES (2, 'b');");
  EXPECT_EQ(Texts(ReadTableRows("t", db, "")),
            (std::vector<std::string>{"ID" + kSep + "Name" + kSep, "1" + kSep + "x" + kSep,
                                      "2" + kSep + kSep}));
  EXPECT_EQ(Texts(ReadTableRows("order details", db, "")), std::vector<std::string>{"n" + kSep});
  EXPECT_EQ(Texts(ReadTableRows("mixed", db, "")),
            (std::vector<std::string>{"i" + kSep + "r" + kSep + "s" + kSep,
                                      "42" + kSep + "1.5" + kSep + " pad " + kSep}));
  EXPECT_EQ(Texts(ReadTableRows("ordered", db, "")),
            (std::vector<std::string>{"v" + kSep, "a" + kSep, "b" + kSep, "c" + kSep}));

  // The value holding the separator stays one field when split by the row's bounds.
  const auto rows = ReadTableRows("a`b", db, "");
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[1].Text(), "A" + kSep + "B" + kSep);
  ASSERT_EQ(rows[1].FieldCount(), 1u);
  EXPECT_EQ(rows[1].Field(0), "A" + kSep + "B");
}

TEST_F(StagingTest, ReadTableRowsRaisesForWhatCannotBeRead) {
  const std::string db = MakeDatabase("CREATE TABLE t (x);");
  const struct {
    std::string what, table, path, password;
  } cases[] = {
      {"no such table", "missing", db, ""},
      {"no such file", "t", (dir_.Path() / "none.mdb").string(), ""},
      {"a password the file does not have", "t", db, "pw"},
      {"not a database", "t", dir_.Write("text.mdb", std::string(700, 't')).string(), ""},
  };
  for (const auto& c : cases) {
    EXPECT_THROW(ReadTableRows(c.table, c.path, c.password), Error) << c.what;
    EXPECT_THROW(TableRowReader(c.table, c.path, c.password), Error) << c.what;
  }
}

TEST_F(StagingTest, TheStreamingReaderGivesTheSameRowsAndBoundsAsTheWholeRead) {
  std::string sql = "BEGIN; CREATE TABLE big (a, b, c);";
  for (int i = 0; i < 500; ++i) {
    sql += "INSERT INTO big VALUES (" + std::to_string(i) + ", " +
           (i % 7 == 0 ? std::string("NULL") : "'v" + std::to_string(i) + kSep + "'") + ", '');";
  }
  sql += "COMMIT;";
  // A folder name with ";" must not cut the path in the connection string.
  std::filesystem::create_directories(dir_.Path() / "a;b");
  const std::string db = MakeDatabase(sql, "a;b/temp.mdb");
  const auto whole = ReadTableRows("big", db, "");
  ASSERT_EQ(whole.size(), 501u);
  TableRowReader reader("big", db, "");
  EXPECT_EQ(reader.RecordCount(), 500);
  RowString row;
  std::size_t n = 0;
  while (reader.Next(row)) {
    ASSERT_LT(n, whole.size());
    EXPECT_EQ(row.Text(), whole[n].Text());
    ASSERT_EQ(row.FieldCount(), 3u);
    for (std::size_t f = 0; f < 3; ++f) EXPECT_EQ(row.Field(f), whole[n].Field(f));
    ++n;
  }
  EXPECT_EQ(n, whole.size());
  EXPECT_FALSE(reader.Next(row));
}

TEST_F(StagingTest, OneConnectionReadsTablesInTurnAsTheirOwnConnectionsWould) {
  const std::string db = MakeDatabase(
      "CREATE TABLE a (x, y); INSERT INTO a VALUES (1, NULL), ('t', 2);"
      "CREATE TABLE `b``c` (z); INSERT INTO `b``c` VALUES ('v');"
      "CREATE TABLE e (w);");
  StagingReader database(db, "");
  // Whole and streamed reads alternate over the one connection, a table read twice included.
  for (const std::string table : {"a", "b`c", "e", "a"}) {
    const auto own = ReadTableRows(table, db, "");
    const auto shared = ReadTableRows(table, database);
    ASSERT_EQ(shared.size(), own.size()) << table;
    for (std::size_t i = 0; i < own.size(); ++i)
      EXPECT_EQ(shared[i].Text(), own[i].Text()) << table;
    TableRowReader reader(table, database);
    RowString row;
    std::size_t n = 0;
    while (reader.Next(row)) {
      ASSERT_LT(n, own.size()) << table;
      EXPECT_EQ(row.Text(), own[n++].Text()) << table;
    }
    EXPECT_EQ(n, own.size()) << table;
  }
  // A missing table fails alone; the connection serves the next one.
  EXPECT_THROW(TableRowReader("missing", database), Error);
  EXPECT_THROW(ReadTableRows("missing", database), Error);
  EXPECT_EQ(ReadTableRows("b`c", database).size(), 2u);

  EXPECT_THROW(StagingReader((dir_.Path() / "none.mdb").string(), ""), Error);
  EXPECT_THROW(StagingReader(db, "pw"), Error);
}

TEST_F(StagingTest, FileExistsNeverRaises) {
  EXPECT_TRUE(FileExists(dir_.Write("f.txt", "x").string()));
  EXPECT_TRUE(FileExists(dir_.Str()));
  EXPECT_FALSE(FileExists((dir_.Path() / "missing").string()));
  EXPECT_FALSE(FileExists(""));
  EXPECT_FALSE(FileExists(std::string("bad\0name", 8)));
}

}  // namespace
}  // namespace palomet
