#pragma once

// Compressed files and archives for tests, written with libarchive: any packing the program
// reads, hostile ones included (names leading outside, encryption, bombs, damage).

#include <archive.h>
#include <archive_entry.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/support/TempDir.h"

namespace palomet::test {

// One member: `head`, then `filler` `times` times, then `tail`.
struct Member {
  std::string name;
  std::string head;
  std::string filler = {};
  std::uint64_t times = 0;
  std::string tail = {};
  std::uint64_t Size() const { return head.size() + filler.size() * times + tail.size(); }
};

struct Packing {
  std::string format;           // "zip", "tar", or "raw" (one compressed stream, no archive)
  std::string filter;           // "", "gzip", "xz", "bzip2", "zstd"
  std::string passphrase = {};  // zip only: every member encrypted with it
  std::string options = {};     // libarchive's write options ("zip:compression=store")
};

// Writes `members` to `path` packed as `packing`; fails the test when libarchive refuses.
inline void WritePacked(const std::filesystem::path& path, const Packing& packing,
                        const std::vector<Member>& members) {
  std::filesystem::create_directories(path.parent_path());
  struct archive* a = archive_write_new();
  bool ok = true;  // after a refusal nothing more is tried
  const auto check = [&](int rc, const char* what) {
    if (ok && rc < ARCHIVE_WARN) ADD_FAILURE() << what << ": " << archive_error_string(a);
    ok = ok && rc >= ARCHIVE_WARN;
  };
  if (packing.format == "zip") {
    check(archive_write_set_format_zip(a), "zip");
  } else if (packing.format == "tar") {
    check(archive_write_set_format_pax_restricted(a), "tar");
  } else {
    check(archive_write_set_format_raw(a), "raw");
  }
  if (!packing.filter.empty())
    check(archive_write_add_filter_by_name(a, packing.filter.c_str()), "filter");
  if (!packing.options.empty())
    check(archive_write_set_options(a, packing.options.c_str()), "options");
  if (!packing.passphrase.empty()) {
    check(archive_write_set_options(a, "zip:encryption=zipcrypt"), "encryption");
    check(archive_write_set_passphrase(a, packing.passphrase.c_str()), "passphrase");
  }
  check(archive_write_open_filename(a, path.c_str()), "open");
  for (const Member& m : members) {
    if (!ok) break;
    struct archive_entry* e = archive_entry_new();
    archive_entry_set_pathname(e, m.name.c_str());
    const bool folder = !m.name.empty() && m.name.back() == '/';
    archive_entry_set_filetype(e, folder ? AE_IFDIR : AE_IFREG);
    archive_entry_set_perm(e, folder ? 0755 : 0644);
    archive_entry_set_size(e, static_cast<la_int64_t>(m.Size()));
    check(archive_write_header(a, e), "header");
    archive_write_data(a, m.head.data(), m.head.size());
    if (!m.filler.empty()) {
      // Filled a block at a time: a bomb's member is far bigger than the test's memory needs.
      std::string block;
      while (block.size() < (1u << 20)) block += m.filler;
      const std::uint64_t perBlock = block.size() / m.filler.size();
      for (std::uint64_t left = m.times; left > 0;) {
        const std::uint64_t n = std::min(left, perBlock);
        archive_write_data(a, block.data(), n * m.filler.size());
        left -= n;
      }
    }
    archive_write_data(a, m.tail.data(), m.tail.size());
    archive_entry_free(e);
  }
  check(archive_write_close(a), "close");
  archive_write_free(a);
}

// `xml` as one compressed stream by `filter`, written to `path`.
inline void WriteCompressed(const std::filesystem::path& path, const std::string& filter,
                            const std::string& xml) {
  WritePacked(path, {"raw", filter}, {{"data", xml}});
}

}  // namespace palomet::test
