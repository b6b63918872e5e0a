// Import throughput and peak memory of the XML import, beside a bare libxml2 streaming parse of
// the same file measured in the same run, and the speed of streaming the staged rows back.
//
//   bench_staging [--runs N] FILE.xml...
//
// Every measurement runs in a child process of its own so that its peak resident memory is its
// own; runs of the yardstick and the import alternate, and the best of N is reported, as the
// machine is shared and noisy.

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "office/Error.h"
#include "office/MessageBoxes.h"
#include "office/db/DatabaseApplication.h"
#include "bench/staging/XmlBaseline.h"
#include "staging/Access1.h"

namespace {

struct Sample {
  double seconds;  // wall time
  double cpu;      // user and system time of the child
  long peakKb;
};

// Runs `work` in a child process; returns its wall time and peak resident memory.
template <typename Work>
Sample Measure(Work work) {
  std::fflush(stdout);
  const auto start = std::chrono::steady_clock::now();
  const pid_t pid = fork();
  if (pid == 0) {
    int rc = 0;
    try {
      work();
    } catch (const std::exception& e) {
      std::fprintf(stderr, "failed: %s\n", e.what());
      rc = 1;
    }
    _exit(rc);
  }
  int status = 0;
  rusage usage{};
  wait4(pid, &status, 0, &usage);
  const double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    std::fprintf(stderr, "a measured run failed\n");
    std::exit(1);
  }
  const double cpu = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                     static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
  return {s, cpu, usage.ru_maxrss};
}

class SilentBoxes : public palomet::MessageBoxes {
 public:
  palomet::MsgResult Show(const std::string&, palomet::MsgButtons, palomet::MsgIcon,
                          palomet::MsgResult) override {
    return palomet::MsgResult::Ok;
  }
};

Sample Best(const std::vector<Sample>& v) {
  return *std::min_element(v.begin(), v.end(),
                           [](const Sample& a, const Sample& b) { return a.seconds < b.seconds; });
}

}  // namespace

int main(int argc, char** argv) {
  int runs = 3;
  std::vector<std::string> files;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--runs" && i + 1 < argc) {
      runs = std::max(1, std::atoi(argv[++i]));
    } else {
      files.push_back(a);
    }
  }
  if (files.empty()) {
    std::fprintf(stderr, "usage: %s [--runs N] FILE.xml...\n", argv[0]);
    return 2;
  }
  const auto dbPath = std::filesystem::temp_directory_path() /
                      ("palomet-bench-" + std::to_string(getpid()) + ".db");
  std::printf("%-16s %7s %10s %9s %11s %9s %6s %9s %10s\n", "file", "MB", "parse MB/s", "parse MB",
              "import MB/s", "import MB", "ratio", "cpu ratio", "read MB/s");
  for (const std::string& file : files) {
    const double mb = static_cast<double>(std::filesystem::file_size(file)) / 1e6;
    std::vector<Sample> parse, import, read;
    for (int r = 0; r < runs; ++r) {
      parse.push_back(Measure([&] { palomet::ParseXmlBaseline(file); }));
      std::filesystem::remove(dbPath);
      {
        std::FILE* f = std::fopen(dbPath.c_str(), "wb");
        if (f) std::fclose(f);
      }
      import.push_back(Measure([&] {
        palomet::DatabaseApplication app;
      app.OpenCurrentDatabase(dbPath.string());
      app.ImportXml(file);
      app.Quit();
    }));
    read.push_back(Measure([&] {
      SilentBoxes boxes;
      const auto tables = palomet::GetTableNames(dbPath.string(), "", boxes);
      palomet::RowString row;
      std::size_t bytes = 0;
      for (const std::string& t : tables.value()) {
        palomet::TableRowReader reader(t, dbPath.string(), "");
        while (reader.Next(row)) bytes += row.Text().size();
      }
      if (bytes == 0) throw std::runtime_error("nothing read");
    }));
  }
  const Sample p = Best(parse), i = Best(import), rd = Best(read);
  std::printf("%-16s %7.1f %10.1f %9.1f %11.1f %9.1f %6.2f %9.2f %10.1f\n",
              std::filesystem::path(file).filename().c_str(), mb, mb / p.seconds, p.peakKb / 1024.0,
              mb / i.seconds, i.peakKb / 1024.0, i.seconds / p.seconds, i.cpu / p.cpu,
              mb / rd.seconds);
}
std::filesystem::remove(dbPath);
return 0;
}
