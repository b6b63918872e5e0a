#include "office/db/Ado.h"

#include <algorithm>
#include <array>
#include <unordered_map>
#include <vector>

#include "office/CaseFold.h"
#include "office/Error.h"
#include "office/db/SqliteDb.h"
#include "office/db/StagingParts.h"

namespace palomet {

std::string QuoteSqlName(std::string_view name) {
  return sqlitedb::QuoteName(name);
}

namespace {

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
  if (text.size() < prefix.size()) return false;
  for (std::size_t i = 0; i < prefix.size(); ++i) {
    if (AsciiLower(text[i]) != AsciiLower(prefix[i])) return false;
  }
  return true;
}

std::string_view Trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

// True when `rest` (the text after a ";") begins another "Key=" pair of a known key.
bool BeginsKnownKey(std::string_view rest) {
  static constexpr std::array<std::string_view, 10> kKeys = {"provider",
                                                             "data source",
                                                             "user id",
                                                             "password",
                                                             "mode",
                                                             "persist security info",
                                                             "extended properties",
                                                             "locale identifier",
                                                             "prompt",
                                                             "jet oledb:"};
  rest = Trim(rest);
  const auto eq = rest.find('=');
  if (eq == std::string_view::npos) return false;
  const std::string_view key = Trim(rest.substr(0, eq));
  for (std::string_view k : kKeys) {
    if (k.back() == ':' ? StartsWithNoCase(key, k)
                        : (key.size() == k.size() && StartsWithNoCase(key, k))) {
      return key.find(';') == std::string_view::npos;
    }
  }
  return false;
}

}  // namespace

ConnectionString ParseConnectionString(std::string_view text) {
  ConnectionString result;
  std::size_t pos = 0;
  while (pos < text.size()) {
    const auto eq = text.find('=', pos);
    if (eq == std::string_view::npos) break;
    std::string key(Trim(text.substr(pos, eq - pos)));
    for (char& c : key) c = AsciiLower(c);
    std::size_t v = eq + 1;
    // A path is taken exactly as written, blanks included.
    if (key != "data source") {
      while (v < text.size() && text[v] == ' ') ++v;
    }
    std::string value;
    std::size_t next;
    if (v < text.size() && (text[v] == '"' || text[v] == '\'')) {
      // Quoted value; a doubled quote stands for one.
      const char q = text[v];
      std::size_t i = v + 1;
      for (; i < text.size(); ++i) {
        if (text[i] == q) {
          if (i + 1 < text.size() && text[i + 1] == q) {
            value.push_back(q);
            ++i;
            continue;
          }
          break;
        }
        value.push_back(text[i]);
      }
      next = text.find(';', i);
    } else if (key == "data source") {
      next = text.find(';', v);
      while (next != std::string_view::npos && !BeginsKnownKey(text.substr(next + 1))) {
        next = text.find(';', next + 1);
      }
      value =
          std::string(text.substr(v, next == std::string_view::npos ? text.size() - v : next - v));
    } else {
      next = text.find(';', v);
      value = std::string(
          Trim(text.substr(v, next == std::string_view::npos ? text.size() - v : next - v)));
    }
    if (key == "data source") result.dataSource = value;
    if (key == "jet oledb:database password") result.password = value;
    if (next == std::string_view::npos) break;
    pos = next + 1;
  }
  return result;
}

// ---- Connection

struct Connection::Impl {
  std::string path;
  sqlitedb::DbPtr db;
  // The tables of the database's part files, found when a statement first names one: the
  // part of each (by folded name), and the parts attached now, latest last.
  int parts = -1;
  std::unordered_map<std::string, int> partOf;  // made only when tables are read out of order
  std::vector<int> attached;
  std::string triedNextFor;  // the missing table the next part was attached for

  // Prepares `sql`, attaching first the part file that holds a table it names.
  sqlitedb::StmtPtr Prepare(const std::string& sql) {
    for (;;) {
      sqlite3_stmt* raw = nullptr;
      const int rc =
          sqlite3_prepare_v2(db.get(), sql.data(), static_cast<int>(sql.size()), &raw, nullptr);
      sqlitedb::StmtPtr stmt(raw);
      if (rc == SQLITE_OK) return stmt;
      if (!AttachPartOfMissingTable()) throw sqlitedb::MakeError(rc, db.get(), path);
    }
  }

  // After a statement failed for want of a table: attaches the part that holds it and
  // answers true, or answers false when no part holds it or none can be attached now.
  bool AttachPartOfMissingTable() {
    constexpr std::string_view kNoSuchTable = "no such table: ";
    const std::string_view message = sqlite3_errmsg(db.get());
    if (message.rfind(kNoSuchTable, 0) != 0) return false;
    // Parts are attached outside transactions only (SQLite refuses it inside one).
    if (sqlite3_get_autocommit(db.get()) == 0) return false;
    if (parts < 0) parts = sqlitedb::PartCount(db.get(), path);
    if (parts == 0) return false;
    const std::string table = AsciiFold(message.substr(kNoSuchTable.size()));
    const auto isAttached = [&](int part) {
      return std::find(attached.begin(), attached.end(), part) != attached.end();
    };
    int part = 0;
    // Tables are mostly read in the catalogue's order: the part after the one attached last
    // is tried first, without a look at every part's tables.
    if (table != triedNextFor) {
      triedNextFor = table;
      part = attached.empty() ? 2 : attached.back() + 1;
      if (part > parts + 1 || isAttached(part)) part = 0;
    }
    if (part == 0) {
      if (partOf.empty()) {
        for (int p = 2; p <= parts + 1; ++p) {
          for (const std::string& name : sqlitedb::PartTableNames(sqlitedb::PartPath(path, p))) {
            partOf.emplace(AsciiFold(name), p);
          }
        }
      }
      const auto found = partOf.find(table);
      if (found == partOf.end() || isAttached(found->second)) return false;
      part = found->second;
    }
    // Two parts stay attached (tables are mostly read in the catalogue's order, part after
    // part); the one attached longest ago makes room, unless a statement still reads it.
    constexpr std::size_t kMaxAttached = 2;
    for (std::size_t i = 0; attached.size() >= kMaxAttached && i < attached.size();) {
      const std::string detach = "DETACH DATABASE " + SchemaOf(attached[i]);
      if (sqlite3_exec(db.get(), detach.c_str(), nullptr, nullptr, nullptr) == SQLITE_OK) {
        attached.erase(attached.begin() + static_cast<std::ptrdiff_t>(i));
      } else {
        ++i;
      }
    }
    if (attached.size() >= kMaxAttached) return false;
    sqlitedb::AttachPart(db.get(), sqlitedb::PartPath(path, part), SchemaOf(part), false);
    attached.push_back(part);
    // A part's pages are cached as the file's own are.
    auto size = sqlitedb::Prepare(db.get(), "PRAGMA main.cache_size", path);
    if (sqlite3_step(size.get()) == SQLITE_ROW) {
      sqlitedb::Exec(db.get(),
                     "PRAGMA " + SchemaOf(part) +
                         ".cache_size=" + std::to_string(sqlite3_column_int64(size.get(), 0)),
                     path);
    }
    return true;
  }

  static std::string SchemaOf(int part) { return "part" + std::to_string(part); }
};

Connection::Connection() : impl_(std::make_unique<Impl>()) {}
Connection::~Connection() = default;

void Connection::Open(const std::string& connectionString, const std::string& /*userId*/,
                      const std::string& /*password*/, long /*options*/) {
  if (impl_->db) throw Error(errnum::kObjectOpen, "The connection is already open.");
  const ConnectionString cs = ParseConnectionString(connectionString);
  auto db = sqlitedb::OpenExisting(cs.dataSource, Mode == 1);
  if (!cs.password.empty()) throw Error(errnum::kInvalidPassword, "Not a valid password.");
  impl_->path = cs.dataSource;
  impl_->db = std::move(db);
}

void Connection::Execute(const std::string& commandText, long /*options*/) {
  if (!impl_->db) throw Error(errnum::kObjectClosed, "The connection is closed.");
  for (;;) {
    const int rc = sqlite3_exec(impl_->db.get(), commandText.c_str(), nullptr, nullptr, nullptr);
    if (rc == SQLITE_OK) return;
    Error error = sqlitedb::MakeError(rc, impl_->db.get(), impl_->path);
    if (!impl_->AttachPartOfMissingTable()) throw error;
    // Only a single statement is run again once its table's part is attached: of several,
    // those before the failing one have run already.
    sqlite3_stmt* first = nullptr;
    const char* tail = nullptr;
    sqlite3_prepare_v2(impl_->db.get(), commandText.c_str(), -1, &first, &tail);
    sqlite3_finalize(first);
    if (tail != nullptr &&
        std::string_view(tail).find_first_not_of(" \t\r\n;") != std::string_view::npos) {
      throw error;
    }
  }
}

void Connection::Close() {
  impl_->db.reset();
  impl_->parts = -1;
  impl_->partOf.clear();
  impl_->attached.clear();
  impl_->triedNextFor.clear();
}
bool Connection::IsOpen() const {
  return impl_->db != nullptr;
}

// ---- Recordset

struct Recordset::Impl {
  sqlite3* db = nullptr;
  std::string path;
  std::string source;
  sqlitedb::StmtPtr stmt;
  bool hasRow = false;
  std::int64_t count = -1;
  int fieldCount = 0;

  void Step() {
    const int rc = sqlite3_step(stmt.get());
    if (rc == SQLITE_ROW) {
      hasRow = true;
    } else if (rc == SQLITE_DONE) {
      hasRow = false;
    } else {
      hasRow = false;
      throw sqlitedb::MakeError(rc, db, path);
    }
  }
};

Recordset::Recordset() : impl_(std::make_unique<Impl>()) {}
Recordset::~Recordset() = default;

void Recordset::Open(const std::string& source, Connection& connection, int /*cursorType*/,
                     int /*lockType*/, long /*options*/) {
  if (!connection.impl_->db) throw Error(errnum::kObjectClosed, "The connection is closed.");
  if (impl_->stmt) throw Error(errnum::kObjectOpen, "The recordset is already open.");
  impl_->db = connection.impl_->db.get();
  impl_->path = connection.impl_->path;
  impl_->source = source;
  impl_->count = -1;
  impl_->stmt = connection.impl_->Prepare(source);
  impl_->fieldCount = sqlite3_column_count(impl_->stmt.get());
  impl_->Step();
}

int Recordset::FieldCount() const {
  return impl_->fieldCount;
}

Field Recordset::Fields(int index) const {
  if (!impl_->stmt || index < 0 || index >= impl_->fieldCount) {
    throw Error(errnum::kItemNotFound, "Item cannot be found in the collection.");
  }
  sqlite3_stmt* s = impl_->stmt.get();
  Field f;
  f.Name = sqlite3_column_name(s, index);
  f.Value = Value(index);
  return f;
}

std::optional<std::string_view> Recordset::Value(int index) const {
  if (!impl_->stmt || index < 0 || index >= impl_->fieldCount) {
    throw Error(errnum::kItemNotFound, "Item cannot be found in the collection.");
  }
  sqlite3_stmt* s = impl_->stmt.get();
  if (!impl_->hasRow || sqlite3_column_type(s, index) == SQLITE_NULL) return std::nullopt;
  const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(s, index));
  return std::string_view(text, static_cast<std::size_t>(sqlite3_column_bytes(s, index)));
}

std::int64_t Recordset::RecordCount() {
  if (!impl_->stmt) throw Error(errnum::kObjectClosed, "The recordset is closed.");
  if (impl_->count < 0) {
    auto counter =
        sqlitedb::Prepare(impl_->db, "SELECT count(*) FROM (" + impl_->source + ")", impl_->path);
    const int rc = sqlite3_step(counter.get());
    if (rc != SQLITE_ROW) throw sqlitedb::MakeError(rc, impl_->db, impl_->path);
    impl_->count = sqlite3_column_int64(counter.get(), 0);
  }
  return impl_->count;
}

bool Recordset::Eof() const {
  return !impl_->hasRow;
}

void Recordset::MoveNext() {
  if (!impl_->hasRow)
    throw Error(errnum::kNoCurrentRecord,
                "Either BOF or EOF is True, or the current record has been deleted.");
  impl_->Step();
}

void Recordset::Close() {
  impl_->stmt.reset();
  impl_->hasRow = false;
}

}  // namespace palomet
