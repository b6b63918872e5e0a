#pragma once

// Private to office/db: the thin layer over the SQLite C interface. SQLite result codes are
// turned into palomet::Error here and nowhere else.

#include <sqlite3.h>

#include <memory>
#include <string>
#include <string_view>

#include "office/Error.h"

namespace palomet::sqlitedb {

struct DbClose {
  void operator()(sqlite3* db) const { sqlite3_close_v2(db); }
};
using DbPtr = std::unique_ptr<sqlite3, DbClose>;

struct StmtFinalize {
  void operator()(sqlite3_stmt* s) const { sqlite3_finalize(s); }
};
using StmtPtr = std::unique_ptr<sqlite3_stmt, StmtFinalize>;

// The error for result code `rc` on `db` (may be null), naming the database file `path`.
Error MakeError(int rc, sqlite3* db, const std::string& path);

// The error for a statement of the XML import of `xmlPath` that failed on `db`: a write the
// file system refused (a full disk, a file size limit) names the database and the reason and
// raises 3043, as it would fail any other file just the same; a value too big for the database
// is the XML file's fault (31550); anything else the database refused is 3043.
Error ImportWriteError(sqlite3* db, const std::string& xmlPath);

// Opens an existing database file and checks that it is one (an empty file is an empty
// database). Raises 3044 for a missing or unopenable file, 3343 for a file that is not a
// database, 3211 when it is locked.
DbPtr OpenExisting(const std::string& path, bool readOnly);

// Runs SQL text without results; raises on failure.
void Exec(sqlite3* db, const std::string& sql, const std::string& path);

// Prepares one statement; raises on failure.
StmtPtr Prepare(sqlite3* db, std::string_view sql, const std::string& path);

// `name` quoted as an identifier in grave accents, inner grave accents doubled.
std::string QuoteName(std::string_view name);
void AppendQuotedName(std::string& out, std::string_view name);

}  // namespace palomet::sqlitedb
