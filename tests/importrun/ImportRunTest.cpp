// The "Start Importing" command over a window stand-in: real XML files, a real staging
// database and the real workbook engine; only the widgets are replaced.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "filelist/FileList.h"
#include "importrun/ImportRun.h"
#include "importrun/RunningCheck.h"
#include "office/db/DatabaseApplication.h"
#include "office/xl/Excel.h"
#include "staging/Access1.h"
#include "tests/importrun/ImportRunFakes.h"
#include "tests/support/FakeMessageBoxes.h"
#include "tests/support/TempDir.h"

namespace palomet {
namespace {

using test::FakeWindow;
using test::KeepAliveView;
using test::RunningInstance;
using test::ShownBox;
using test::TempDir;
using test::Views;

class ImportRunTest : public ::testing::Test {
 protected:
  void SetUp() override { dir.Write("program/temp.mdb", ""); }

  std::string Program() const { return dir.Str() + "/program"; }
  std::string Staging() const { return StagingDatabasePath(Program()); }
  std::string Xml(const std::string& name, const std::string& contents) {
    return dir.Write("in/" + name, contents).string();
  }
  void Start() {
    ImportRun run(window, Program());
    run.Start();
  }
  // The workbook of the last run, or nullptr when none was started.
  xl::Workbook* Workbook() const {
    if (Views().empty()) return nullptr;
    return &Views().back()->App()->Workbooks(1);
  }
  static std::vector<std::string> SheetNames(const xl::Workbook& wb) {
    std::vector<std::string> names;
    for (long i = 1; i <= wb.SheetCount(); ++i) names.push_back(wb.Sheet(i).Name());
    return names;
  }

  test::KeepAliveViews views;
  TempDir dir;
  FakeWindow window;
};

// Two files of one shape: tables T and T1, each with field names and two records.
std::string Shape(const std::string& first, const std::string& second) {
  return "<root><T><id>" + first + "</id><name>x</name></T><T><id>" + second +
         "</id><name>y</name></T></root>";
}

TEST_F(ImportRunTest, OneSheetModeStacksTheTablesAndEndsWithDone) {
  window.files.Add(Xml("a.xml", Shape("1", "2")));
  window.files.Add(Xml("b.xml", Shape("3", "4")));
  Start();

  ASSERT_EQ(window.BoxTexts(), std::vector<std::string>{"Done."});
  const ShownBox& done = window.boxes[0];
  EXPECT_EQ(done.icon, MsgIcon::None);
  EXPECT_EQ(done.buttons, MsgButtons::Ok);
  EXPECT_EQ(done.pointer, Pointer::Busy);  // still busy while "Done." is open
  EXPECT_EQ(done.progress, 100);
  EXPECT_EQ(window.progressHistory, (std::vector<double>{50, 100, 0}));
  EXPECT_EQ(window.pointerHistory, (std::vector<Pointer>{Pointer::Busy, Pointer::Default}));
  EXPECT_EQ(window.shownInFront, 1);

  xl::Workbook* wb = Workbook();
  ASSERT_NE(wb, nullptr);
  EXPECT_EQ(SheetNames(*wb), std::vector<std::string>{"T1"});
  const xl::Worksheet& s = wb->Sheet(1);
  const char* expected[6][2] = {{"id", "name"}, {"1", "x"}, {"2", "y"},
                                {"id", "name"}, {"3", "x"}, {"4", "y"}};
  EXPECT_EQ(s.UsedRows(), 6);
  for (int r = 0; r < 6; ++r) {
    EXPECT_EQ(s.Cell(r + 1, 1).DisplayText(), expected[r][0]) << "row " << r + 1;
    EXPECT_EQ(s.Cell(r + 1, 2).DisplayText(), expected[r][1]) << "row " << r + 1;
  }
}

TEST_F(ImportRunTest, FilesWithoutTablesLeaveOneEmptySheetAndStillEndWithDone) {
  for (const bool multiple : {false, true}) {
    FakeWindow w;
    w.multiple = multiple;
    w.files.Add(Xml("empty.xml", "<root/>"));
    ImportRun(w, Program()).Start();
    EXPECT_EQ(w.BoxTexts(), std::vector<std::string>{"Done."});
    EXPECT_EQ(w.progressHistory, std::vector<double>{0});
    ASSERT_NE(Workbook(), nullptr);
    EXPECT_EQ(Workbook()->SheetCount(), 1);
    EXPECT_TRUE(Workbook()->Sheet(1).IsEmpty());
    for (auto& v : Views()) v->Close();  // its window closed before the next run
  }
}

TEST_F(ImportRunTest, ACatalogueThatCannotListTheStagingDatabaseIsAnErrorNamingIt) {
  const std::string missing = dir.Str() + "/nowhere/temp.mdb";
  const std::string text = dir.Write("text.mdb", "not a database").string();
  for (const std::string& path : {missing, text}) {
    test::FakeMessageBoxes boxes;
    try {
      StagedTableNames(path, boxes);
      ADD_FAILURE() << "no error for " << path;
    } catch (const Error& e) {
      EXPECT_NE(e.Description().find(path), std::string::npos) << e.Description();
    }
  }
}

TEST_F(ImportRunTest, AWorkbookWindowOfAnEarlierRunCountsAsARunningSpreadsheet) {
  window.files.Add(Xml("a.xml", Shape("1", "2")));
  Start();
  ASSERT_TRUE(IsExcelRunning());
  window.answers = {MsgResult::No};
  window.boxes.clear();
  Start();
  EXPECT_EQ(window.BoxTexts(),
            std::vector<std::string>{
                "Excel may be open. It is recommended that you close Excel first.\r"
                "Use Ctrl+Alt+Del > Task Manager > EXCEL.EXE if necessary.\r\n\r\n"
                "Would you like to proceed anyway?"});
  Views().back()->Close();
  EXPECT_FALSE(IsExcelRunning());
}

TEST_F(ImportRunTest, ErrorsEndTheRunWithAWarningNamingTheCause) {
  const std::string good = Xml("good.xml", Shape("1", "2"));
  const std::string bad = Xml("bad.xml", "<root><T><id>1</id></T>");
  const std::string fifo = dir.Str() + "/in/pipe.xml";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  enum Then { Nothing, RemoveStaging, HoldStaging, FailWhileWriting };
  const struct {
    const char* name;
    std::vector<std::string> files;
    Then then;
    std::string named;  // the warning must contain this
    bool workbookStarted;
    std::vector<double> bar;  // the bar's values during the run
  } cases[] = {
      {"malformed file after a good one", {good, bad}, Nothing, bad, false, {}},
      {"missing file", {dir.Str() + "/in/nope.xml"}, Nothing, "nope.xml", false, {}},
      {"a pipe, which would never end", {fifo}, Nothing, fifo, false, {}},
      {"missing staging database", {good}, RemoveStaging, "temp.mdb", false, {}},
      {"another run holds the staging database", {good}, HoldStaging, "Another import", false, {}},
      {"a failure once the workbook has begun", {good}, FailWhileWriting, "the disk went away",
       true, {100}},
  };
  for (const auto& c : cases) {
    FakeWindow w;
    for (const auto& f : c.files) w.files.Add(f);
    w.progress = 7;
    if (c.then == RemoveStaging) std::filesystem::remove(Staging());
    std::optional<StagingLock> held;
    if (c.then == HoldStaging) held.emplace(Staging());
    if (c.then == FailWhileWriting) {
      w.onYield = [] { throw Error(errnum::kGeneric, "the disk went away"); };
    }
    Views().clear();
    ImportRun(w, Program()).Start();
    held.reset();
    dir.Write("program/temp.mdb", "");

    ASSERT_EQ(w.boxes.size(), 1u) << c.name;
    EXPECT_EQ(w.boxes[0].icon, MsgIcon::Warning) << c.name;
    EXPECT_EQ(w.boxes[0].pointer, Pointer::Default) << c.name;
    EXPECT_NE(w.boxes[0].text.find(c.named), std::string::npos)
        << c.name << ": " << w.boxes[0].text;
    EXPECT_EQ(w.progressHistory, c.bar) << c.name;
    EXPECT_EQ(w.progress, c.bar.empty() ? 7 : c.bar.back())
        << c.name << ": the bar keeps its value";
    EXPECT_EQ(w.pointer, Pointer::Default) << c.name;
    ASSERT_EQ(!Views().empty(), c.workbookStarted) << c.name;
    // A workbook left half written says so in its own window.
    if (c.workbookStarted) {
      EXPECT_EQ(Views().back()->App()->StatusBar(),
                "The import did not finish: this workbook holds only part of the data.");
    }
  }
}

}  // namespace
}  // namespace palomet
