#include <gtest/gtest.h>

#include "filelist/FileList.h"
#include "office/Error.h"

namespace palomet {
namespace {

TEST(PlainFileList, InsertAndRemoveShiftPositionsAndMakeNewEntries) {
  PlainFileList list;
  list.Add("A");
  list.Add("B");
  list.Add("A");  // duplicates are separate entries
  const EntryId b = list.Id(2);
  list.Insert(1, "C");
  EXPECT_EQ(list.Texts(), (std::vector<std::string>{"C", "A", "B", "A"}));
  EXPECT_EQ(list.PositionOf(b), 3);
  list.Insert(5, "D");  // one past the end appends
  EXPECT_EQ(list.Text(5), "D");
  list.Remove(3);
  EXPECT_EQ(list.PositionOf(b), 0);
  EXPECT_NE(list.Id(2), list.Id(3));
}

TEST(PlainFileList, SelectionFollowsTheEntryAndClearsWhenItLeaves) {
  PlainFileList list;
  EXPECT_EQ(list.SelectedIndex(), 0);
  list.Add("A");
  list.Add("B");
  list.Select(2);
  list.Insert(1, "Z");
  EXPECT_EQ(list.SelectedIndex(), 3);
  list.Remove(3);
  EXPECT_EQ(list.SelectedIndex(), 0);
}

TEST(PlainFileList, PositionsOutOfRangeThrow) {
  PlainFileList list;
  list.Add("A");
  EXPECT_THROW(list.Text(0), Error);
  EXPECT_THROW(list.Text(2), Error);
  EXPECT_THROW(list.Remove(2), Error);
  EXPECT_THROW(list.Insert(3, "x"), Error);
  EXPECT_THROW(list.Select(0), Error);
}

}  // namespace
}  // namespace palomet
