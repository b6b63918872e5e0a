#include "office/db/Dao.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>

#include "office/CaseFold.h"
#include "office/Error.h"
#include "office/db/Ado.h"
#include "office/db/SqliteDb.h"
#include "office/db/StagingParts.h"

namespace palomet {

struct DaoDatabase::Impl {
  std::string path;
  sqlitedb::DbPtr db;
};

DaoDatabase::DaoDatabase() : impl_(std::make_unique<Impl>()) {}
DaoDatabase::~DaoDatabase() = default;

std::vector<TableDef> DaoDatabase::TableDefs() const {
  if (!impl_->db) throw Error(errnum::kGeneric, "The database is closed.");
  auto stmt = sqlitedb::Prepare(impl_->db.get(),
                                "SELECT name FROM sqlite_master WHERE type = 'table' "
                                "ORDER BY rowid",
                                impl_->path);
  std::vector<TableDef> defs;
  // The schema table itself is an engine table too, though it lists no row for itself.
  defs.push_back({"sqlite_master", daoattr::kSystemObject});
  int rc;
  while ((rc = sqlite3_step(stmt.get())) == SQLITE_ROW) {
    TableDef def;
    def.Name = reinterpret_cast<const char*>(sqlite3_column_text(stmt.get(), 0));
    const bool engineTable = sqlite3_strnicmp(def.Name.c_str(), "sqlite_", 7) == 0;
    def.Attributes = engineTable ? daoattr::kSystemObject : 0;
    defs.push_back(std::move(def));
  }
  if (rc != SQLITE_DONE) throw sqlitedb::MakeError(rc, impl_->db.get(), impl_->path);
  // Then the tables the import put into part files, each part's in creation order.
  const int parts = sqlitedb::PartCount(impl_->db.get(), impl_->path);
  for (int part = 2; part <= parts + 1; ++part) {
    for (std::string& name : sqlitedb::PartTableNames(sqlitedb::PartPath(impl_->path, part))) {
      defs.push_back({std::move(name), 0});
    }
  }
  return defs;
}

void DaoDatabase::Close() {
  impl_->db.reset();
}

std::unique_ptr<DaoDatabase> Workspace::OpenDatabase(const std::string& path) {
  std::unique_ptr<DaoDatabase> database(new DaoDatabase());
  database->impl_->path = path;
  database->impl_->db = sqlitedb::OpenExisting(path, false);
  return database;
}

std::unique_ptr<DaoDatabase> Workspace::OpenDatabase(const std::string& path, bool /*exclusive*/,
                                                     bool /*readOnly*/,
                                                     const std::string& connect) {
  // "MS ACCESS;PWD=secret": the part after PWD= is the password.
  std::string password;
  if (const auto at = AsciiFold(connect).find("pwd="); at != std::string::npos) {
    password = connect.substr(at + 4);
    if (const auto end = password.find(';'); end != std::string::npos) password.resize(end);
  }
  auto database = OpenDatabase(path);
  if (!password.empty()) throw Error(errnum::kInvalidPassword, "Not a valid password.");
  return database;
}

Workspace& DBEngine::Workspaces(int index) {
  if (index != 0) throw Error(errnum::kItemNotFound, "Item not found in this collection.");
  return workspace0_;
}

DBEngine& GetDBEngine() {
  static DBEngine engine;
  return engine;
}

void DropPartTables(const std::string& path) {
  {
    sqlitedb::DbPtr db = sqlitedb::OpenExisting(path, false);
    if (sqlitedb::PartCount(db.get(), path) > 0) {
      sqlitedb::Exec(db.get(), "PRAGMA journal_mode=MEMORY", path);
      sqlitedb::SetPartCount(db.get(), 0, path);
    }
  }
  // Also the parts of a run that was ended before it recorded them.
  if (!sqlitedb::RemovePartFiles(path)) {
    throw Error(errnum::kInUse,
                "The part files of the staging database '" + path + "' could not be removed.");
  }
}

void CompactDatabase(const std::string& path) {
  sqlitedb::DbPtr db = sqlitedb::OpenExisting(path, false);
  // Nothing is written beside the file: the journal and the copy that VACUUM makes stay in
  // memory, so a folder that takes no new files is no obstacle.
  sqlitedb::Exec(db.get(), "PRAGMA journal_mode=MEMORY; PRAGMA temp_store=MEMORY", path);
  auto freePages = sqlitedb::Prepare(db.get(), "PRAGMA freelist_count", path);
  const bool roomToGive =
      sqlite3_step(freePages.get()) == SQLITE_ROW && sqlite3_column_int64(freePages.get(), 0) > 0;
  freePages.reset();
  if (roomToGive) sqlitedb::Exec(db.get(), "VACUUM", path);
}

DatabaseFileState CheckDatabaseFile(const std::string& path, bool thoroughly) {
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0) return DatabaseFileState::Missing;
  if (!S_ISREG(info.st_mode)) return DatabaseFileState::Foreign;
  if (info.st_size == 0) return DatabaseFileState::Sound;
  std::array<char, 100> header{};
  {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return DatabaseFileState::Missing;
    ssize_t got;
    do {
      got = ::pread(fd, header.data(), header.size(), 0);
    } while (got < 0 && errno == EINTR);
    ::close(fd);
    if (got < 0) return DatabaseFileState::Missing;
    // The engine writes the first page last: a run killed before leaves it zeros.
    if (std::all_of(header.begin(), header.begin() + got, [](char c) { return c == 0; })) {
      return DatabaseFileState::Damaged;
    }
    static constexpr char kMagic[] = "SQLite format 3";  // and its terminating zero
    if (got < static_cast<ssize_t>(sizeof kMagic) ||
        std::memcmp(header.data(), kMagic, sizeof kMagic) != 0) {
      return DatabaseFileState::Foreign;
    }
  }
  try {
    sqlitedb::DbPtr db = sqlitedb::OpenExisting(path, true);
    if (!thoroughly) return DatabaseFileState::Sound;
    auto check = sqlitedb::Prepare(db.get(), "PRAGMA quick_check(1)", path);
    const int rc = sqlite3_step(check.get());
    if (rc == SQLITE_ROW &&
        std::strcmp(reinterpret_cast<const char*>(sqlite3_column_text(check.get(), 0)), "ok") ==
            0) {
      return DatabaseFileState::Sound;
    }
    if (rc == SQLITE_BUSY || rc == SQLITE_LOCKED) return DatabaseFileState::Sound;  // in use
    return DatabaseFileState::Damaged;
  } catch (const Error& e) {
    // Held by someone else is no damage; anything the engine refuses to read is.
    return e.Number() == errnum::kInUse || e.Number() == errnum::kCannotOpen
               ? DatabaseFileState::Sound
               : DatabaseFileState::Damaged;
  }
}

void EmptyDatabaseFile(const std::string& path) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CLOEXEC | O_NOFOLLOW);
  if (fd < 0 || ::ftruncate(fd, 0) != 0) {
    const int why = errno;
    if (fd >= 0) ::close(fd);
    throw Error(errnum::kCannotOpen, "The staging database '" + path +
                                         "' cannot be emptied: " + std::strerror(why) + ".");
  }
  ::close(fd);
  sqlitedb::RemovePartFiles(path);
}

}  // namespace palomet
