#include "staging/Access1.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

#include "office/Error.h"
#include "office/Files.h"
#include "office/db/Ado.h"
#include "office/db/Dao.h"

namespace palomet {

namespace {

constexpr const char* kProvider = "PROVIDER=Microsoft.Jet.OLEDB.4.0;Data Source=";
constexpr const char* kPasswordKey = ";JET OLEDB:Database Password=";

std::string TrimBlanks(const std::string& s) {
  const auto first = s.find_first_not_of(' ');
  if (first == std::string::npos) return {};
  return s.substr(first, s.find_last_not_of(' ') - first + 1);
}

// The listed tables of the database; raises what the catalogue engine raises.
std::vector<std::string> CatalogueNames(const std::string& path, const std::string& password) {
  const std::string workingPassword = TrimBlanks(password);
  Workspace& workspace = GetDBEngine().Workspaces(0);
  auto database =
      workingPassword.empty()
          ? workspace.OpenDatabase(path)
          : workspace.OpenDatabase(path, false, false, "MS ACCESS;PWD=" + workingPassword);
  std::vector<std::string> names;
  for (const TableDef& def : database->TableDefs()) {
    if (IsListedTableAttributes(def.Attributes)) names.push_back(def.Name);
  }
  database->Close();
  return names;
}

// Drops the tables in turn as DropTable does, over one connection and in one transaction:
// each connection of the engine reads the whole catalogue first, so one per table made the
// reset of a run's thousands of tables quadratic. A failing drop statement is ignored as
// there; a failing commit leaves every table in place, which the caller's check reports.
void DropTables(const std::vector<std::string>& tableNames, const std::string& path) {
  Connection connection;
  connection.Mode = kAdModeReadWrite;
  connection.Open(kProvider + path + kPasswordKey, "", "", kAdOptionUnspecified);
  try {
    // The staging tables are scratch: their pages need not be overwritten when freed.
    connection.Execute("PRAGMA journal_mode=MEMORY; PRAGMA secure_delete=OFF",
                       kAdOptionUnspecified);
    connection.Execute("BEGIN", kAdOptionUnspecified);
  } catch (...) {
  }
  for (const std::string& name : tableNames) {
    try {
      connection.Execute("DROP TABLE " + QuoteSqlName(name), kAdOptionUnspecified);
    } catch (...) {
      // A table the engine refuses to drop stays; the reset checks for it afterwards.
    }
  }
  try {
    connection.Execute("COMMIT", kAdOptionUnspecified);
  } catch (...) {
    // Closing the connection rolls the drops back: all tables stay, and are reported.
  }
}

}  // namespace

StagingLock::StagingLock(const std::string& path) {
  fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd_ < 0) return;
  if (::flock(fd_, LOCK_EX | LOCK_NB) == 0) return;
  const int why = errno;
  ::close(fd_);
  fd_ = -1;
  if (why != EWOULDBLOCK) return;  // a file system without locks: nothing to hold
  throw Error(errnum::kInUse, "Another import is using the staging database '" + path +
                                  "' (in another copy of this program, or palomet-import); "
                                  "try again when it has finished.");
}

StagingLock::~StagingLock() {
  if (fd_ >= 0) ::close(fd_);
}

bool IsListedTableAttributes(long attributes) {
  return attributes >= 0 && attributes != 1 && attributes != 2;
}

std::optional<std::vector<std::string>> ListUserTables(const std::string& path,
                                                       const std::string& password,
                                                       MessageBoxes& boxes) {
  long errorNumber = 0;
  try {
    if (!FileExists(path)) return std::nullopt;
    return CatalogueNames(path, password);
  } catch (const Error& e) {
    errorNumber = e.Number();
  } catch (...) {
    errorNumber = errnum::kGeneric;
  }
  if (errorNumber == errnum::kNotADatabase) {
    try {
      boxes.Show("Unrecognized MS Access Database File", MsgButtons::Ok, MsgIcon::None);
    } catch (...) {
    }
  }
  return std::nullopt;
}

std::optional<std::vector<std::string>> GetTableNames(const std::string& path,
                                                      const std::string& password,
                                                      MessageBoxes& boxes) {
  return ListUserTables(path, password, boxes);
}

void EmptyStagingDatabase(const std::string& path) {
  EmptyDatabaseFile(path);
}

void DropTable(const std::string& tableName, const std::string& path) {
  Connection connection;
  connection.Mode = kAdModeReadWrite;
  connection.Open(kProvider + path + kPasswordKey, "", "", kAdOptionUnspecified);
  try {
    // The journal stays in memory, as during the import: a program folder that takes no new
    // files (the journal's) must not keep last run's tables in the staging database.
    connection.Execute("PRAGMA journal_mode=MEMORY", kAdOptionUnspecified);
    connection.Execute("DROP TABLE " + QuoteSqlName(tableName), kAdOptionUnspecified);
  } catch (...) {
    // A table the engine refuses to drop stays; the reset checks for it afterwards.
  }
}

void ResetStagingDatabase(const std::string& path, const std::string& password,
                          MessageBoxes& boxes) {
  // The staging database holds only scratch tables: one that a run killed while writing it,
  // or a full disk, left damaged starts afresh, empty, rather than failing every later run
  // until someone deletes it by hand. A file of another kind is left alone and reported.
  if (CheckDatabaseFile(path, false) == DatabaseFileState::Damaged) {
    EmptyDatabaseFile(path);
    return;
  }
  const auto tables = ListUserTables(path, password, boxes);
  if (!tables) {
    // A file another copy holds right now would be imported into all the same, next to last
    // run's tables; say so instead. Every other failure leaves the file to fail when opened.
    if (FileExists(path)) {
      try {
        CatalogueNames(path, password);
      } catch (const Error& e) {
        if (e.Number() == errnum::kInUse) throw;
      }
    }
    return;
  }
  try {
    // The tables of the file itself are dropped one by one; those the import put into part
    // files go with their files, all at once.
    if (!tables->empty()) DropTables(*tables, path);
    DropPartTables(path);
    // A table still there would be read back as if this run had imported it.
    const std::vector<std::string> left = CatalogueNames(path, password);
    if (!left.empty()) {
      std::string why = "Another copy of the program may be using it; close it and try again.";
      if (::faccessat(AT_FDCWD, path.c_str(), W_OK, AT_EACCESS) != 0) {
        why = "The file cannot be written (" + std::string(std::strerror(errno)) + ").";
      }
      throw Error(errnum::kInUse, "The table '" + left.front() +
                                      "' could not be removed from the staging database '" +
                                      path + "'. " + why);
    }
    // The room of the dropped tables goes back: the file is as small as an empty one again.
    CompactDatabase(path);
  } catch (const Error&) {
    // Pages the engine cannot read make drops fail, or the room uncountable.
    if (CheckDatabaseFile(path, true) != DatabaseFileState::Damaged) throw;
    EmptyDatabaseFile(path);
  }
}

// ---- table reader

struct StagingReader::Impl {
  Connection connection;
};

StagingReader::StagingReader(const std::string& path, const std::string& password)
    : impl_(std::make_unique<Impl>()) {
  impl_->connection.Mode = kAdModeReadWrite;
  impl_->connection.Open(kProvider + path + kPasswordKey + password, "", "", kAdOptionUnspecified);
  // A run reads the tables it has just staged, one after the other: the read lock is taken
  // once and kept while the reader lives, rather than taken and given back for every table.
  // Each page is read once, so a small cache does.
  impl_->connection.Execute("PRAGMA locking_mode=EXCLUSIVE; PRAGMA cache_size=-256",
                            kAdOptionUnspecified);
}

StagingReader::~StagingReader() = default;

struct TableRowReader::Impl {
  std::optional<StagingReader> own;  // the reader's own connection, when not given one
  Recordset records;                 // declared after: closed before its connection
  bool headerDone = false;
};

TableRowReader::TableRowReader(const std::string& tableName, const std::string& path,
                               const std::string& password)
    : impl_(std::make_unique<Impl>()) {
  impl_->own.emplace(path, password);
  impl_->records.Open("SELECT * FROM " + QuoteSqlName(tableName), impl_->own->impl_->connection,
                      kAdOpenStatic, kAdLockOptimistic, kAdOptionUnspecified);
}

TableRowReader::TableRowReader(const std::string& tableName, StagingReader& database)
    : impl_(std::make_unique<Impl>()) {
  impl_->records.Open("SELECT * FROM " + QuoteSqlName(tableName), database.impl_->connection,
                      kAdOpenStatic, kAdLockOptimistic, kAdOptionUnspecified);
}

TableRowReader::~TableRowReader() = default;

bool TableRowReader::Next(RowString& row) {
  Recordset& rs = impl_->records;
  row.Clear();
  const int fieldCount = rs.FieldCount();
  if (!impl_->headerDone) {
    for (int i = 0; i < fieldCount; ++i) row.AppendField(rs.Fields(i).Name);
    impl_->headerDone = true;
    return true;
  }
  if (rs.Eof()) return false;
  for (int i = 0; i < fieldCount; ++i) row.AppendField(NullToDefault(rs.Value(i), ""));
  rs.MoveNext();
  return true;
}

std::int64_t TableRowReader::RecordCount() const {
  return impl_->records.RecordCount();
}

namespace {
std::vector<RowString> ReadAllRows(TableRowReader& reader) {
  std::vector<RowString> rows;
  rows.reserve(static_cast<std::size_t>(reader.RecordCount()) + 1);
  RowString row;
  while (reader.Next(row)) rows.push_back(row);
  return rows;
}
}  // namespace

std::vector<RowString> ReadTableRows(const std::string& tableName, const std::string& path,
                                     const std::string& password) {
  TableRowReader reader(tableName, path, password);
  return ReadAllRows(reader);
}

std::vector<RowString> ReadTableRows(const std::string& tableName, StagingReader& database) {
  TableRowReader reader(tableName, database);
  return ReadAllRows(reader);
}

}  // namespace palomet
