#pragma once

#include "filelist/FileList.h"
#include "filelist/WindowHost.h"

namespace palomet {

// The list's own pointer during a drag (apart from the window pointer).
// The list's pointer while an entry is dragged.
enum class ListPointer {
  Arrow = 1,
  Image = 99,  // the drag image "drag.ico" from the program folder
};

// What dragging needs of the list control beyond its entries.
class DragListView {
 public:
  virtual ~DragListView() = default;
  // Scrolls the list, if need be, so that the entry at `position` can be seen.
  virtual void EnsureVisible(int position) = 0;
  // Sets the list's pointer. ListPointer::Image reads the drag image afresh each
  // time; when it is missing or unreadable the list keeps the pointer it had.
  virtual void SetListPointer(ListPointer value) = 0;
};

// Reordering the list by dragging an entry: the dragged path swaps places with each
// entry the pointer moves onto while a button is held, and the selection follows it.
// The handlers expect, for one press on an entry, OnMouseDown, then OnEntryPress (by
// which time the pressed entry is selected), then any OnMouseMove, then OnMouseUp.
class DragReorder {
 public:
  // Screen limits in pixels: an exchange made with the pointer's screen y below
  // kScrollUpBelowY (high on the screen) scrolls the entry before the target into
  // view, one with y above kScrollDownAboveY the entry after it.
  static constexpr int kScrollUpBelowY = 305;
  static constexpr int kScrollDownAboveY = 364;

  DragReorder(FileList& list, DragListView& view) : list_(list), view_(view) {}

  // A press on an entry: the drag image on the list, and the selected entry becomes
  // the one whose path is dragged (none when nothing is selected).
  void OnEntryPress();
  // Any button pressed anywhere on the list.
  void OnMouseDown() { dragging_ = true; }
  // The pointer moved over the list. `target` is the position of the entry under it,
  // 0 for none; `screenY` is the pointer's vertical screen coordinate in pixels. The
  // window pointer goes back to the default unless it is busy.
  void OnMouseMove(WindowHost& host, int target, int screenY);
  // Any button released: the drag ends, the list shows the arrow. The dragged entry
  // is kept, so a later press on empty space goes on moving it.
  void OnMouseUp();

  bool Dragging() const { return dragging_; }
  // The entry that holds the dragged path; 0 before the first entry press.
  EntryId DragItem() const { return dragItem_; }

 private:
  FileList& list_;
  DragListView& view_;
  bool dragging_ = false;
  EntryId dragItem_ = 0;
};

}  // namespace palomet
