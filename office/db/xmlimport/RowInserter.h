#pragma once

// Private to the XML import: puts finished rows into their tables. Rows come in batches
// from a table's RowBuffers and go in with the table's prepared multi-row inserts; for a big
// file a second thread inserts while the events are still being read. Between construction
// and Finish the database connection and the tables' statements belong to the Inserter.
// A refused insert raises what sqlitedb::ImportWriteError makes of it.

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "office/Error.h"
#include "office/db/xmlimport/Layout.h"

namespace palomet::xmlimport {

// Inserts batches of finished rows on a thread of its own when `wantThread` and the machine
// has a second core, so that SQLite's work overlaps the reading of the events; otherwise as
// they come. Batches waiting are limited in bytes, so memory stays flat however fast the
// reading side is.
class Inserter {
 public:
  Inserter(sqlite3* db, const std::string& path, bool wantThread);
  ~Inserter() { Stop(); }
  Inserter(const Inserter&) = delete;
  Inserter& operator=(const Inserter&) = delete;

  // Takes the first `count` rows of t's batch; t gets a batch to fill again.
  void Submit(Table& t, int count);

  // Waits until every row is in the database; raises what inserting raised.
  void Finish();

 private:
  static constexpr std::size_t kMaxQueuedBytes = 8u << 20;
  static constexpr std::size_t kMaxQueuedJobs = 4;

  struct Job {
    Table* table;
    int count;
    std::size_t bytes;
    std::vector<RowBuffer> rows;
  };

  void Run();
  void Stop();

  sqlite3* db_;
  const std::string& path_;
  bool threaded_;
  std::thread thread_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<Job> queue_;
  std::vector<std::vector<RowBuffer>> spare_;
  std::size_t queuedBytes_ = 0;
  bool done_ = false;
  bool failed_ = false;
  std::string error_;
  long errorNumber_ = errnum::kXmlImport;
};

}  // namespace palomet::xmlimport
