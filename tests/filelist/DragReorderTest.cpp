#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "filelist/DragReorder.h"

namespace palomet {
namespace {

using Texts = std::vector<std::string>;
constexpr int kMidScreen = 330;  // between the scroll limits: nothing scrolls

// A list with its drag handlers, driven in the order the window reports a press.
struct Rig : DragListView {
  explicit Rig(const Texts& texts) {
    for (const auto& t : texts) list.Add(t);
  }
  void EnsureVisible(int position) override { ensured.push_back(position); }
  void SetListPointer(ListPointer value) override { listPointer = value; }

  void PressEntry(int position) {
    drag.OnMouseDown();
    list.Select(position);  // the list selects the pressed entry first
    drag.OnEntryPress();
  }
  void MoveTo(int target, int screenY = kMidScreen) { drag.OnMouseMove(host, target, screenY); }

  PlainFileList list;
  NoWindowHost host;
  DragReorder drag{list, *this};
  std::vector<int> ensured;
  ListPointer listPointer = ListPointer::Arrow;
};

TEST(Dragging, ThePathTravelsWithThePointerAndTheSelectionFollows) {
  const struct {
    const char* what;
    Texts start;
    int pressed;
    std::vector<int> moves;  // entries under the pointer; 0, -1 or past the end: none
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
    Rig rig(c.start);
    rig.PressEntry(c.pressed);
    for (int target : c.moves) rig.MoveTo(target);
    rig.drag.OnMouseUp();
    EXPECT_EQ(rig.list.Texts(), c.result) << c.what;
    EXPECT_EQ(rig.list.SelectedIndex(), c.selected) << c.what;
    EXPECT_EQ(rig.list.PositionOf(rig.drag.DragItem()), c.selected) << c.what;
    EXPECT_TRUE(rig.ensured.empty()) << c.what;
  }
}

TEST(Dragging, ScrollsOnlyAtAnExchangeNearTheScreenEdges) {
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
    Rig rig({"A", "B", "C", "D", "E"});
    rig.PressEntry(c.pressed);
    rig.MoveTo(c.target, c.screenY);
    EXPECT_EQ(rig.ensured, c.ensured) << c.target << " at y " << c.screenY;
  }
}

TEST(Dragging, NothingMovesWithoutADraggedEntryOrWithoutAHeldButton) {
  Rig rig({"A", "B", "C"});
  rig.drag.OnMouseDown();  // a press before any entry press
  rig.MoveTo(2);
  rig.drag.OnEntryPress();  // an entry press with nothing selected
  rig.MoveTo(1);
  rig.PressEntry(1);
  rig.drag.OnMouseUp();
  EXPECT_FALSE(rig.drag.Dragging());
  rig.MoveTo(3);  // moving with the button up
  EXPECT_EQ(rig.list.Texts(), (Texts{"A", "B", "C"}));
}

TEST(Dragging, APressOnEmptySpaceGoesOnMovingTheLastDraggedPath) {
  Rig rig({"A", "B", "C", "D"});
  rig.PressEntry(1);
  rig.MoveTo(2);
  rig.drag.OnMouseUp();
  rig.drag.OnMouseDown();  // on empty space: no entry press
  rig.MoveTo(3);
  rig.MoveTo(4);
  EXPECT_EQ(rig.list.Texts(), (Texts{"B", "C", "D", "A"}));
}

TEST(Dragging, ADraggedEntryThatLeftTheListExchangesNothing) {
  Rig rig({"A", "B", "C", "D"});
  rig.PressEntry(2);
  rig.list.Remove(2);  // removed by a double-click meanwhile
  rig.MoveTo(1);
  rig.MoveTo(3);
  EXPECT_EQ(rig.list.Texts(), (Texts{"A", "C", "D"}));

  rig.PressEntry(2);
  rig.list.Insert(1, rig.list.Text(2));  // "Move Up": a new entry, the old one gone
  rig.list.Remove(3);
  rig.MoveTo(2);
  rig.MoveTo(3);
  EXPECT_EQ(rig.list.Texts(), (Texts{"C", "A", "D"}));
}

TEST(Dragging, ListAndWindowPointers) {
  Rig rig({"A", "B"});
  rig.PressEntry(1);
  EXPECT_EQ(rig.listPointer, ListPointer::Image);
  rig.drag.OnMouseUp();
  EXPECT_EQ(rig.listPointer, ListPointer::Arrow);

  // Every move over the list returns the window pointer to the default, unless busy.
  rig.host.SetMousePointer(Pointer::Image);
  rig.MoveTo(0);
  EXPECT_EQ(rig.host.MousePointer(), Pointer::Default);
  rig.host.SetMousePointer(Pointer::Busy);
  rig.PressEntry(1);
  rig.MoveTo(2);
  EXPECT_EQ(rig.host.MousePointer(), Pointer::Busy);
  EXPECT_EQ(rig.list.Texts(), (Texts{"B", "A"}));  // a busy scan doesn't stop the drag
}

}  // namespace
}  // namespace palomet
