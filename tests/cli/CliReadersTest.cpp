// The workbook the command line writes, read back by the spreadsheet readers users open it
// with (openpyxl, LibreOffice, Gnumeric; each skipped where it is not installed): sheets whose
// names differ only by full case folding, carriage returns in values and a literal _xHHHH_
// reach every reader whole, from a package that holds its (empty) shared strings before the
// worksheets, as streaming readers need.

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <map>
#include <ostream>
#include <string>
#include <vector>

#include "tests/cli/CliInProcess.h"
#include "tests/support/Csv.h"
#include "tests/support/TempDir.h"

namespace palomet {
namespace {

namespace fs = std::filesystem;
using test::Cli;
using test::TempDir;

using Rows = std::vector<std::vector<std::string>>;
using Sheets = std::map<std::string, Rows>;

// `text` with every `from` replaced by `to`.
std::string Replaced(std::string text, const std::string& from, const std::string& to) {
  for (std::size_t at = 0; (at = text.find(from, at)) != std::string::npos; at += to.size()) {
    text.replace(at, from.size(), to);
  }
  return text;
}

// openpyxl's values as they are (the reader of tests/support decodes _xHHHH_ itself), each
// sheet to out/book.SHEET.csv.
constexpr const char* kOpenpyxlToCsv =
    "import csv, sys, openpyxl\n"
    "for ws in openpyxl.load_workbook(sys.argv[1]).worksheets:\n"
    "    with open(sys.argv[2] + '/book.' + ws.title + '.csv', 'w', newline='') as f:\n"
    "        csv.writer(f, lineterminator='\\n').writerows(\n"
    "            [['' if c.value is None else c.value for c in r] for r in ws.iter_rows()])\n";

struct Reader {
  const char* name;
  const char* program;  // what must be installed, as a command
  // Run in the test's folder: writes each sheet of book.xlsx, values as shown, to
  // out/PREFIX + sheet name + .csv.
  const char* convert;
  const char* prefix;
  // What the reader makes of texts on its own, done to what it shows and to what is expected.
  std::function<std::string(std::string)> ownWay = [](std::string text) { return text; };
};

void PrintTo(const Reader& reader, std::ostream* out) {
  *out << reader.name;
}

// The sheets of book.xlsx in `dir`, as `reader` shows them.
Sheets Read(const Reader& reader, const TempDir& dir) {
  dir.Write("to_csv.py", kOpenpyxlToCsv);
  const std::string command =
      "cd '" + dir.Str() + "' && mkdir -p out && HOME=\"$PWD\" " + reader.convert + " >log 2>&1";
  EXPECT_EQ(std::system(command.c_str()), 0) << test::ReadFile(dir.Path() / "log");
  Sheets sheets;
  const std::string prefix = reader.prefix;
  for (const std::string& file : test::EntryNames(dir.Path() / "out")) {
    if (file.rfind(prefix, 0) != 0 || !file.ends_with(".csv")) continue;
    Rows& rows = sheets[file.substr(prefix.size(), file.size() - prefix.size() - 4)];
    rows = test::ParseCsv(test::ReadFile(dir.Path() / "out" / file));
    for (auto& row : rows) {
      for (std::string& field : row) field = reader.ownWay(field);
    }
  }
  return sheets;
}

class CliReaders : public testing::TestWithParam<Reader> {};

TEST_P(CliReaders, FoldedSheetNamesCarriageReturnsAndSharedStringsReadWhole) {
  const Reader& reader = GetParam();
  if (std::system(("command -v " + std::string(reader.program) + " >/dev/null 2>&1").c_str()) !=
      0) {
    GTEST_SKIP() << reader.name << " (" << reader.program << ") is not installed";
  }
  TempDir dir;
  // Tables whose names one reader or another takes for one, and values with carriage returns
  // (XML gives them only as references): alone, at the start, before a line feed.
  const auto xml = dir.Write("in.xml",
                             "<r><Straße><v>eins</v></Straße><STRASSE><v>zwei</v></STRASSE>"
                             "<ﬁle><v>a&#13;b</v><w>&#13;lead</w></ﬁle>"
                             "<FILE><v>x_x000D_y</v><w>c&#13;&#10;d</w></FILE></r>");
  const std::string book = dir.Str() + "/book.xlsx";
  const auto r = Cli({"-q", "--multiple-sheets", "-o", book, xml.string()});
  ASSERT_EQ(r.status, 0) << r.err;

  Sheets expected = {{"Straße", {{"v"}, {"eins"}}},
                     {"STRASSE (2)", {{"v"}, {"zwei"}}},
                     {"ﬁle", {{"v", "w"}, {"a\rb", "\rlead"}}},
                     {"FILE (2)", {{"v", "w"}, {"x_x000D_y", "c\r\nd"}}}};
  for (auto& [name, rows] : expected) {
    for (auto& row : rows) {
      for (std::string& field : row) field = reader.ownWay(field);
    }
  }
  EXPECT_EQ(Read(reader, dir), expected);

  // The shared strings come before the first worksheet in the package.
  FILE* pipe = popen(("unzip -Z1 '" + book + "'").c_str(), "r");
  ASSERT_NE(pipe, nullptr);
  std::string parts;
  char buffer[4096];
  for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;)
    parts.append(buffer, n);
  pclose(pipe);
  EXPECT_LT(parts.find("xl/sharedStrings.xml\n"), parts.find("xl/worksheets/sheet1.xml\n"))
      << parts;
}

INSTANTIATE_TEST_SUITE_P(
    EveryReader, CliReaders,
    testing::Values(
        // The file's escape of an underscore (_x005F_) stays as it is.
        Reader{"openpyxl", "/usr/bin/python3", "/usr/bin/python3 to_csv.py book.xlsx out", "book.",
               [](std::string t) { return Replaced(t, "_x005F_", "_"); }},
        // A line break stays one: CR LF in a cell becomes LF.
        Reader{"LibreOffice", "soffice",
               "timeout 180 soffice --headless --norestore "
               "-env:UserInstallation=file://$PWD/profile --convert-to 'csv:Text - txt - csv "
               "(StarCalc):44,34,76,1,,0,false,true,true,false,false,-1' --outdir out book.xlsx",
               "book-", [](std::string t) { return Replaced(t, "\r\n", "\n"); }},
        Reader{"Gnumeric", "ssconvert",
               "timeout 180 ssconvert -S -T Gnumeric_stf:stf_assistant -O 'format=preserve "
               "separator=, eol=unix' book.xlsx 'out/book.%s.csv'",
               "book.", [](std::string t) { return Replaced(t, "_x005F_", "_"); }}),
    [](const testing::TestParamInfo<Reader>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace palomet
