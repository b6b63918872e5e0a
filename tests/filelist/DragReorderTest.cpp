#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "filelist/DragReorder.h"

namespace palomet {
namespace {

using Texts = std::vector<std::string>;

class FakeDragView : public DragListView {
 public:
  void EnsureVisible(int position) override { ensured.push_back(position); }
  void SetListPointer(int value) override { listPointer = value; }
  std::vector<int> ensured;
  int listPointer = 0;
};

constexpr int kMidScreen = 330;  // between the scroll limits: nothing scrolls

class Dragging : public ::testing::Test {
 protected:
  void Fill(const Texts& texts) {
    for (const auto& t : texts) list_.Add(t);
  }
  // A press on the entry at `position`: the list selects it, then reports the press.
  void PressEntry(int position) {
    drag_.OnMouseDown();
    list_.Select(position);
    drag_.OnEntryPress();
  }
  void MoveTo(int target, int screenY = kMidScreen) { drag_.OnMouseMove(host_, target, screenY); }

  PlainFileList list_;
  FakeDragView view_;
  NoWindowHost host_;
  DragReorder drag_{list_, view_};
};

TEST_F(Dragging, ThePathTravelsWithThePointerAndTheSelectionFollows) {
  const struct {
    const char* what;
    Texts start;
    int pressed;
    std::vector<int> moves;  // entries under the pointer, 0 = off the entries
    Texts result;
    int selected;
  } cases[] = {
      {"slowly down", {"A", "B", "C", "D"}, 1, {2, 3, 4}, {"B", "C", "D", "A"}, 4},
      {"a jump", {"A", "B", "C", "D"}, 1, {4}, {"D", "B", "C", "A"}, 4},
      {"down and back", {"A", "B", "C", "D"}, 1, {2, 3, 2, 1}, {"A", "B", "C", "D"}, 1},
      {"slowly up", {"A", "B", "C", "D"}, 4, {3, 2, 1}, {"D", "A", "B", "C"}, 1},
      {"resting on one entry", {"A", "B", "C", "D"}, 1, {2, 2, 2}, {"B", "A", "C", "D"}, 2},
      {"off and on again", {"A", "B", "C", "D"}, 1, {0, 2, 0, 5, -1, 3}, {"B", "C", "A", "D"}, 3},
      {"over its own entry", {"A", "B", "C", "D"}, 2, {2}, {"A", "B", "C", "D"}, 2},
      {"past an equal path", {"A", "B", "A", "C"}, 1, {2, 3, 4}, {"B", "C", "A", "A"}, 4},
      {"letter case differs", {"a", "A"}, 1, {2}, {"A", "a"}, 2},
  };
  for (const auto& c : cases) {
    PlainFileList list;
    FakeDragView view;
    NoWindowHost host;
    DragReorder drag(list, view);
    for (const auto& t : c.start) list.Add(t);
    drag.OnMouseDown();
    list.Select(c.pressed);
    drag.OnEntryPress();
    for (int target : c.moves) drag.OnMouseMove(host, target, kMidScreen);
    drag.OnMouseUp();
    EXPECT_EQ(list.Texts(), c.result) << c.what;
    EXPECT_EQ(list.SelectedIndex(), c.selected) << c.what;
    EXPECT_EQ(list.PositionOf(drag.DragItem()), c.selected) << c.what;
    EXPECT_TRUE(view.ensured.empty()) << c.what;
  }
}

TEST_F(Dragging, ScrollsOnlyAtAnExchangeNearTheScreenEdges) {
  const struct {
    int pressed, target, screenY;
    std::vector<int> ensured;
  } cases[] = {
      {3, 2, 304, {1}}, {3, 2, 305, {}}, {2, 3, 364, {}},   {2, 3, 365, {4}}, {2, 1, 304, {}},
      {4, 5, 365, {}},  {4, 5, 0, {4}},  {2, 1, 2000, {2}}, {3, 3, 0, {}},  // over its own entry:
                                                                            // no exchange, no
                                                                            // scrolling
  };
  for (const auto& c : cases) {
    PlainFileList list;
    FakeDragView view;
    NoWindowHost host;
    DragReorder drag(list, view);
    for (const char* t : {"A", "B", "C", "D", "E"}) list.Add(t);
    drag.OnMouseDown();
    list.Select(c.pressed);
    drag.OnEntryPress();
    drag.OnMouseMove(host, c.target, c.screenY);
    EXPECT_EQ(view.ensured, c.ensured) << c.target << " at y " << c.screenY;
  }
}

TEST_F(Dragging, NothingMovesWithoutADraggedEntryOrWithoutAHeldButton) {
  Fill({"A", "B", "C"});
  drag_.OnMouseDown();  // a press before any entry press
  MoveTo(2);
  MoveTo(3);
  drag_.OnEntryPress();  // an entry press with nothing selected
  MoveTo(1);
  EXPECT_EQ(list_.Texts(), (Texts{"A", "B", "C"}));

  PressEntry(1);
  drag_.OnMouseUp();
  EXPECT_FALSE(drag_.Dragging());
  MoveTo(3);  // moving with the button up
  EXPECT_EQ(list_.Texts(), (Texts{"A", "B", "C"}));
}

TEST_F(Dragging, APressOnEmptySpaceGoesOnMovingTheLastDraggedPath) {
  Fill({"A", "B", "C", "D"});
  PressEntry(1);
  MoveTo(2);
  drag_.OnMouseUp();
  drag_.OnMouseDown();  // on empty space: no entry press
  MoveTo(3);
  MoveTo(4);
  EXPECT_EQ(list_.Texts(), (Texts{"B", "C", "D", "A"}));
}

TEST_F(Dragging, ADraggedEntryThatLeftTheListExchangesNothing) {
  Fill({"A", "B", "C", "D"});
  PressEntry(2);
  list_.Remove(2);  // removed by a double-click meanwhile
  MoveTo(1);
  MoveTo(3);
  EXPECT_EQ(list_.Texts(), (Texts{"A", "C", "D"}));

  PressEntry(2);
  list_.Insert(1, list_.Text(2));  // replaced by "Move Up": a new entry, the old one gone
  list_.Remove(3);
  MoveTo(2);
  MoveTo(3);
  EXPECT_EQ(list_.Texts(), (Texts{"C", "A", "D"}));
}

TEST_F(Dragging, ListAndWindowPointers) {
  Fill({"A", "B"});
  PressEntry(1);
  EXPECT_EQ(view_.listPointer, listpointer::kImage);
  EXPECT_TRUE(drag_.Dragging());
  drag_.OnMouseUp();
  EXPECT_EQ(view_.listPointer, listpointer::kArrow);

  // Every move over the list returns the window pointer to the default, unless busy.
  host_.SetMousePointer(pointer::kImage);
  MoveTo(0);
  EXPECT_EQ(host_.MousePointer(), pointer::kDefault);
  host_.SetMousePointer(pointer::kBusy);
  PressEntry(1);
  MoveTo(2);
  EXPECT_EQ(host_.MousePointer(), pointer::kBusy);
  EXPECT_EQ(list_.Texts(), (Texts{"B", "A"}));  // a busy scan doesn't stop the drag
}

}  // namespace
}  // namespace palomet
