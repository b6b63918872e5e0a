#pragma once

// Internal to the engine: where a sheet's cells live. MemoryStore (MemoryStore.h) keeps them
// compactly in memory for reading back; SpillStore streams them to a temporary file
// (write-through). Both hand their cells out in row-then-column order for the .xlsx writer.

#include <functional>
#include <memory>
#include <string_view>
#include <vector>

#include "office/Files.h"
#include "office/xl/CellTyping.h"
#include "office/xl/MemoryStore.h"

namespace palomet::xl::detail {

// The temporary file that the write-through sheets of one workbook share: one descriptor
// and one write buffer however many sheets there are, so a workbook of thousands of sheets
// needs neither thousands of open files nor a buffer each. Bytes are only ever appended.
class SpillFile {
 public:
  SpillFile() = default;
  ~SpillFile();
  SpillFile(const SpillFile&) = delete;
  SpillFile& operator=(const SpillFile&) = delete;

  // Appends `n` bytes; returns the offset in the file where they begin.
  std::uint64_t Append(const void* data, std::size_t n);
  // Reads up to `n` bytes at `offset` (everything appended so far is readable); returns
  // the bytes read.
  std::size_t Read(std::uint64_t offset, char* into, std::size_t n) const;

 private:
  static constexpr std::size_t kBuffer = std::size_t{1} << 20;
  void Flush() const;

  mutable FilePtr file_;               // an unlinked temporary file, made on the first flush
  mutable int fd_ = -1;                // its descriptor
  mutable std::vector<char> pending_;  // appended, not yet written
  mutable std::uint64_t written_ = 0;  // bytes in the file
};

// A write-through sheet's cells: records (followed, for text, by its bytes) appended to the
// workbook's shared file. The sheet remembers the stretches of the file that are its own;
// a sheet written in one go, as the import writes them, has a single stretch.
class SpillStore {
 public:
  explicit SpillStore(std::shared_ptr<SpillFile> file);

  // Appends a cell after the last one; false (nothing written) when the cell does not
  // come after it, so the caller moves the cells into memory.
  bool Append(const CellRec& rec, std::string_view text);
  void ForEach(const CellVisitor& visit) const;
  // Copies every cell into `store`.
  void MoveTo(MemoryStore& store) const;
  std::size_t Count() const { return count_; }
  std::size_t TextBytes() const { return textBytes_; }
  std::int64_t UsedRows() const { return count_ ? std::int64_t{lastRow_} + 1 : 0; }
  std::int64_t UsedColumns() const { return count_ ? std::int64_t{maxCol_} + 1 : 0; }
  std::int64_t FirstRow() const { return count_ ? std::int64_t{firstRow_} + 1 : 0; }
  std::int64_t FirstColumn() const { return count_ ? std::int64_t{minCol_} + 1 : 0; }

 private:
  struct Extent {
    std::uint64_t offset;
    std::uint64_t bytes;
  };
  void Put(const void* data, std::size_t n);

  std::shared_ptr<SpillFile> file_;
  std::vector<Extent> extents_;
  std::uint64_t bytes_ = 0;  // in all extents
  std::size_t count_ = 0;
  std::size_t textBytes_ = 0;
  std::uint64_t lastKey_ = 0;
  std::uint32_t lastRow_ = 0;
  std::uint32_t firstRow_ = 0;
  std::uint16_t maxCol_ = 0;
  std::uint16_t minCol_ = 0;
};

}  // namespace palomet::xl::detail
