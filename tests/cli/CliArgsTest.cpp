#include <gtest/gtest.h>

#include "cli/CliArgs.h"

namespace palomet {
namespace {

using Kind = CliRequest::Kind;

TEST(CliArgs, OptionsAndPathsInAnyOrderKeepThePathOrder) {
  const auto r = ParseCliArgs({"b.xml", "--output", "out.xlsx", "dir", "--multiple-sheets", "-q",
                               "--staging=s.db", "--keep-going", "--", "-odd.xml", "--help"});
  ASSERT_EQ(r.kind, Kind::Run) << r.usageError;
  EXPECT_TRUE(r.options.multipleSheets);
  EXPECT_TRUE(r.options.quiet);
  EXPECT_TRUE(r.options.keepGoing);
  EXPECT_EQ(r.options.output, "out.xlsx");
  EXPECT_EQ(r.options.staging, "s.db");
  EXPECT_EQ(r.options.paths, (std::vector<std::string>{"b.xml", "dir", "-odd.xml", "--help"}));

  const auto plain = ParseCliArgs({"-o", "o.xlsx", "a.xml", "a.xml"});
  ASSERT_EQ(plain.kind, Kind::Run);
  EXPECT_FALSE(plain.options.multipleSheets);
  EXPECT_FALSE(plain.options.quiet);
  EXPECT_FALSE(plain.options.keepGoing);
  EXPECT_TRUE(ParseCliArgs({"-k", "-o", "o.xlsx", "a.xml"}).options.keepGoing);
  EXPECT_TRUE(plain.options.staging.empty());
  EXPECT_EQ(plain.options.paths.size(), 2u);  // a path given twice is imported twice
}

TEST(CliArgs, HelpAndVersionWinOverUsageErrors) {
  EXPECT_EQ(ParseCliArgs({"--bogus", "--help"}).kind, Kind::Help);
  EXPECT_EQ(ParseCliArgs({"-h"}).kind, Kind::Help);
  EXPECT_EQ(ParseCliArgs({"--version", "--output"}).kind, Kind::Version);
  EXPECT_EQ(ParseCliArgs({"-V"}).kind, Kind::Version);
}

TEST(CliArgs, UsageErrorsSayWhatIsWrong) {
  const struct {
    std::vector<std::string> args;
    std::string expected;
  } cases[] = {
      {{}, "no output file"},
      {{"a.xml"}, "no output file"},
      {{"--output", "o.xlsx"}, "no XML file"},
      {{"a.xml", "--output"}, "'--output' needs a file name"},
      {{"a.xml", "--output="}, "'--output' needs a file name"},
      {{"a.xml", "-o", "x", "--output", "y"}, "given twice"},
      {{"a.xml", "-o", "x", "--staging", "s", "--staging", "t"}, "given twice"},
      {{"a.xml", "-o", "x", "--frobnicate"}, "unknown option '--frobnicate'"},
      {{"a.xml", "-o", "x", "--quiet=yes"}, "takes no value"},
      {{"", "-o", "x"}, "empty path"},
  };
  for (const auto& c : cases) {
    const auto r = ParseCliArgs(c.args);
    EXPECT_EQ(r.kind, Kind::Usage) << c.expected;
    EXPECT_NE(r.usageError.find(c.expected), std::string::npos)
        << "got '" << r.usageError << "', want '" << c.expected << "'";
  }
}

}  // namespace
}  // namespace palomet
