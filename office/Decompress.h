#pragma once

// Private to office/: the compressed streams a packed file may hold (gzip, xz, bzip2, zstd),
// decompressed here rather than by libarchive, whose gzip reader checks neither the CRC nor
// the length of a member and which takes whatever follows a gzip or bzip2 stream for its end.
// Every stream is read to its end and checked as its format checks it: the CRC and length of
// each gzip member, the integrity checks of xz, bzip2 and zstd; and nothing but another
// stream of the same format may follow one. libarchive only ever sees the decompressed bytes
// (an XML file, or a tar).

#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

namespace palomet::packed {

// A failure of a packed file, in plain words, without the file's name.
struct Fault {
  std::string what;
};

// Reads up to `size` bytes into `buffer`, 0 at the end; raises Fault.
using ReadFn = std::function<std::size_t(char* buffer, std::size_t size)>;

enum class Compression { None, Gzip, Xz, Bzip2, Zstd };

// The bytes CompressionOf needs to see, at most.
inline constexpr std::size_t kMagicBytes = 6;

// The compression whose stream begins with `head` (the data's first kMagicBytes, fewer only
// when the data is shorter), or None.
Compression CompressionOf(std::string_view head);

// The compression's name in messages and format names: "gzip", "xz", "bzip2", "zstd".
const char* CompressionName(Compression compression);

// The failures of the data itself, in plain words, that Decompressor::Read raises.
inline constexpr const char* kCrcMismatch = "the compressed data is damaged (CRC mismatch)";
inline constexpr const char* kEndsTooSoon = "the compressed data ends too soon";
inline constexpr const char* kTrailingBytes =
    "the compressed data is followed by bytes that are no compressed data";

// The decompressed data of `source`: every stream it holds, one after the other, each checked
// at its end. Raises Fault: kCrcMismatch when a check fails, kEndsTooSoon when the source ends
// inside a stream, kTrailingBytes when a stream is followed by anything but another stream of
// its format (or, after gzip and xz, by zero bytes, the padding their own tools take too),
// "the compressed data is damaged (...)" for data its decoder cannot make sense of, and
// "the compressed data cannot be read (...)" for what this system cannot decompress. Raises
// std::bad_alloc when memory runs out: no fault of the file's.
class Decompressor {
 public:
  // `block`: the input read from `source` at a time.
  static std::unique_ptr<Decompressor> Create(Compression compression, ReadFn source,
                                              std::size_t block);
  virtual ~Decompressor();
  Decompressor(const Decompressor&) = delete;
  Decompressor& operator=(const Decompressor&) = delete;

  // Up to `size` decompressed bytes into `buffer`; 0 once the source has ended and every
  // stream has passed its checks.
  std::size_t Read(char* buffer, std::size_t size);

 protected:
  Decompressor(Compression compression, ReadFn source, std::size_t block);

  // What one step of a decoder did.
  struct Step {
    std::size_t used = 0;  // input bytes taken
    std::size_t made = 0;  // output bytes given
    bool ended = false;    // the stream ended and passed its checks
  };
  // Gets ready for a new stream (the first too).
  virtual void Begin() = 0;
  // Decodes from `in` into `out`; raises Fault for damaged data.
  virtual Step Decode(const unsigned char* in, std::size_t inSize, unsigned char* out,
                      std::size_t outSize) = 0;

 private:
  // Tops the input up to `want` bytes, unless the source ends first.
  void Fill(std::size_t want);
  // After a stream: whether another one follows. Raises kTrailingBytes for anything else
  // but the end or padding.
  bool AnotherStream();

  Compression compression_;
  ReadFn source_;
  std::unique_ptr<unsigned char[]> in_;
  std::size_t size_;                 // of in_
  std::size_t begin_ = 0, end_ = 0;  // the input not yet taken, in in_
  bool sourceEnded_ = false;
  bool inStream_ = false;
  bool done_ = false;
};

}  // namespace palomet::packed
