// --keep-going: files that cannot be imported are left out, each with the error line that
// would otherwise have ended the run, and the workbook is the one the other files alone give.

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "tests/cli/CliInProcess.h"
#include "tests/support/ArchiveFixtures.h"
#include "tests/support/TempDir.h"
#include "tests/support/XlsxReadBack.h"

namespace palomet {
namespace {

namespace fs = std::filesystem;
using test::Cli;
using test::Lines;
using test::ReadXlsx;
using test::TempDir;

std::string Nested(int depth) {
  std::string xml;
  for (int i = 0; i < depth; ++i) xml += "<e>";
  xml += "x";
  for (int i = 0; i < depth; ++i) xml += "</e>";
  return xml;
}

// A file that makes its first tables (one of a name the good files use too) and then fails
// on a table wider than the database allows.
std::string CreatesTablesThenFails() {
  std::string xml = R"(<r><order id="66"><c>bad</c><line sku="Z"><q>9</q></line></order>)"
                    R"(<extra><v>only here</v></extra><wide)";
  for (int i = 0; i < 2100; ++i) xml += " a" + std::to_string(i) + "=\"1\"";
  return xml + "><v>1</v></wide></r>";
}

struct Inputs {
  std::vector<std::string> good;  // in import order
  std::vector<std::string> bad;   // in import order, the missing path last
  std::vector<std::string> args;  // what the command line is given: a folder, a missing path
};

// A folder whose files, in the folder scan's order, mix good and bad ones.
Inputs WriteInputs(const TempDir& dir) {
  Inputs in;
  const auto good = [&](const std::string& name, const std::string& xml) {
    in.good.push_back(dir.Write("in/" + name, xml).string());
  };
  const auto bad = [&](const std::string& name, const std::string& xml) {
    in.bad.push_back(dir.Write("in/" + name, xml).string());
  };
  good("01.xml", R"(<orders><order id="1"><c>Ann &amp; Co</c><line sku="A1"><q>2</q></line>)"
                 R"(</order></orders>)");
  bad("02-truncated.xml", R"(<orders><order id="2"><c>cut off)");
  bad("03-encoding.xml", "<?xml version=\"1.0\" encoding=\"UTF-8\"?><r><T><v>\xff\xfe</v></T></r>");
  bad("04-entity.xml",
      R"(<!DOCTYPE r [<!ENTITY e SYSTEM "file:///etc/hostname">]><r><T><v>&e;</v></T></r>)");
  good("05.xml", R"(<orders><order id="5"><c>Bo</c><line sku="B2"><q>12.50</q></line>)"
                 R"(<line sku="C3"/></order><order id="6"/></orders>)");
  bad("06-tables-then-fails.xml", CreatesTablesThenFails());
  bad("07-empty.xml", "");
  bad("08-too-deep.xml", Nested(300));
  good("09.xml", R"(<orders><order id="9"><c>Cy</c><line sku="D4"><q>007</q></line></order>)"
                 R"(<note>2026-01-05</note><note>x</note></orders>)");
  // A compressed file whose data no longer matches its CRC.
  const std::string gz = dir.Str() + "/in/10-damaged.xml.gz";
  test::WriteCompressed(gz, "gzip", R"(<orders><order id="10"><c>Di</c></order></orders>)");
  std::string damaged = test::ReadFile(gz);
  damaged[damaged.size() - 8] ^= 1;
  bad("10-damaged.xml.gz", damaged);
  in.bad.push_back(dir.Str() + "/missing.xml");
  in.args = {dir.Str() + "/in", in.bad.back()};
  return in;
}

// The line a run without --keep-going ends with when `path` is its only input.
std::string TodaysErrorLine(const TempDir& dir, const std::string& path) {
  const auto r = Cli({"-q", "-o", dir.Str() + "/alone.xlsx", path});
  EXPECT_EQ(r.status, 1) << path << " imported alone";
  EXPECT_EQ(Lines(r.err), 1) << r.err;
  return r.err;
}

TEST(CliKeepGoing, BadFilesAreLeftOutAndTheWorkbookIsTheGoodFilesOwn) {
  for (const bool multiple : {false, true}) {
    SCOPED_TRACE(multiple ? "multiple sheets" : "one sheet");
    TempDir dir;
    const Inputs in = WriteInputs(dir);
    const std::vector<std::string> mode =
        multiple ? std::vector<std::string>{"--multiple-sheets"} : std::vector<std::string>{};

    std::vector<std::string> goodArgs = mode;
    goodArgs.insert(goodArgs.end(), {"-o", dir.Str() + "/good.xlsx"});
    goodArgs.insert(goodArgs.end(), in.good.begin(), in.good.end());
    const auto goodRun = Cli(goodArgs);
    ASSERT_EQ(goodRun.status, 0) << goodRun.err;

    // Quiet silences progress, not what was left out.
    std::vector<std::string> args = mode;
    args.insert(args.end(), {"-k", "-q", "-o", dir.Str() + "/kept.xlsx"});
    args.insert(args.end(), in.args.begin(), in.args.end());
    const auto r = Cli(args);
    EXPECT_EQ(r.status, 3) << r.err;
    EXPECT_EQ(r.out, "");

    // The missing path is found while the arguments are read, before any import.
    std::string expected = TodaysErrorLine(dir, in.bad.back());
    for (std::size_t i = 0; i + 1 < in.bad.size(); ++i) {
      const std::string line = TodaysErrorLine(dir, in.bad[i]);
      EXPECT_NE(line.find(in.bad[i]), std::string::npos) << line;
      expected += line;
    }
    expected += "palomet-import: 8 of 11 files were left out; the workbook holds the other 3.\n";
    EXPECT_EQ(r.err, expected);

    const auto kept = ReadXlsx(dir.Str() + "/kept.xlsx");
    const auto good = ReadXlsx(dir.Str() + "/good.xlsx");
    EXPECT_EQ(kept.dump, good.dump);
    // The tables the failing file made and named are gone, and the later file's tables took
    // the names that were free without it.
    if (multiple) {
      EXPECT_EQ(kept.SheetNames(), (std::vector<std::string>{"order", "line", "order1", "line1",
                                                             "order2", "line2", "note"}));
    } else {
      ASSERT_EQ(kept.sheets.size(), 1u);
      EXPECT_EQ(kept.sheets[0].At(13, 1), "order2_Row");  // the last file's line table
    }
  }
}

TEST(CliKeepGoing, WhenEveryFileIsLeftOutNothingIsWritten) {
  TempDir dir;
  const auto truncated = dir.Write("a.xml", "<r><T>").string();
  const auto empty = dir.Write("b.xml", "").string();
  const auto out = dir.Write("out.xlsx", "an earlier output");
  const struct {
    std::vector<std::string> inputs;
    std::string summary;
  } cases[] = {
      {{truncated}, "palomet-import: the only file was left out; no workbook was written.\n"},
      {{truncated, empty, dir.Str() + "/missing.xml"},
       "palomet-import: all 3 files were left out; no workbook was written.\n"},
  };
  for (const auto& c : cases) {
    std::vector<std::string> args = {"--keep-going", "-o", out.string()};
    args.insert(args.end(), c.inputs.begin(), c.inputs.end());
    const auto r = Cli(args);
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_EQ(Lines(r.err), static_cast<int>(c.inputs.size()) + 1) << r.err;
    EXPECT_TRUE(r.err.ends_with(c.summary)) << r.err;
    EXPECT_EQ(test::ReadFile(out), "an earlier output");
    EXPECT_EQ(test::EntryNames(dir.Path()),
              (std::vector<std::string>{"a.xml", "b.xml", "out.xlsx"}));
  }
}

// Files are counted by their place in the list: a path given twice counts twice.
TEST(CliKeepGoing, TheSummaryCountsInWordsAndDigitGroups) {
  TempDir dir;
  const auto good = dir.Write("good.xml", "<r><T><v>1</v></T></r>").string();
  const auto bad = dir.Write("bad.xml", "<r>").string();
  const struct {
    int good, bad;
    std::string summary;
  } cases[] = {
      {1, 1, "1 of 2 files was left out; the workbook holds the other one."},
      {1, 2, "2 of 3 files were left out; the workbook holds the other one."},
      {1000, 1, "1 of 1,001 files was left out; the workbook holds the other 1,000."},
  };
  for (const auto& c : cases) {
    std::vector<std::string> args = {"-k", "-o", dir.Str() + "/out.xlsx", bad};
    args.insert(args.end(), static_cast<std::size_t>(c.good), good);
    args.insert(args.end(), static_cast<std::size_t>(c.bad - 1), bad);
    const auto r = Cli(args);
    EXPECT_EQ(r.status, 3) << r.err;
    EXPECT_EQ(Lines(r.err), c.bad + 1) << r.err;
    EXPECT_TRUE(r.err.ends_with("palomet-import: " + c.summary + "\n")) << r.err;
  }
  EXPECT_EQ(ReadXlsx(dir.Str() + "/out.xlsx").sheets[0].Rows(), 2'000);
}

// What fails for no single file ends the run as it would without --keep-going.
TEST(CliKeepGoing, AnErrorOfNoSingleFileStillEndsTheRunWithNothingWritten) {
  TempDir dir;
  const auto bad = dir.Write("bad.xml", "<r>").string();
  const auto good = dir.Write("good.xml", "<r><T><v>1</v></T></r>").string();
  const auto notADatabase = dir.Write("staging.db", "this is not a database").string();
  const std::string out = dir.Str() + "/out.xlsx";
  const struct {
    std::string name;
    std::vector<std::string> args;
    std::string named;  // what the one line must name
  } cases[] = {
      {"staging is not a database", {"--staging", notADatabase, "-o", out, bad, good}, notADatabase},
      {"output folder missing", {"-o", dir.Str() + "/no/such/out.xlsx", bad, good}, "no/such"},
  };
  const auto before = test::EntryNames(dir.Path());
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<std::string> args = {"--keep-going"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    const auto r = Cli(args);
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_EQ(Lines(r.err), 1) << r.err;
    EXPECT_NE(r.err.find(c.named), std::string::npos) << r.err;
    EXPECT_EQ(test::EntryNames(dir.Path()), before) << "something was left behind";
  }
}

}  // namespace
}  // namespace palomet
