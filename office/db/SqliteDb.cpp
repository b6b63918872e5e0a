#include "office/db/SqliteDb.h"

#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/statvfs.h>

#include <cerrno>
#include <cstdint>
#include <cstring>

#include "office/db/XmlEvents.h"

namespace palomet::sqlitedb {

Error MakeError(int rc, sqlite3* db, const std::string& path) {
  const std::string detail = db ? sqlite3_errmsg(db) : sqlite3_errstr(rc);
  switch (rc & 0xff) {
    case SQLITE_NOTADB:
      return Error(errnum::kNotADatabase, "Unrecognized database format '" + path + "'.");
    case SQLITE_CANTOPEN:
      return Error(errnum::kCannotOpen, "Could not find or open the file '" + path + "'.");
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
      return Error(errnum::kInUse, "The database '" + path +
                                    "' is in use by another program or another copy of "
                                    "this one (" +
                                    detail + ").");
    default:
      return Error(errnum::kGeneric, "Database error in '" + path + "': " + detail);
  }
}

namespace {

// Why writing the database file failed, as far as can be told: SQLite reports a failed write
// only as an I/O error and keeps no errno for it.
std::string WriteFailure(sqlite3* db, const std::string& file) {
  if ((sqlite3_errcode(db) & 0xff) == SQLITE_FULL) return std::strerror(ENOSPC);
  if (const int sys = sqlite3_system_errno(db); sys != 0) return std::strerror(sys);
  struct stat info {};
  if (::stat(file.c_str(), &info) == 0) {
    rlimit limit{};
    const auto size = static_cast<std::uint64_t>(info.st_size);
    if (::getrlimit(RLIMIT_FSIZE, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY &&
        size + (1u << 20) >= limit.rlim_cur) {
      return std::strerror(EFBIG);
    }
    struct statvfs fs {};
    if (::statvfs(file.c_str(), &fs) == 0 &&
        static_cast<std::uint64_t>(fs.f_bavail) * fs.f_frsize < (std::uint64_t{1} << 20)) {
      return std::strerror(ENOSPC);
    }
  }
  return sqlite3_errmsg(db);
}

void InitSqlite() {
  static const bool done = [] {
    // Memory statistics take a global lock on every allocation; nothing here reads them.
    // Harmless when SQLite was already initialised elsewhere in the process.
    sqlite3_config(SQLITE_CONFIG_MEMSTATUS, 0);
    sqlite3_initialize();
    return true;
  }();
  static_cast<void>(done);
}

}  // namespace

Error ImportWriteError(sqlite3* db, const std::string& path) {
  // A write that failed in the file system (a full disk, a file size limit) is no fault of
  // the data: name the database and the reason. It carries its own number, as it would fail
  // any other file just the same; only a value too big for the database is the file's.
  const int rc = sqlite3_errcode(db) & 0xff;
  if (rc == SQLITE_IOERR || rc == SQLITE_FULL) {
    const char* name = sqlite3_db_filename(db, "main");
    const std::string file = name != nullptr ? name : "";
    return Error(errnum::kDatabaseWrite,
                 ImportFailure(path, "the staging database '" + file +
                                                    "' could not be written (" +
                                                    WriteFailure(db, file) + ")"));
  }
  return Error(
      rc == SQLITE_TOOBIG ? errnum::kXmlImport : errnum::kDatabaseWrite,
      ImportFailure(
          path, std::string("the staging database refused the data (") + sqlite3_errmsg(db) + ")"));
}

DbPtr OpenExisting(const std::string& path, bool readOnly) {
  InitSqlite();
  sqlite3* raw = nullptr;
  // Each connection is used by one thread at a time: no per-call locking needed.
  const int flags = (readOnly ? SQLITE_OPEN_READONLY : SQLITE_OPEN_READWRITE) | SQLITE_OPEN_NOMUTEX;
  int rc = sqlite3_open_v2(path.c_str(), &raw, flags, nullptr);
  DbPtr db(raw);
  if (rc != SQLITE_OK) throw MakeError(rc, db.get(), path);
  sqlite3_extended_result_codes(db.get(), 0);
  // Opening is lazy: reading the schema is what tells a database from any other file.
  rc = sqlite3_exec(db.get(), "SELECT count(*) FROM sqlite_master", nullptr, nullptr, nullptr);
  if (rc != SQLITE_OK) throw MakeError(rc, db.get(), path);
  return db;
}

void Exec(sqlite3* db, const std::string& sql, const std::string& path) {
  const int rc = sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr);
  if (rc != SQLITE_OK) throw MakeError(rc, db, path);
}

StmtPtr Prepare(sqlite3* db, std::string_view sql, const std::string& path) {
  sqlite3_stmt* raw = nullptr;
  const int rc = sqlite3_prepare_v2(db, sql.data(), static_cast<int>(sql.size()), &raw, nullptr);
  StmtPtr stmt(raw);
  if (rc != SQLITE_OK) throw MakeError(rc, db, path);
  return stmt;
}

void AppendQuotedName(std::string& out, std::string_view name) {
  out.push_back('`');
  for (char c : name) {
    if (c == '`') out.push_back('`');
    out.push_back(c);
  }
  out.push_back('`');
}

std::string QuoteName(std::string_view name) {
  std::string out;
  out.reserve(name.size() + 2);
  AppendQuotedName(out, name);
  return out;
}

}  // namespace palomet::sqlitedb
