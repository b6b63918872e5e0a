// Combining the tables of the same name from all files: one table per name, its first column
// naming each row's file, the columns of all files lined up, links counting the combined rows.

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "office/Error.h"
#include "office/db/DatabaseApplication.h"
#include "tests/db/DbTestSupport.h"
#include "tests/support/TempDir.h"

namespace palomet {
namespace {

using test::DumpTables;
using test::TempDir;

struct File {
  const char* name;
  std::string xml;
  bool fails = false;  // the file's own fault: it leaves nothing
};

// The tables the files give, combined, in a fresh database; file names are replaced by their
// last part in the dump.
std::string Combined(const std::vector<File>& files) {
  TempDir dir;
  const std::string db = dir.Write("temp.mdb", "").string();
  {
    DatabaseApplication app;
    app.CombineTables(true);
    app.OpenCurrentDatabase(db, true);
    for (const File& f : files) {
      const std::string path = dir.Write(f.name, f.xml).string();
      EXPECT_EQ(test::ImportFailureOf(app, path).empty(), !f.fails) << f.name;
    }
    app.Quit();
  }
  std::string dump = DumpTables(db);
  for (std::size_t at; (at = dump.find(dir.Str() + "/")) != std::string::npos;) {
    dump.erase(at, dir.Str().size() + 1);
  }
  return dump;
}

TEST(CombineTables, TablesOfOneNameFromAllFilesBecomeOne) {
  const struct {
    const char* what;
    std::vector<File> files;
    const char* tables;
  } cases[] = {
      {"columns in other orders and subsets, one met first in the third file, case apart",
       {{"1.xml", "<r><Customer><ID>1</ID><Name>Ann</Name></Customer></r>"},
        {"2.xml", "<r><CUSTOMER><Name>Bo</Name><ID>2</ID></CUSTOMER><Other><v>o</v></Other></r>"},
        {"3.xml", "<r><customer><ID>3</ID><EMAIL>c@x</EMAIL><name>Cy</name></customer></r>"}},
       "Customer: File, ID, Name, EMAIL\n"
       "  1.xml | 1 | Ann | NULL\n"
       "  2.xml | 2 | Bo | NULL\n"
       "  3.xml | 3 | Cy | c@x\n"
       "Other: File, v\n"
       "  2.xml | o\n"},
      {"links renumbered over three files, a link column first met later",
       {{"1.xml",
         "<r><order id=\"1\"><line><q>1</q></line><line><q>2</q></line></order>"
         "<order id=\"2\"><line><q>3</q></line></order></r>"},
        {"2.xml", "<r><order id=\"3\"><line><q>4</q></line></order></r>"},
        {"3.xml",
         "<r><invoice no=\"9\"><line><q>5</q></line></invoice>"
         "<order id=\"4\"><line><q>6</q></line></order></r>"}},
       "order: File, id\n"
       "  1.xml | 1\n"
       "  1.xml | 2\n"
       "  2.xml | 3\n"
       "  3.xml | 4\n"
       "line: File, order_Row, invoice_Row, q\n"
       "  1.xml | 1 | NULL | 1\n"
       "  1.xml | 1 | NULL | 2\n"
       "  1.xml | 2 | NULL | 3\n"
       "  2.xml | 3 | NULL | 4\n"
       "  3.xml | NULL | 1 | 5\n"
       "  3.xml | 4 | NULL | 6\n"
       "invoice: File, no\n"
       "  3.xml | 9\n"},
      {"a data column named File, in the first file and in a later one",
       {{"1.xml", "<r><T><file>a</file></T><U><v>1</v></U></r>"},
        {"2.xml", "<r><U><FILE>b</FILE><v>2</v></U><T><file>c</file></T></r>"}},
       "T: File_2, file\n"
       "  1.xml | a\n"
       "  2.xml | c\n"
       "U: File_2, v, FILE\n"
       "  1.xml | 1 | NULL\n"
       "  2.xml | 2 | b\n"},
      {"an empty file and failed files leave nothing",
       {{"1.xml", "<r><T><v>1</v></T></r>"},
        {"2.xml", "<r/>"},
        {"3.xml", "<r><T><v>bad</v><w>x</w></T><T>", true},
        {"4.xml", "<r><T><v>2</v></T></r>"},
        {"5.xml",
         "<r><T><v>3</v><extra>e</extra></T><wide " +
             [] {
               std::string a;
               for (int i = 0; i < 2100; ++i) a += " a" + std::to_string(i) + "=\"1\"";
               return a;
             }() +
             "/></r>",
         true}},
       "T: File, v\n"
       "  1.xml | 1\n"
       "  4.xml | 2\n"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Combined(c.files), c.tables) << c.what;
  }
}

TEST(CombineTables, ATableThatWouldPassTheColumnLimitFailsTheFileThatAddsTheColumn) {
  const auto columns = [](int from, int to) {
    std::string xml = "<r><T";
    for (int i = from; i < to; ++i) xml += " c" + std::to_string(i) + "=\"1\"";
    return xml + "/></r>";
  };
  // 1,500 columns and the file column, then 600 more from a second file: too many; a third
  // file of the first's columns still goes in.
  const std::string tables = Combined({{"1.xml", columns(0, 1500)},
                                       {"2.xml", columns(1400, 2000), true},
                                       {"3.xml", columns(0, 1500)}});
  EXPECT_EQ(tables.find("c1500"), std::string::npos);
  EXPECT_EQ(std::count(tables.begin(), tables.end(), '\n'), 3);  // the header and two rows
}

}  // namespace
}  // namespace palomet
