#pragma once

// Wall time spent in the stages of an import, for finding the slow one. Off unless the
// environment variable PALOMET_STAGE_TIMES is set (to anything); then every timed block
// adds its duration to a named total, and palomet-import prints the totals to standard
// error at the end of a run. Switched off, a timer costs one test of a cached flag.
//
// Totals may be added from any thread; a stage timed on a second thread (the staging
// inserts) overlaps the stages of the first, so the totals need not add up to the run.

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

namespace palomet::stagetimes {

inline bool Enabled() {
  static const bool on = std::getenv("PALOMET_STAGE_TIMES") != nullptr;
  return on;
}

using Clock = std::chrono::steady_clock;

struct Totals {
  std::mutex mutex;
  std::vector<std::pair<std::string, double>> seconds;  // in the order first seen
};

inline Totals& AllTotals() {
  static Totals totals;
  return totals;
}

inline void Add(const char* stage, double seconds) {
  Totals& t = AllTotals();
  std::lock_guard<std::mutex> lock(t.mutex);
  for (auto& [name, total] : t.seconds) {
    if (name == stage) {
      total += seconds;
      return;
    }
  }
  t.seconds.emplace_back(stage, seconds);
}

inline double Since(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

// Adds the time from construction to destruction to `stage` (a string literal).
class Timer {
 public:
  explicit Timer(const char* stage) : stage_(Enabled() ? stage : nullptr) {
    if (stage_) start_ = Clock::now();
  }
  ~Timer() {
    if (stage_) Add(stage_, Since(start_));
  }
  Timer(const Timer&) = delete;
  Timer& operator=(const Timer&) = delete;

 private:
  const char* stage_;
  Clock::time_point start_{};
};

// The totals, one "stage: seconds" line each, in the order the stages were first timed.
inline std::string Report() {
  Totals& t = AllTotals();
  std::lock_guard<std::mutex> lock(t.mutex);
  std::string out;
  for (const auto& [name, total] : t.seconds) {
    char line[160];
    std::snprintf(line, sizeof line, "stage %-28s %9.3f s\n", (name + ":").c_str(), total);
    out += line;
  }
  return out;
}

}  // namespace palomet::stagetimes
