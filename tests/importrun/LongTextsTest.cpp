// Values longer than a cell holds: where the cut falls, the sheet that keeps them whole, and
// its name when a table took it.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "importrun/LongTexts.h"
#include "importrun/WorkbookAssembly.h"

namespace palomet {
namespace {

constexpr std::size_t kCell = xl::kMaxCellChars;

std::string Join(const xl::Worksheet& s, int row) {
  std::string out;
  for (int col = 4; col <= s.UsedColumns(); ++col) out += s.Cell(row, col).text;
  return out;
}

TEST(LongTexts, TheCutFitsTheCellAndNeverSplitsACharacterOrAnEscape) {
  const std::string pair = "\xF0\x9F\x98\x80";  // U+1F600: two UTF-16 units
  const struct {
    const char* what;
    std::string value;
    std::size_t fit;  // bytes
  } cases[] = {
      {"exactly a cell", std::string(kCell, 'a'), kCell},
      {"one over", std::string(kCell + 1, 'a'), kCell},
      {"a surrogate pair across the limit", std::string(kCell - 1, 'a') + pair + "b", kCell - 1},
      {"a pair that just fits", std::string(kCell - 2, 'a') + pair + "b", kCell - 2 + 4},
      // "_x0041_" is written "_x005F_x0041_": 13 units, 7 bytes.
      {"an escape across the limit", std::string(kCell - 10, 'a') + "_x0041_" + "b", kCell - 10},
      {"an escape that just fits", std::string(kCell - 13, 'a') + "_x0041_" + "bb",
       kCell - 13 + 7},
      {"a NUL spelled _x0000_", std::string(kCell - 6, 'a') + std::string(1, '\0') + "b",
       kCell - 6},
      {"three-byte characters", std::string(3 * kCell + 3, 'x').replace(0, 3 * kCell + 3, [] {
         std::string s;
         for (std::size_t i = 0; i <= kCell; ++i) s += "\xE2\x82\xAC";  // the euro sign
         return s;
       }()),
       3 * kCell},
  };
  auto app = xl::Application::Create();
  xl::Worksheet& sheet = app->AddWorkbook().Sheet(1);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const std::size_t fit = xl::FitInCell(c.value);
    EXPECT_EQ(fit, c.fit);
    // The engine takes what was cut, and refuses one more character.
    EXPECT_NO_THROW(sheet.SetCell(1, 1, std::string_view(c.value).substr(0, fit)));
    if (fit < c.value.size()) {
      const auto pieces = LongTexts::Pieces(c.value);
      std::size_t total = 0;
      for (std::size_t p : pieces) total += p;
      EXPECT_EQ(total, c.value.size());
      EXPECT_EQ(pieces.front(), fit);
    }
  }
}

// A value of `units` characters whose every character differs from its neighbours', so a
// piece that went missing or twice shows.
std::string Value(std::size_t units) {
  std::string s;
  for (std::size_t i = 0; i < units; ++i) s += static_cast<char>('a' + i % 23);
  return s;
}

TEST(LongTexts, EachModeKeepsTheWholeValuesOnALastSheetAndLinksTheCutCells) {
  for (const SheetMode mode : {SheetMode::OneSheet, SheetMode::MultipleSheets}) {
    SCOPED_TRACE(mode == SheetMode::OneSheet ? "one sheet" : "multiple sheets");
    WorkbookAssembly a(mode, WorkbookTarget{});
    NoWindowHost host;
    const std::string big = Value(100'000), over = Value(kCell + 1);
    a.PrepareSheet("Long texts");  // a table takes the name first
    RowString header, record;
    header.AppendField("id");
    header.AppendField("body");
    record.AppendField("1");
    record.AppendField(big);
    a.WriteRows("Long texts", std::vector<RowString>{header, record}, host);
    a.PrepareSheet("U");
    RowString exact, cut;
    exact.AppendField(Value(kCell));
    cut.AppendField(over);
    a.WriteRows("U", std::vector<RowString>{exact, cut}, host);
    a.AddLongTexts(host);
    a.RemoveDefaultSheets();

    // One sheet takes the last table's name, so only the sheet of its own keeps "Long texts".
    const std::string name = mode == SheetMode::OneSheet ? "Long texts" : "Long texts (2)";
    xl::Workbook& wb = a.Workbook();
    xl::Worksheet& kept = wb.Sheet(wb.SheetCount());
    EXPECT_EQ(kept.Name(), name);
    EXPECT_EQ(a.LongTextCount(), 2u);
    EXPECT_EQ(a.LongTextsSummary(),
              "2 values longer than a cell holds were cut in their cells and kept whole on sheet "
              "\"" + name + "\".");
    EXPECT_EQ(a.Application().StatusBar(), a.LongTextsSummary());

    std::vector<std::string> header3;
    for (int col = 1; col <= 7; ++col) header3.push_back(std::string(kept.Cell(1, col).text));
    EXPECT_EQ(header3, (std::vector<std::string>{"Sheet", "Cell", "Characters", "Text 1", "Text 2",
                                                 "Text 3", "Text 4"}));
    EXPECT_EQ(kept.UsedRows(), 3);

    const std::int64_t uRow = mode == SheetMode::OneSheet ? 4 : 2;
    const xl::Worksheet& first = wb.Sheet(1);
    const xl::Worksheet& second = mode == SheetMode::OneSheet ? wb.Sheet(1) : wb.Sheet(2);
    EXPECT_EQ(kept.Cell(2, 1).text, first.Name());
    EXPECT_EQ(kept.Cell(2, 2).text, "B2");
    EXPECT_EQ(kept.Cell(2, 3).DisplayText(), "100000");
    EXPECT_EQ(Join(kept, 2), big);
    EXPECT_EQ(kept.Cell(3, 1).text, second.Name());
    EXPECT_EQ(kept.Cell(3, 2).text, "A" + std::to_string(uRow));
    EXPECT_EQ(Join(kept, 3), over);

    // The cut cells hold what fits and link to their rows; the value that fitted is whole.
    EXPECT_EQ(first.Cell(2, 2).text, big.substr(0, kCell));
    EXPECT_EQ(second.Cell(uRow - 1, 1).text.size(), kCell);
    EXPECT_EQ(second.Cell(uRow, 1).text, over.substr(0, kCell));
    std::vector<std::string> links;
    for (long s = 1; s < wb.SheetCount(); ++s) {
      for (const auto& link : wb.Sheet(s).Hyperlinks()) {
        links.push_back(xl::CellAddress(link.row, link.col) + " " + link.location);
      }
    }
    EXPECT_EQ(links, (std::vector<std::string>{"B2 '" + name + "'!A2",
                                               "A" + std::to_string(uRow) + " '" + name + "'!A3"}));
  }
}

TEST(LongTexts, NoCutNoSheetAndPiecesStayText) {
  WorkbookAssembly a(SheetMode::MultipleSheets, WorkbookTarget{});
  NoWindowHost host;
  a.PrepareSheet("T");
  RowString r;
  r.AppendField(Value(kCell));
  a.WriteRows("T", std::vector<RowString>{r}, host);
  a.AddLongTexts(host);
  a.RemoveDefaultSheets();
  EXPECT_EQ(a.Workbook().SheetCount(), 1);
  EXPECT_EQ(a.LongTextsSummary(), "");

  // A last piece that looks like a number stays text, so joining gives the value back.
  WorkbookAssembly b(SheetMode::OneSheet, WorkbookTarget{});
  b.PrepareSheet("T");
  RowString digits;
  digits.AppendField(std::string(kCell, '1') + "0.50");
  b.WriteRows("T", std::vector<RowString>{digits}, host);
  b.AddLongTexts(host);
  const xl::Worksheet& kept = b.Workbook().Sheet(b.Workbook().SheetCount());
  EXPECT_EQ(kept.Cell(2, 5).type, xl::CellType::Text);
  EXPECT_EQ(kept.Cell(2, 5).text, "0.50");
  EXPECT_EQ(b.LongTextsSummary(),
            "1 value longer than a cell holds was cut in its cell and kept whole on sheet "
            "\"Long texts\".");
}

}  // namespace
}  // namespace palomet
