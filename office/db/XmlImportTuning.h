#pragma once

// Private to office/db and its tests: knobs of the XML import that tests turn to reach every
// way through it. The program never changes them.

#include <cstddef>
#include <cstdlib>

namespace palomet::xmlimport {

struct Tuning {
  // Lay tables out by walking every event instead of from the first parse's summary of
  // distinct paths; both must give the same tables.
  bool layoutByWalk = false;
  // Beyond this many distinct element paths the summary is dropped and the events are walked.
  std::size_t maxPaths = 50000;
  // The event stream stays in memory up to this many bytes, then moves to a temporary file.
  std::size_t memoryStreamBytes = 1u << 20;
  // Rows are inserted on a second thread for a stream of at least this many bytes.
  std::size_t threadStreamBytes = 1u << 20;
  // The tables a database file takes before the next file's tables go into a new part file
  // (StagingParts.h). Measured on many small files: from about 500 on, creating a table costs
  // noticeably more; far fewer make many files for little gain.
  int partTables = std::getenv("PT") ? std::atoi(std::getenv("PT")) : 250;
};

// The tuning in force; tests change it and put it back.
Tuning& ImportTuning();

}  // namespace palomet::xmlimport
