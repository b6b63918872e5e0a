// --keep-going leaves out a file only for the file's own faults. Memory running out is the
// machine's: it would fail every later file the same way, so it ends the run as an error of
// no single file, with nothing written.

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <new>
#include <sstream>
#include <string>
#include <vector>

#include "tests/cli/CliInProcess.h"
#include "tests/support/TempDir.h"

namespace palomet {
namespace {

using test::Cli;
using test::TempDir;

// The program's own allocations: the `gFailAt`-th one while counting fails, once.
std::atomic<long> gFailAt{-1};

TEST(CliMachineFault, AnAllocationThatFailsEndsTheRunWithNothingWritten) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "AddressSanitizer keeps the allocation functions to itself";
#endif
  TempDir dir;
  std::vector<std::string> files;
  for (int f = 0; f < 3; ++f) {
    std::string xml = "<r>";
    for (int i = 0; i < 200; ++i) {
      xml += "<T" + std::to_string(f) + " n=\"" + std::to_string(i) + "\"><b>text " +
             std::to_string(i) + "</b></T" + std::to_string(f) + ">";
    }
    files.push_back(dir.Write("f" + std::to_string(f) + ".xml", xml + "</r>").string());
  }
  const std::string out = dir.Str() + "/out.xlsx";
  int failed = 0;
  for (long at = 1; at < 200'000; at = at * 5 / 4 + 1) {
    SCOPED_TRACE(at);
    std::vector<std::string> args = {"-q", "-k", "-o", out};
    args.insert(args.end(), files.begin(), files.end());
    std::filesystem::remove(out);
    std::ostringstream o, e;
    gFailAt = at;
    const int status = RunCli(args, o, e);
    gFailAt = -1;
    const test::CliResult r{status, o.str(), e.str()};
    if (r.status == 0) continue;  // the failed allocation was one the run can do without
    ++failed;
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_EQ(r.err.find("left out"), std::string::npos) << r.err;
    EXPECT_FALSE(std::filesystem::exists(out)) << r.err;
  }
  EXPECT_GT(failed, 5);
}

}  // namespace
}  // namespace palomet

#if !defined(__SANITIZE_ADDRESS__)
// Every allocation of the test program goes through here, so that one can be made to fail.
void* operator new(std::size_t n) {
  if (palomet::gFailAt.load(std::memory_order_relaxed) > 0 && palomet::gFailAt.fetch_sub(1) == 1) {
    throw std::bad_alloc();
  }
  if (void* p = std::malloc(n == 0 ? 1 : n)) return p;
  throw std::bad_alloc();
}
void operator delete(void* p) noexcept {
  std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
  std::free(p);
}
#endif
