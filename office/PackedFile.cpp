#include "office/PackedFile.h"

#include <archive.h>
#include <archive_entry.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <mutex>
#include <new>
#include <set>
#include <string_view>
#include <tuple>
#include <type_traits>

#include "office/Error.h"
#include "office/Numbers.h"

namespace palomet::packed {

static_assert(std::is_same_v<la_ssize_t, long> && std::is_same_v<la_int64_t, std::int64_t>,
              "the callbacks' types as the header declares them");

namespace {

constexpr std::size_t kFileBlock = 1 << 17;   // read from the file at a time
constexpr std::size_t kEntryBlock = 1 << 16;  // taken from an outer reader at a time
constexpr std::int64_t kSmallestFileBlock = 4096;
constexpr std::size_t kMaxLayers = 4;  // of compression, one inside the other

std::function<void()> gAfterFileRead;

std::string SystemError(int errnum) {
  return "the file cannot be read (" + std::string(std::strerror(errnum)) + ")";
}

std::int64_t Nanoseconds(const struct stat& info) {
  return static_cast<std::int64_t>(info.st_mtim.tv_sec) * 1'000'000'000 + info.st_mtim.tv_nsec;
}

FileIdentity IdentityFrom(const struct stat& info) {
  return {info.st_dev, info.st_ino, info.st_size, Nanoseconds(info)};
}

std::string ExpansionFault() {
  return "decompressed, it grows to more than " + WithThousands(kMaxExpansion) +
         " times the size of the file that holds it, the import's limit against "
         "decompression bombs";
}

}  // namespace

OpenedFile::OpenedFile(const std::string& path) {
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0) throw Fault{SystemError(errno)};
  if (S_ISDIR(info.st_mode)) throw Fault{"it is a folder, not a file"};
  if (!S_ISREG(info.st_mode)) throw Fault{"it is not a regular file (a pipe, socket or device)"};
  // Opened without blocking and checked on the open file: a pipe would wait forever for a
  // writer, and a device never ends.
  fd_ = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd_ < 0) throw Fault{SystemError(errno)};
  if (::fstat(fd_, &info) != 0 || !S_ISREG(info.st_mode)) {
    ::close(fd_);
    throw Fault{"it is not a regular file (a pipe, socket or device)"};
  }
  ::fcntl(fd_, F_SETFL, ::fcntl(fd_, F_GETFL) & ~O_NONBLOCK);
  if (info.st_size == 0) {
    ::close(fd_);
    throw Fault{"the file is empty"};
  }
  identity_ = IdentityFrom(info);
}

OpenedFile::~OpenedFile() {
  ::close(fd_);
}

namespace {
std::mutex gReadWholeMutex;
std::set<std::tuple<dev_t, ino_t, off_t, std::int64_t>> gReadWhole;
auto Key(const FileIdentity& identity) {
  return std::make_tuple(identity.device, identity.inode, identity.size, identity.modifiedNs);
}
}  // namespace

void NoteReadWhole(const FileIdentity& identity) {
  const std::lock_guard lock(gReadWholeMutex);
  gReadWhole.insert(Key(identity));
}

bool WasReadWhole(const FileIdentity& identity) {
  const std::lock_guard lock(gReadWholeMutex);
  return gReadWhole.count(Key(identity)) > 0;
}

bool IdentityOf(const std::string& path, FileIdentity& identity) {
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0) return false;
  identity = IdentityFrom(info);
  return true;
}

// The first bytes of a source, read ahead to tell whether they are compressed, then the rest.
class PackedReader::Peeked {
 public:
  explicit Peeked(ReadFn source) : source_(std::move(source)) {
    char head[kMagicBytes];
    std::size_t n = 0;
    while (n < sizeof head) {
      const std::size_t got = source_(head + n, sizeof head - n);
      if (got == 0) {
        ended_ = true;
        break;
      }
      n += got;
    }
    head_.assign(head, n);
  }
  std::string_view Head() const { return head_; }
  std::size_t Read(char* buffer, std::size_t size) {
    std::size_t n = 0;
    if (used_ < head_.size()) {
      n = std::min(size, head_.size() - used_);
      std::memcpy(buffer, head_.data() + used_, n);
      used_ += n;
    }
    if (n < size && !ended_) n += source_(buffer + n, size - n);
    return n;
  }

 private:
  ReadFn source_;
  std::string head_;
  std::size_t used_ = 0;
  bool ended_ = false;  // the source ended within the head
};

PackedReader::PackedReader(const OpenedFile& file, Expansion& expansion, bool asArchive)
    : fd_(file.Descriptor()), file_(&file), expansion_(&expansion), depth_(0) {
  if (::lseek(fd_, 0, SEEK_SET) != 0) Fail(SystemError(errno));
  // A small file is read whole in one go into a buffer its size: the buffer is made afresh
  // for every file, and a run of thousands of small files would clear a full block for each.
  const std::size_t block = static_cast<std::size_t>(std::clamp<std::int64_t>(
      file.Identity().size + 1, kSmallestFileBlock, static_cast<std::int64_t>(kFileBlock)));
  Layer(block);
  // A decompressed file gives out more than it takes in: blocks of a size that suits every
  // file.
  buffer_.resize(layers_.empty() ? block : kEntryBlock);
  Start(asArchive);
}

PackedReader::PackedReader(PackedReader& outer)
    : outer_(&outer), expansion_(outer.expansion_), depth_(1) {
  Layer(kEntryBlock);
  buffer_.resize(kEntryBlock);
  Start(false);
}

PackedReader::PackedReader(const OpenedFile& file, Expansion& expansion, WholeTag)
    : fd_(file.Descriptor()), file_(&file), expansion_(&expansion), depth_(0) {
  if (::lseek(fd_, 0, SEEK_SET) != 0) Fail(SystemError(errno));
  Layer(kFileBlock);
}

PackedReader::~PackedReader() = default;

void PackedReader::ReadRest() {
  if (failed_) Fail();
  while (top_(buffer_.data(), buffer_.size()) > 0) {
  }
}

void PackedReader::ReadWhole(const OpenedFile& file, Expansion& expansion) {
  PackedReader r(file, expansion, WholeTag{});
  r.buffer_.resize(kFileBlock);
  r.ReadRest();
}

void PackedReader::Layer(std::size_t block) {
  ReadFn source = [this](char* buffer, std::size_t size) { return ReadRaw(buffer, size); };
  // A file's first bytes are looked at where they lie, so that the file is read, sought and
  // skipped exactly as without them; the other sources are read ahead and given again.
  std::string head;
  if (outer_ == nullptr) {
    head.resize(kMagicBytes);
    ssize_t n;
    do {
      n = ::pread(fd_, head.data(), head.size(), 0);
    } while (n < 0 && errno == EINTR);
    if (n < 0) throw Fault{SystemError(errno)};
    head.resize(static_cast<std::size_t>(n));
  }
  for (bool fileHead = outer_ == nullptr;; fileHead = false) {
    if (!fileHead) {
      peeked_.push_back(std::make_unique<Peeked>(std::move(source)));
      Peeked* peeked = peeked_.back().get();
      source = [peeked](char* buffer, std::size_t size) { return peeked->Read(buffer, size); };
      head = peeked->Head();
    }
    const Compression compression = CompressionOf(head);
    // Compressed more than a few times over is no export: what is left is read as it is.
    if (compression == Compression::None || layers_.size() == kMaxLayers) break;
    if (layers_.empty()) formatName_ = CompressionName(compression);
    layers_.push_back(Decompressor::Create(compression, std::move(source), block));
    Decompressor* layer = layers_.back().get();
    // Each layer's output counts against the limit on expansion as it is made, so that a
    // layer that gives the next one much to read and that one little cannot get round it.
    source = [this, layer](char* buffer, std::size_t size) {
      const std::size_t n = layer->Read(buffer, size);
      decoded_ += n;
      if (Expanded()) throw Fault{ExpansionFault()};
      return n;
    };
  }
  top_ = std::move(source);
}

std::size_t PackedReader::ReadRaw(char* buffer, std::size_t size) {
  if (outer_ != nullptr) {
    const std::size_t n = outer_->Read(buffer, size);
    if (n == 0) outer_->CheckUnchanged();
    return n;
  }
  ssize_t n;
  do {
    n = ::read(fd_, buffer, size);
  } while (n < 0 && errno == EINTR);
  if (n < 0) throw Fault{SystemError(errno)};
  expansion_->packed += static_cast<std::uint64_t>(n);
  if (gAfterFileRead) gAfterFileRead();
  if (n == 0) CheckUnchanged();
  return static_cast<std::size_t>(n);
}

void PackedReader::CheckUnchanged() const {
  if (outer_ != nullptr) {
    outer_->CheckUnchanged();
    return;
  }
  struct stat info {};
  if (::fstat(fd_, &info) != 0) throw Fault{SystemError(errno)};
  const FileIdentity now = IdentityFrom(info);
  if (now.size != file_->Identity().size || now.modifiedNs != file_->Identity().modifiedNs) {
    throw Fault{kChanged};
  }
}

void PackedReader::ArchiveFree::operator()(struct archive* a) const {
  archive_read_free(a);
}

void PackedReader::Start(bool asArchive) {
  archive_.reset(archive_read_new());
  a_ = archive_.get();
  if (a_ == nullptr) throw std::bad_alloc();
  archive_read_support_format_raw(a_);
  archive_read_support_format_tar(a_);
  // Over decompressed data there is no seeking: a zip is only recognised by its first bytes.
  if (asArchive && layers_.empty()) {
    archive_read_support_format_zip(a_);
    archive_read_set_seek_callback(a_, OnSeek);
  } else {
    archive_read_support_format_zip_streamable(a_);
  }
  if (outer_ == nullptr && layers_.empty()) archive_read_set_skip_callback(a_, OnSkip);
  archive_read_set_read_callback(a_, OnRead);
  archive_read_set_callback_data(a_, this);
  // libarchive takes a failed read while it tells the format for "not this format": a
  // failure of the file's own is raised all the same.
  if (archive_read_open1(a_) != ARCHIVE_OK || !fault_.empty()) {
    // The raw format takes any data at all, so only an empty stream is of no format (which
    // libarchive reports with EILSEQ, its file-format error on Linux).
    if (fault_.empty() && !exception_ && archive_errno(a_) == EILSEQ) {
      Fail(layers_.empty() ? "the file is empty" : "it holds no data once decompressed");
    }
    Fail();
  }
}

bool PackedReader::Next() {
  if (failed_) Fail();
  const int rc = archive_read_next_header(a_, &entry_);
  if ((rc != ARCHIVE_OK && rc != ARCHIVE_WARN && rc != ARCHIVE_EOF) || !fault_.empty()) Fail();
  if (!known_) {  // the format is settled by the first header, or by the end of an empty archive
    known_ = true;
    const bool filtered = !layers_.empty();
    if ((archive_format(a_) & ARCHIVE_FORMAT_BASE_MASK) == ARCHIVE_FORMAT_RAW) {
      packing_ = filtered ? Packing::Compressed : Packing::Plain;
    } else {
      packing_ = Packing::Archive;
      const std::string compression = formatName_;
      formatName_ = (archive_format(a_) & ARCHIVE_FORMAT_BASE_MASK) == ARCHIVE_FORMAT_ZIP
                        ? "ZIP archive"
                        : "tar archive";
      if (filtered) formatName_ += " (" + compression + ")";
    }
  }
  if (rc == ARCHIVE_EOF) return false;
  ++entries_;
  if (packing_ == Packing::Archive && entries_ > kMaxMembers) {
    Fail("the archive holds more than " + WithThousands(kMaxMembers) +
         " members, the most the import takes from one archive");
  }
  const char* name = archive_entry_pathname_utf8(entry_);
  if (name == nullptr) name = archive_entry_pathname(entry_);
  entryName_ = name != nullptr ? name : "";
  return true;
}

bool PackedReader::EntryIsFile() const {
  return entry_ != nullptr && archive_entry_filetype(entry_) == AE_IFREG &&
         archive_entry_hardlink(entry_) == nullptr;
}

bool PackedReader::EntryIsEncrypted() const {
  return entry_ != nullptr && archive_entry_is_encrypted(entry_) != 0;
}

std::int64_t PackedReader::EntrySize() const {
  return entry_ != nullptr && archive_entry_size_is_set(entry_) != 0 ? archive_entry_size(entry_)
                                                                     : -1;
}

std::size_t PackedReader::Read(char* buffer, std::size_t size) {
  if (failed_) Fail();
  const la_ssize_t n = archive_read_data(a_, buffer, size);
  if (n < 0) Fail();
  given_ += static_cast<std::uint64_t>(n);
  if (Expanded()) Fail(ExpansionFault());
  return static_cast<std::size_t>(n);
}

// Adds what this reader has given out since it last looked, its decompressors' output
// included (a tar.gz decompresses the members it skips), and says whether the file has grown
// past the limit.
bool PackedReader::Expanded() {
  const std::uint64_t out = std::max({given_, produced_, decoded_});
  if (out > reported_) {
    expansion_->unpacked[depth_] += out - reported_;
    reported_ = out;
  }
  const std::uint64_t unpacked = std::max(expansion_->unpacked[0], expansion_->unpacked[1]);
  return unpacked > kMaxExpansion * expansion_->packed + kExpansionAllowance;
}

// libarchive calls back from C: nothing may be thrown through it. A failure is kept, in our
// own words or as the machine's exception, and reported as a fatal read, which the next call
// on the reader raises.
long PackedReader::OnRead(struct archive* a, void* self, const void** buffer) {
  auto& r = *static_cast<PackedReader*>(self);
  try {
    *buffer = r.buffer_.data();
    const std::size_t n = r.top_(r.buffer_.data(), r.buffer_.size());
    r.produced_ += n;
    if (r.Expanded()) throw Fault{ExpansionFault()};
    return static_cast<long>(n);
  } catch (const Fault& f) {
    r.fault_ = f.what;
  } catch (...) {
    r.exception_ = std::current_exception();
    r.fault_ = "the machine failed";
  }
  archive_set_error(a, EIO, "%s", r.fault_.c_str());
  return ARCHIVE_FATAL;
}

std::int64_t PackedReader::OnSeek(struct archive*, void* self, std::int64_t offset, int whence) {
  const auto& r = *static_cast<PackedReader*>(self);
  const off_t at = ::lseek(r.fd_, static_cast<off_t>(offset), whence);
  return at < 0 ? ARCHIVE_FATAL : static_cast<std::int64_t>(at);
}

std::int64_t PackedReader::OnSkip(struct archive*, void* self, std::int64_t request) {
  const auto& r = *static_cast<PackedReader*>(self);
  return ::lseek(r.fd_, static_cast<off_t>(request), SEEK_CUR) < 0 ? 0 : request;
}

void PackedReader::Fail() {
  if (exception_) {
    failed_ = true;
    std::rethrow_exception(exception_);
  }
  if (!known_ && !layers_.empty()) packing_ = Packing::Compressed;
  if (fault_.empty()) {
    const char* detail = a_ != nullptr ? archive_error_string(a_) : nullptr;
    const std::string why = detail != nullptr ? detail : "unknown error";
    // A zip member's own checks, as libarchive words them.
    if (why.rfind("ZIP bad CRC", 0) == 0) {
      Fail(kCrcMismatch);
    } else if (why.rfind("ZIP ", 0) == 0 && why.find("data is wrong size") != std::string::npos) {
      Fail("the compressed data is damaged (length mismatch)");
    }
    switch (packing_) {
      case Packing::Archive:
        fault_ = "the archive cannot be read (" + why + ")";
        break;
      case Packing::Compressed:
        fault_ = "the compressed data cannot be read (" + why + ")";
        break;
      case Packing::Plain:
        fault_ = "the file cannot be read (" + why + ")";
        break;
    }
  }
  Fail(fault_);
}

void PackedReader::Fail(std::string what) {
  failed_ = true;
  fault_ = std::move(what);
  throw Fault{fault_};
}

namespace testing {
void SetAfterFileRead(std::function<void()> hook) {
  gAfterFileRead = std::move(hook);
}
}  // namespace testing

}  // namespace palomet::packed
