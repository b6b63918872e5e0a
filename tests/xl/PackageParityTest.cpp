// The package writer against libxlsxwriter: the same workbooks saved through both, every part
// compared as canonical XML. Each file must also pass `unzip -t` and read back, cell for cell,
// as the engine holds it.

#include <gtest/gtest.h>
#include <libxml/c14n.h>
#include <libxml/parser.h>
#include <unzip.h>

#include <algorithm>
#include <cstdlib>
#include <map>
#include <regex>

#include "LxwOracle.h"
#include "office/xl/Excel.h"
#include "tests/support/TempDir.h"
#include "tests/support/XlsxReadBack.h"

namespace palomet::xl {
namespace {

using test::TempDir;

struct Package {
  std::vector<std::string> order;
  std::map<std::string, std::string> parts;
};

Package ReadPackage(const std::filesystem::path& path) {
  Package p;
  unzFile z = unzOpen64(path.c_str());
  if (!z) {
    ADD_FAILURE() << "minizip cannot open " << path;
    return p;
  }
  for (int rc = unzGoToFirstFile(z); rc == UNZ_OK; rc = unzGoToNextFile(z)) {
    char name[512];
    unz_file_info64 info{};
    unzGetCurrentFileInfo64(z, &info, name, sizeof name, nullptr, 0, nullptr, 0);
    std::string data(info.uncompressed_size, '\0');
    EXPECT_EQ(unzOpenCurrentFile(z), UNZ_OK) << name;
    const int n = unzReadCurrentFile(z, data.data(), static_cast<unsigned>(data.size()));
    EXPECT_EQ(n, static_cast<int>(data.size())) << name;
    EXPECT_EQ(unzCloseCurrentFile(z), UNZ_OK) << name << ": CRC mismatch";
    p.order.push_back(name);
    p.parts[name] = std::move(data);
  }
  unzClose(z);
  return p;
}

// The part as canonical XML (attribute order, empty elements, quoting and character
// references made uniform); a part that is not well-formed fails the test.
std::string Canonical(const std::string& name, const std::string& xml) {
  xmlDocPtr doc = xmlReadMemory(xml.data(), static_cast<int>(xml.size()), name.c_str(), nullptr,
                                XML_PARSE_NONET);
  if (!doc) {
    ADD_FAILURE() << name << " is not well-formed XML";
    return {};
  }
  xmlChar* out = nullptr;
  const int n = xmlC14NDocDumpMemory(doc, nullptr, XML_C14N_1_0, nullptr, 0, &out);
  std::string text = n >= 0 ? std::string(reinterpret_cast<char*>(out), n) : std::string();
  xmlFree(out);
  xmlFreeDoc(doc);
  return text;
}

// The differences the two writers may have, each with its reason:
// - docProps/core.xml: the creation and modification times are the moment of each save.
// - the order of the parts in the archive: the fixed parts come first and styles.xml last,
//   because the number formats are known only once every cell is written (compared as sets).
// - the zip entries' own fields (compression flags, sizes) follow from the deflate used.
// - a link's optional display text: libxlsxwriter repeats the linked cell's text there (up to
//   32,767 characters a link); the cell shows its own text anyway, and leaving it out keeps a
//   sheet of many cut values from holding their texts while it is written.
std::string WithoutAllowedDifferences(const std::string& name, std::string canonical) {
  if (name.rfind("xl/worksheets/", 0) == 0) {
    static const std::regex display(R"((<hyperlink) display="[^"]*")");
    canonical = std::regex_replace(canonical, display, "$1");
  }
  if (name == "docProps/core.xml") {
    static const std::regex time(R"((<dcterms:(created|modified)[^>]*>)[^<]*<)");
    canonical = std::regex_replace(canonical, time, "$1(time)<");
  }
  return canonical;
}

// Removes `piece` from `text`, which must hold it exactly once.
void RemoveOnce(const std::string& part, std::string& text, const std::string& piece) {
  const std::size_t at = text.find(piece);
  ASSERT_NE(at, std::string::npos) << part << " lacks " << piece;
  text.erase(at, piece.size());
  EXPECT_EQ(text.find(piece), std::string::npos) << part << " holds twice " << piece;
}

// Where the engine's package differs from libxlsxwriter's on purpose, ours (canonical) made
// into what libxlsxwriter writes; each change is exact, so that nothing else hides behind it:
// - an empty xl/sharedStrings.xml, with its content type and relationship: libxlsxwriter
//   writes the part only when it has shared strings (here every text is inline), but
//   streaming readers that meet the worksheets before a shared-strings part drop sheets.
// - a carriage return in a cell's text: ours is the character reference &#13; (canonical
//   &#xD;), libxlsxwriter's _x000D_, which several readers show as those seven characters.
//   A text with one at either end keeps its white space in ours (xml:space="preserve"), as a
//   CR is white space once read, where libxlsxwriter looks at the _ of its escape.
std::string AsLibxlsxwriterWritesIt(const std::string& name, std::string canonical) {
  const std::string rels = "http://schemas.openxmlformats.org/officeDocument/2006/relationships";
  if (name == "[Content_Types].xml") {
    RemoveOnce(name, canonical,
               "<Override ContentType=\"application/vnd.openxmlformats-officedocument."
               "spreadsheetml.sharedStrings+xml\" PartName=\"/xl/sharedStrings.xml\">"
               "</Override>");
  } else if (name == "xl/_rels/workbook.xml.rels") {
    // The last relationship, after the worksheets', the theme's and the styles': its id is
    // their count + 1 (each relationship is two tags, as are the relationships around them).
    const std::size_t count =
        static_cast<std::size_t>(std::count(canonical.begin(), canonical.end(), '<')) / 2 - 1;
    RemoveOnce(name, canonical,
               "<Relationship Id=\"rId" + std::to_string(count) +
                   "\" Target=\"sharedStrings.xml\" Type=\"" + rels +
                   "/sharedStrings\"></Relationship></Relationships>");
    canonical += "</Relationships>";
  } else if (name.rfind("xl/worksheets/", 0) == 0) {
    const std::string preserve = "<t xml:space=\"preserve\">";
    for (std::size_t at = 0; (at = canonical.find(preserve, at)) != std::string::npos;) {
      const std::size_t from = at + preserve.size();
      const std::size_t to = canonical.find("</t>", from);
      const std::string text = canonical.substr(from, to - from);
      const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\n'; };
      const bool kept = !text.empty() && (blank(text.front()) || blank(text.back()));
      if (!kept) canonical.replace(at, preserve.size(), "<t>");
      at = from;
    }
    for (std::size_t at; (at = canonical.find("&#xD;")) != std::string::npos;) {
      canonical.replace(at, 5, "_x000D_");
    }
  }
  return canonical;
}

// Saves `book` through both writers and compares; then checks the engine's file from outside.
void ExpectSameAsOracle(Workbook& book, const TempDir& dir) {
  const auto ours = dir.Path() / "ours.xlsx";
  const auto oracle = dir.Path() / "oracle.xlsx";
  book.SaveCopyAs(ours);
  ASSERT_EQ(test::WriteWithLibxlsxwriter(oracle, book), "");

  const Package a = ReadPackage(ours), b = ReadPackage(oracle);
  std::vector<std::string> namesA, namesB;
  for (const auto& [name, _] : a.parts) namesA.push_back(name);
  for (const auto& [name, _] : b.parts) namesB.push_back(name);
  namesB.push_back("xl/sharedStrings.xml");
  std::sort(namesB.begin(), namesB.end());
  EXPECT_EQ(namesA, namesB);
  EXPECT_EQ(a.order.front(), "[Content_Types].xml");
  // The empty shared strings before the first worksheet.
  const auto strings = std::find(a.order.begin(), a.order.end(), "xl/sharedStrings.xml");
  EXPECT_LT(strings, std::find_if(a.order.begin(), a.order.end(), [](const std::string& n) {
              return n.rfind("xl/worksheets/", 0) == 0;
            }));
  if (a.parts.count("xl/sharedStrings.xml")) {
    EXPECT_EQ(Canonical("sst", a.parts.at("xl/sharedStrings.xml")),
              "<sst xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\" "
              "count=\"0\" uniqueCount=\"0\"></sst>");
  }
  for (const auto& [name, xml] : b.parts) {
    if (!a.parts.count(name)) continue;
    const std::string mine = WithoutAllowedDifferences(
        name, AsLibxlsxwriterWritesIt(name, Canonical(name, a.parts.at(name))));
    const std::string theirs = WithoutAllowedDifferences(name, Canonical(name, xml));
    if (mine != theirs) {
      std::size_t at = 0;
      while (at < mine.size() && at < theirs.size() && mine[at] == theirs[at]) ++at;
      const std::size_t from = at < 80 ? 0 : at - 80;
      ADD_FAILURE() << "part " << name << " differs at byte " << at << ":\n  ours:   "
                    << mine.substr(from, 200) << "\n  oracle: " << theirs.substr(from, 200);
    }
  }

  EXPECT_EQ(std::system(("unzip -tqq '" + ours.string() + "' >/dev/null").c_str()), 0);

  const auto read = test::ReadXlsx(ours.string());
  ASSERT_TRUE(read.ok) << read.dump;
  ASSERT_EQ(static_cast<long>(read.sheets.size()), book.SheetCount());
  EXPECT_EQ(read.active, book.ActiveSheet().Name());
  for (long i = 1; i <= book.SheetCount(); ++i) {
    const Worksheet& sheet = book.Sheet(i);
    const auto& got = read.sheets[static_cast<std::size_t>(i - 1)];
    EXPECT_EQ(got.name, sheet.Name());
    EXPECT_EQ(got.cells.size(), sheet.CellCount()) << sheet.Name();
    // The look as the reader sees it: widths (with the file's padding), pane and filter.
    std::map<int, double> widths;
    for (std::int64_t col = 1; col <= sheet.SizedColumns(); ++col) {
      const double w = sheet.ColumnWidth(col);
      if (w > 0) widths[static_cast<int>(col)] = static_cast<int>((static_cast<int>(w * 7 + 0.5) + 5) / 7.0 * 256) / 256.0;
    }
    EXPECT_EQ(got.widths, widths) << sheet.Name();
    EXPECT_EQ(got.freeze, sheet.FrozenRows() ? "A" + std::to_string(sheet.FrozenRows() + 1) : "")
        << sheet.Name();
    const Worksheet::Range* filter = sheet.AutoFilter();
    EXPECT_EQ(got.filter, !filter ? ""
                          : filter->firstRow == filter->lastRow && filter->firstCol == filter->lastCol
                              ? CellAddress(filter->firstRow, filter->firstCol)
                              : CellAddress(filter->firstRow, filter->firstCol) + ":" +
                                    CellAddress(filter->lastRow, filter->lastCol))
        << sheet.Name();
    for (const auto& [rc, c] : got.cells) {
      const CellValue v = sheet.Cell(c.row, c.col);
      const std::string at = sheet.Name() + " row " + std::to_string(c.row) + " column " +
                             std::to_string(c.col);
      EXPECT_EQ(c.bold, sheet.RowBold(c.row)) << at;
      switch (v.type) {
        case CellType::Text:
          EXPECT_EQ(c.kind, "s") << at;
          EXPECT_EQ(c.text, v.text) << at;
          break;
        case CellType::Number:
          EXPECT_EQ(c.kind, "n") << at;
          EXPECT_EQ(c.number, v.number) << at;
          EXPECT_EQ(c.format, v.NumberFormat()) << at;
          break;
        case CellType::Date:
        case CellType::DateTime: {
          EXPECT_EQ(c.kind, "d") << at;
          const std::string shown = v.DisplayText();
          EXPECT_EQ(c.text, shown.size() == 10 ? shown + "T00:00:00" : shown) << at;
          EXPECT_EQ(c.format, v.NumberFormat()) << at;
          break;
        }
        case CellType::Empty:
          ADD_FAILURE() << at << " holds a value the engine does not";
      }
    }
  }
}

TEST(PackageParity, EveryKindOfCell) {
  TempDir dir;
  auto app = Application::Create();
  Workbook& book = app->AddWorkbook();
  Worksheet& s = book.Sheet(1);
  s.SetName("Cells");
  // Every number format: whole numbers and each count of decimals the engine keeps.
  s.SetCell(1, 1, "0");
  s.SetCell(1, 2, "-3");
  s.SetCell(1, 3, "123456789012345");
  for (int d = 1; d <= 30; ++d) {
    s.SetCell(2, d, "0." + std::string(static_cast<std::size_t>(d - 1), '0') + "7");
    s.SetCell(3, d, "-12." + std::string(static_cast<std::size_t>(std::min(d, 13)), '5') +
                        std::string(static_cast<std::size_t>(d - std::min(d, 13)), '0'));
  }
  // Dates and date-times, the first and last the engine takes.
  const char* dates[] = {"1900-03-01", "2026-02-28", "2024-02-29", "9999-12-31",
                         "1900-03-01T00:00:00", "2026-01-05T18:30:15", "9999-12-31T23:59:59"};
  for (int i = 0; i < 7; ++i) s.SetCell(4, i + 1, dates[i]);
  // Texts that XML or the file format must spell out.
  const std::vector<std::string> texts = {
      "a & b < c > d \"e\" 'f'", "_x005F_", "_x0041_", "_x0041\r", "_x0041_\x01", "_xABCD_x",
      " lead", "trail ", "\tlead tab", "trail\n", "\rcr", "mid\r\nline", std::string("nul\0x", 5),
      "\xEF\xBF\xBE and \xEF\xBF\xBF", "del \x7F", "emoji 😀 Zoë 東京", "007", "TRUE", "1e5",
      "2026-02-30", " 12"};
  for (std::size_t i = 0; i < texts.size(); ++i) s.SetCell(5, static_cast<std::int64_t>(i + 1), texts[i]);
  for (int c = 1; c < 0x20; ++c) {
    s.SetCell(6, c, std::string("<") + static_cast<char>(c) + ">");
  }
  // Exactly at the cell limit, in ASCII and in characters of two UTF-16 units.
  s.SetCell(7, 1, std::string(32'767, 'z'));
  std::string pairs;
  for (int i = 0; i < 16'383; ++i) pairs += "😀";
  s.SetCell(7, 2, pairs + "a");
  // The last column; the last row (on a sheet of its own, so the used range stays small
  // for the reader).
  s.SetCell(8, 16'384, "last column");
  Worksheet& far = book.Sheet(2);
  far.SetCell(1'048'576, 1, "last row");
  far.SetCell(1'048'576, 2, "42");
  book.Sheet(3).SetCell(1'048'576, 16'384, "2026-12-07");
  ExpectSameAsOracle(book, dir);
}

TEST(PackageParity, SheetsNamesAndEmptySheets) {
  TempDir dir;
  auto app = Application::Create();
  {  // One sheet only, empty.
    Workbook& book = app->AddWorkbook();
    book.Sheets("Sheet2").Delete();
    book.Sheets("Sheet3").Delete();
    ExpectSameAsOracle(book, dir);
  }
  {  // Many sheets, some empty, names with apostrophes, markup and non-ASCII letters, the
     // active one in the middle.
    Workbook& book = app->AddWorkbook();
    const char* names[] = {"Zoë's 東京", "O'Brien", "A&B<C>\"D\"", "Ελληνικά", "Größe"};
    for (int i = 0; i < 40; ++i) {
      Worksheet& s = app->AddSheet();
      if (i < 5) s.SetName(names[i]);
      if (i % 3 != 0) {
        for (int r = 1; r <= 5; ++r) {
          s.SetCell(r, 1, std::to_string(i * 10 + r));
          s.SetCell(r, 2, "row " + std::to_string(r));
          s.SetCell(r + 1, 3 + i % 4, i % 2 ? "1.5" : "2026-01-01");
        }
      }
    }
    book.Activate(book.Sheet(7));
    ExpectSameAsOracle(book, dir);
  }
}

TEST(PackageParity, TextCellsThatLinkToPlacesInTheWorkbook) {
  TempDir dir;
  auto app = Application::Create();
  Workbook& book = app->AddWorkbook();
  book.Sheet(1).SetName("Shape");
  book.Sheet(2).SetName("Long texts");
  book.Sheet(3).SetName("It's");
  Worksheet& s = book.Sheet(1);
  s.SetCell(1, 1, "coordinates");
  s.SetCell(2, 1, "1,2 3,4");
  s.SetCell(2, 2, "12.5");
  s.SetCell(3, 2, "cut short");
  s.SetHyperlink(2, 1, "'Long texts'!A2");
  s.SetHyperlink(3, 2, "'It''s'!A3");
  book.Sheet(2).SetCell(2, 1, "Shape");
  ExpectSameAsOracle(book, dir);
}

// The look of a sheet of one table, `rows` by `cols`: bold field names, fitted columns, the
// header frozen and a filter over the table.
void LookOfOneTable(Worksheet& s, std::int64_t rows, std::int64_t cols) {
  s.SetRowBold(1);
  s.SetFitColumns(true);
  s.FreezeRows(1);
  s.SetAutoFilter({1, 1, rows, cols});
}

TEST(PackageParity, BoldRowsWidthsFrozenPanesAndFilters) {
  TempDir dir;
  auto app = Application::Create();
  Workbook& book = app->AddWorkbook();
  book.Sheet(1).SetName("Two tables");
  book.Sheet(2).SetName("Zoë's data");
  book.Sheet(3).SetName("plain_name.2");
  // Stacked tables: bold rows of text, numbers of two formats, dates, date-times and links,
  // in bold before and after their plain forms; widths fitted, nothing frozen, no filter.
  Worksheet& s = book.Sheet(1);
  s.SetCell(1, 1, "id");
  s.SetCell(1, 2, "amount");
  s.SetCell(1, 3, "a header cut short");
  s.SetCell(2, 1, "1");
  s.SetCell(2, 2, "12.50");
  s.SetCell(2, 3, "cut too");
  s.SetCell(3, 1, "2024-06-01");
  s.SetCell(4, 1, "when");
  s.SetCell(4, 2, "7");
  s.SetCell(4, 3, "2024-06-01T10:00:00");
  s.SetCell(4, 4, "12.50");
  s.SetCell(5, 1, std::string(200, 'w'));
  s.SetHyperlink(1, 3, "'Zoë''s data'!A2");
  s.SetHyperlink(2, 3, "'Zoë''s data'!A3");
  s.SetRowBold(1);
  s.SetRowBold(4);
  s.SetFitColumns(true);
  // One table on each of the other sheets, frozen and filtered.
  for (long i = 2; i <= 3; ++i) {
    Worksheet& t = book.Sheet(i);
    t.SetCell(1, 1, "name");
    t.SetCell(1, 2, "n");
    for (int r = 2; r <= 9; ++r) {
      t.SetCell(r, 1, "row " + std::string(static_cast<std::size_t>(r), 'x'));
      t.SetCell(r, 2, std::to_string(r * 1000));
    }
    LookOfOneTable(t, 9, 2);
  }
  // Widths the user gave hold over fitted ones, also past the used columns.
  book.Sheet(3).SetColumnWidth(1, 3.25);
  book.Sheet(3).SetColumnWidth(40, 30);
  ExpectSameAsOracle(book, dir);
  EXPECT_EQ(s.ColumnWidth(1), Worksheet::kMaxFitWidth);
  EXPECT_EQ(s.ColumnWidth(2), 6 + Worksheet::kFitMargin);  // "amount" and "12.50"
  EXPECT_EQ(s.ColumnWidth(4), 5 + Worksheet::kFitMargin);
  EXPECT_EQ(s.ColumnWidth(5), 0);
}

TEST(PackageParity, TheLookAtTheSheetsLimits) {
  TempDir dir;
  auto app = Application::Create();
  Workbook& book = app->AddWorkbook();
  Worksheet& s = book.Sheet(1);
  s.SetName("Header only");
  s.SetCell(1, 1, "a");
  s.SetCell(1, 2, "b");
  LookOfOneTable(s, 1, 2);
  Worksheet& t = book.Sheet(2);
  t.SetCell(1, 1, "only");
  t.SetCell(2, 1, "3");
  LookOfOneTable(t, 2, 1);
  // Every column of the sheet, and a value at the cell limit: its width is capped.
  Worksheet& u = book.Sheet(3);
  for (int col = 1; col <= 16'384; ++col) {
    u.SetCell(1, col, "f" + std::to_string(col));
    u.SetCell(2, col, std::to_string(col));
  }
  u.SetCell(2, 3, std::string(32'767, 'z'));
  LookOfOneTable(u, 2, 16'384);
  ExpectSameAsOracle(book, dir);
  EXPECT_EQ(u.ColumnWidth(3), Worksheet::kMaxFitWidth);
  EXPECT_EQ(u.ColumnWidth(16'384), 6 + Worksheet::kFitMargin);
}

// A filter's hidden name refers to its sheet; a sheet name that a formula would take for a
// cell or a number is quoted (where libxlsxwriter leaves "A1" or "2024" bare).
TEST(PackageParity, FilterNamesQuoteSheetNamesThatLookLikeCells) {
  TempDir dir;
  auto app = Application::Create();
  Workbook& book = app->AddWorkbook();
  const char* names[] = {"A1", "R1C1", "2024", "Data", "XFD9x"};
  for (int i = 0; i < 5; ++i) {
    Worksheet& s = i < 3 ? book.Sheet(i + 1) : app->AddSheet();
    s.SetName(names[i]);
    s.SetCell(1, 1, "h");
    s.SetAutoFilter({1, 1, 1, 1});
  }
  const auto path = dir.Path() / "names.xlsx";
  book.SaveCopyAs(path);
  const std::string xml = ReadPackage(path).parts["xl/workbook.xml"];
  for (const char* quoted : {"'A1'!$A$1", "'R1C1'!$A$1", "'2024'!$A$1", ">Data!$A$1", ">XFD9x!$A$1"}) {
    EXPECT_NE(xml.find(quoted), std::string::npos) << quoted << " in " << xml;
  }
}

}  // namespace
}  // namespace palomet::xl
