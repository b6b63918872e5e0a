#include <gtest/gtest.h>

#include "office/Error.h"
#include "office/db/Ado.h"
#include "office/db/Dao.h"
#include "tests/support/TempDir.h"

namespace palomet {
namespace {

TEST(ConnectionString, DataSourceAndPasswordAreFoundWhateverThePathHolds) {
  const struct {
    std::string text;
    std::string dataSource;
    std::string password;
  } cases[] = {
      {"PROVIDER=Microsoft.Jet.OLEDB.4.0;Data Source=/x/temp.mdb;JET OLEDB:Database Password=",
       "/x/temp.mdb", ""},
      {"PROVIDER=Microsoft.Jet.OLEDB.4.0;Data Source=/a;b/c; d/temp.mdb;JET OLEDB:Database "
       "Password=pw",
       "/a;b/c; d/temp.mdb", "pw"},
      {"Data Source=/ends/with;", "/ends/with;", ""},
      {"data source= /lead/blank.mdb ;jet oledb:database password=x", " /lead/blank.mdb ", "x"},
      {"Provider=p;Data Source=\"/quoted;path.mdb\";Jet OLEDB:Database Password='s;e''cret'",
       "/quoted;path.mdb", "s;e'cret"},
      {"Data Source=/a=b.mdb", "/a=b.mdb", ""},
  };
  for (const auto& c : cases) {
    const ConnectionString cs = ParseConnectionString(c.text);
    EXPECT_EQ(cs.dataSource, c.dataSource) << c.text;
    EXPECT_EQ(cs.password, c.password) << c.text;
  }
}

TEST(Connection, OpensExistingDatabasesWithoutPasswordOnly) {
  test::TempDir dir;
  const std::string db = dir.Write("x;y.mdb", "").string();
  const struct {
    std::string connect;
    long error;  // 0: opens
  } cases[] = {
      {"Data Source=" + db + ";JET OLEDB:Database Password=", 0},
      {"Data Source=" + db + ";JET OLEDB:Database Password=secret", errnum::kInvalidPassword},
      {"Data Source=" + (dir.Path() / "none.mdb").string(), errnum::kCannotOpen},
      {"Data Source=" + dir.Write("text.mdb", std::string(600, 'x')).string(),
       errnum::kNotADatabase},
  };
  for (const auto& c : cases) {
    Connection connection;
    connection.Mode = kAdModeReadWrite;
    try {
      connection.Open(c.connect);
      EXPECT_EQ(c.error, 0) << c.connect;
    } catch (const Error& e) {
      EXPECT_EQ(e.Number(), c.error) << c.connect << ": " << e.what();
    }
  }
}

TEST(Catalogue, ListsEngineTablesAsNegativeAndUserTablesAsZeroInCreationOrder) {
  test::TempDir dir;
  const std::string db = dir.Write("temp.mdb", "").string();
  Connection c;
  c.Open("Data Source=" + db);
  c.Execute(
      "CREATE TABLE Zeta (x); CREATE TABLE seq (id INTEGER PRIMARY KEY AUTOINCREMENT);"
      "CREATE TABLE Alpha (y); INSERT INTO seq DEFAULT VALUES;");
  c.Close();
  auto database = GetDBEngine().Workspaces(0).OpenDatabase(db);
  std::vector<std::string> user;
  bool sawEngineTable = false;
  for (const TableDef& def : database->TableDefs()) {
    if (def.Attributes == 0) user.push_back(def.Name);
    if (def.Name.rfind("sqlite_", 0) == 0) {
      EXPECT_LT(def.Attributes, 0) << def.Name;
      sawEngineTable = true;
    }
  }
  EXPECT_TRUE(sawEngineTable);
  EXPECT_EQ(user, (std::vector<std::string>{"Zeta", "seq", "Alpha"}));
  EXPECT_EQ(&GetDBEngine(), &GetDBEngine());
  EXPECT_THROW(GetDBEngine().Workspaces(1), Error);
  EXPECT_THROW(GetDBEngine().Workspaces(0).OpenDatabase(db, false, false, "MS ACCESS;PWD=pw"),
               Error);
}

}  // namespace
}  // namespace palomet
