#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace palomet {

// Identity of one list entry. Every Add or Insert makes a new entry with a new id,
// so a moved entry (inserted anew, the old one removed) is a different entry.
using EntryId = std::uint64_t;

// The ordered list of files the next import run processes. Positions run from 1
// to Count(); display order is import order; duplicates are allowed and nothing
// is ever sorted. The window's list control implements it with its own items, the
// command line and the tests with PlainFileList. Positions out of range throw Error.
class FileList {
 public:
  virtual ~FileList() = default;

  virtual int Count() const = 0;
  virtual std::string Text(int position) const = 0;
  virtual void SetText(int position, const std::string& text) = 0;
  // Appends a new entry after the last one.
  virtual void Add(const std::string& text) = 0;
  // Inserts a new entry so that it takes `position` (1 .. Count() + 1).
  virtual void Insert(int position, const std::string& text) = 0;
  virtual void Remove(int position) = 0;

  virtual EntryId Id(int position) const = 0;
  // The entry's current position, or 0 when it has left the list.
  virtual int PositionOf(EntryId id) const = 0;

  // The selected entry's position, 0 when none is selected.
  virtual int SelectedIndex() const = 0;
  virtual void Select(int position) = 0;
};

// A list held in memory, for the command line and for tests.
class PlainFileList : public FileList {
 public:
  int Count() const override;
  std::string Text(int position) const override;
  void SetText(int position, const std::string& text) override;
  void Add(const std::string& text) override;
  void Insert(int position, const std::string& text) override;
  void Remove(int position) override;
  EntryId Id(int position) const override;
  int PositionOf(EntryId id) const override;
  int SelectedIndex() const override;
  void Select(int position) override;

  std::vector<std::string> Texts() const;

 private:
  struct Entry {
    EntryId id;
    std::string text;
  };
  const Entry& At(int position) const;
  std::vector<Entry> entries_;
  EntryId nextId_ = 1;
  EntryId selected_ = 0;
};

}  // namespace palomet
