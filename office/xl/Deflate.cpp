#include "office/xl/Deflate.h"

#include <stdexcept>
#include <vector>

#if PALOMET_DEFLATE_ISAL
#include <isa-l/crc.h>
#include <isa-l/igzip_lib.h>
#else
#include <zlib.h>
#endif

namespace palomet::xl::detail {

#if PALOMET_DEFLATE_ISAL

// Level 2: as fast as level 1 on the benchmark workloads and a little smaller; level 3 takes
// twice the time for 0-5 % less.
int DefaultDeflateLevel() {
  return 2;
}

const char* DeflateLibrary() {
  return "isa-l";
}

struct RawDeflater::State {
  isal_zstream stream{};
  std::vector<std::uint8_t> levelBuf;
  int level = 1;
};

RawDeflater::RawDeflater(int level) : state_(std::make_unique<State>()) {
  state_->level = level < 0 ? 0 : level > ISAL_DEF_MAX_LEVEL ? ISAL_DEF_MAX_LEVEL : level;
  static constexpr std::size_t kBuf[] = {ISAL_DEF_LVL0_DEFAULT, ISAL_DEF_LVL1_DEFAULT,
                                         ISAL_DEF_LVL2_DEFAULT, ISAL_DEF_LVL3_DEFAULT};
  state_->levelBuf.resize(kBuf[state_->level]);
  Reset();
}

RawDeflater::~RawDeflater() = default;

void RawDeflater::Reset() {
  isal_zstream& s = state_->stream;
  isal_deflate_init(&s);
  s.level = static_cast<std::uint32_t>(state_->level);
  s.level_buf = state_->levelBuf.empty() ? nullptr : state_->levelBuf.data();
  s.level_buf_size = static_cast<std::uint32_t>(state_->levelBuf.size());
  s.gzip_flag = IGZIP_DEFLATE;
  s.flush = NO_FLUSH;
}

void RawDeflater::Add(const char* data, std::size_t n, bool last, std::string& out) {
  isal_zstream& s = state_->stream;
  s.next_in = reinterpret_cast<std::uint8_t*>(const_cast<char*>(data));
  s.avail_in = static_cast<std::uint32_t>(n);
  s.end_of_stream = last ? 1 : 0;
  for (;;) {
    const std::size_t have = out.size();
    // Incompressible input grows by a few bytes per 64 KB block; leave room for that.
    const std::size_t room = s.avail_in + s.avail_in / 64 + 1024;
    out.resize(have + room);
    s.next_out = reinterpret_cast<std::uint8_t*>(out.data() + have);
    s.avail_out = static_cast<std::uint32_t>(room);
    const int rc = isal_deflate(&s);
    out.resize(have + room - s.avail_out);
    if (rc != COMP_OK) throw std::runtime_error("compression failed (ISA-L " + std::to_string(rc) + ")");
    if (s.avail_in == 0 && (!last || s.internal_state.state == ZSTATE_END)) break;
  }
}

std::uint32_t Crc32(std::uint32_t crc, const char* data, std::size_t n) {
  return crc32_gzip_refl(crc, reinterpret_cast<const unsigned char*>(data), n);
}

#else

// Level 2: level 1 leaves nested workloads over a quarter larger than level 6.
int DefaultDeflateLevel() {
  return 2;
}

const char* DeflateLibrary() {
  return "zlib";
}

struct RawDeflater::State {
  z_stream stream{};
  int level = 1;
};

RawDeflater::RawDeflater(int level) : state_(std::make_unique<State>()) {
  state_->level = level < 1 ? 1 : level > 9 ? 9 : level;
  if (deflateInit2(&state_->stream, state_->level, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) != Z_OK) {
    throw std::runtime_error("compression failed (zlib cannot start)");
  }
}

RawDeflater::~RawDeflater() {
  deflateEnd(&state_->stream);
}

void RawDeflater::Reset() {
  deflateReset(&state_->stream);
}

void RawDeflater::Add(const char* data, std::size_t n, bool last, std::string& out) {
  z_stream& s = state_->stream;
  s.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data));
  s.avail_in = static_cast<uInt>(n);
  for (;;) {
    const std::size_t have = out.size();
    const std::size_t room = deflateBound(&s, s.avail_in) + 64;
    out.resize(have + room);
    s.next_out = reinterpret_cast<Bytef*>(out.data() + have);
    s.avail_out = static_cast<uInt>(room);
    const int rc = deflate(&s, last ? Z_FINISH : Z_NO_FLUSH);
    out.resize(have + room - s.avail_out);
    if (rc == Z_STREAM_END) break;
    if (rc != Z_OK && rc != Z_BUF_ERROR) throw std::runtime_error("compression failed (zlib)");
    if (!last && s.avail_in == 0) break;
  }
}

std::uint32_t Crc32(std::uint32_t crc, const char* data, std::size_t n) {
  return static_cast<std::uint32_t>(
      crc32_z(crc, reinterpret_cast<const Bytef*>(data), static_cast<z_size_t>(n)));
}

#endif

}  // namespace palomet::xl::detail
