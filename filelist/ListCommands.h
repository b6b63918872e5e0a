#pragma once

#include "filelist/FileList.h"

namespace palomet {

// The three commands that act on the selected entry of the file list. Each runs
// its steps in order; a step that fails (most often because no entry is selected)
// is skipped silently and the command goes on with the next step, so none of them
// ever throws or reports anything. Giving the list the keyboard focus afterwards is
// the window's part.

// Exchanges the selected entry with the one above it; the moved entry (a new entry
// with the same text) stays selected. Nothing happens for the top entry, with no
// selection or on an empty list.
void MoveUp(FileList& list);

// Exchanges the selected entry with the one below it; the moved entry stays
// selected. Nothing happens for the bottom entry or on an empty list. With entries
// but none selected nothing moves, and the first entry ends up selected.
void MoveDown(FileList& list);

// Removes the selected entry and selects no other; nothing happens when none is
// selected.
void RemoveSelected(FileList& list);

// The Delete key's removal: the selected entry goes as with RemoveSelected, and the entry
// that took its place is selected (the new last one when the last went), so that the next
// press removes the next entry, as in a file manager. Nothing happens when none is selected.
void RemoveSelectedAndSelectNext(FileList& list);

}  // namespace palomet
