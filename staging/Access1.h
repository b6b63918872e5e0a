#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "office/MessageBoxes.h"
#include "staging/RowString.h"

namespace palomet {

// Holds the staging database at `path` for one run, from its reset to its last read: while
// the object lives, another StagingLock on the same file, in this process or another, is
// refused, so that two runs never stage into one database and read each other's tables. The
// lock goes with the process: a killed run never keeps it. A missing file is not held (the
// run then fails opening it). Raises Error 3211 naming the file when another run holds it.
// Goes before any connection to the file is opened and outlives them all: closing a file
// gives up every lock the process's connections hold on it.
class StagingLock {
 public:
  explicit StagingLock(const std::string& path);
  ~StagingLock();
  StagingLock(const StagingLock&) = delete;
  StagingLock& operator=(const StagingLock&) = delete;

 private:
  int fd_ = -1;
};

// Empties the staging database: drops every user table the catalogue lists, in its order, as
// DropTable does but over one connection (the tables of part files with their files), and
// gives the room back, leaving the file as small as an empty database. A database that a
// killed run or a full disk left damaged is made an empty one instead, without a message. Does
// nothing when the catalogue lists nothing (missing, foreign or held file).
// Raises Error when a connection cannot be opened, and when a listed table is still there
// afterwards (naming it), so that last run's rows are never taken for this run's.
void ResetStagingDatabase(const std::string& path, const std::string& password,
                          MessageBoxes& boxes);

// Makes the staging database an empty one at once, whatever it holds, its part files gone:
// for a run that failed because the database could not take its data (a full disk), so that
// the room it took goes back. Raises Error naming the file when it cannot be written.
void EmptyStagingDatabase(const std::string& path);

// Drops one table over a connection of its own, with an empty database password. Raises
// Error when the connection cannot be opened; a failing drop statement is ignored.
void DropTable(const std::string& tableName, const std::string& path);

// True for table attributes the catalogue lists: everything but 1, 2 and negative values.
bool IsListedTableAttributes(long attributes);

// The user tables of the database, in creation order, or nothing when the file is missing or
// cannot be opened. A file that is not a database shows "Unrecognized MS Access Database
// File" first. A password of blanks only counts as none. Never raises.
std::optional<std::vector<std::string>> ListUserTables(const std::string& path,
                                                       const std::string& password,
                                                       MessageBoxes& boxes);

// The same names as an array: nothing (no array) when the catalogue failed, an empty vector
// when the database holds no listed table. Never raises.
std::optional<std::vector<std::string>> GetTableNames(const std::string& path,
                                                      const std::string& password,
                                                      MessageBoxes& boxes);

// `value` unless it is Null, `defaultValue` otherwise.
inline std::string_view NullToDefault(std::optional<std::string_view> value,
                                      std::string_view defaultValue) {
  return value ? *value : defaultValue;
}

// The whole table as row strings: element 0 the field names, then one row per record in
// stored order; Null gives the empty text. Raises Error (missing file, no such table, ...).
std::vector<RowString> ReadTableRows(const std::string& tableName, const std::string& path,
                                     const std::string& password);

// One open connection to a staging database, for reading several of its tables in turn.
// Every connection reads the whole catalogue once, which for a database of thousands of
// tables costs far more than their rows: a run reads all its tables over one.
class StagingReader {
 public:
  // Opens the database. Raises Error as ReadTableRows does.
  StagingReader(const std::string& path, const std::string& password);
  ~StagingReader();
  StagingReader(const StagingReader&) = delete;
  StagingReader& operator=(const StagingReader&) = delete;

 private:
  friend class TableRowReader;
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// ReadTableRows over an open connection.
std::vector<RowString> ReadTableRows(const std::string& tableName, StagingReader& database);

// The same rows as ReadTableRows, one at a time, in flat memory: the header row first.
class TableRowReader {
 public:
  // Opens the table for reading. Raises Error as ReadTableRows does.
  TableRowReader(const std::string& tableName, const std::string& path,
                 const std::string& password);
  // The same over an open connection, which must outlive the reader; one reader at a time.
  TableRowReader(const std::string& tableName, StagingReader& database);
  ~TableRowReader();
  TableRowReader(const TableRowReader&) = delete;
  TableRowReader& operator=(const TableRowReader&) = delete;

  // Fills `row` with the next row and returns true, or returns false after the last one.
  // Raises Error when reading fails.
  bool Next(RowString& row);
  // The number of records (the header row not counted).
  std::int64_t RecordCount() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace palomet
