#pragma once

// Internal to the engine: a sheet's cells kept in memory for reading back, compactly.
//
// A cell costs a one-byte tag (its type and decimals) and an eight-byte value (the number,
// or where its text lies in the sheet's text arena); its position costs nothing of its own.
// Positions are kept by runs: a run is a stretch of adjacent columns of one row, so the
// row of a table is one run of 16 bytes for all its fields. Cells are kept in row-then-column
// order, which is how the import writes them; a write that goes back waits aside until the
// next read puts everything in order again.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string_view>
#include <vector>

#include "office/xl/CellTyping.h"

namespace palomet::xl::detail {

using CellVisitor = std::function<void(const CellRec&, std::string_view text)>;

// Bytes that every in-memory store of the process holds, for its cells and their texts.
std::size_t MemoryStoreBytes();

// An array that grows in chunks of 4,096 elements, so growing never copies a large array
// nor leaves half of one unused; the first chunk starts small and doubles until full, so a
// small sheet stays small.
template <typename T>
class Chunked {
 public:
  static constexpr std::size_t kBits = 12;
  static constexpr std::size_t kChunk = std::size_t{1} << kBits;

  T& operator[](std::size_t i) { return chunks_[i >> kBits][i & (kChunk - 1)]; }
  const T& operator[](std::size_t i) const { return chunks_[i >> kBits][i & (kChunk - 1)]; }
  std::size_t Size() const { return size_; }
  bool Empty() const { return size_ == 0; }
  T& Back() { return (*this)[size_ - 1]; }
  const T& Back() const { return (*this)[size_ - 1]; }
  void Push(const T& value) {
    if (size_ == capacity_) Grow();
    (*this)[size_++] = value;
  }
  std::size_t Bytes() const {
    return capacity_ * sizeof(T) + chunks_.capacity() * sizeof(chunks_[0]);
  }

 private:
  void Grow();

  std::vector<std::unique_ptr<T[]>> chunks_;
  std::size_t size_ = 0;
  std::size_t capacity_ = 0;
};

class MemoryStore {
 public:
  MemoryStore() = default;
  ~MemoryStore();
  MemoryStore(const MemoryStore&) = delete;
  MemoryStore& operator=(const MemoryStore&) = delete;

  // Records a cell; an Empty record erases whatever the position held.
  void Put(const CellRec& rec, std::string_view text);
  // The cell at 0-based `row`, `col` into `rec` (and a text cell's text into `text`);
  // false when the position holds nothing.
  bool Find(std::uint32_t row, std::uint16_t col, CellRec& rec, std::string_view& text) const;
  std::size_t Count() const;
  std::int64_t UsedRows() const;
  std::int64_t UsedColumns() const;
  // The first row and the leftmost column holding a cell, 1-based (0 when empty).
  std::int64_t FirstRow() const;
  std::int64_t FirstColumn() const;
  // Every cell in row-then-column order.
  void ForEach(const CellVisitor& visit) const;
  // Bytes held for the cells besides their texts: tags, values, runs, writes waiting.
  std::size_t CellBytes() const;
  // Bytes of text written (an overwritten text keeps its bytes).
  std::size_t TextBytes() const { return textBytes_; }
  // Everything the store holds, as MemoryStoreBytes() counts it.
  std::size_t HeldBytes() const;

 private:
  struct Run {
    std::uint32_t row;
    std::uint16_t col;    // the first column
    std::uint16_t count;  // columns in the run (a sheet has 16,384)
    std::uint64_t first;  // index of the first column's tag and value
  };
  // Cells in row-then-column order.
  struct Cells {
    Chunked<Run> runs;
    Chunked<std::uint8_t> tags;  // Tag(); 0 for a place in a run that holds nothing
    Chunked<std::uint64_t> values;
    // Adds a cell after the last one.
    void Append(std::uint32_t row, std::uint16_t col, std::uint8_t tag, std::uint64_t value);
    // The index of the cell at `row`, `col`, or -1 when no run covers it.
    std::int64_t Locate(std::uint32_t row, std::uint16_t col) const;
    std::size_t Bytes() const { return runs.Bytes() + tags.Bytes() + values.Bytes(); }
  };
  // A write that goes back, with its text already in the arena.
  struct Aside {
    std::uint32_t row;
    std::uint16_t col;
    std::uint8_t tag;
    std::uint64_t value;
  };

  std::uint64_t StoreText(std::string_view text);
  std::string_view TextOf(std::uint64_t value) const;
  std::uint64_t ValueOf(const CellRec& rec, std::string_view text);
  CellRec RecordOf(std::uint32_t row, std::uint16_t col, std::uint8_t tag,
                   std::uint64_t value) const;
  void Widen(std::uint32_t row, std::uint16_t col) const;
  // Merges the writes kept aside into the cells, dropping the emptied places.
  void Normalize() const;
  // Counts the cells and their bounds afresh after cells were emptied.
  void Recount() const;
  // Tells MemoryStoreBytes() of what the store holds now.
  void Account() const;

  mutable Cells cells_;
  mutable std::vector<Aside> aside_;
  std::vector<std::unique_ptr<char[]>> text_;  // the arena's chunks
  std::vector<std::uint32_t> textSizes_;       // each chunk's size
  std::size_t textUsed_ = 0;                   // bytes used in the last chunk
  std::size_t textBytes_ = 0;
  std::size_t textHeld_ = 0;
  mutable std::size_t count_ = 0;  // cells holding a value (writes kept aside not counted)
  mutable bool stale_ = false;     // cells were emptied: count and bounds need Recount()
  mutable std::uint32_t minRow_ = 0, maxRow_ = 0;
  mutable std::uint16_t minCol_ = 0, maxCol_ = 0;
  mutable std::size_t accounted_ = 0;  // what MemoryStoreBytes() has of this store
};

}  // namespace palomet::xl::detail

namespace palomet::xl::detail {

template <typename T>
void Chunked<T>::Grow() {
  if (capacity_ < kChunk) {  // the first chunk doubles, copied, until it is full
    const std::size_t n = capacity_ ? capacity_ * 2 : 16;
    auto grown = std::make_unique_for_overwrite<T[]>(n);
    for (std::size_t i = 0; i < size_; ++i) grown[i] = chunks_[0][i];
    if (chunks_.empty()) {
      chunks_.push_back(std::move(grown));
    } else {
      chunks_[0] = std::move(grown);
    }
    capacity_ = n;
  } else {
    chunks_.push_back(std::make_unique_for_overwrite<T[]>(kChunk));
    capacity_ += kChunk;
  }
}

}  // namespace palomet::xl::detail
