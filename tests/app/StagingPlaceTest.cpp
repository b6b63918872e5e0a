// The window's run stages its tables in the database the program gives it (the user's
// copy when the program folder is read-only), asked afresh at every run.

#include <gtest/gtest.h>

#include <QApplication>
#include <QMainWindow>
#include <QPushButton>
#include <QTest>
#include <fstream>

#include "office/xl/Excel.h"
#include "office/xlwindow/WorkbookWindow.h"
#include "staging/Access1.h"
#include "tests/support/Form1Harness.h"
#include "tests/support/WindowRunFixture.h"

namespace palomet {
namespace {

namespace fs = std::filesystem;
using test::Form1Harness;

class StagingPlace : public test::WindowRunFixture {
 protected:
};

TEST_F(StagingPlace, EveryRunFillsTheDatabaseItIsGivenAndLeavesTheProgramFoldersAlone) {
  const fs::path users = h.temp.Path() / "user/Corvane/Palomet/temp.mdb";
  fs::create_directories(users.parent_path());
  std::ofstream(users).close();  // the shipped database is an empty file
  const fs::path shipped = h.ProgramFolder() / "temp.mdb";
  // Compared with itself rather than with an empty file: a program started from the build
  // folder by hand leaves its own staging there.
  const auto shippedSize = fs::file_size(shipped);
  const auto shippedTime = fs::last_write_time(shipped);
  int asked = 0;
  h.stagingDatabase = [&] {
    ++asked;
    return users.string();
  };
  Form1& form = h.Start();
  h.List().Add(h.temp.Write("in/a.xml", "<r><Orders><id>1</id></Orders></r>").string());

  ClickStart();
  ASSERT_EQ(Texts(), std::vector<std::string>{"Done."});
  ClickStart();
  EXPECT_EQ(asked, 2) << "asked at every run";
  EXPECT_EQ(form.MousePointer(), Pointer::Default);

  EXPECT_EQ(fs::file_size(shipped), shippedSize) << "the shipped staging database is untouched";
  EXPECT_EQ(fs::last_write_time(shipped), shippedTime);
  test::FakeMessageBoxes boxes;
  EXPECT_EQ(GetTableNames(users.string(), "", boxes),
            std::optional<std::vector<std::string>>({"Orders"}));
}

}  // namespace
}  // namespace palomet
