// The install tree made by `cmake --install` into a temporary prefix, the installed
// programs run from there, their manual pages, and the Debian package made by cpack.

#include <sys/wait.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include "app/ProgramFolder.h"
#include "tests/support/TempDir.h"
#include "tests/support/XlsxReadBack.h"

namespace palomet {
namespace {

namespace fs = std::filesystem;
using test::TempDir;

const std::vector<int> kIconSizes = {16, 22, 24, 32, 48, 64, 128, 256};

struct Output {
  int status = -1;
  std::string text;  // standard output and standard error
};

Output Shell(const std::string& command) {
  Output out;
  FILE* pipe = ::popen((command + " 2>&1").c_str(), "r");
  if (pipe == nullptr) return out;
  char buffer[4096];
  for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) {
    out.text.append(buffer, n);
  }
  const int status = ::pclose(pipe);
  out.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return out;
}

std::string Quote(const fs::path& path) {
  std::string quoted = "'";
  for (const char c : path.string()) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

bool Have(const char* tool) {
  return Shell(std::string("command -v ") + tool + " >/dev/null").status == 0;
}

// Installs this build tree under `prefix`; fails the test when cmake does.
bool Install(const fs::path& prefix) {
  const Output out = Shell(std::string("'") + PALOMET_CMAKE + "' --install " +
                           Quote(PALOMET_BUILD_DIR) + " --prefix " + Quote(prefix));
  EXPECT_EQ(out.status, 0) << out.text;
  return out.status == 0;
}

// Every regular file under `root`, as paths relative to it.
std::set<std::string> FilesUnder(const fs::path& root) {
  std::set<std::string> files;
  for (const auto& e : fs::recursive_directory_iterator(root)) {
    if (e.is_regular_file()) files.insert(fs::relative(e.path(), root).string());
  }
  return files;
}

// The width and height a PNG file's header gives, or {-1, -1}.
std::pair<int, int> PngSize(const fs::path& path) {
  const std::string data = test::ReadFile(path);
  if (data.size() < 24 || data.compare(0, 8, "\x89PNG\r\n\x1a\n") != 0) return {-1, -1};
  const auto be32 = [&data](std::size_t at) {
    int v = 0;
    for (std::size_t i = 0; i < 4; ++i) v = v * 256 + static_cast<unsigned char>(data[at + i]);
    return v;
  };
  return {be32(16), be32(20)};
}

TEST(InstallTree, HoldsTheProgramsTheirFolderTheDesktopEntryIconsAndManualPages) {
  TempDir dir;
  const fs::path prefix = dir.Path() / "prefix";
  ASSERT_TRUE(Install(prefix));

  const std::string programDir = PALOMET_INSTALL_PROGRAM_DIR;
  std::set<std::string> expected = {
      "bin/palomet",
      "bin/palomet-import",
      programDir + "/temp.mdb",
      programDir + "/HAND-M.CUR",
      programDir + "/drag.ico",
      "share/applications/palomet.desktop",
      "share/man/man1/palomet.1.gz",
      "share/man/man1/palomet-import.1.gz",
      "share/doc/palomet/copyright",
      "share/doc/palomet/changelog.Debian.gz",
  };
  for (const int size : kIconSizes) {
    const std::string s = std::to_string(size);
    expected.insert("share/icons/hicolor/" + s + "x" + s + "/apps/palomet.png");
  }
  // Exactly these: no test program, library or header slips in.
  EXPECT_EQ(FilesUnder(prefix), expected);

  for (const char* program : {"bin/palomet", "bin/palomet-import"}) {
    const auto perms = fs::status(prefix / program).permissions();
    EXPECT_NE(perms & fs::perms::others_exec, fs::perms::none) << program;
  }
  // The program folder holds the shipped files, never a staging database a build's run
  // has filled, and it is where the installed program looks.
  for (const char* name : {"temp.mdb", "HAND-M.CUR", "drag.ico"}) {
    EXPECT_EQ(test::ReadFile(prefix / programDir / name),
              test::ReadFile(fs::path(PALOMET_SOURCE_DIR) / "assets/program" / name))
        << name;
  }
  EXPECT_EQ(FindProgramFolder((prefix / "bin").string(), PALOMET_INSTALLED_PROGRAM_DIR),
            (prefix / programDir).string());

  for (const int size : kIconSizes) {
    const std::string s = std::to_string(size);
    EXPECT_EQ(PngSize(prefix / ("share/icons/hicolor/" + s + "x" + s + "/apps/palomet.png")),
              std::make_pair(size, size));
  }

  const fs::path desktop = prefix / "share/applications/palomet.desktop";
  const std::string entry = test::ReadFile(desktop);
  EXPECT_NE(entry.find("\nExec=palomet %F\n"), std::string::npos) << entry;
  EXPECT_NE(entry.find("\nIcon=palomet\n"), std::string::npos) << entry;
  EXPECT_TRUE(std::regex_search(entry, std::regex("\nMimeType=([^\n]*;)?application/xml;")))
      << entry;
  if (Have("desktop-file-validate")) {
    const Output valid = Shell("desktop-file-validate " + Quote(desktop));
    EXPECT_EQ(valid.status, 0) << valid.text;
    EXPECT_EQ(valid.text, "");
  } else {
    ADD_FAILURE() << "desktop-file-validate is missing (Debian's desktop-file-utils)";
  }
}

// Exit status and output of an installed program run with only `env` (no display).
Output RunInstalled(const fs::path& prefix, const std::string& program, const std::string& args,
                    const fs::path& cwd) {
  return Shell("cd " + Quote(cwd) + " && env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM " +
               Quote(prefix / "bin" / program) + " " + args);
}

TEST(InstalledPrograms, RunFromTheInstallTree) {
  TempDir dir;
  const fs::path prefix = dir.Path() / "prefix";
  ASSERT_TRUE(Install(prefix));

  // Help and version need no display, so the window program answers them in a terminal.
  for (const std::string program : {"palomet", "palomet-import"}) {
    const Output version = RunInstalled(prefix, program, "--version", dir.Path());
    EXPECT_EQ(version.status, 0) << version.text;
    EXPECT_EQ(version.text, program + " " + PALOMET_VERSION + "\n");
    const Output help = RunInstalled(prefix, program, "--help", dir.Path());
    EXPECT_EQ(help.status, 0) << help.text;
    EXPECT_EQ(help.text.rfind("Usage: " + program + " ", 0), 0u) << help.text;
  }
  // A usage error is found once Qt has taken its own options, so it needs a platform.
  const Output usage =
      Shell("QT_QPA_PLATFORM=offscreen " + Quote(prefix / "bin/palomet") + " --no-such-option");
  EXPECT_EQ(usage.status, 2) << usage.text;
  EXPECT_NE(usage.text.find("palomet: unknown option '--no-such-option'"), std::string::npos)
      << usage.text;

  // A whole import, relative paths and all, from another folder than the build's.
  dir.Write("work/a.xml", "<root><T><id>1</id><name>x</name></T></root>");
  dir.Write("work/b.xml", "<root><T><id>2</id><name>y</name></T></root>");
  const Output run =
      RunInstalled(prefix, "palomet-import", "-q -o out.xlsx a.xml b.xml", dir.Path() / "work");
  ASSERT_EQ(run.status, 0) << run.text;
  EXPECT_EQ(run.text, "");
  const auto book = test::ReadXlsx((dir.Path() / "work/out.xlsx").string());
  ASSERT_EQ(book.sheets.size(), 1u) << book.dump;
  const auto& sheet = book.sheets[0];
  EXPECT_EQ(sheet.Rows(), 4) << book.dump;
  EXPECT_EQ(sheet.At(2, 1), "1");
  EXPECT_EQ(sheet.At(4, 2), "y");
}

// Option names in a text: "--output", "--multiple-sheets", ...
std::set<std::string> Options(const std::string& text) {
  std::set<std::string> names;
  const std::regex option("--[a-z][a-z-]*");
  for (auto it = std::sregex_iterator(text.begin(), text.end(), option);
       it != std::sregex_iterator(); ++it) {
    names.insert(it->str());
  }
  return names;
}

TEST(InstalledPrograms, ManualPagesFollowTheirHelpAndVersion) {
  TempDir dir;
  const fs::path prefix = dir.Path() / "prefix";
  ASSERT_TRUE(Install(prefix));
  for (const std::string program : {"palomet", "palomet-import"}) {
    SCOPED_TRACE(program);
    const Output help = RunInstalled(prefix, program, "--help", dir.Path());
    ASSERT_EQ(help.status, 0);
    const Output page =
        Shell("gzip -dc " + Quote(prefix / ("share/man/man1/" + program + ".1.gz")));
    ASSERT_EQ(page.status, 0) << page.text;
    // The page in plain words: troff writes a hyphen as "\-".
    const std::string text = std::regex_replace(page.text, std::regex(R"(\\-)"), "-");

    EXPECT_TRUE(std::regex_search(
        text, std::regex("\\.TH [^\n]*\"" + program + " " + PALOMET_VERSION + "\"")))
        << text.substr(0, 400);
    const std::set<std::string> helpOptions = Options(help.text);
    EXPECT_TRUE(helpOptions.count("--help"));
    for (const std::string& option : helpOptions) {
      EXPECT_NE(text.find(option), std::string::npos) << option << " is not in the page";
    }
    EXPECT_NE(text.find(".SH \"SEE ALSO\""), std::string::npos);
  }
}

TEST(DebianPackage, NamesTheRuntimePackagesRunsUnpackedAndPassesLintian) {
  if (!Have("dpkg-deb") || !Have("dpkg-shlibdeps")) {
    GTEST_SKIP() << "dpkg-dev is needed to make the package";
  }
  TempDir dir;
  const Output made =
      Shell("cd " + Quote(dir.Path()) + " && '" + PALOMET_CPACK + "' -G DEB --config " +
            Quote(fs::path(PALOMET_BUILD_DIR) / "CPackConfig.cmake") + " -B " + Quote(dir.Path()));
  ASSERT_EQ(made.status, 0) << made.text;
  std::vector<fs::path> debs;
  for (const auto& e : fs::directory_iterator(dir.Path())) {
    const std::string name = e.path().filename().string();
    if (name.rfind("palomet_", 0) == 0 && e.path().extension() == ".deb") debs.push_back(e.path());
  }
  ASSERT_EQ(debs.size(), 1u) << made.text;
  const fs::path deb = debs[0];

  const Output fields = Shell("dpkg-deb -f " + Quote(deb) + " Package Version Depends");
  ASSERT_EQ(fields.status, 0) << fields.text;
  EXPECT_NE(fields.text.find("Package: palomet\n"), std::string::npos) << fields.text;
  EXPECT_NE(fields.text.find(std::string("Version: ") + PALOMET_VERSION + "-"), std::string::npos)
      << fields.text;
  const std::size_t at = fields.text.find("Depends: ");
  ASSERT_NE(at, std::string::npos) << fields.text;
  const std::string depends = fields.text.substr(at);
  for (const char* package : {"libqt6widgets6", "libqt6gui6", "libqt6core6", "libxml2",
                              "libsqlite3-0", "libminizip1", "libisal2", "libarchive13",
                              "liblzma5", "libbz2-1.0", "libzstd1", "fonts-liberation"}) {
    EXPECT_TRUE(std::regex_search(depends, std::regex(std::string("(: |, )") + package)))
        << package << " missing from " << depends;
  }

  // The packaged (stripped) programs run, and find their folder, where the package puts them.
  const fs::path root = dir.Path() / "root";
  const Output unpacked = Shell("dpkg-deb -x " + Quote(deb) + " " + Quote(root));
  ASSERT_EQ(unpacked.status, 0) << unpacked.text;
  EXPECT_EQ(FindProgramFolder((root / "usr/bin").string(), PALOMET_INSTALLED_PROGRAM_DIR),
            (root / "usr/share/palomet").string());
  dir.Write("a.xml", "<root><T><id>1</id></T></root>");
  const Output run =
      RunInstalled(root / "usr", "palomet-import", "-q -o out.xlsx a.xml", dir.Path());
  EXPECT_EQ(run.status, 0) << run.text;
  EXPECT_EQ(test::ReadXlsx((dir.Path() / "out.xlsx").string()).sheets.size(), 1u);
  const Output version = RunInstalled(root / "usr", "palomet", "--version", dir.Path());
  EXPECT_EQ(version.text, std::string("palomet ") + PALOMET_VERSION + "\n");

  if (!Have("lintian")) {
    ADD_FAILURE() << "lintian is missing";
    return;
  }
  const Output lint =
      Shell(std::string("'") + PALOMET_SOURCE_DIR + "/packaging/lintian-check.sh' " + Quote(deb));
  EXPECT_EQ(lint.status, 0) << lint.text;
}

}  // namespace
}  // namespace palomet
