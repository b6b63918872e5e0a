// What fuzzing the workbook engine found: sheet names a saved workbook could not keep,
// descriptions cut short by the bytes of a refused name, and texts that did not read back
// from the saved file as they were written.

#include <gtest/gtest.h>

#include <string>

#include "office/Error.h"
#include "office/xl/CellTyping.h"
#include "office/xl/Excel.h"
#include "tests/support/TempDir.h"
#include "tests/support/XlsxReadBack.h"

namespace palomet::xl {
namespace {

TEST(SheetNameFaults, ControlCharactersAreRefusedAndShownSoTheDescriptionStaysWhole) {
  const struct {
    std::string name;
    std::string says;
  } cases[] = {
      // Found by fuzzing: a NUL in the name cut the description off before the rule.
      {std::string("a\0]b", 4),
       "The sheet name \"a\xE2\x90\x80]b\" is refused: a sheet name cannot contain any of"},
      {"tab\there", "\"tab\xE2\x90\x89here\" is refused: a sheet name cannot contain control"},
      {"two\nlines", "\"two\xE2\x90\x8Alines\" is refused"},
      {std::string("\0", 1), "cannot contain control characters"},
      {"x\x01y", "\"x\xE2\x90\x81y\" is refused: a sheet name cannot contain control"},
  };
  auto app = Application::Create();
  Worksheet& sheet = app->AddWorkbook().ActiveSheet();
  for (const auto& c : cases) {
    try {
      sheet.SetName(c.name);
      ADD_FAILURE() << "taken: " << c.name;
    } catch (const Error& e) {
      EXPECT_EQ(e.Number(), errnum::kSpreadsheet);
      EXPECT_NE(e.Description().find(c.says), std::string::npos) << e.Description();
      EXPECT_EQ(e.Description().back(), '.') << "cut short: " << e.Description();
    }
    EXPECT_EQ(sheet.Name(), "Sheet1");
  }
  sheet.SetName("DEL\x7f and \xC2\x85 are kept");  // not control characters of XML's kind
  EXPECT_EQ(sheet.Name(), "DEL\x7f and \xC2\x85 are kept");
}

TEST(TextFaults, TextsThatLookLikeEscapesNextToEscapedCharactersReadBackAsWritten) {
  // "_x0040" before a NUL became "_x0040_x0000_" in the file, which reads "@x0000_": the
  // escape of the NUL closed the text before it into an escape of its own.
  const std::string texts[] = {
      std::string("_x0040\0", 7),
      "_x0040\x01",
      "_x0041\xEF\xBF\xBE",
      "_x0041\xEF\xBF\xBF tail",
      "a_x00FF\x1f_x0041_",
      "_x0040\t stays",  // a tab is written as itself: nothing to escape
      "_x004",           // too short to be read as an escape
  };
  test::TempDir dir;
  auto app = Application::Create();
  Worksheet& sheet = app->AddWorkbook().ActiveSheet();
  for (int i = 0; i < static_cast<int>(std::size(texts)); ++i) sheet.SetCell(i + 1, 1, texts[i]);
  const std::string path = (dir.Path() / "escapes.xlsx").string();
  sheet.Parent().SaveAs(path);
  const test::XlsxBook book = test::ReadXlsx(path);
  ASSERT_TRUE(book.ok) << book.dump;
  ASSERT_EQ(book.sheets.size(), 3u);
  const auto cells = book.sheets[0].InOrder();
  ASSERT_EQ(cells.size(), std::size(texts));
  for (int i = 0; i < static_cast<int>(std::size(texts)); ++i) {
    EXPECT_EQ(cells[i].text, texts[i]) << "row " << i + 1;
    std::string escaped;
    detail::EscapeForXlsx(texts[i], escaped);
    EXPECT_EQ(escaped.size(), texts[i].size() + detail::EscapeGrowth(texts[i]) -
                                  (texts[i].find("\xEF\xBF") != std::string::npos ? 2 : 0))
        << "row " << i + 1 << ": the growth counted for the cell limit";
  }
}

}  // namespace
}  // namespace palomet::xl
