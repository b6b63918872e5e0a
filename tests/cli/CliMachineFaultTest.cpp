// --keep-going leaves out a file only for the file's own faults. Memory running out, inside
// the staging database's engine or anywhere else, is the machine's: it would fail every
// later file the same way, so it ends the run as an error of no single file, with nothing
// written.

#include <gtest/gtest.h>
#include <sqlite3.h>

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

// The engine's allocator, made to fail every allocation once `budget` of them are spent.
std::atomic<long> gBudget{-1};  // -1: no limit
sqlite3_mem_methods gReal;

bool Spend() {
  long left = gBudget.load();
  while (left > 0 && !gBudget.compare_exchange_weak(left, left - 1)) {
  }
  return left != 0;
}
void* FailingMalloc(int n) {
  return Spend() ? gReal.xMalloc(n) : nullptr;
}
void* FailingRealloc(void* p, int n) {
  return Spend() ? gReal.xRealloc(p, n) : nullptr;
}

class ExhaustibleSqliteMemory {
 public:
  ExhaustibleSqliteMemory() {
    sqlite3_shutdown();
    sqlite3_config(SQLITE_CONFIG_GETMALLOC, &gReal);
    sqlite3_mem_methods failing = gReal;
    failing.xMalloc = FailingMalloc;
    failing.xRealloc = FailingRealloc;
    sqlite3_config(SQLITE_CONFIG_MALLOC, &failing);
    sqlite3_initialize();
  }
  ~ExhaustibleSqliteMemory() {
    gBudget = -1;
    sqlite3_shutdown();
    sqlite3_config(SQLITE_CONFIG_MALLOC, &gReal);
    sqlite3_initialize();
  }
  ExhaustibleSqliteMemory(const ExhaustibleSqliteMemory&) = delete;
  ExhaustibleSqliteMemory& operator=(const ExhaustibleSqliteMemory&) = delete;
};

TEST(CliMachineFault, MemoryRunningOutInTheStagingDatabaseEndsTheRunWithNothingWritten) {
  TempDir dir;
  std::vector<std::string> files;
  for (int f = 0; f < 4; ++f) {
    std::string xml = "<r>";
    for (int i = 0; i < 300; ++i) {
      xml += "<T" + std::to_string(f) + "><a>" + std::to_string(i) + "</a><b>text " +
             std::to_string(i) + "</b></T" + std::to_string(f) + ">";
    }
    files.push_back(dir.Write("f" + std::to_string(f) + ".xml", xml + "</r>").string());
  }
  const std::string out = dir.Str() + "/out.xlsx";
  ExhaustibleSqliteMemory memory;
  int failed = 0;
  // Allocations run out at many points of the run: opening, making tables, inserting rows.
  for (long budget = 10; budget < 40'000; budget = budget * 3 / 2) {
    SCOPED_TRACE(budget);
    std::vector<std::string> args = {"-q", "-k", "-o", out};
    args.insert(args.end(), files.begin(), files.end());
    gBudget = budget;
    const auto r = Cli(args);
    gBudget = -1;
    if (r.status == 0) continue;  // the run needed fewer allocations than this
    ++failed;
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_EQ(test::Lines(r.err), 1) << r.err;
    EXPECT_EQ(r.err.find("left out"), std::string::npos) << r.err;
    EXPECT_FALSE(std::filesystem::exists(out)) << r.err;
  }
  EXPECT_GT(failed, 5);
}

// The program's own allocations: the `gFailAt`-th one while counting fails, once.
std::atomic<long> gFailAt{-1};

TEST(CliMachineFault, AnAllocationThatFailsEndsTheRunWithNothingWritten) {
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
