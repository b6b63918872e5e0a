// Deflate libraries and levels, side by side on the same bytes:
//
//   deflate_bench [--runs N] FILE.xlsx...
//
// Reads the worksheet parts (xl/worksheets/*.xml) of each workbook, then raw-deflates them,
// part by part as the package writer does, with zlib at levels 1, 2, 3 and 6 and ISA-L's igzip at
// levels 0 to 3. Prints, per workbook, the best time of N runs, MB/s of XML and the
// compressed size beside zlib level 6 (what libxlsxwriter uses).

#include <unzip.h>
#include <zlib.h>
#if PALOMET_BENCH_ISAL
#include <isa-l/igzip_lib.h>
#endif

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

std::vector<std::string> SheetParts(const char* path) {
  std::vector<std::string> parts;
  unzFile z = unzOpen64(path);
  if (!z) {
    std::fprintf(stderr, "cannot open %s\n", path);
    std::exit(1);
  }
  for (int rc = unzGoToFirstFile(z); rc == UNZ_OK; rc = unzGoToNextFile(z)) {
    char name[512];
    unz_file_info64 info{};
    unzGetCurrentFileInfo64(z, &info, name, sizeof name, nullptr, 0, nullptr, 0);
    if (std::string(name).rfind("xl/worksheets/", 0) != 0) continue;
    std::string data(info.uncompressed_size, '\0');
    unzOpenCurrentFile(z);
    unzReadCurrentFile(z, data.data(), static_cast<unsigned>(data.size()));
    unzCloseCurrentFile(z);
    parts.push_back(std::move(data));
  }
  unzClose(z);
  return parts;
}

std::size_t Zlib(const std::vector<std::string>& parts, int level, std::vector<unsigned char>& out) {
  std::size_t total = 0;
  z_stream s{};
  deflateInit2(&s, level, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY);
  for (const auto& p : parts) {
    deflateReset(&s);
    const std::size_t bound = deflateBound(&s, p.size());
    if (out.size() < bound) out.resize(bound);
    s.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(p.data()));
    s.avail_in = static_cast<uInt>(p.size());
    s.next_out = out.data();
    s.avail_out = static_cast<uInt>(out.size());
    deflate(&s, Z_FINISH);
    total += out.size() - s.avail_out;
  }
  deflateEnd(&s);
  return total;
}

#if PALOMET_BENCH_ISAL
std::size_t Isal(const std::vector<std::string>& parts, int level, std::vector<unsigned char>& out) {
  static constexpr std::size_t kBuf[] = {ISAL_DEF_LVL0_DEFAULT, ISAL_DEF_LVL1_DEFAULT,
                                         ISAL_DEF_LVL2_DEFAULT, ISAL_DEF_LVL3_DEFAULT};
  std::vector<std::uint8_t> levelBuf(kBuf[level]);
  std::size_t total = 0;
  for (const auto& p : parts) {
    isal_zstream s;
    isal_deflate_init(&s);
    s.level = static_cast<std::uint32_t>(level);
    s.level_buf = levelBuf.empty() ? nullptr : levelBuf.data();
    s.level_buf_size = static_cast<std::uint32_t>(levelBuf.size());
    s.end_of_stream = 1;
    if (out.size() < p.size() + p.size() / 8 + 4096) out.resize(p.size() + p.size() / 8 + 4096);
    s.next_in = reinterpret_cast<std::uint8_t*>(const_cast<char*>(p.data()));
    s.avail_in = static_cast<std::uint32_t>(p.size());
    s.next_out = out.data();
    s.avail_out = static_cast<std::uint32_t>(out.size());
    if (isal_deflate(&s) != COMP_OK) {
      std::fprintf(stderr, "isal_deflate failed at level %d\n", level);
      std::exit(1);
    }
    total += out.size() - s.avail_out;
  }
  return total;
}
#endif

}  // namespace

int main(int argc, char** argv) {
  int runs = 3;
  std::vector<const char*> files;
  for (int i = 1; i < argc; ++i) {
    if (std::string(argv[i]) == "--runs" && i + 1 < argc) {
      runs = std::max(1, std::atoi(argv[++i]));
    } else {
      files.push_back(argv[i]);
    }
  }
  if (files.empty()) {
    std::fprintf(stderr, "usage: deflate_bench [--runs N] FILE.xlsx...\n");
    return 2;
  }
  struct Way {
    const char* name;
    int level;
    std::size_t (*pack)(const std::vector<std::string>&, int, std::vector<unsigned char>&);
  };
  std::vector<Way> ways = {{"zlib", 1, Zlib}, {"zlib", 2, Zlib}, {"zlib", 3, Zlib}, {"zlib", 6, Zlib}};
#if PALOMET_BENCH_ISAL
  for (int l = 0; l <= 3; ++l) ways.push_back({"isa-l", l, Isal});
#endif
  std::printf("%-28s %-6s %5s %9s %9s %10s %8s\n", "workbook", "lib", "level", "seconds",
              "MB/s", "packed MB", "vs zlib6");
  std::vector<unsigned char> out;
  for (const char* file : files) {
    const auto parts = SheetParts(file);
    std::size_t bytes = 0;
    for (const auto& p : parts) bytes += p.size();
    std::size_t zlib6 = 0;
    std::vector<std::pair<double, std::size_t>> results;
    for (const Way& w : ways) {
      double best = 1e9;
      std::size_t size = 0;
      for (int r = 0; r < runs; ++r) {
        const auto t0 = std::chrono::steady_clock::now();
        size = w.pack(parts, w.level, out);
        best = std::min(best, std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count());
      }
      if (std::string(w.name) == "zlib" && w.level == 6) zlib6 = size;
      results.emplace_back(best, size);
    }
    std::string shown = file;
    if (shown.size() > 28) shown = "..." + shown.substr(shown.size() - 25);
    for (std::size_t i = 0; i < ways.size(); ++i) {
      std::printf("%-28s %-6s %5d %9.3f %9.1f %10.2f %8.3f\n", shown.c_str(), ways[i].name,
                  ways[i].level, results[i].first, bytes / 1e6 / results[i].first,
                  results[i].second / 1e6, static_cast<double>(results[i].second) / zlib6);
    }
    std::printf("%-28s sheet XML %.1f MB in %zu parts\n", shown.c_str(), bytes / 1e6, parts.size());
  }
  return 0;
}
