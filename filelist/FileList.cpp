#include "filelist/FileList.h"

#include <algorithm>

#include "office/Error.h"

namespace palomet {

namespace {
[[noreturn]] void ThrowBadPosition(int position) {
  throw Error(errnum::kGeneric, "Index out of bounds: there is no list entry " +
                                    std::to_string(position) + ".");
}
}  // namespace

const PlainFileList::Entry& PlainFileList::At(int position) const {
  if (position < 1 || position > Count()) ThrowBadPosition(position);
  return entries_[static_cast<std::size_t>(position - 1)];
}

int PlainFileList::Count() const { return static_cast<int>(entries_.size()); }

std::string PlainFileList::Text(int position) const { return At(position).text; }

void PlainFileList::SetText(int position, const std::string& text) {
  const_cast<Entry&>(At(position)).text = text;
}

void PlainFileList::Add(const std::string& text) { entries_.push_back({nextId_++, text}); }

void PlainFileList::Insert(int position, const std::string& text) {
  if (position < 1 || position > Count() + 1) ThrowBadPosition(position);
  entries_.insert(entries_.begin() + (position - 1), Entry{nextId_++, text});
}

void PlainFileList::Remove(int position) {
  const EntryId id = At(position).id;
  entries_.erase(entries_.begin() + (position - 1));
  if (selected_ == id) selected_ = 0;
}

EntryId PlainFileList::Id(int position) const { return At(position).id; }

int PlainFileList::PositionOf(EntryId id) const {
  auto it = std::find_if(entries_.begin(), entries_.end(),
                         [id](const Entry& e) { return e.id == id; });
  return it == entries_.end() ? 0 : static_cast<int>(it - entries_.begin()) + 1;
}

int PlainFileList::SelectedIndex() const { return selected_ == 0 ? 0 : PositionOf(selected_); }

void PlainFileList::Select(int position) { selected_ = At(position).id; }

std::vector<std::string> PlainFileList::Texts() const {
  std::vector<std::string> out;
  out.reserve(entries_.size());
  for (const auto& e : entries_) out.push_back(e.text);
  return out;
}

}  // namespace palomet
