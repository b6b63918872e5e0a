// Values longer than a cell holds, through palomet-import to the saved file: the cut cells,
// the sheet that keeps the values whole, read back with a real reader, and what is said.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/cli/CliInProcess.h"
#include "tests/support/TempDir.h"
#include "tests/support/XlsxReadBack.h"

namespace palomet {
namespace {

using test::Cli;
using test::ReadXlsx;
using test::TempDir;

constexpr std::size_t kCell = 32'767;

// A text as a spreadsheet shows it: the reader hands "_x005F_" on as it stands in the file.
std::string Shown(std::string s) {
  for (std::size_t at; (at = s.find("_x005F_")) != std::string::npos;) s.replace(at, 7, "_");
  return s;
}

TEST(CliLongTexts, ValuesPastTheCellAreCutAndJoinBackWholeInBothModes) {
  const std::string pair = "\xF0\x9F\x98\x80";  // two UTF-16 units
  const std::vector<std::string> values = {
      std::string(kCell, 'e'),                                 // fits exactly: not kept
      std::string(kCell, 'o') + "!",                           // one over
      std::string(100'000, 'h'),                               // four pieces
      std::string(kCell - 1, 's') + pair + "tail",             // the cut meets a surrogate pair
      std::string(kCell - 10, 'x') + "_x0041_" + "tail",       // the cut meets an escape
  };
  TempDir dir;
  std::string xml = "<kml>";
  for (const auto& v : values) xml += "<LinearRing><coordinates>" + v + "</coordinates></LinearRing>";
  xml += "<Other><note>" + std::string(40'000, 'n') + "</note></Other></kml>";
  const auto file = dir.Write("shape.xml", xml);

  for (const bool multiple : {false, true}) {
    SCOPED_TRACE(multiple ? "multiple sheets" : "one sheet");
    const std::string out = dir.Str() + (multiple ? "/m.xlsx" : "/o.xlsx");
    std::vector<std::string> args = {"--quiet", "-o", out, file.string()};
    if (multiple) args.push_back("--multiple-sheets");
    const auto r = Cli(args);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err,
              "palomet-import: 5 values longer than a cell holds were cut in their cells and kept "
              "whole on sheet \"Long texts\".\n");

    const auto book = ReadXlsx(out);
    ASSERT_FALSE(book.sheets.empty());
    const auto& kept = book.sheets.back();
    ASSERT_EQ(kept.name, "Long texts") << book.dump;
    EXPECT_EQ(kept.At(1, 1), "Sheet");
    EXPECT_EQ(kept.At(1, 3), "Characters");
    EXPECT_EQ(kept.At(1, 7), "Text 4");
    EXPECT_EQ(kept.Rows(), 6);

    // Row by row: the values that did not fit, in the order they were met.
    const std::vector<std::string> longOnes = {values[1], values[2], values[3], values[4],
                                               std::string(40'000, 'n')};
    const std::vector<std::string> units = {"32768", "100000", "32772", "32768", "40000"};
    for (std::size_t i = 0; i < longOnes.size(); ++i) {
      SCOPED_TRACE("long value " + std::to_string(i + 1));
      const int row = static_cast<int>(i) + 2;
      std::string joined;
      for (int col = 4; col <= 7; ++col) joined += Shown(kept.At(row, col));
      EXPECT_TRUE(joined == longOnes[i]) << joined.size() << " bytes, not " << longOnes[i].size();
      EXPECT_EQ(kept.At(row, 3), units[i]);
      const auto* sheet = book.Find(kept.At(row, 1));
      ASSERT_NE(sheet, nullptr) << kept.At(row, 1);
      // The cut cell holds the start of the value.
      const std::string address = kept.At(row, 2);
      const int cutRow = std::stoi(address.substr(1));
      const std::string cut = Shown(sheet->At(cutRow, address[0] - 'A' + 1));
      EXPECT_EQ(longOnes[i].compare(0, cut.size(), cut), 0) << address;
      EXPECT_GT(cut.size(), kCell - 14);
      // One click on the cut cell leads to the value's row.
      const auto link = sheet->links.find({cutRow, address[0] - 'A' + 1});
      ASSERT_NE(link, sheet->links.end()) << address;
      EXPECT_EQ(link->second, "'Long texts'!A" + std::to_string(row));
    }
    // Where the cut met the pair and the escape, neither was split.
    EXPECT_EQ(kept.At(4, 5), pair + "tail");
    EXPECT_EQ(Shown(kept.At(5, 5)), "_x0041_tail");
  }
}

}  // namespace
}  // namespace palomet
