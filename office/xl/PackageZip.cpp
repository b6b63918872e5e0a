#include "office/xl/PackageZip.h"

#include <unistd.h>
#include <zip.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <new>
#include <stdexcept>
#include <utility>

#include "office/Error.h"
#include "office/xl/Deflate.h"

namespace palomet::xl::detail {

// minizip's view of the file: our descriptor, the first write error's errno (minizip itself
// keeps only "it failed"), and, once the save is given up, writes that go nowhere so that
// minizip can still free what it holds. minizip writes each header field on its own (a few
// bytes at a time, a dozen times a part) and, closing a part, seeks back to its header to
// fill in the sizes and then to the end again: its writes gather in a buffer, a seek back
// into the buffer only moves the place of the next write in it, and the buffer goes to the
// file when full, before a seek out of it, and at the end.
struct PackageZip::Io {
  int fd = -1;
  int error = 0;
  std::atomic<bool> discard{false};
  zipFile zip = nullptr;
  std::string pending;         // written by minizip, not yet by us
  std::uint64_t position = 0;  // of the file, where `pending` begins
  std::size_t cursor = 0;      // where in `pending` minizip writes next

  static constexpr std::size_t kFlushAt = 256 * 1024;

  bool Flush() {
    std::size_t done = 0;
    while (done < pending.size()) {
      const ssize_t n = ::pwrite(fd, pending.data() + done, pending.size() - done,
                                 static_cast<off_t>(position + done));
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) {
        if (error == 0) error = n < 0 ? errno : EIO;
        pending.clear();
        cursor = 0;
        return false;
      }
      done += static_cast<std::size_t>(n);
    }
    // What is written next goes where minizip left off, in the file now.
    position += cursor;
    pending.clear();
    cursor = 0;
    return true;
  }

  void Write(const char* data, std::size_t n) {
    const std::size_t over = std::min(n, pending.size() - cursor);
    pending.replace(cursor, over, data, over);
    pending.append(data + over, n - over);
    cursor += n;
  }
};

namespace {

voidpf OpenCb(voidpf, const void* io, int) {
  return const_cast<void*>(io);
}

uLong ReadCb(voidpf, voidpf, void*, uLong) {
  return 0;  // a new package is never read
}

template <typename IoT>
uLong WriteCb(voidpf, voidpf stream, const void* buf, uLong size) {
  auto* io = static_cast<IoT*>(stream);
  if (io->discard.load(std::memory_order_relaxed)) return size;
  if (io->error != 0) return 0;
  io->Write(static_cast<const char*>(buf), size);
  if (io->pending.size() >= IoT::kFlushAt && !io->Flush()) return 0;
  return size;
}

template <typename IoT>
ZPOS64_T TellCb(voidpf, voidpf stream) {
  auto* io = static_cast<IoT*>(stream);
  return io->position + io->cursor;
}

template <typename IoT>
long SeekCb(voidpf, voidpf stream, ZPOS64_T offset, int origin) {
  auto* io = static_cast<IoT*>(stream);
  if (io->discard.load(std::memory_order_relaxed)) return 0;
  // A place within what is buffered (the header of the part just written, and back to the
  // end) needs no call to the file system.
  if (origin == ZLIB_FILEFUNC_SEEK_SET && offset >= io->position &&
      offset <= io->position + io->pending.size()) {
    io->cursor = static_cast<std::size_t>(offset - io->position);
    return 0;
  }
  if (!io->Flush()) return -1;
  std::uint64_t to = offset;
  if (origin == ZLIB_FILEFUNC_SEEK_CUR) to = io->position + offset;
  if (origin == ZLIB_FILEFUNC_SEEK_END) {
    const off_t end = ::lseek(io->fd, 0, SEEK_END);
    if (end < 0) {
      if (io->error == 0) io->error = errno;
      return -1;
    }
    to = static_cast<std::uint64_t>(end) + offset;
  }
  io->position = to;
  return 0;
}

template <typename IoT>
int CloseCb(voidpf, voidpf stream) {
  // The descriptor belongs to the caller; what is still buffered goes to it now.
  auto* io = static_cast<IoT*>(stream);
  if (io->discard.load(std::memory_order_relaxed)) return 0;
  return io->Flush() ? 0 : -1;
}

template <typename IoT>
int ErrorCb(voidpf, voidpf stream) {
  return static_cast<IoT*>(stream)->error;
}

// Every entry carries the same time, as spreadsheet files commonly do; the document's own
// properties hold the creation time.
constexpr uLong kDos1980 = (0u << 25) | (1u << 21) | (1u << 16);

}  // namespace

PackageZip::PackageZip(int fd, std::string shown)
    : shown_(std::move(shown)), io_(std::make_unique<Io>()), block_(std::make_unique<std::string>()) {
  io_->fd = fd;
  block_->reserve(kBlock + kBlock / 4);
  zlib_filefunc64_def funcs{};
  funcs.zopen64_file = OpenCb;
  funcs.zread_file = ReadCb;
  funcs.zwrite_file = WriteCb<Io>;
  funcs.ztell64_file = TellCb<Io>;
  funcs.zseek64_file = SeekCb<Io>;
  funcs.zclose_file = CloseCb<Io>;
  funcs.zerror_file = ErrorCb<Io>;
  io_->zip = zipOpen2_64(io_.get(), APPEND_STATUS_CREATE, nullptr, &funcs);
  if (!io_->zip) Fail("the file cannot be written");
  worker_ = std::thread([this] { Work(); });
}

PackageZip::~PackageZip() {
  StopWorker();
}

void PackageZip::StopWorker() {
  if (!worker_.joinable()) return;
  {
    std::lock_guard lock(mutex_);
    abort_ = true;
    io_->discard = true;
    jobs_.push_back(Job{Job::Close, {}, false, nullptr});
  }
  changed_.notify_all();
  worker_.join();
}

void PackageZip::Fail(const std::string& why) const {
  throw Error(errnum::kSpreadsheet, "Cannot save the workbook as \"" + shown_ + "\": " + why + ".");
}

void PackageZip::CheckFailed() {
  std::lock_guard lock(mutex_);
  if (failed_) Fail(failure_);
}

void PackageZip::Push(Job job) {
  Job jobs[] = {std::move(job)};
  Push(jobs);
}

void PackageZip::Push(std::span<Job> jobs) {
  std::unique_lock lock(mutex_);
  const bool data =
      std::any_of(jobs.begin(), jobs.end(), [](const Job& j) { return j.kind == Job::Data; });
  if (data) {
    changed_.wait(lock, [&] { return dataQueued_ < kInFlight || failed_; });
    ++dataQueued_;
  }
  if (failed_) Fail(failure_);
  for (Job& j : jobs) jobs_.push_back(std::move(j));
  lock.unlock();
  changed_.notify_all();
}

PackageZip::Job PackageZip::TakeBlock() {
  std::unique_ptr<std::string> next;
  {
    std::lock_guard lock(mutex_);
    if (!spare_.empty()) {
      next = std::move(spare_.back());
      spare_.pop_back();
    }
  }
  if (!next) {
    next = std::make_unique<std::string>();
    next->reserve(kBlock + kBlock / 4);
  }
  next->clear();
  return Job{Job::Data, {}, false, std::exchange(block_, std::move(next))};
}

// A part's beginning waits to go with its first block or its end: a small part, as most of
// a workbook of many sheets are, reaches the worker in one hand-over rather than three.
void PackageZip::HandOff() {
  if (block_->empty()) return;
  std::vector<Job> jobs;
  if (begin_) jobs.push_back(std::move(*std::exchange(begin_, std::nullopt)));
  jobs.push_back(TakeBlock());
  Push(jobs);
}

void PackageZip::BeginPart(const std::string& name, bool mayPass4GB) {
  begin_ = Job{Job::Begin, name, mayPass4GB, nullptr};
}

void PackageZip::EndPart() {
  std::vector<Job> jobs;
  if (begin_) jobs.push_back(std::move(*std::exchange(begin_, std::nullopt)));
  if (!block_->empty()) jobs.push_back(TakeBlock());
  jobs.push_back(Job{Job::End, {}, false, nullptr});
  Push(jobs);
}

void PackageZip::Finish() {
  Push(Job{Job::Close, {}, false, nullptr});
  worker_.join();
  finished_ = true;
  CheckFailed();
}

void PackageZip::Work() {
  std::unique_ptr<RawDeflater> deflater;
  std::string packed;
  std::uint32_t crc = 0;
  std::uint64_t size = 0;
  bool failed = false;
  auto fail = [&](std::string why) {
    if (io_->error != 0) why = std::strerror(io_->error);
    failed = true;
    std::lock_guard lock(mutex_);
    if (!failed_) {
      failed_ = true;
      failure_ = std::move(why);
    }
    changed_.notify_all();
  };
  auto write = [&]() {
    if (!packed.empty() &&
        zipWriteInFileInZip(io_->zip, packed.data(), static_cast<unsigned>(packed.size())) != ZIP_OK) {
      fail("the file cannot be written");
    }
    packed.clear();
  };
  for (;;) {
    Job job;
    bool abort;
    {
      std::unique_lock lock(mutex_);
      changed_.wait(lock, [&] { return !jobs_.empty(); });
      job = std::move(jobs_.front());
      jobs_.pop_front();
      if (job.kind == Job::Data) --dataQueued_;
      abort = abort_;
    }
    changed_.notify_all();
    if (abort || failed) io_->discard = true;
    try {
      switch (job.kind) {
        case Job::Begin: {
          if (failed || abort) break;
          if (!deflater) deflater = std::make_unique<RawDeflater>();
          deflater->Reset();
          crc = 0;
          size = 0;
          zip_fileinfo info{};
          info.dosDate = kDos1980;
          if (zipOpenNewFileInZip4_64(io_->zip, job.name.c_str(), &info, nullptr, 0, nullptr, 0,
                                      nullptr, Z_DEFLATED, Z_DEFAULT_COMPRESSION, 1, -MAX_WBITS,
                                      DEF_MEM_LEVEL, Z_DEFAULT_STRATEGY, nullptr, 0, 0, 0,
                                      job.zip64 ? 1 : 0) != ZIP_OK) {
            fail("the part " + job.name + " cannot be added");
          }
          break;
        }
        case Job::Data:
          if (!failed && !abort) {
            crc = Crc32(crc, job.data->data(), job.data->size());
            size += job.data->size();
            deflater->Add(job.data->data(), job.data->size(), false, packed);
            write();
          }
          {
            std::lock_guard lock(mutex_);
            spare_.push_back(std::move(job.data));
          }
          break;
        case Job::End:
          if (failed || abort) break;
          deflater->Add(nullptr, 0, true, packed);
          write();
          if (!failed && zipCloseFileInZipRaw64(io_->zip, size, crc) != ZIP_OK) {
            fail("the part cannot be finished");
          }
          break;
        case Job::Close:
          if (failed || abort) io_->discard = true;
          if (zipClose(io_->zip, nullptr) != ZIP_OK && !failed && !abort) {
            fail("the file's directory cannot be written");
          }
          io_->zip = nullptr;
          return;
      }
    } catch (const std::bad_alloc&) {
      fail("out of memory");
    } catch (const std::exception& e) {
      fail(e.what());
    }
  }
}

}  // namespace palomet::xl::detail
