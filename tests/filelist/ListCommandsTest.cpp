#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "filelist/FileList.h"
#include "filelist/ListCommands.h"

namespace palomet {
namespace {

using Texts = std::vector<std::string>;

struct CommandCase {
  const char* name;
  void (*command)(FileList&);
  Texts before;
  int selected;  // 0: none
  Texts after;
  int selectedAfter;
};

void PrintTo(const CommandCase& c, std::ostream* os) {
  *os << c.name;
}

PlainFileList MakeList(const Texts& texts, int selected) {
  PlainFileList list;
  for (const auto& t : texts) list.Add(t);
  if (selected) list.Select(selected);
  return list;
}

class ListCommandTable : public testing::TestWithParam<CommandCase> {};

TEST_P(ListCommandTable, GivesTheListAndSelection) {
  const CommandCase& c = GetParam();
  PlainFileList list = MakeList(c.before, c.selected);
  c.command(list);
  EXPECT_EQ(list.Texts(), c.after);
  EXPECT_EQ(list.SelectedIndex(), c.selectedAfter);
}

const Texts kABC{"A", "B", "C"};

INSTANTIATE_TEST_SUITE_P(
    FileList, ListCommandTable,
    testing::Values(
        CommandCase{"UpMiddle", MoveUp, kABC, 2, {"B", "A", "C"}, 1},
        CommandCase{"UpBottom", MoveUp, kABC, 3, {"A", "C", "B"}, 2},
        CommandCase{"UpTopStays", MoveUp, kABC, 1, kABC, 1},
        CommandCase{"UpNoSelection", MoveUp, kABC, 0, kABC, 0},
        CommandCase{"UpEmpty", MoveUp, {}, 0, {}, 0},
        CommandCase{"DownMiddle", MoveDown, kABC, 2, {"A", "C", "B"}, 3},
        CommandCase{"DownTopOfTwo", MoveDown, {"A", "B"}, 1, {"B", "A"}, 2},
        CommandCase{"DownBottomStays", MoveDown, kABC, 3, kABC, 3},
        // Nothing moves, but the first entry ends up selected.
        CommandCase{"DownNoSelection", MoveDown, kABC, 0, kABC, 1},
        CommandCase{"DownNoSelectionSingle", MoveDown, {"A"}, 0, {"A"}, 1},
        CommandCase{"DownEmpty", MoveDown, {}, 0, {}, 0},
        CommandCase{
            "RemoveMiddleOfFour", RemoveSelected, {"A", "B", "C", "D"}, 2, {"A", "C", "D"}, 0},
        CommandCase{"RemoveOnly", RemoveSelected, {"A"}, 1, {}, 0},
        CommandCase{"RemoveNoSelection", RemoveSelected, kABC, 0, kABC, 0},
        CommandCase{"RemoveEmpty", RemoveSelected, {}, 0, {}, 0},
        // The Delete key selects the entry that took the removed one's place.
        CommandCase{"DeleteMiddle", RemoveSelectedAndSelectNext, kABC, 2, {"A", "C"}, 2},
        CommandCase{"DeleteLast", RemoveSelectedAndSelectNext, kABC, 3, {"A", "B"}, 2},
        CommandCase{"DeleteOnly", RemoveSelectedAndSelectNext, {"A"}, 1, {}, 0},
        CommandCase{"DeleteNoSelection", RemoveSelectedAndSelectNext, kABC, 0, kABC, 0},
        // Equal paths are moved by position, never compared.
        CommandCase{"UpDuplicate", MoveUp, {"A", "B", "A"}, 3, {"A", "A", "B"}, 2},
        CommandCase{"DownDuplicate", MoveDown, {"A", "A", "B"}, 1, {"A", "A", "B"}, 2}),
    [](const testing::TestParamInfo<CommandCase>& info) { return info.param.name; });

TEST(ListCommands, MoveUpRepeatedlyCarriesAnEntryToTheTopAndStops) {
  PlainFileList list = MakeList({"A", "B", "C", "D"}, 4);
  for (int press = 0; press < 5; ++press) MoveUp(list);
  EXPECT_EQ(list.Texts(), (Texts{"D", "A", "B", "C"}));
  EXPECT_EQ(list.SelectedIndex(), 1);
}

TEST(ListCommands, AMoveReplacesTheEntryAndKeepsTheOthers) {
  PlainFileList list = MakeList(kABC, 2);
  const EntryId a = list.Id(1);
  const EntryId b = list.Id(2);
  const EntryId c = list.Id(3);
  MoveDown(list);
  EXPECT_EQ(list.PositionOf(b), 0);  // the moved entry is a new one
  EXPECT_EQ(list.PositionOf(a), 1);
  EXPECT_EQ(list.PositionOf(c), 2);
  EXPECT_EQ(list.Count(), 3);
}

}  // namespace
}  // namespace palomet
