#include "office/PackedFile.h"

#include <archive.h>
#include <archive_entry.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <new>
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

bool IdentityOf(const std::string& path, FileIdentity& identity) {
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0) return false;
  identity = IdentityFrom(info);
  return true;
}

PackedReader::PackedReader(const OpenedFile& file, Expansion& expansion, bool asArchive)
    : fd_(file.Descriptor()), expansion_(&expansion), depth_(0) {
  if (::lseek(fd_, 0, SEEK_SET) != 0) Fail(SystemError(errno));
  // A small file is read whole in one go into a buffer its size: the buffer is made afresh
  // for every file, and a run of thousands of small files would clear a full block for each.
  const std::int64_t wanted = file.Identity().size + 1;
  buffer_.resize(static_cast<std::size_t>(
      std::clamp<std::int64_t>(wanted, kSmallestFileBlock, static_cast<std::int64_t>(kFileBlock))));
  Start(asArchive);
}

PackedReader::PackedReader(PackedReader& outer)
    : outer_(&outer), expansion_(outer.expansion_), depth_(1) {
  buffer_.resize(kEntryBlock);
  Start(false);
}

PackedReader::~PackedReader() = default;

void PackedReader::ArchiveFree::operator()(struct archive* a) const {
  archive_read_free(a);
}

void PackedReader::Start(bool asArchive) {
  archive_.reset(archive_read_new());
  a_ = archive_.get();
  if (a_ == nullptr) throw std::bad_alloc();
  // These four only: for a compression without a library of its own, libarchive would run
  // an outside program instead (it says so with a warning), which the import never does.
  for (const auto support : {archive_read_support_filter_gzip, archive_read_support_filter_xz,
                             archive_read_support_filter_bzip2, archive_read_support_filter_zstd}) {
    if (support(a_) != ARCHIVE_OK) {
      throw Error(errnum::kGeneric,
                  "This system's libarchive cannot decompress gzip, xz, bzip2 and zstd by "
                  "itself.");
    }
  }
  archive_read_support_format_raw(a_);
  archive_read_support_format_tar(a_);
  if (asArchive) {
    archive_read_support_format_zip(a_);
    archive_read_set_seek_callback(a_, OnSeek);
  } else {
    archive_read_support_format_zip_streamable(a_);
  }
  if (outer_ == nullptr) archive_read_set_skip_callback(a_, OnSkip);
  archive_read_set_read_callback(a_, OnRead);
  archive_read_set_callback_data(a_, this);
  if (archive_read_open1(a_) != ARCHIVE_OK) {
    // The raw format takes any data at all, so only an empty stream is of no format (which
    // libarchive reports with EILSEQ, its file-format error on Linux).
    if (fault_.empty() && archive_errno(a_) == EILSEQ) {
      Fail(archive_filter_count(a_) > 1 ? "it holds no data once decompressed"
                                        : "the file is empty");
    }
    Fail();
  }
}

bool PackedReader::Next() {
  if (failed_) Fail();
  const int rc = archive_read_next_header(a_, &entry_);
  if (rc != ARCHIVE_OK && rc != ARCHIVE_WARN && rc != ARCHIVE_EOF) Fail();
  if (!known_) {  // the format is settled by the first header, or by the end of an empty archive
    known_ = true;
    const bool filtered = archive_filter_code(a_, 0) != ARCHIVE_FILTER_NONE;
    if ((archive_format(a_) & ARCHIVE_FORMAT_BASE_MASK) == ARCHIVE_FORMAT_RAW) {
      packing_ = filtered ? Packing::Compressed : Packing::Plain;
      formatName_ = filtered ? archive_filter_name(a_, 0) : "";
    } else {
      packing_ = Packing::Archive;
      formatName_ = (archive_format(a_) & ARCHIVE_FORMAT_BASE_MASK) == ARCHIVE_FORMAT_ZIP
                        ? "ZIP archive"
                        : "tar archive";
      if (filtered) formatName_ += std::string(" (") + archive_filter_name(a_, 0) + ")";
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

// Adds what this reader has given out since it last looked, its filters' output included
// (a tar.gz decompresses the members it skips), and says whether the file has grown past
// the limit.
bool PackedReader::Expanded() {
  std::uint64_t out = given_;
  const la_int64_t filtered = archive_filter_bytes(a_, 0);
  if (filtered > 0) out = std::max(out, static_cast<std::uint64_t>(filtered));
  if (out > reported_) {
    expansion_->unpacked[depth_] += out - reported_;
    reported_ = out;
  }
  const std::uint64_t unpacked = std::max(expansion_->unpacked[0], expansion_->unpacked[1]);
  return unpacked > kMaxExpansion * expansion_->packed + kExpansionAllowance;
}

// libarchive calls back from C: nothing may be thrown through it. A failure is kept in our
// own words and reported as a fatal read, which the next call on the reader raises.
long PackedReader::OnRead(struct archive* a, void* self, const void** buffer) {
  auto& r = *static_cast<PackedReader*>(self);
  try {
    *buffer = r.buffer_.data();
    if (r.outer_ != nullptr) {
      const std::size_t n = r.outer_->Read(r.buffer_.data(), r.buffer_.size());
      if (r.Expanded()) throw Fault{ExpansionFault()};
      return static_cast<long>(n);
    }
    ssize_t n;
    do {
      n = ::read(r.fd_, r.buffer_.data(), r.buffer_.size());
    } while (n < 0 && errno == EINTR);
    if (n < 0) throw Fault{SystemError(errno)};
    r.expansion_->packed += static_cast<std::uint64_t>(n);
    if (r.Expanded()) throw Fault{ExpansionFault()};
    return static_cast<long>(n);
  } catch (const Fault& f) {
    r.fault_ = f.what;
  } catch (...) {
    r.fault_ = "out of memory";
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
  if (!known_ && archive_filter_count(a_) > 1) packing_ = Packing::Compressed;
  if (fault_.empty()) {
    const char* detail = archive_error_string(a_);
    const std::string why = detail != nullptr ? detail : "unknown error";
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

}  // namespace palomet::packed
