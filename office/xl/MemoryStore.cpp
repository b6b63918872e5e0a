#include "office/xl/MemoryStore.h"

#include <algorithm>
#include <atomic>
#include <bit>
#include <cstring>
#include <stdexcept>

#include "office/xl/Excel.h"

namespace palomet::xl::detail {
namespace {

constexpr auto kText = static_cast<std::uint8_t>(CellType::Text);

// A cell's tag: its type in the low three bits, its decimals above them; 0 is no cell.
static_assert(kMaxDecimals < 32 && static_cast<int>(CellType::DateTime) < 8);
std::uint8_t Tag(const CellRec& rec) {
  return rec.type == 0 ? 0 : static_cast<std::uint8_t>(rec.type | rec.decimals << 3);
}

// Where a text lies: the arena's chunk, the offset in it and the length, in one value.
constexpr unsigned kOffsetBits = 20;
constexpr std::size_t kFirstTextChunk = std::size_t{1} << 12;
constexpr std::size_t kTextChunk = std::size_t{1} << kOffsetBits;  // the largest chunk
static_assert(kTextChunk > 3 * kMaxCellChars, "a chunk holds the longest text of a cell");

// An empty place between two cells of a row costs less than starting a new run.
constexpr std::uint16_t kMaxGap = 1;

std::atomic<std::size_t> heldBytes{0};

}  // namespace

std::size_t MemoryStoreBytes() {
  return heldBytes.load(std::memory_order_relaxed);
}

MemoryStore::~MemoryStore() {
  heldBytes.fetch_sub(accounted_, std::memory_order_relaxed);
}

void MemoryStore::Account() const {
  const std::size_t now = HeldBytes();
  if (now == accounted_) return;
  if (now > accounted_) {
    heldBytes.fetch_add(now - accounted_, std::memory_order_relaxed);
  } else {
    heldBytes.fetch_sub(accounted_ - now, std::memory_order_relaxed);
  }
  accounted_ = now;
}

std::size_t MemoryStore::CellBytes() const {
  return cells_.Bytes() + aside_.capacity() * sizeof(Aside);
}

std::size_t MemoryStore::HeldBytes() const {
  return CellBytes() + textHeld_ + text_.capacity() * sizeof(text_[0]) +
         textSizes_.capacity() * sizeof(textSizes_[0]);
}

// --- texts ----------------------------------------------------------------------------

std::uint64_t MemoryStore::StoreText(std::string_view text) {
  if (text.size() > kLenMask) throw std::length_error("a cell's text is too long to keep");
  if (text_.empty() || textSizes_.back() - textUsed_ < text.size()) {
    const std::size_t next =
        text_.empty() ? kFirstTextChunk : std::min<std::size_t>(textSizes_.back() * 2, kTextChunk);
    const std::size_t size = std::max(next, text.size());
    text_.push_back(std::make_unique_for_overwrite<char[]>(size));
    textSizes_.push_back(static_cast<std::uint32_t>(size));
    textUsed_ = 0;
    textHeld_ += size;
  }
  std::memcpy(text_.back().get() + textUsed_, text.data(), text.size());
  const std::uint64_t where = (std::uint64_t{text_.size() - 1} << (kOffsetBits + kLenBits)) |
                              (std::uint64_t{textUsed_} << kLenBits) | text.size();
  textUsed_ += text.size();
  textBytes_ += text.size();
  return where;
}

std::string_view MemoryStore::TextOf(std::uint64_t value) const {
  const std::size_t chunk = static_cast<std::size_t>(value >> (kOffsetBits + kLenBits));
  const std::size_t offset =
      static_cast<std::size_t>((value >> kLenBits) & ((std::uint64_t{1} << kOffsetBits) - 1));
  return {text_[chunk].get() + offset, static_cast<std::size_t>(value & kLenMask)};
}

std::uint64_t MemoryStore::ValueOf(const CellRec& rec, std::string_view text) {
  return rec.type == kText ? StoreText(text) : std::bit_cast<std::uint64_t>(rec.number);
}

CellRec MemoryStore::RecordOf(std::uint32_t row, std::uint16_t col, std::uint8_t tag,
                              std::uint64_t value) const {
  CellRec rec;
  rec.row = row;
  rec.col = col;
  rec.type = tag & 7;
  rec.decimals = tag >> 3;
  if (rec.type == kText) {
    rec.text = value;
  } else {
    rec.number = std::bit_cast<double>(value);
  }
  return rec;
}

// --- cells in order ---------------------------------------------------------------------

void MemoryStore::Cells::Append(std::uint32_t row, std::uint16_t col, std::uint8_t tag,
                                std::uint64_t value) {
  if (!runs.Empty()) {
    Run& last = runs.Back();
    const std::uint32_t end = std::uint32_t{last.col} + last.count;
    if (last.row == row && col >= end && col - end <= kMaxGap) {
      for (std::uint32_t c = end; c < col; ++c) {
        tags.Push(0);
        values.Push(0);
      }
      tags.Push(tag);
      values.Push(value);
      last.count = static_cast<std::uint16_t>(col - last.col + 1);
      return;
    }
  }
  runs.Push({row, col, 1, tags.Size()});
  tags.Push(tag);
  values.Push(value);
}

std::int64_t MemoryStore::Cells::Locate(std::uint32_t row, std::uint16_t col) const {
  const std::uint64_t key = Key(row, col);
  std::size_t lo = 0, hi = runs.Size();  // the first run that starts after `key`
  while (lo < hi) {
    const std::size_t mid = lo + (hi - lo) / 2;
    if (Key(runs[mid].row, runs[mid].col) <= key) {
      lo = mid + 1;
    } else {
      hi = mid;
    }
  }
  if (lo == 0) return -1;
  const Run& run = runs[lo - 1];
  if (run.row != row || col >= std::uint32_t{run.col} + run.count) return -1;
  return static_cast<std::int64_t>(run.first + (col - run.col));
}

void MemoryStore::Widen(std::uint32_t row, std::uint16_t col) const {
  if (count_ == 0) {
    minRow_ = maxRow_ = row;
    minCol_ = maxCol_ = col;
    return;
  }
  minRow_ = std::min(minRow_, row);
  maxRow_ = std::max(maxRow_, row);
  minCol_ = std::min(minCol_, col);
  maxCol_ = std::max(maxCol_, col);
}

void MemoryStore::Put(const CellRec& rec, std::string_view text) {
  const std::uint8_t tag = Tag(rec);
  const auto& runs = cells_.runs;
  const bool after =
      runs.Empty() ||
      Key(rec) >
          Key(runs.Back().row, static_cast<std::uint16_t>(runs.Back().col + runs.Back().count - 1));
  if (after) {
    if (tag == 0) return;  // nothing there to erase
    const std::uint64_t value = ValueOf(rec, text);
    Widen(rec.row, rec.col);
    ++count_;
    cells_.Append(rec.row, rec.col, tag, value);
  } else if (const std::int64_t at = aside_.empty() ? cells_.Locate(rec.row, rec.col) : -1;
             at >= 0) {
    // A place inside a run: overwritten where it is.
    const auto i = static_cast<std::size_t>(at);
    const std::uint8_t old = cells_.tags[i];
    cells_.values[i] = tag ? ValueOf(rec, text) : 0;
    cells_.tags[i] = tag;
    if (old && !tag) {
      --count_;
      stale_ = true;  // the bounds may have shrunk
    } else if (!old && tag) {
      Widen(rec.row, rec.col);
      ++count_;
    }
  } else {
    aside_.push_back({rec.row, rec.col, tag, tag ? ValueOf(rec, text) : 0});
  }
  Account();
}

void MemoryStore::Normalize() const {
  if (aside_.empty()) {
    if (stale_) Recount();
    return;
  }
  // Writes that go back are rare (the import writes row after row), so a stable sort of
  // them and one merge with the cells in order are good enough; the last write of a
  // position wins.
  std::stable_sort(aside_.begin(), aside_.end(), [](const Aside& a, const Aside& b) {
    return Key(a.row, a.col) < Key(b.row, b.col);
  });
  Cells merged;
  count_ = 0;
  stale_ = false;
  const auto emit = [&](std::uint32_t row, std::uint16_t col, std::uint8_t tag,
                        std::uint64_t value) {
    if (tag == 0) return;
    Widen(row, col);
    ++count_;
    merged.Append(row, col, tag, value);
  };
  std::size_t a = 0;
  // Emits the writes kept aside up to `key` (all when it is UINT64_MAX); true when the
  // last of them was at `key` itself, which then replaces the cell there.
  const auto emitAsideUpTo = [&](std::uint64_t key) {
    bool at = false;
    while (a < aside_.size() && Key(aside_[a].row, aside_[a].col) <= key) {
      const Aside& w = aside_[a++];
      if (a < aside_.size() && Key(aside_[a].row, aside_[a].col) == Key(w.row, w.col)) continue;
      emit(w.row, w.col, w.tag, w.value);
      at = Key(w.row, w.col) == key;
    }
    return at;
  };
  for (std::size_t r = 0; r < cells_.runs.Size(); ++r) {
    const Run& run = cells_.runs[r];
    for (std::uint16_t k = 0; k < run.count; ++k) {
      const auto col = static_cast<std::uint16_t>(run.col + k);
      if (emitAsideUpTo(Key(run.row, col))) continue;
      emit(run.row, col, cells_.tags[run.first + k], cells_.values[run.first + k]);
    }
  }
  emitAsideUpTo(UINT64_MAX);
  cells_ = std::move(merged);
  aside_.clear();
  aside_.shrink_to_fit();
  Account();
}

void MemoryStore::Recount() const {
  count_ = 0;
  for (std::size_t r = 0; r < cells_.runs.Size(); ++r) {
    const Run& run = cells_.runs[r];
    for (std::uint16_t k = 0; k < run.count; ++k) {
      if (cells_.tags[run.first + k] == 0) continue;
      Widen(run.row, static_cast<std::uint16_t>(run.col + k));
      ++count_;
    }
  }
  stale_ = false;
}

bool MemoryStore::Find(std::uint32_t row, std::uint16_t col, CellRec& rec,
                       std::string_view& text) const {
  if (!aside_.empty()) Normalize();
  const std::int64_t at = cells_.Locate(row, col);
  if (at < 0) return false;
  const std::uint8_t tag = cells_.tags[static_cast<std::size_t>(at)];
  if (tag == 0) return false;
  const std::uint64_t value = cells_.values[static_cast<std::size_t>(at)];
  rec = RecordOf(row, col, tag, value);
  if (rec.type == kText) text = TextOf(value);
  return true;
}

std::size_t MemoryStore::Count() const {
  Normalize();
  return count_;
}

std::int64_t MemoryStore::UsedRows() const {
  Normalize();
  return count_ ? std::int64_t{maxRow_} + 1 : 0;
}

std::int64_t MemoryStore::UsedColumns() const {
  Normalize();
  return count_ ? std::int64_t{maxCol_} + 1 : 0;
}

std::int64_t MemoryStore::FirstRow() const {
  Normalize();
  return count_ ? std::int64_t{minRow_} + 1 : 0;
}

std::int64_t MemoryStore::FirstColumn() const {
  Normalize();
  return count_ ? std::int64_t{minCol_} + 1 : 0;
}

void MemoryStore::ForEach(const CellVisitor& visit) const {
  if (!aside_.empty()) Normalize();
  for (std::size_t r = 0; r < cells_.runs.Size(); ++r) {
    const Run& run = cells_.runs[r];
    for (std::uint16_t k = 0; k < run.count; ++k) {
      const std::uint8_t tag = cells_.tags[run.first + k];
      if (tag == 0) continue;
      const std::uint64_t value = cells_.values[run.first + k];
      const CellRec rec = RecordOf(run.row, static_cast<std::uint16_t>(run.col + k), tag, value);
      visit(rec, rec.type == kText ? TextOf(value) : std::string_view{});
    }
  }
}

}  // namespace palomet::xl::detail
