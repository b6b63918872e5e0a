#pragma once

// Internal to the engine: the zip container of an .xlsx, written in one pass. The caller
// makes each part's bytes into a buffer; full buffers go to a worker thread that compresses
// them and writes them through minizip (raw mode: the entries arrive already compressed), so
// making the XML and compressing it run side by side. Nothing of a finished part is kept but
// its directory entry.

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <thread>
#include <vector>

namespace palomet::xl::detail {

class PackageZip {
 public:
  // Writes the package to `fd` (open for writing, empty; the caller closes it). `shown`
  // names the file in errors.
  PackageZip(int fd, std::string shown);
  // Without Finish, stops the worker and drops what is unwritten.
  ~PackageZip();
  PackageZip(const PackageZip&) = delete;
  PackageZip& operator=(const PackageZip&) = delete;

  // Begins the part `name`. `mayPass4GB`: the part's bytes may pass 4 GB, so its entry needs
  // ZIP64 fields (the local header is written before the size is known).
  void BeginPart(const std::string& name, bool mayPass4GB = false);
  // Where the part's bytes go: append, then call Filled.
  std::string& Out() { return *block_; }
  // Hands the buffer on once it is full. Throws Error when writing has failed.
  void Filled() {
    if (block_->size() >= kBlock) HandOff();
  }
  void Append(std::string_view s) {
    block_->append(s);
    Filled();
  }
  void EndPart();
  // Writes the central directory and waits for the worker. Throws Error naming the file and
  // the system's reason when any write failed.
  void Finish();

  // A part of this many bytes or more needs ZIP64 fields.
  static constexpr std::uint64_t kZip64From = 0xFFFFFFFFull - (1u << 20);

 private:
  static constexpr std::size_t kBlock = std::size_t{512} << 10;
  static constexpr std::size_t kInFlight = 4;  // full buffers queued for the worker

  struct Job {
    enum Kind { Begin, Data, End, Close } kind;
    std::string name;
    bool zip64 = false;
    std::unique_ptr<std::string> data;
  };
  struct Io;

  void HandOff();
  // The filled buffer as a job, a fresh one taking its place.
  Job TakeBlock();
  void Push(Job job);
  // Hands the jobs over together, waking the worker once.
  void Push(std::span<Job> jobs);
  [[noreturn]] void Fail(const std::string& why) const;
  void CheckFailed();
  void Work();
  void StopWorker();

  std::string shown_;
  std::unique_ptr<Io> io_;
  std::unique_ptr<std::string> block_;
  std::optional<Job> begin_;  // the part begun, not handed over yet

  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<Job> jobs_;
  std::vector<std::unique_ptr<std::string>> spare_;
  std::size_t dataQueued_ = 0;
  bool failed_ = false;
  std::string failure_;  // the reason, once failed_
  bool abort_ = false;
  bool finished_ = false;
  std::thread worker_;
};

}  // namespace palomet::xl::detail
