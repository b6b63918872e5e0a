#include "filelist/DragReorder.h"

namespace palomet {

void DragReorder::OnEntryPress() {
  view_.SetListPointer(ListPointer::Image);
  const int selected = list_.SelectedIndex();
  dragItem_ = selected == 0 ? 0 : list_.Id(selected);
}

void DragReorder::OnMouseMove(WindowHost& host, int target, int screenY) {
  if (host.MousePointer() != Pointer::Busy) host.SetMousePointer(Pointer::Default);
  if (!dragging_ || dragItem_ == 0) return;
  if (target < 1 || target > list_.Count()) return;  // off the entries
  // An entry removed or replaced by a move command since it was dragged is gone.
  const int from = list_.PositionOf(dragItem_);
  if (from == 0) return;

  const std::string dragged = list_.Text(from);
  const std::string other = list_.Text(target);
  if (dragged == other) return;  // the dragged entry itself, or one with the same path

  list_.SetText(from, other);
  list_.SetText(target, dragged);
  list_.Select(target);
  dragItem_ = list_.Id(target);

  if (screenY < kScrollUpBelowY) {
    if (target >= 2) view_.EnsureVisible(target - 1);
  } else if (screenY > kScrollDownAboveY) {
    if (target + 1 <= list_.Count()) view_.EnsureVisible(target + 1);
  }
}

void DragReorder::OnMouseUp() {
  dragging_ = false;
  view_.SetListPointer(ListPointer::Arrow);
}

}  // namespace palomet
