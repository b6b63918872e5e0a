#include <gtest/gtest.h>

#include <QTest>

#include "app/ListView.h"
#include "filelist/DialogIntake.h"
#include "office/Error.h"
#include "tests/support/Form1Harness.h"

namespace palomet {
namespace {

using test::Form1Harness;
using Texts = std::vector<std::string>;

void DoubleClickAt(ListView& list, QPoint at) {
  // A real double-click: press, release, then the second press as a double-click.
  QTest::mouseClick(list.viewport(), Qt::LeftButton, {}, at);
  QTest::mouseDClick(list.viewport(), Qt::LeftButton, {}, at);
}

TEST(ListWidget, KeepsTheFileListContract) {
  Form1Harness h;
  h.Start(false);
  ListView& list = h.List();
  const std::string odd = "/data/caf\xe9-latin1.xml";  // not UTF-8: kept byte for byte
  list.Add("A");
  list.Add(odd);
  list.Add("A");
  const EntryId second = list.Id(2);
  list.Insert(1, "C");
  EXPECT_EQ(h.Texts(), (Texts{"C", "A", odd, "A"}));
  EXPECT_EQ(list.PositionOf(second), 3);
  EXPECT_NE(list.Id(2), list.Id(4));
  list.Select(3);
  list.Insert(5, "D");
  EXPECT_EQ(list.SelectedIndex(), 3);
  list.SetText(3, "E");
  EXPECT_EQ(list.Text(3), "E");
  EXPECT_EQ(list.PositionOf(second), 3);  // same entry, new text
  list.Remove(3);
  EXPECT_EQ(list.PositionOf(second), 0);
  EXPECT_EQ(list.SelectedIndex(), 0);  // removal selects no other entry
  for (int bad : {0, -1, 5}) {
    EXPECT_THROW(list.Text(bad), Error);
    EXPECT_THROW(list.Remove(bad), Error);
    EXPECT_THROW(list.Select(bad), Error);
  }
  EXPECT_THROW(list.Insert(6, "x"), Error);
  EXPECT_EQ(list.Count(), 4);
  EXPECT_FALSE(list.ItemAt(1)->flags() & Qt::ItemIsEditable);
}

struct ButtonCase {
  const char* name;
  const char* button;
  Texts before;
  int selected;
  Texts after;
  int selectedAfter;
};

void PrintTo(const ButtonCase& c, std::ostream* os) {
  *os << c.name;
}

class MoveButtons : public testing::TestWithParam<ButtonCase> {};

TEST_P(MoveButtons, MoveTheSelectedEntryAndFocusTheList) {
  const ButtonCase& c = GetParam();
  Form1Harness h;
  h.Start();
  h.Fill(c.before, c.selected);
  h.Find<QWidget>("PushButton1")->setFocus();
  h.Click(c.button);
  EXPECT_EQ(h.Texts(), c.after);
  EXPECT_EQ(h.List().SelectedIndex(), c.selectedAfter);
  EXPECT_TRUE(h.List().hasFocus());
  EXPECT_TRUE(h.messages.shown.empty());
}

const Texts kABC{"A", "B", "C"};

// The full table of cases runs against the plain list; these check the widget's
// own selection handling and the focus.
INSTANTIATE_TEST_SUITE_P(
    App, MoveButtons,
    testing::Values(ButtonCase{"UpMiddle", "PushButton5", kABC, 2, {"B", "A", "C"}, 1},
                    ButtonCase{"DownMiddle", "PushButton6", kABC, 2, {"A", "C", "B"}, 3},
                    ButtonCase{"UpTop", "PushButton5", kABC, 1, kABC, 1},
                    ButtonCase{"DownNoSelection", "PushButton6", kABC, 0, kABC, 1}),
    [](const testing::TestParamInfo<ButtonCase>& info) { return info.param.name; });

TEST(ListWidget, DoubleClickRemovesTheEntryAndSelectsNoOther) {
  Form1Harness h;
  h.Start();
  h.Fill({"A", "B", "C", "D"});
  DoubleClickAt(h.List(), h.RowCentre(2));
  EXPECT_EQ(h.Texts(), (Texts{"A", "C", "D"}));
  EXPECT_EQ(h.List().SelectedIndex(), 0);

  // On empty list space the double-click's first click already clears the
  // selection, so nothing goes.
  h.List().Select(3);
  const QPoint belowRows(10, h.List().viewport()->height() - 5);
  ASSERT_EQ(h.List().itemAt(belowRows), nullptr);
  DoubleClickAt(h.List(), belowRows);
  EXPECT_EQ(h.Texts(), (Texts{"A", "C", "D"}));

  // The command takes the selected entry, not the one under the pointer.
  h.List().Select(1);
  h.form->OnRemove();
  EXPECT_EQ(h.Texts(), (Texts{"C", "D"}));
  h.form->OnRemove();
  EXPECT_EQ(h.Texts(), (Texts{"C", "D"}));

  h.List().Remove(2);
  DoubleClickAt(h.List(), h.RowCentre(1));
  EXPECT_EQ(h.List().Count(), 0);
}

// The Delete key removes the selected entry and selects the one that took its place (the
// last at the end), so that it can be pressed again and again; Shift+Delete does nothing.
TEST(ListWidget, DeleteKeyRemovesEntryAfterEntry) {
  Form1Harness h;
  h.Start();
  h.Fill({"A", "B", "C", "D"});
  QTest::mouseClick(h.List().viewport(), Qt::LeftButton, {}, h.RowCentre(2));
  ASSERT_TRUE(h.List().hasFocus());
  QTest::keyClick(&h.List(), Qt::Key_Delete, Qt::ShiftModifier);
  EXPECT_EQ(h.Texts(), (Texts{"A", "B", "C", "D"}));
  const std::vector<std::pair<Texts, int>> presses = {
      {{"A", "C", "D"}, 2}, {{"A", "D"}, 2}, {{"A"}, 1}, {{}, 0}, {{}, 0}};
  for (const auto& [texts, selected] : presses) {
    QTest::keyClick(&h.List(), Qt::Key_Delete);
    EXPECT_EQ(h.Texts(), texts);
    EXPECT_EQ(h.List().SelectedIndex(), selected);
  }
}

TEST(AddFiles, AppendsTheDialogsSelection) {
  Form1Harness h;
  h.Start();
  h.Fill({"/old.xml"});
  h.dialogs.fileAnswers = {{"/", "b.xml", "a.xml"}, {}, {"/data/one.xml"}};
  for (int i = 0; i < 3; ++i) h.Click("PushButton1");
  EXPECT_EQ(h.Texts(), (Texts{"/old.xml", "/b.xml", "/a.xml", "/data/one.xml"}));
  ASSERT_EQ(h.dialogs.shown.size(), 3u);
  EXPECT_EQ(h.dialogs.shown[0].title, "Add File(s) - Hold Ctrl to select multiple files");
  EXPECT_EQ(h.dialogs.shown[0].filter, AddFilesFilter());
  EXPECT_TRUE(h.messages.shown.empty());
}

}  // namespace
}  // namespace palomet
