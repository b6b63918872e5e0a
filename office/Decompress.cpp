#include "office/Decompress.h"

#include <bzlib.h>
#include <lzma.h>
#include <zstd.h>
#include <zstd_errors.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <new>

#if PALOMET_INFLATE_ISAL
#include <isa-l/igzip_lib.h>
#else
#include <zlib.h>
#endif

namespace palomet::packed {

namespace {

// What a decoder of xz may allocate (its dictionary above all): xz -9 needs 65 MiB; this is
// what libarchive allows its own xz reader.
constexpr std::uint64_t kXzMemoryLimit = std::uint64_t{1} << 30;

[[noreturn]] void Damaged(const std::string& why) {
  throw Fault{"the compressed data is damaged (" + why + ")"};
}

[[noreturn]] void CannotRead(const std::string& why) {
  throw Fault{"the compressed data cannot be read (" + why + ")"};
}

unsigned Clamp(std::size_t n) {
  return static_cast<unsigned>(std::min<std::size_t>(n, UINT_MAX));
}

#if PALOMET_INFLATE_ISAL

// gzip through ISA-L's inflate, which checks each member's CRC and length itself, several
// times faster than zlib.
class GzipDecompressor final : public Decompressor {
 public:
  GzipDecompressor(ReadFn source, std::size_t block)
      : Decompressor(Compression::Gzip, std::move(source), block) {}

 private:
  void Begin() override {
    isal_inflate_init(state_.get());
    state_->crc_flag = ISAL_GZIP;
  }
  Step Decode(const unsigned char* in, std::size_t inSize, unsigned char* out,
              std::size_t outSize) override {
    inflate_state& s = *state_;
    s.next_in = const_cast<unsigned char*>(in);
    s.avail_in = Clamp(inSize);
    s.next_out = out;
    s.avail_out = Clamp(outSize);
    const int rc = isal_inflate(&s);
    if (rc == ISAL_INCORRECT_CHECKSUM) throw Fault{kCrcMismatch};
    if (rc == ISAL_INVALID_WRAPPER || rc == ISAL_UNSUPPORTED_METHOD) Damaged("invalid gzip header");
    if (rc < 0) Damaged("invalid deflate data");
    return {Clamp(inSize) - s.avail_in, Clamp(outSize) - s.avail_out,
            s.block_state == ISAL_BLOCK_FINISH};
  }

  // Not initialised here: isal_inflate_init sets what it reads.
  std::unique_ptr<inflate_state> state_{new inflate_state};
};

#else

// gzip through zlib, which checks each member's CRC and length itself.
class GzipDecompressor final : public Decompressor {
 public:
  GzipDecompressor(ReadFn source, std::size_t block)
      : Decompressor(Compression::Gzip, std::move(source), block) {}
  ~GzipDecompressor() override {
    if (started_) inflateEnd(&z_);
  }

 private:
  void Begin() override {
    if (started_) {
      inflateReset(&z_);
      return;
    }
    if (inflateInit2(&z_, 16 + MAX_WBITS) != Z_OK) throw std::bad_alloc();
    started_ = true;
  }
  Step Decode(const unsigned char* in, std::size_t inSize, unsigned char* out,
              std::size_t outSize) override {
    z_.next_in = const_cast<unsigned char*>(in);
    z_.avail_in = Clamp(inSize);
    z_.next_out = out;
    z_.avail_out = Clamp(outSize);
    const int rc = inflate(&z_, Z_NO_FLUSH);
    if (rc == Z_MEM_ERROR) throw std::bad_alloc();
    if (rc == Z_DATA_ERROR || rc == Z_NEED_DICT) {
      const std::string why = z_.msg != nullptr ? z_.msg : "invalid deflate data";
      if (why == "incorrect data check" || why == "incorrect length check") {
        throw Fault{kCrcMismatch};
      }
      Damaged(why);
    }
    return {Clamp(inSize) - z_.avail_in, Clamp(outSize) - z_.avail_out, rc == Z_STREAM_END};
  }

  z_stream z_{};
  bool started_ = false;
};

#endif

class XzDecompressor final : public Decompressor {
 public:
  XzDecompressor(ReadFn source, std::size_t block)
      : Decompressor(Compression::Xz, std::move(source), block) {}
  ~XzDecompressor() override { lzma_end(&s_); }

 private:
  void Begin() override {
    // One stream at a time (no LZMA_CONCATENATED): what follows one is looked at here.
    const lzma_ret rc = lzma_stream_decoder(&s_, kXzMemoryLimit, 0);
    if (rc == LZMA_MEM_ERROR) throw std::bad_alloc();
    if (rc != LZMA_OK) CannotRead("the xz decoder cannot be started");
  }
  Step Decode(const unsigned char* in, std::size_t inSize, unsigned char* out,
              std::size_t outSize) override {
    s_.next_in = in;
    s_.avail_in = inSize;
    s_.next_out = out;
    s_.avail_out = outSize;
    const lzma_ret rc = lzma_code(&s_, LZMA_RUN);
    switch (rc) {
      case LZMA_OK:
      case LZMA_STREAM_END:
      case LZMA_BUF_ERROR:  // no progress: the input is used up
        break;
      case LZMA_MEM_ERROR:
        throw std::bad_alloc();
      case LZMA_MEMLIMIT_ERROR:
        CannotRead("decompressing it needs more than 1 GiB of memory");
      case LZMA_OPTIONS_ERROR:
        CannotRead("it uses xz options this system does not support");
      case LZMA_DATA_ERROR:
        // liblzma says the same for a failed check and for data it cannot decode.
        Damaged("corrupt data or CRC mismatch");
      default:
        Damaged("invalid xz data");
    }
    return {inSize - s_.avail_in, outSize - s_.avail_out, rc == LZMA_STREAM_END};
  }

  lzma_stream s_ = LZMA_STREAM_INIT;
};

class Bzip2Decompressor final : public Decompressor {
 public:
  Bzip2Decompressor(ReadFn source, std::size_t block)
      : Decompressor(Compression::Bzip2, std::move(source), block) {}
  ~Bzip2Decompressor() override {
    if (started_) BZ2_bzDecompressEnd(&s_);
  }

 private:
  void Begin() override {
    if (started_) BZ2_bzDecompressEnd(&s_);
    started_ = false;
    s_ = {};
    const int rc = BZ2_bzDecompressInit(&s_, 0, 0);
    if (rc == BZ_MEM_ERROR) throw std::bad_alloc();
    if (rc != BZ_OK) CannotRead("the bzip2 decoder cannot be started");
    started_ = true;
  }
  Step Decode(const unsigned char* in, std::size_t inSize, unsigned char* out,
              std::size_t outSize) override {
    s_.next_in = reinterpret_cast<char*>(const_cast<unsigned char*>(in));
    s_.avail_in = Clamp(inSize);
    s_.next_out = reinterpret_cast<char*>(out);
    s_.avail_out = Clamp(outSize);
    const int rc = BZ2_bzDecompress(&s_);
    // A block's or the stream's CRC failing is what bzip2 calls a data error.
    if (rc == BZ_DATA_ERROR) throw Fault{kCrcMismatch};
    if (rc == BZ_DATA_ERROR_MAGIC) Damaged("invalid bzip2 data");
    if (rc == BZ_MEM_ERROR) throw std::bad_alloc();
    if (rc != BZ_OK && rc != BZ_STREAM_END) Damaged("invalid bzip2 data");
    return {Clamp(inSize) - s_.avail_in, Clamp(outSize) - s_.avail_out, rc == BZ_STREAM_END};
  }

  bz_stream s_{};
  bool started_ = false;
};

class ZstdDecompressor final : public Decompressor {
 public:
  ZstdDecompressor(ReadFn source, std::size_t block)
      : Decompressor(Compression::Zstd, std::move(source), block) {
    if (stream_ == nullptr) throw std::bad_alloc();
  }
  ~ZstdDecompressor() override { ZSTD_freeDStream(stream_); }

 private:
  void Begin() override { ZSTD_DCtx_reset(stream_, ZSTD_reset_session_only); }
  Step Decode(const unsigned char* in, std::size_t inSize, unsigned char* out,
              std::size_t outSize) override {
    ZSTD_inBuffer input{in, inSize, 0};
    ZSTD_outBuffer output{out, outSize, 0};
    const std::size_t rc = ZSTD_decompressStream(stream_, &output, &input);
    if (ZSTD_isError(rc)) {
      switch (ZSTD_getErrorCode(rc)) {
        case ZSTD_error_checksum_wrong:
          throw Fault{kCrcMismatch};
        case ZSTD_error_memory_allocation:
          throw std::bad_alloc();
        case ZSTD_error_frameParameter_windowTooLarge:
          CannotRead("decompressing it needs more memory than the import allows");
        default:
          Damaged(ZSTD_getErrorName(rc));
      }
    }
    // 0: a frame (or a skippable frame) decoded and flushed whole.
    return {input.pos, output.pos, rc == 0};
  }

  ZSTD_DStream* stream_ = ZSTD_createDStream();
};

}  // namespace

Compression CompressionOf(std::string_view head) {
  const auto at = [&](std::size_t i) {
    return i < head.size() ? static_cast<unsigned char>(head[i]) : 0x100u;
  };
  if (at(0) == 0x1F && at(1) == 0x8B) return Compression::Gzip;
  static constexpr char kXz[] = {'\xFD', '7', 'z', 'X', 'Z', '\0'};
  if (head.substr(0, sizeof kXz) == std::string_view(kXz, sizeof kXz)) return Compression::Xz;
  if (head.substr(0, 3) == "BZh" && at(3) >= '1' && at(3) <= '9') return Compression::Bzip2;
  // A frame, or a skippable frame (magic 0x184D2A50 to 0x184D2A5F, little-endian).
  if (at(0) == 0x28 && at(1) == 0xB5 && at(2) == 0x2F && at(3) == 0xFD) return Compression::Zstd;
  if ((at(0) & 0xF0) == 0x50 && at(1) == 0x2A && at(2) == 0x4D && at(3) == 0x18) {
    return Compression::Zstd;
  }
  return Compression::None;
}

const char* CompressionName(Compression compression) {
  switch (compression) {
    case Compression::Gzip:
      return "gzip";
    case Compression::Xz:
      return "xz";
    case Compression::Bzip2:
      return "bzip2";
    case Compression::Zstd:
      return "zstd";
    case Compression::None:
      break;
  }
  return "";
}

std::unique_ptr<Decompressor> Decompressor::Create(Compression compression, ReadFn source,
                                                   std::size_t block) {
  switch (compression) {
    case Compression::Gzip:
      return std::make_unique<GzipDecompressor>(std::move(source), block);
    case Compression::Xz:
      return std::make_unique<XzDecompressor>(std::move(source), block);
    case Compression::Bzip2:
      return std::make_unique<Bzip2Decompressor>(std::move(source), block);
    case Compression::Zstd:
      return std::make_unique<ZstdDecompressor>(std::move(source), block);
    case Compression::None:
      break;
  }
  return nullptr;
}

Decompressor::Decompressor(Compression compression, ReadFn source, std::size_t block)
    : compression_(compression),
      source_(std::move(source)),
      in_(new unsigned char[std::max(block, kMagicBytes)]),
      size_(std::max(block, kMagicBytes)) {}

Decompressor::~Decompressor() = default;

void Decompressor::Fill(std::size_t want) {
  while (end_ - begin_ < want && !sourceEnded_) {
    if (end_ == size_) {
      if (begin_ == 0) return;  // full
      std::memmove(in_.get(), in_.get() + begin_, end_ - begin_);
      end_ -= begin_;
      begin_ = 0;
    }
    const std::size_t n = source_(reinterpret_cast<char*>(in_.get() + end_), size_ - end_);
    if (n == 0) sourceEnded_ = true;
    end_ += n;
  }
}

bool Decompressor::AnotherStream() {
  Fill(kMagicBytes);
  if (begin_ == end_) return false;
  const auto head = [&] {
    return std::string_view(reinterpret_cast<const char*>(in_.get() + begin_),
                            std::min(end_ - begin_, kMagicBytes));
  };
  if (CompressionOf(head()) == compression_) return true;
  const bool padding = compression_ == Compression::Gzip || compression_ == Compression::Xz;
  if (!padding || in_[begin_] != 0) throw Fault{kTrailingBytes};
  // Zero bytes to the end, or up to another stream (xz's stream padding stands between
  // streams too).
  for (;;) {
    while (begin_ < end_ && in_[begin_] == 0) ++begin_;
    Fill(kMagicBytes);
    if (begin_ == end_) return false;
    if (in_[begin_] != 0) {
      if (CompressionOf(head()) == compression_) return true;
      throw Fault{kTrailingBytes};
    }
  }
}

std::size_t Decompressor::Read(char* buffer, std::size_t size) {
  auto* out = reinterpret_cast<unsigned char*>(buffer);
  while (!done_ && size > 0) {
    if (!inStream_) {
      if (!AnotherStream()) {
        done_ = true;
        break;
      }
      Begin();
      inStream_ = true;
    }
    if (begin_ == end_) Fill(1);
    const std::size_t available = end_ - begin_;
    const Step step = Decode(in_.get() + begin_, available, out, size);
    begin_ += step.used;
    if (step.ended) inStream_ = false;
    if (step.made > 0) return step.made;
    if (step.ended || step.used > 0) continue;
    // Nothing taken, nothing given: the decoder wants more input than there is.
    Fill(available + 1);
    if (end_ - begin_ == available) {
      if (sourceEnded_) throw Fault{kEndsTooSoon};
      Damaged("the decoder makes no progress");  // a full buffer and still no progress
    }
  }
  return 0;
}

}  // namespace palomet::packed
