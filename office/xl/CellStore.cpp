#include "office/xl/CellStore.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>

#include <unistd.h>

#include "office/Error.h"
#include "office/Files.h"
#include "office/xl/Excel.h"

namespace palomet::xl::detail {
namespace {

constexpr auto kEmpty = static_cast<std::uint8_t>(CellType::Empty);
constexpr auto kText = static_cast<std::uint8_t>(CellType::Text);

[[noreturn]] void TempFileError(const char* what) {
  throw Error(errnum::kSpreadsheet,
              std::string("Cannot ") + what +
                  " the temporary file of the workbook's cells: " + std::strerror(errno) + ".");
}

}  // namespace

// --- SpillFile --------------------------------------------------------------------------

SpillFile::~SpillFile() = default;

std::uint64_t SpillFile::Append(const void* data, std::size_t n) {
  const std::uint64_t offset = written_ + pending_.size();
  if (pending_.capacity() == 0) pending_.reserve(kBuffer);
  const char* p = static_cast<const char*>(data);
  pending_.insert(pending_.end(), p, p + n);
  if (pending_.size() >= kBuffer) Flush();
  return offset;
}

void SpillFile::Flush() const {
  if (pending_.empty()) return;
  if (!file_) {
    file_ = UnlinkedTemporaryFile();
    if (!file_) TempFileError("create");
    fd_ = ::fileno(file_.get());  // read and written by position, past stdio's buffer
  }
  std::size_t done = 0;
  while (done < pending_.size()) {
    const ssize_t n = ::pwrite(fd_, pending_.data() + done, pending_.size() - done,
                               static_cast<off_t>(written_ + done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) TempFileError("write");
    done += static_cast<std::size_t>(n);
  }
  written_ += done;
  pending_.clear();
}

std::size_t SpillFile::Read(std::uint64_t offset, char* into, std::size_t n) const {
  if (offset >= written_) {  // still in the buffer
    const std::size_t at = static_cast<std::size_t>(offset - written_);
    const std::size_t count = at < pending_.size() ? std::min(n, pending_.size() - at) : 0;
    std::memcpy(into, pending_.data() + at, count);
    return count;
  }
  if (offset + n > written_) Flush();
  std::size_t done = 0;
  while (done < n) {
    const ssize_t r = ::pread(fd_, into + done, n - done, static_cast<off_t>(offset + done));
    if (r < 0 && errno == EINTR) continue;
    if (r < 0) TempFileError("read");
    if (r == 0) break;
    done += static_cast<std::size_t>(r);
  }
  return done;
}

// --- SpillStore -------------------------------------------------------------------------
// Records are only ever appended in row-then-column order, so replaying a sheet is one
// sequential read through its stretches of the file.

SpillStore::SpillStore(std::shared_ptr<SpillFile> file) : file_(std::move(file)) {}

void SpillStore::Put(const void* data, std::size_t n) {
  const std::uint64_t offset = file_->Append(data, n);
  if (!extents_.empty() && extents_.back().offset + extents_.back().bytes == offset) {
    extents_.back().bytes += n;
  } else {
    extents_.push_back({offset, n});
  }
  bytes_ += n;
}

bool SpillStore::Append(const CellRec& rec, std::string_view text) {
  if (count_ > 0 && Key(rec) <= lastKey_) return false;
  if (rec.type == kEmpty) return true;  // nothing there to erase
  CellRec stored = rec;
  if (rec.type == kText) stored.text = text.size();
  Put(&stored, sizeof stored);
  if (rec.type == kText) Put(text.data(), text.size());
  if (count_ == 0) {
    firstRow_ = rec.row;
    minCol_ = rec.col;
  }
  ++count_;
  textBytes_ += text.size();
  lastKey_ = Key(rec);
  lastRow_ = rec.row;
  maxCol_ = std::max(maxCol_, rec.col);
  minCol_ = std::min(minCol_, rec.col);
  return true;
}

void SpillStore::ForEach(const CellVisitor& visit) const {
  if (count_ == 0) return;
  // The sheet's stretches read as one stream through a buffer no larger than the sheet
  // (small sheets are the common case in a workbook of many) and grown for a record whose
  // text does not fit.
  std::vector<char> buf;
  buf.resize(static_cast<std::size_t>(std::min<std::uint64_t>(bytes_, std::uint64_t{1} << 20)));
  std::size_t have = 0, pos = 0;
  std::size_t extent = 0;
  std::uint64_t within = 0;  // bytes of extents_[extent] already read
  auto ensure = [&](std::size_t n) {
    if (have - pos >= n) return;
    std::memmove(buf.data(), buf.data() + pos, have - pos);
    have -= pos;
    pos = 0;
    if (buf.size() < n) buf.resize(n);
    while (have < n) {
      if (extent == extents_.size()) TempFileError("read");  // shorter than its records say
      const Extent& e = extents_[extent];
      const std::size_t want =
          static_cast<std::size_t>(std::min<std::uint64_t>(e.bytes - within, buf.size() - have));
      const std::size_t got = file_->Read(e.offset + within, buf.data() + have, want);
      if (got == 0) TempFileError("read");
      have += got;
      within += got;
      if (within == e.bytes) {
        ++extent;
        within = 0;
      }
    }
  };
  for (std::size_t i = 0; i < count_; ++i) {
    ensure(sizeof(CellRec));
    CellRec rec;
    std::memcpy(&rec, buf.data() + pos, sizeof rec);
    pos += sizeof rec;
    std::string_view text;
    if (rec.type == kText) {
      const auto len = static_cast<std::size_t>(rec.text & kLenMask);
      ensure(len);
      text = std::string_view(buf.data() + pos, len);
      pos += len;
    }
    visit(rec, text);
  }
}

void SpillStore::MoveTo(MemoryStore& store) const {
  ForEach([&](const CellRec& rec, std::string_view text) { store.Put(rec, text); });
}

}  // namespace palomet::xl::detail
