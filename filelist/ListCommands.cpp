#include "filelist/ListCommands.h"

#include <algorithm>

#include "office/Error.h"

namespace palomet {

namespace {

// Runs one step of a list command: a failing step is skipped and the command
// goes on, leaving whatever the step was to produce as it was.
template <typename Step>
void TryStep(Step step) {
  try {
    step();
  } catch (const Error&) {
  }
}

// The selected entry's position; fails when no entry is selected.
int SelectedPosition(const FileList& list) {
  const int i = list.SelectedIndex();
  if (i == 0) throw Error(errnum::kGeneric, "No list entry is selected.");
  return i;
}

std::string SelectedText(const FileList& list) {
  return list.Text(SelectedPosition(list));
}

}  // namespace

void MoveUp(FileList& list) {
  int i = 0;
  TryStep([&] { i = SelectedPosition(list); });
  if (i <= 1) return;
  TryStep([&] { list.Insert(i - 1, SelectedText(list)); });
  TryStep([&] { list.Remove(i + 1); });
  TryStep([&] { list.Select(i - 1); });
}

void MoveDown(FileList& list) {
  int i = 0;
  TryStep([&] { i = SelectedPosition(list); });
  if (i >= list.Count()) return;
  TryStep([&] { list.Insert(i + 2, SelectedText(list)); });
  TryStep([&] { list.Remove(i); });
  TryStep([&] { list.Select(i + 1); });
}

void RemoveSelected(FileList& list) {
  TryStep([&] { list.Remove(SelectedPosition(list)); });
}

void RemoveSelectedAndSelectNext(FileList& list) {
  int i = 0;
  TryStep([&] { i = SelectedPosition(list); });
  if (i == 0) return;
  TryStep([&] { list.Remove(i); });
  if (list.Count() > 0) TryStep([&] { list.Select(std::min(i, list.Count())); });
}

}  // namespace palomet
