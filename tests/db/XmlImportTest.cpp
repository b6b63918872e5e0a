#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <optional>
#include <random>
#include <string>

#include "office/Error.h"
#include "office/db/DatabaseApplication.h"
#include "office/db/XmlImportTuning.h"
#include "tests/db/DbTestSupport.h"
#include "tests/support/TempDir.h"

namespace palomet {
namespace {

using test::DumpTables;
using test::TempDir;

constexpr const char* kXsi = R"( xmlns:xsi="http://www.w3.org/2001/XMLSchema-instance")";

class XmlImportTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dbPath_ = dir_.Write("temp.mdb", "").string();
    app_.OpenCurrentDatabase(dbPath_);
  }
  std::string PathOf(const std::string& name) { return (dir_.Path() / name).string(); }
  void Import(const std::string& xml, const std::string& name = "in.xml") {
    app_.ImportXml(dir_.Write(name, xml).string());
  }
  std::string Tables() { return DumpTables(dbPath_); }

  TempDir dir_;
  std::string dbPath_;
  DatabaseApplication app_;
};

struct Case {
  const char* what;
  std::string xml;
  const char* tables;
};

// Sets the import's tuning for as long as it lives.
class TuningOverride {
 public:
  explicit TuningOverride(const xmlimport::Tuning& tuning) : saved_(xmlimport::ImportTuning()) {
    xmlimport::ImportTuning() = tuning;
  }
  ~TuningOverride() { xmlimport::ImportTuning() = saved_; }

 private:
  xmlimport::Tuning saved_;
};

// The tables `xml` gives when imported into a fresh database.
std::string TablesOfFreshImport(const std::string& xml) {
  TempDir dir;
  const std::string db = dir.Write("temp.mdb", "").string();
  DatabaseApplication app;
  app.OpenCurrentDatabase(db);
  app.ImportXml(dir.Write("in.xml", xml).string());
  return DumpTables(db);
}

// Imports each case into a fresh database and compares the tables, once for every way the
// import can lay tables out: from the parse's summary of paths, by walking all events, and
// with a summary that has to be given up part way; and once with the event stream in a
// temporary file and the rows inserted by a second thread, as for a big file.
void ExpectCases(const std::vector<Case>& cases) {
  const struct {
    const char* name;
    xmlimport::Tuning tuning;
  } modes[] = {
      {"summary", {}},
      {"walk", {true, 50000}},
      {"summary given up", {false, 2}},
      {"file stream, second thread", {false, 50000, 0, 0}},
  };
  for (const auto& mode : modes) {
    TuningOverride tuning(mode.tuning);
    for (const Case& c : cases) {
      SCOPED_TRACE(std::string(c.what) + " (" + mode.name + ")");
      TempDir dir;
      const std::string db = dir.Write("temp.mdb", "").string();
      DatabaseApplication app;
      app.OpenCurrentDatabase(db);
      try {
        app.ImportXml(dir.Write("in.xml", c.xml).string());
      } catch (const Error& e) {
        ADD_FAILURE() << e.what();
        continue;
      }
      EXPECT_EQ(DumpTables(db), c.tables);
    }
  }
}

// Random documents over a few names, so that every kind, link, collision and nesting turns
// up; a document of no value gives no table, which compares equal too.
std::string RandomElement(std::mt19937& rng, int depth) {
  static const char* const kNames[] = {"a", "b", "c", "A", "d_x0020_e", "p:c"};
  static const char* const kAttrs[] = {"x", "y", "X", "q:x", "c"};
  static const char* const kTexts[] = {"", " ", "t", " u ", "v&amp;w", "\n"};
  const auto pick = [&](int n) { return static_cast<int>(rng() % static_cast<unsigned>(n)); };
  const std::string name = kNames[pick(6)];
  std::string xml = "<" + name;
  std::vector<std::string> used;  // an attribute name twice on one element is not well-formed
  for (int i = pick(3); i > 0; --i) {
    const std::string attr = kAttrs[pick(5)];
    if (std::find(used.begin(), used.end(), attr) != used.end()) continue;
    used.push_back(attr);
    xml += " " + attr + "=\"" + std::to_string(pick(100)) + "\"";
  }
  if (pick(10) == 0) xml += " xsi:nil=\"true\"";
  xml += ">";
  const int children = depth >= 5 ? 0 : pick(4);
  xml += kTexts[pick(6)];
  for (int i = 0; i < children; ++i) {
    xml += RandomElement(rng, depth + 1);
    xml += kTexts[pick(6)];
  }
  return xml + "</" + name + ">";
}

TEST(XmlImportLayout, EveryWayOfLayingOutGivesTheSameTables) {
  std::mt19937 rng(20260105);
  for (int n = 0; n < 150; ++n) {
    const std::string body = RandomElement(rng, 0);
    const std::string xml = "<root xmlns:p=\"urn:p\" xmlns:q=\"urn:q\"" + std::string(kXsi) + ">" +
                            body + body + "</root>";
    SCOPED_TRACE(xml);
    std::optional<std::string> reference;  // from the default tuning, which comes first
    for (const xmlimport::Tuning& tuning :
         {xmlimport::Tuning{}, xmlimport::Tuning{true, 50000}, xmlimport::Tuning{false, 3},
          xmlimport::Tuning{false, 50000, 97, 0}}) {
      TuningOverride override(tuning);
      TempDir dir;
      const std::string db = dir.Write("temp.mdb", "").string();
      DatabaseApplication app;
      app.OpenCurrentDatabase(db);
      app.ImportXml(dir.Write("in.xml", xml).string());
      const std::string tables = DumpTables(db);
      if (!reference) {
        reference = tables;
      } else {
        ASSERT_EQ(tables, *reference);
      }
    }
  }
}

TEST_F(XmlImportTest, TheDocumentedExampleGivesOrderAndLineTables) {
  Import(R"(<orders>
  <order id="7" date="2026-01-05">
    <customer>Ann &amp; Co</customer>
    <line sku="A1"><qty>2</qty><price currency="EUR">12.50</price></line>
    <line sku="B2"><qty>1</qty><price currency="EUR">3</price></line>
  </order>
</orders>)");
  EXPECT_EQ(Tables(),
            "order: id, date, customer\n"
            "  7 | 2026-01-05 | Ann & Co\n"
            "line: order_Row, sku, qty, price, price@currency\n"
            "  1 | A1 | 2 | 12.50 | EUR\n"
            "  1 | B2 | 1 | 3 | EUR\n");
}

TEST(XmlImportNames, LocalNamesEscapesCaseAndReservedPrefix) {
  ExpectCases({
      {"prefix dropped, escapes decoded in either hex case",
       R"(<r xmlns:p="urn:p"><p:Customer_x0020_Name p:id="1">Ann</p:Customer_x0020_Name>)"
       R"(<order_x0020_details>x</order_x0020_details><caf_x00e9_>y</caf_x00e9_>)"
       R"(<n_x00E9_>z</n_x00E9_><s_x0001F600_>w</s_x0001F600_></r>)",
       "r: Customer Name, Customer Name@id, order details, café, né, s😀\n"
       "  Ann | 1 | x | y | z | w\n"},
      {"escapes of codes XML does not allow stay as written",
       "<r><a_x0000_b>1</a_x0000_b><c_xD800_>2</c_xD800_><e_x00110000_>3</e_x00110000_>"
       "<f_x0020>4</f_x0020><g_x002_>5</g_x002_></r>",
       "r: a_x0000_b, c_xD800_, e_x00110000_, f_x0020, g_x002_\n"
       "  1 | 2 | 3 | 4 | 5\n"},
      {"names differing in letter case are one name; the first spelling is kept",
       "<Root><Item>1</Item><ITEM>2</ITEM><item>3</item></Root>", "Item: Item\n  1\n  2\n  3\n"},
      {"attribute columns keep the first spelling met in their table",
       R"(<r><row Code="1"><v>a</v></row><row CODE="2"><v>b</v></row></r>)",
       "row: Code, v\n  1 | a\n  2 | b\n"},
      {"names SQLite reserves get a leading underscore",
       R"(<r><sqlite_x a="1"/><sqlite_x a="2"/></r>)", "_sqlite_x: sqlite_x, a\n   | 1\n   | 2\n"},
  });
}

TEST(XmlImportKinds, FieldsListsRecordsAndContainers) {
  ExpectCases({
      {"fields of the document element and a list beside them", "<r><a>1</a><b>x</b><b>y</b></r>",
       "r: a\n  1\nb: b\n  x\n  y\n"},
      {"wrappers without values vanish; their children count as the parent's",
       R"(<r><wrap><item id="1"><v>a</v></item></wrap><wrap><item id="2"><v>b</v></item></wrap></r>)",
       "item: id, v\n  1 | a\n  2 | b\n"},
      {"a name twice in one parent is a list in every parent",
       R"(<r><p n="a"><q>1</q></p><p n="b"><q>2</q><q>3</q></p></r>)",
       "p: n\n  a\n  b\nq: p_Row, q\n  1 | 1\n  2 | 2\n  2 | 3\n"},
      {"a leaf is a record when other instances of its name have children",
       R"(<r><line sku="A"><qty>1</qty></line><line sku="B"/></r>)",
       "line: sku, qty\n  A | 1\n  B | NULL\n"},
      {"a document element with attributes only is one row", R"(<r a="1" b="2"/>)",
       "r: a, b\n  1 | 2\n"},
      {"a document element with text only is one row", "<r> text </r>", "r: r\n  text\n"},
      {"a document element with child values is a record too",
       R"(<r gen="g"><x>1</x><row><a>1</a></row><row><a>2</a></row></r>)",
       "r: gen, x\n  g | 1\nrow: a\n  1\n  2\n"},
      {"only the document element's own instance follows its rule",
       R"(<item a="1"><item><v>1</v></item><item><v>2</v></item></item>)",
       "item: a, v\n  1 | NULL\n  NULL | 1\n  NULL | 2\n"},
      {"empty list items are values", "<r><x/><x/></r>", "x: x\n  \n  \n"},
      {"twice in one parent counts even with the name nested in between",
       R"(<r><p n="1"><c>1</c><x><c>2</c></x><c>3</c></p></r>)",
       "p: n\n  1\nc: p_Row, c\n  1 | 1\n  1 | 2\n  1 | 3\n"},
      {"once in each of two nested parents is a field of both",
       R"(<r><p n="1"><c>1</c><q><c>2</c></q></p><p n="2"><q><c>4</c></q><c>3</c></p></r>)",
       "p: n, c\n  1 | 1\n  2 | 3\nq: p_Row, c\n  1 | 2\n  2 | 4\n"},
  });
}

TEST(XmlImportKinds, DocumentsWithoutValuesCreateNoTable) {
  ExpectCases({
      {"empty document element", "<root/>", ""},
      {"blank document element", "<root> \n\t </root>", ""},
      {"only an embedded schema",
       R"(<xs:schema xmlns:xs="http://www.w3.org/2001/XMLSchema"><xs:element name="a"/></xs:schema>)",
       ""},
  });
}

TEST(XmlImportColumns, LinkColumnsOrderAndCollisions) {
  ExpectCases({
      {"link columns come first, one per enclosing record, Null where another encloses",
       R"(<r><c v="0"><d>0</d></c><a id="1"><c v="1"><d>1</d></c></a>)"
       R"(<b id="2"><c v="2"><d>2</d></c></b></r>)",
       "c: a_Row, b_Row, v, d\n  NULL | NULL | 0 | 0\n  1 | NULL | 1 | 1\n  NULL | 1 | 2 | 2\n"
       "a: id\n  1\nb: id\n  2\n"},
      {"a self-nested record links to itself; rows are numbered by start tag",
       R"(<r><category name="A"><category name="B"><category name="C"/></category></category>)"
       R"(<category name="D"/></r>)",
       "category: category_Row, name\n  NULL | A\n  1 | B\n  2 | C\n  NULL | D\n"},
      {"rows finishing out of order keep their start-tag numbers",
       R"(<r><c n="1"><c n="2"/><c n="3"><c n="4"/></c></c><c n="5"/><c n="6"/></r>)",
       "c: c_Row, n\n  NULL | 1\n  1 | 2\n  1 | 3\n  3 | 4\n  NULL | 5\n  NULL | 6\n"},
      {"containers between records are skipped for links",
       R"(<r><order id="1"><lines><line n="a"><q>1</q></line><line n="b"><q>2</q></line>)"
       R"(</lines></order></r>)",
       "order: id\n  1\nline: order_Row, n, q\n  1 | a | 1\n  1 | b | 2\n"},
      {"two attributes with one local name are two columns",
       R"(<r xmlns:p="urn:p" xmlns:q="urn:q"><e p:a="1" q:a="2"><f>x</f></e></r>)",
       "e: a, a_2, f\n  1 | 2 | x\n"},
      {"a field named like an attribute takes the next free name",
       R"(<r><item a="1"><a>2</a></item><item a="3"><a>4</a></item></r>)",
       "item: a, a_2\n  1 | 2\n  3 | 4\n"},
      {"an attribute named like a link column gives way to it",
       R"(<r><order id="1"><line order_Row="x"><q>1</q></line><line order_Row="y"/></order></r>)",
       "order: id\n  1\nline: order_Row, order_Row_2, q\n  1 | x | 1\n  1 | y | NULL\n"},
      {"columns may bear the names SQLite gives the row number",
       R"(<r><e rowid="b" OID="c"><f>1</f></e><e rowid="a"><f>2</f></e></r>)",
       "e: rowid, OID, f\n  b | c | 1\n  a | NULL | 2\n"},
      {"own text sits where its first piece appears",
       R"(<r><note id="1">  Hello <b>x</b>  world  </note><note id="2"><b>y</b></note></r>)",
       "note: id, note, b\n  1 | Hello world | x\n  2 | NULL | y\n"},
  });
}

TEST(XmlImportValues, TextIsKeptExactlyAndMissingMeansNull) {
  ExpectCases({
      {"fields keep blanks; empty elements are empty texts; CDATA, entities, comments and "
       "processing instructions do not split text",
       "<r><a>  </a><b></b><c/><d>x &amp; <![CDATA[<y>]]> z</d><e>a<!--c-->b<?pi x?>c</e>"
       "<f>&#x20AC;&lt;</f></r>",
       "r: a, b, c, d, e, f\n     |  |  | x & <y> z | abc | €<\n"},
      {"xsi:nil with true or 1 makes the value Null; attributes still come",
       std::string("<r") + kXsi +
           R"(><row><a>1</a><b>2</b></row><row><a xsi:nil="true" u="k"/></row>)"
           R"(<row><a xsi:nil=" 1 ">3</a><b xsi:nil="false">4</b></row></r>)",
       "row: a, b, a@u\n  1 | 2 | NULL\n  NULL | NULL | k\n  NULL | 4 | NULL\n"},
      {"schema elements, namespace declarations and schema-instance attributes are no data",
       std::string(R"(<root xmlns:xsd="http://www.w3.org/2001/XMLSchema" xmlns:od="urn:x")") +
           kXsi +
           R"(><xsd:schema><xsd:element name="row"><xsd:complexType/></xsd:element></xsd:schema>)"
           R"(<row xsi:type="t" xsi:schemaLocation="u"><a>1</a></row><row><a>2</a></row></root>)",
       "row: a\n  1\n  2\n"},
      {"internal entities expand, markup included",
       R"(<!DOCTYPE r [<!ENTITY co "Ann &#38;amp; Co"><!ENTITY two "<v>2</v>">]>)"
       "<r><c>&co;</c><row><v>1</v></row><row>&two;</row></r>",
       "r: c\n  Ann & Co\nrow: v\n  1\n  2\n"},
      {"a DOCTYPE naming an external subset imports as if it were empty",
       R"(<!DOCTYPE r SYSTEM "nowhere.dtd"><r><c>1</c></r>)", "r: c\n  1\n"},
      {"other encodings are read",
       std::string("<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>") + "<r><c>caf\xe9</c></r>",
       "r: c\n  café\n"},
  });
}

TEST_F(XmlImportTest, ManyRowsKeepTheirNumbersValuesAndNulls) {
  // Enough rows that they go to the database in several batches and a remainder.
  std::string xml = "<r>";
  std::string orders = "order: id, c\n";
  std::string lines = "line: order_Row, q, v\n";
  for (int i = 1; i <= 150; ++i) {
    const std::string n = std::to_string(i);
    xml += "<order id=\"" + n + "\">" + (i % 2 == 0 ? "<c>" + n + "</c>" : "");
    orders += "  " + n + " | " + (i % 2 == 0 ? n : "NULL") + "\n";
    for (int j = 1; j <= i % 3 + 1; ++j) {
      const std::string q = n + "." + std::to_string(j);
      xml += "<line q=\"" + q + "\"><v>" + std::to_string(j) + "</v></line>";
      lines += "  " + n + " | " + q + " | " + std::to_string(j) + "\n";
    }
    xml += "</order>";
  }
  xml += "</r>";
  // Inserted on this thread, and on a second one as for a big file.
  for (const std::size_t threadFrom : {std::size_t{1} << 30, std::size_t{0}}) {
    xmlimport::Tuning tuning;
    tuning.threadStreamBytes = threadFrom;
    TuningOverride override(tuning);
    EXPECT_EQ(TablesOfFreshImport(xml), orders + lines);
  }
}

// Rows of long values go to the database in batches cut by their bytes, at any row count;
// short rows between them still go many to a statement. Every value arrives whole, in its row.
TEST_F(XmlImportTest, RowsOfLongValuesArriveWholeInTheirOrder) {
  std::string xml = "<r>";
  std::string orders = "order: id, c\n";
  std::string lines = "line: order_Row, q, v\n";
  for (int i = 1; i <= 400; ++i) {
    const std::string n = std::to_string(i);
    // Every 9th row a value of a third of a megabyte, each a little different.
    const std::string c =
        i % 9 == 0 ? std::string(333'333 + i, static_cast<char>('a' + i % 26)) : n;
    xml += "<order id=\"" + n + "\"><c>" + c + "</c><line q=\"" + n + "\"><v>" + n +
           "</v></line></order>";
    orders += "  " + n + " | " + c + "\n";
    lines += "  " + n + " | " + n + " | " + n + "\n";
  }
  xml += "</r>";
  for (const std::size_t threadFrom : {std::size_t{1} << 30, std::size_t{0}}) {
    xmlimport::Tuning tuning;
    tuning.threadStreamBytes = threadFrom;
    TuningOverride override(tuning);
    const std::string tables = TablesOfFreshImport(xml);
    EXPECT_TRUE(tables == orders + lines) << "inserted on a second thread: " << (threadFrom == 0);
  }
}

// Points TMPDIR elsewhere for as long as it lives.
class TmpDirOverride {
 public:
  explicit TmpDirOverride(const std::string& dir) {
    if (const char* old = std::getenv("TMPDIR")) saved_ = old;
    setenv("TMPDIR", dir.c_str(), 1);
  }
  ~TmpDirOverride() {
    if (saved_) {
      setenv("TMPDIR", saved_->c_str(), 1);
    } else {
      unsetenv("TMPDIR");
    }
  }

 private:
  std::optional<std::string> saved_;
};

// The names of the catalogue are remembered between imports over one connection; a change
// made by anyone else, or an import rolled back, must not leave them stale.
TEST_F(XmlImportTest, NewTableNamesFollowTheCatalogueAsItIsNow) {
  const std::string first = R"(<r><order id="1"><c>x</c></order></r>)";
  Import(first, "a.xml");
  Import(first, "a.xml");
  {
    Connection other;
    other.Mode = kAdModeReadWrite;
    other.Open("Data Source=" + dbPath_);
    other.Execute("CREATE TABLE item (x); DROP TABLE order1;");
    other.Close();
  }
  Import(R"(<r><order id="2"><c>y</c></order><item n="1"><v>a</v></item></r>)", "b.xml");
  const std::string before =
      "order: id, c\n  1 | x\nitem: x\norder1: id, c\n  2 | y\n"
      "item1: n, v\n  1 | a\n";
  EXPECT_EQ(Tables(), before);

  // The second table is too wide: the file fails after its first table was made and named.
  std::string wide = "<r><new k=\"1\"><v>1</v></new><wide";
  for (int i = 0; i < 2100; ++i) wide += " a" + std::to_string(i) + "=\"1\"";
  wide += "><v>1</v></wide></r>";
  EXPECT_THROW(Import(wide, "c.xml"), Error);
  Import(R"(<r><new k="2"><v>2</v></new><order id="3"><c>z</c></order></r>)", "d.xml");
  EXPECT_EQ(Tables(), before + "new: k, v\n  2 | 2\norder2: id, c\n  3 | z\n");
}

TEST_F(XmlImportTest, WithoutATemporaryFileTheFileIsReadAgainWithTheSameResult) {
  const std::string xml =
      R"(<r><order id="1"><c>x</c><line n="a"><q>1</q></line><line n="b"/></order>)"
      R"(<order id="2"><line n="c"><q>3</q></line></order><tag>t1</tag><tag>t2</tag></r>)";
  Import(xml, "a.xml");
  const std::string expected = Tables();
  EXPECT_EQ(expected,
            "order: id, c\n  1 | x\n  2 | NULL\nline: order_Row, n, q\n  1 | a | 1\n"
            "  1 | b | NULL\n  2 | c | 3\ntag: tag\n  t1\n  t2\n");
  TempDir other;
  const std::string db = other.Write("temp.mdb", "").string();
  const std::string file = other.Write("a.xml", xml).string();
  DatabaseApplication app;
  app.OpenCurrentDatabase(db);
  {
    xmlimport::Tuning spill;
    spill.memoryStreamBytes = 0;  // the stream needs a file at once
    TuningOverride tuning(spill);
    TmpDirOverride nowhere((dir_.Path() / "no such folder").string());
    app.ImportXml(file);
  }
  EXPECT_EQ(DumpTables(db), expected);
}

TEST_F(XmlImportTest, LongValuesArriveWhole) {
  std::string text;
  for (int i = 0; text.size() < 1500000; ++i) text += "line " + std::to_string(i) + " & more\n";
  std::string escaped;
  for (char c : text) escaped += c == '&' ? std::string("&amp;") : std::string(1, c);
  const std::string attr(600000, 'a');
  const std::string xml =
      "<r><row n=\"" + attr + "\"><v>" + escaped + "</v><w>x</w></row><row><v>y</v></row></r>";
  // The event stream in memory, moving to a file between the two long values, in a file.
  for (const std::size_t memory : {std::size_t{4} << 20, std::size_t{1000000}, std::size_t{0}}) {
    SCOPED_TRACE(memory);
    xmlimport::Tuning tuning;
    tuning.memoryStreamBytes = memory;
    TuningOverride override(tuning);
    EXPECT_EQ(TablesOfFreshImport(xml),
              "row: n, v, w\n  " + attr + " | " + text + " | x\n  NULL | y | NULL\n");
  }
}

TEST_F(XmlImportTest, EachFileMakesNewTablesWithTheSmallestFreeNumber) {
  const std::string customers = R"(<dataroot><Customer><ID>1</ID></Customer></dataroot>)";
  Import(R"(<Customer1 a="x"/>)", "one.xml");
  Import(customers, "two.xml");
  Import(customers, "three.xml");
  Import(R"(<r><customer><ID>9</ID></customer><customer><ID>8</ID></customer></r>)", "four.xml");
  EXPECT_EQ(Tables(),
            "Customer1: a\n  x\n"
            "Customer: ID\n  1\n"
            "Customer2: ID\n  1\n"
            "customer3: ID\n  9\n  8\n");
}

TEST_F(XmlImportTest, LinkColumnsOfALaterFileNameTheNumberedTable) {
  const std::string xml = R"(<r><order id="1"><line n="a"><q>1</q></line></order></r>)";
  Import(xml, "a.xml");
  Import(xml, "b.xml");
  EXPECT_NE(Tables().find("line1: order1_Row, n, q\n  1 | a | 1\n"), std::string::npos) << Tables();
}

TEST_F(XmlImportTest, ReservedNamesAreNumberedAfterTheirUnderscore) {
  const std::string xml = R"(<r><sqlite_x a="1"/><sqlite_x a="2"/></r>)";
  Import(xml, "a.xml");
  Import(xml, "b.xml");
  EXPECT_NE(Tables().find("_sqlite_x1: sqlite_x, a\n"), std::string::npos) << Tables();
}

TEST_F(XmlImportTest, NestingOf256LevelsImportsAndDeeperFails) {
  std::string ok;
  for (int i = 0; i < 255; ++i) ok += "<d>";
  ok += "<v>x</v>";
  for (int i = 0; i < 255; ++i) ok += "</d>";
  EXPECT_NO_THROW(Import(ok, "ok.xml"));
  EXPECT_EQ(Tables().rfind("d: d_Row, v\n", 0), 0u);
  std::string deep;
  for (int i = 0; i < 256; ++i) deep += "<d>";
  deep += "<v>x</v>";
  for (int i = 0; i < 256; ++i) deep += "</d>";
  try {
    Import(deep, "deep.xml");
    ADD_FAILURE() << "257 levels imported";
  } catch (const Error& e) {
    EXPECT_NE(std::string(e.what()).find("deeper than 256 levels"), std::string::npos) << e.what();
  }
}

std::string Attributes(int count) {
  std::string s;
  for (int i = 0; i < count; ++i) s += " a" + std::to_string(i) + "=\"" + std::to_string(i) + "\"";
  return s;
}

TEST_F(XmlImportTest, TheDatabaseColumnLimitIsReachableButNotExceeded) {
  EXPECT_NO_THROW(Import("<r" + Attributes(2000) + "/>", "wide.xml"));
  // The second table is too wide: the file's first table must not stay behind either.
  try {
    Import("<r><first><v>1</v></first><second" + Attributes(2001) + "><v>1</v></second></r>",
           "wider.xml");
    ADD_FAILURE() << "a table of 2001 columns imported";
  } catch (const Error& e) {
    EXPECT_EQ(e.Number(), errnum::kXmlImport);
    const std::string text = e.what();
    EXPECT_NE(text.find("wider.xml"), std::string::npos) << text;
    EXPECT_NE(text.find("'second' would need 2002 columns"), std::string::npos) << text;
  }
  const std::string tables = Tables();
  EXPECT_EQ(tables.find("first"), std::string::npos);
  EXPECT_EQ(tables.rfind("r: a0, a1,", 0), 0u);
}

struct BadCase {
  const char* what;
  std::string xml;    // written to bad.xml unless `path` is set
  std::string says;   // part of the description
  std::string where;  // "line N" when the parser knows it, else ""
};

TEST_F(XmlImportTest, BadFilesFailWithTheFileAndWhatIsWrongAndLeaveNothing) {
  Import("<r><kept><v>1</v></kept></r>", "good.xml");
  const std::string before = Tables();
  // Files the documents point at: their contents must never be read.
  const std::string secret = dir_.Write("secret.txt", "TOPSECRET-CONTENTS").string();
  const std::string dtd =
      dir_.Write("x.dtd", "<!ENTITY ext \"TOPSECRET-ENTITY\"><!ATTLIST r d CDATA \"TOPSECRET\">")
          .string();
  std::string bomb = "<?xml version=\"1.0\"?>\n<!DOCTYPE lolz [\n<!ENTITY l0 \"lol\">\n";
  for (int i = 1; i < 10; ++i) {
    bomb += "<!ENTITY l" + std::to_string(i) + " \"";
    for (int j = 0; j < 10; ++j) bomb += "&l" + std::to_string(i - 1) + ";";
    bomb += "\">\n";
  }
  bomb += "]>\n<lolz><v>&l9;</v></lolz>\n";
  std::string quadratic;
  for (int i = 0; i < 20000; ++i) quadratic += "&a;";
  std::string manyElements;
  for (int i = 0; i < 2000; ++i) manyElements += "<a/>";
  std::string elementBomb;
  for (int i = 0; i < 20000; ++i) elementBomb += "&e;";
  const std::vector<BadCase> cases = {
      {"not well-formed", "<r>\n<a></r>", "not well-formed", "line 2"},
      {"bytes that do not match the declared encoding",
       "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<r><c>caf\xe9</c></r>", "encoding", "line 2"},
      {"an unknown encoding", "<?xml version=\"1.0\" encoding=\"x-bogus\"?><r/>", "encoding",
       "line 1"},
      {"an empty file", "", "empty", ""},
      {"only a declaration", "<?xml version=\"1.0\"?>\n", "no XML document", ""},
      {"an undeclared entity", "<r>\n<c>a&nope;b</c></r>", "'&nope;' is not declared", "line 2"},
      {"an entity only an unread external subset could declare",
       "<!DOCTYPE r SYSTEM \"" + dtd + "\">\n<r><c>a&ext;b</c></r>", "'&ext;' is not declared",
       "line 2"},
      {"an external entity pointing at a local file",
       "<!DOCTYPE r [<!ENTITY x SYSTEM \"" + secret + "\">]>\n<r><c>&x;</c></r>",
       "external entity '&x;'", "line 2"},
      {"an external entity in an attribute",
       "<!DOCTYPE r [<!ENTITY x SYSTEM \"" + secret + "\">]>\n<r c=\"&x;\"/>", "'&x;'", "line 2"},
      {"an external parameter entity",
       "<!DOCTYPE r [<!ENTITY % p SYSTEM \"" + secret + "\"> %p;]><r/>",
       "external parameter entity '%p;'", "line 1"},
      {"an entity expansion bomb", bomb, "entity expansion", "line"},
      {"one large entity referenced many times",
       "<!DOCTYPE r [<!ENTITY a \"" + std::string(20000, 'x') + "\">]>\n<r><v>" + quadratic +
           "</v></r>",
       "entity expansion", "line 2"},
      {"an entity that expands to ever more elements",
       "<!DOCTYPE r [<!ENTITY e \"" + manyElements + "\">]>\n<r>" + elementBomb + "</r>",
       "entity expansion", "line 2"},
  };
  for (const BadCase& c : cases) {
    SCOPED_TRACE(c.what);
    const auto start = std::chrono::steady_clock::now();
    try {
      Import(c.xml, "bad.xml");
      ADD_FAILURE() << "imported";
    } catch (const Error& e) {
      const std::string text = e.what();
      EXPECT_EQ(e.Number(), errnum::kXmlImport);
      EXPECT_NE(text.find(PathOf("bad.xml")), std::string::npos) << text;
      EXPECT_NE(text.find(c.says), std::string::npos) << text;
      EXPECT_NE(text.find(c.where), std::string::npos) << text;
      EXPECT_EQ(text.find("TOPSECRET"), std::string::npos) << text;
    }
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    EXPECT_EQ(Tables(), before);
  }
}

TEST_F(XmlImportTest, AnExternalSubsetIsNeverRead) {
  // Were the subset read, its attribute default would add a column d.
  const std::string dtd = dir_.Write("sub.dtd", "<!ATTLIST r d CDATA \"from-the-dtd\">").string();
  Import("<!DOCTYPE r SYSTEM \"" + dtd + "\">\n<r><c>1</c></r>");
  EXPECT_EQ(Tables(), "r: c\n  1\n");
}

TEST_F(XmlImportTest, FilesThatCannotBeReadAreNamed) {
  const std::string folder = PathOf("folder.xml");
  std::filesystem::create_directory(folder);
  const struct {
    std::string path;
    std::string says;
  } cases[] = {
      {PathOf("missing.xml"), "cannot be read"},
      {folder, "folder"},
  };
  for (const auto& c : cases) {
    try {
      app_.ImportXml(c.path);
      ADD_FAILURE() << c.path << " imported";
    } catch (const Error& e) {
      EXPECT_NE(std::string(e.what()).find(c.path), std::string::npos) << e.what();
      EXPECT_NE(std::string(e.what()).find(c.says), std::string::npos) << e.what();
    }
  }
  if (geteuid() != 0) {  // root reads every file whatever its permissions
    const auto locked = dir_.Write("locked.xml", "<r><c>1</c></r>");
    std::filesystem::permissions(locked, std::filesystem::perms::none);
    EXPECT_THROW(app_.ImportXml(locked.string()), Error);
  }
}

TEST(DatabaseApplication, OpensOnlyExistingDatabasesAndImportsOnlyWhenOpen) {
  TempDir dir;
  DatabaseApplication app;
  EXPECT_THROW(app.ImportXml(dir.Write("a.xml", "<r a='1'/>").string()), Error);
  try {
    app.OpenCurrentDatabase((dir.Path() / "missing.mdb").string());
    ADD_FAILURE();
  } catch (const Error& e) {
    EXPECT_EQ(e.Number(), errnum::kCannotOpen);
  }
  EXPECT_FALSE(std::filesystem::exists(dir.Path() / "missing.mdb"));
  try {
    app.OpenCurrentDatabase(dir.Write("text.mdb", "just some text, no database at all").string());
    ADD_FAILURE();
  } catch (const Error& e) {
    EXPECT_EQ(e.Number(), errnum::kNotADatabase);
  }
  const std::string db = dir.Write("temp.mdb", "").string();
  app.OpenCurrentDatabase(db);
  app.ImportXml(dir.Write("a.xml", "<r a='1'/>").string());
  app.Quit();
  EXPECT_EQ(DumpTables(db), "r: a\n  1\n");
  EXPECT_THROW(app.ImportXml(dir.Write("a.xml", "<r a='1'/>").string()), Error);
}

}  // namespace
}  // namespace palomet
