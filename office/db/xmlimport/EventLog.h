#pragma once

// Private to the XML import: the event stream of one parse, kept so that it can be replayed
// instead of parsing the file again. LogWriter takes the events as a sink and stores them in a
// compact form (names as numbers, lengths as variable-length numbers), in memory while the
// stream is small and in an unnamed temporary file beyond that. LogReader sends the same
// events, in the same order and with the same values, to another sink. Neither touches the
// database.

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "office/Files.h"
#include "office/db/XmlEvents.h"

namespace palomet::xmlimport {

// An allocator that leaves the bytes a vector grows by as they are: the log writes every
// byte before it reads it, and clearing 64 KB for every file of a run of thousands shows.
template <typename T>
struct UninitializedAllocator : std::allocator<T> {
  template <typename U>
  struct rebind {
    using other = UninitializedAllocator<U>;
  };
  UninitializedAllocator() = default;
  template <typename U>
  UninitializedAllocator(const UninitializedAllocator<U>&) noexcept {}
  template <typename U>
  void construct(U* p) noexcept {
    ::new (static_cast<void*>(p)) U;
  }
  template <typename U, typename... Args>
  void construct(U* p, Args&&... args) {
    ::new (static_cast<void*>(p)) U(std::forward<Args>(args)...);
  }
};

// Writes the event stream to memory while it is small, which spares most files a temporary
// file (creating and removing one costs more than a small file's whole replay); once the
// stream passes `memoryLimit` bytes it moves to a temporary file, so that memory stays flat
// for big files.
class LogWriter final : public EventSink {
 public:
  explicit LogWriter(std::size_t memoryLimit);

  void Start(int key, bool nil, const Attr* attrs, int attrCount) override;
  void Text(std::string_view text, bool blank) override;
  void End() override;

  // Ends the stream; false when it went to a temporary file that could not take it all (or
  // none could be made): the caller then reads the XML file again instead.
  bool Finish();

  // The bytes of the whole stream, wherever they went.
  std::uint64_t Size() const { return flushed_ + used_; }
  // After Finish: the stream in memory, or empty when it is in File().
  std::string_view Memory() const {
    return inMemory_ ? std::string_view(buf_.data(), used_) : std::string_view();
  }
  std::FILE* File() const { return file_.get(); }

 private:
  static constexpr std::size_t kInitial = 64 << 10;
  static constexpr std::size_t kFileBuffer = 1 << 20;
  static constexpr std::size_t kMaxVar = 10;  // bytes of the longest variable-length number

  void Room(std::size_t n);
  void Byte(int b) { buf_[used_++] = static_cast<char>(b); }
  void Var(std::uint64_t v);
  void Bytes(std::string_view s);
  void Flush();
  void Write(const char* data, std::size_t n);

  std::size_t memoryLimit_;
  std::vector<char, UninitializedAllocator<char>> buf_;
  std::size_t used_ = 0;
  std::uint64_t flushed_ = 0;
  bool inMemory_ = true;
  FilePtr file_;
  bool ok_ = true;
};

// Replays a stream LogWriter wrote, from memory or from its temporary file. A stream that
// cannot be read back whole raises Error 31550 naming `path`, the XML file.
class LogReader {
 public:
  LogReader(const LogWriter& log, const NameTable& names)
      : file_(log.File()), memory_(log.Memory()), names_(names) {}

  void Replay(EventSink& sink, const std::string& path);

 private:
  [[noreturn]] static void Corrupt(const std::string& path);
  bool Need(std::size_t n);
  std::uint64_t Var(const std::string& path);
  std::string_view Bytes(const std::string& path);

  std::FILE* file_;
  std::string_view memory_;
  const NameTable& names_;
  std::vector<char> own_;       // the window onto the file
  const char* data_ = nullptr;  // the memory stream, or own_
  std::size_t pos_ = 0;
  std::size_t end_ = 0;
  std::vector<Attr> attrs_;
  std::vector<std::size_t> valueEnds_;
  std::string scratch_;
};

}  // namespace palomet::xmlimport
