#pragma once

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "office/Error.h"
#include "office/db/Ado.h"
#include "office/db/Dao.h"
#include "office/db/DatabaseApplication.h"

namespace palomet::test {

// Has `app` import `path`: the description of the failure, which must be the file's own
// fault, or "" when it imported.
inline std::string ImportFailureOf(DatabaseApplication& app, const std::string& path) {
  try {
    app.ImportXml(path);
  } catch (const Error& e) {
    EXPECT_EQ(e.Number(), errnum::kXmlImport) << e.what();
    return e.what();
  }
  return {};
}

// Every user table of a database file with its columns and rows, as compact text:
//   name: col1, col2
//     v1 | v2          (NULL for Null)
inline std::string DumpTables(const std::string& path) {
  std::string out;
  auto db = GetDBEngine().Workspaces(0).OpenDatabase(path);
  for (const TableDef& def : db->TableDefs()) {
    if (def.Attributes != 0) continue;
    Connection c;
    c.Mode = kAdModeReadWrite;
    c.Open("Data Source=" + path);
    Recordset rs;
    std::string quoted = "`";
    for (char ch : def.Name) {
      if (ch == '`') quoted += '`';
      quoted += ch;
    }
    rs.Open("SELECT * FROM " + quoted + "`", c);
    out += def.Name + ":";
    for (int i = 0; i < rs.FieldCount(); ++i) {
      out += (i == 0 ? " " : ", ") + std::string(rs.Fields(i).Name);
    }
    out += "\n";
    for (; !rs.Eof(); rs.MoveNext()) {
      out += " ";
      for (int i = 0; i < rs.FieldCount(); ++i) {
        const auto v = rs.Fields(i).Value;
        out += (i == 0 ? " " : " | ") + (v ? std::string(*v) : std::string("NULL"));
      }
      out += "\n";
    }
  }
  db->Close();
  return out;
}

}  // namespace palomet::test
