// A table one record longer than a sheet holds, at the sheet's real size, through
// palomet-import and back out of the saved file: every record, in order, on two sheets.

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "tests/cli/CliInProcess.h"
#include "tests/support/TempDir.h"

namespace palomet {
namespace {

// Prints "name<TAB>rows<TAB>A1" for each sheet of a workbook, then the count of the numbers in
// column A below row 1, joined across the sheets, after checking they count 1, 2, 3, ...
// (a full reader would take minutes over two million cells).
constexpr const char* kCountRows = R"PY(
import re, sys, zipfile
z = zipfile.ZipFile(sys.argv[1])
n = 0
for i, name in enumerate(re.findall(r'<sheet name="([^"]*)"', z.read("xl/workbook.xml").decode()), 1):
    cells = re.findall(r'<c r="A\d+"[^>]*>(?:<v>([^<]*)</v>|<is><t>([^<]*)</t>)',
                       z.read("xl/worksheets/sheet%d.xml" % i).decode())
    print("%s\t%d\t%s" % (name, len(cells), cells[0][1]))
    for number, text in cells[1:]:
        n += 1
        if number != str(n):
            sys.exit("record %d is %s on %s" % (n, number or text, name))
print("records\t%d" % n)
)PY";

TEST(CliContinuation, ATableOneRecordLongerThanASheetArrivesWholeInBothModes) {
  test::TempDir dir;
  const auto big = dir.Path() / "big.xml";
  {
    std::ofstream f(big, std::ios::binary);
    f << "<r>";
    for (int i = 1; i <= 1'048'577; ++i) f << "<T><v>" << i << "</v></T>";
    f << "</r>";
  }
  const auto script = dir.Write("count.py", kCountRows);
  for (const bool multiple : {false, true}) {
    SCOPED_TRACE(multiple ? "multiple sheets" : "one sheet");
    const std::string out = dir.Str() + "/out.xlsx";
    std::vector<std::string> args = {"-q", "-o", out, big.string()};
    if (multiple) args.push_back("--multiple-sheets");
    const auto r = test::Cli(args);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "palomet-import: table \"T\" has 1,048,577 rows, more than a sheet holds; "
                     "it goes on on sheet \"T (2)\".\n");
    FILE* pipe = popen(("/usr/bin/python3 '" + script.string() + "' '" + out + "'").c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    std::string printed(4096, '\0');
    printed.resize(fread(printed.data(), 1, printed.size(), pipe));
    EXPECT_EQ(pclose(pipe), 0);
    EXPECT_EQ(printed, "T\t1048576\tv\nT (2)\t3\tv\nrecords\t1048577\n");
  }
}

}  // namespace
}  // namespace palomet
