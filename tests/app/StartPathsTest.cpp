// The command line of the window program: its options, and files and folders named on it
// landing in the list as a drop of them would.

#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>

#include "app/App.h"
#include "tests/support/Form1Harness.h"

namespace palomet {
namespace {

namespace fs = std::filesystem;
using test::Form1Harness;
using Kind = AppArguments::Kind;

TEST(AppArguments, ParsesPathsOptionsAndUsageErrors) {
  const struct {
    std::vector<std::string> args;
    Kind kind;
    std::vector<std::string> paths;
    std::string screenshot;
  } cases[] = {
      {{}, Kind::Window, {}, ""},
      {{"--", "-odd.xml", "--help"}, Kind::Window, {"-odd.xml", "--help"}, ""},
      {{"a.xml", "--help"}, Kind::Help, {}, ""},
      {{"--bogus", "-V"}, Kind::Version, {}, ""},
      {{"--bogus", "a.xml"}, Kind::Usage, {"a.xml"}, ""},
      {{"--screenshot", "w.png", "a.xml"}, Kind::Screenshot, {"a.xml"}, "w.png"},
      {{"--screenshot"}, Kind::Usage, {}, ""},
  };
  for (const auto& c : cases) {
    std::string joined;
    for (const auto& a : c.args) joined += a + " ";
    const AppArguments parsed = ParseAppArguments(c.args);
    EXPECT_EQ(parsed.kind, c.kind) << joined;
    EXPECT_EQ(parsed.paths, c.paths) << joined;
    EXPECT_EQ(parsed.screenshot, c.screenshot) << joined;
    EXPECT_EQ(parsed.usageError.empty(), c.kind != Kind::Usage) << joined;
  }

  std::ostringstream out;
  EXPECT_EQ(RunInfoOption({"x.xml", "-h"}, out), 0);
  EXPECT_EQ(out.str(), AppHelpText());
  out.str("");
  EXPECT_FALSE(RunInfoOption({"x.xml", "--", "--version"}, out).has_value());
  EXPECT_EQ(out.str(), "") << "a path named like an option is not an option";
}

// Changes the current folder for as long as it lives.
class InFolder {
 public:
  explicit InFolder(const fs::path& folder) : old_(fs::current_path()) { fs::current_path(folder); }
  ~InFolder() { fs::current_path(old_); }

 private:
  fs::path old_;
};

TEST(StartPaths, FilesAndFoldersFromTheCommandLineAreListedAsDroppedInTheirOrder) {
  Form1Harness h;
  Form1& form = h.Start();
  const fs::path work = h.temp.Path() / "work";
  const fs::path second = h.temp.Write("work/second.xml", "<r/>");
  const fs::path first = h.temp.Write("elsewhere/first.xml", "<r/>");
  h.temp.Write("work/folder/b.xml", "<r/>");
  h.temp.Write("work/folder/a.txt", "x");  // a drop takes every file of a folder
  h.temp.Write("work/folder/sub/c.xml", "<r/>");

  InFolder in(work);
  ASSERT_TRUE(AddStartPaths({first.string(), "./second.xml", "folder/", "missing.xml"}, form));
  const std::string w = work.string();
  EXPECT_EQ(h.Texts(),
            (std::vector<std::string>{first.string(), w + "/second.xml", w + "/folder/a.txt",
                                      w + "/folder/b.xml", w + "/folder/sub/c.xml"}));
  EXPECT_EQ(form.MousePointer(), Pointer::Default);
  EXPECT_TRUE(h.messages.shown.empty());
}

}  // namespace
}  // namespace palomet
