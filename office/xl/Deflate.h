#pragma once

// Internal to the engine: raw deflate (no header, as zip entries hold it) and CRC-32 for the
// package writer. Built on ISA-L's igzip where the build found it, else on zlib.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace palomet::xl::detail {

// The level the package writer uses. For ISA-L, 0 to 3; for zlib, 1 to 9. Chosen by
// measurement on the benchmark workloads (bench/RESULTS.md, "Deflate").
int DefaultDeflateLevel();
// "isa-l" or "zlib": what this build compresses with.
const char* DeflateLibrary();

// One part's compressed stream at a time; Reset begins the next.
class RawDeflater {
 public:
  explicit RawDeflater(int level = DefaultDeflateLevel());
  ~RawDeflater();
  RawDeflater(const RawDeflater&) = delete;
  RawDeflater& operator=(const RawDeflater&) = delete;

  // Begins a new stream.
  void Reset();
  // Compresses `n` bytes at `data`, appending the output to `out`; `last` ends the stream.
  // Throws std::runtime_error only when the library fails, which it does not for valid use.
  void Add(const char* data, std::size_t n, bool last, std::string& out);

 private:
  struct State;
  std::unique_ptr<State> state_;
};

// CRC-32 (as zip entries and gzip use it), continuing from `crc` (0 to begin).
std::uint32_t Crc32(std::uint32_t crc, const char* data, std::size_t n);

}  // namespace palomet::xl::detail
