#include "office/db/xmlimport/RowInserter.h"

#include <algorithm>
#include <exception>
#include <new>
#include <system_error>

#include "office/Error.h"
#include "office/StageTimes.h"
#include "office/XmlInput.h"

namespace palomet::xmlimport {

namespace {

// Rows inserted one at a time into every table before the batches, in batches' worth.
constexpr int kSingleRowsFirst = 2;

// The table's insert of `rows` rows at a time.
sqlitedb::StmtPtr PrepareInsert(sqlite3* db, const std::string& path, const Table& t, int rows) {
  std::string sql = t.insertHead;
  for (int r = 0; r < rows; ++r) {
    sql += r == 0 ? "(?" : ", (?";
    for (int i = 0; i < t.columnCount; ++i) sql += ", ?";
    sql += ")";
  }
  sqlite3_stmt* raw = nullptr;
  if (sqlite3_prepare_v3(db, sql.c_str(), static_cast<int>(sql.size()), SQLITE_PREPARE_PERSISTENT,
                         &raw, nullptr) != SQLITE_OK) {
    throw sqlitedb::ImportWriteError(db, path);
  }
  return sqlitedb::StmtPtr(raw);
}

// Binds and inserts the rows of `count` buffers with the table's statements, preparing them
// on first use. Runs on the thread that holds the connection.
void InsertRows(sqlite3* db, const std::string& path, Table& t, const std::vector<RowBuffer>& rows,
                int count) {
  const int width = t.columnCount + 1;
  for (int first = 0; first < count;) {
    // Preparing the statement of many rows costs about as much as inserting a few dozen rows
    // one at a time: a table starts with single rows and takes batches once it proves big.
    const bool whole = t.batchSize > 1 && count - first >= t.batchSize &&
                       t.inserted >= kSingleRowsFirst * t.batchSize;
    sqlitedb::StmtPtr& stmt = whole ? t.insertBatch : t.insertOne;
    if (!stmt) stmt = PrepareInsert(db, path, t, whole ? t.batchSize : 1);
    sqlite3_stmt* s = stmt.get();
    const int rowsPerStatement = whole ? t.batchSize : 1;
    for (int r = 0; r < rowsPerStatement; ++r) {
      const RowBuffer& row = rows[static_cast<std::size_t>(first + r)];
      const int base = r * width;
      // A row that follows the table's highest so far takes its number from SQLite, which
      // appends without searching the tree; others (inner rows of a self-nested record
      // finish first) give theirs.
      if (row.row == t.maxRow + 1) {
        sqlite3_bind_null(s, base + 1);
      } else {
        sqlite3_bind_int64(s, base + 1, row.row);
      }
      t.maxRow = std::max(t.maxRow, row.row);
      for (int c = 0; c < t.columnCount; ++c) {
        const std::int64_t len = row.length[static_cast<std::size_t>(c)];
        if (len < 0) {
          sqlite3_bind_null(s, base + c + 2);
        } else {
          sqlite3_bind_text64(s, base + c + 2,
                              row.arena.data() + row.offset[static_cast<std::size_t>(c)],
                              static_cast<sqlite3_uint64>(len), SQLITE_STATIC, SQLITE_UTF8);
        }
      }
    }
    const int rc = sqlite3_step(s);
    sqlite3_reset(s);
    if (rc != SQLITE_DONE) throw sqlitedb::ImportWriteError(db, path);
    first += rowsPerStatement;
    t.inserted += rowsPerStatement;
  }
}

}  // namespace

Inserter::Inserter(sqlite3* db, const std::string& path, bool wantThread)
    : db_(db), path_(path), threaded_(wantThread && std::thread::hardware_concurrency() > 1) {
  if (threaded_) {
    try {
      thread_ = std::thread([this] { Run(); });
    } catch (const std::system_error&) {
      threaded_ = false;  // no second thread to be had: insert as the rows come
    }
  }
}

void Inserter::Submit(Table& t, int count) {
  if (!threaded_) {
    InsertRows(db_, path_, t, t.batch, count);
    return;
  }
  std::size_t bytes = 0;
  for (int i = 0; i < count; ++i) {
    const RowBuffer& row = t.batch[static_cast<std::size_t>(i)];
    bytes += row.arena.size() + row.length.size() * 16 + 64;
  }
  std::unique_lock<std::mutex> lock(mutex_);
  // A few batches in flight are enough to keep both threads busy; their buffers are reused.
  {
    stagetimes::Timer timer("staging rows: waiting on inserts");
    changed_.wait(lock, [&] {
      return failed_ || queue_.empty() ||
             (queue_.size() < kMaxQueuedJobs && queuedBytes_ + bytes <= kMaxQueuedBytes);
    });
  }
  if (failed_) throw Error(errorNumber_, error_);
  Job job{&t, count, bytes, std::move(t.batch)};
  if (spare_.empty()) {
    t.batch = std::vector<RowBuffer>();
  } else {
    t.batch = std::move(spare_.back());
    spare_.pop_back();
  }
  queuedBytes_ += bytes;
  queue_.push_back(std::move(job));
  changed_.notify_all();
}

void Inserter::Finish() {
  Stop();
  if (failed_) throw Error(errorNumber_, error_);
}

void Inserter::Run() {
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    changed_.wait(lock, [&] { return done_ || !queue_.empty(); });
    if (queue_.empty()) return;
    Job job = std::move(queue_.front());
    queue_.pop_front();
    const bool skip = failed_;
    lock.unlock();
    std::string failure;
    long number = errnum::kXmlImport;
    if (!skip) {
      try {
        stagetimes::Timer timer("staging inserts (2nd thread)");
        InsertRows(db_, path_, *job.table, job.rows, job.count);
      } catch (const Error& e) {
        failure = e.what();
        number = e.Number();
      } catch (const std::bad_alloc&) {
        failure = ImportFailure(path_, "out of memory");
        number = errnum::kOutOfMemory;
      } catch (const std::exception& e) {
        failure = e.what();
        number = errnum::kGeneric;  // the program's own failure, not the file's
      }
    }
    lock.lock();
    if (!failure.empty() && !failed_) {
      failed_ = true;
      error_ = failure;
      errorNumber_ = number;
    }
    queuedBytes_ -= job.bytes;
    spare_.push_back(std::move(job.rows));
    changed_.notify_all();
  }
}

void Inserter::Stop() {
  if (!thread_.joinable()) return;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    done_ = true;
  }
  changed_.notify_all();
  thread_.join();
}

}  // namespace palomet::xmlimport
