#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace palomet {

inline constexpr int kAdModeReadWrite = 3;
inline constexpr int kAdOpenStatic = 3;
inline constexpr int kAdLockOptimistic = 3;
inline constexpr long kAdOptionUnspecified = -1;

// The parts of a provider connection string the connection uses.
struct ConnectionString {
  std::string dataSource;
  std::string password;  // "Jet OLEDB:Database Password"
};

// Parses "Key=Value;Key=Value" (keys case-insensitive, values optionally in quotes). An
// unquoted Data Source runs up to the next ";" that begins a known key, so a path that
// contains ";" survives. Never raises.
ConnectionString ParseConnectionString(std::string_view text);

// `name` quoted as an identifier for SQL text: in grave accents, inner grave accents doubled,
// so that any table name works.
std::string QuoteSqlName(std::string_view name);

class Recordset;

// A connection to a database file through the provider.
class Connection {
 public:
  Connection();
  ~Connection();
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  // Access mode; 3 is read/write. Set before Open.
  int Mode = 0;

  // Opens the database the connection string names. Raises Error 3044 (missing), 3343 (not
  // a database), 3031 (a non-empty database password: the files carry none).
  void Open(const std::string& connectionString, const std::string& userId = "",
            const std::string& password = "", long options = kAdOptionUnspecified);
  // Runs one statement (or several separated by ";"); rows are discarded. Raises Error.
  void Execute(const std::string& commandText, long options = kAdOptionUnspecified);
  // Releases the file; the destructor does the same.
  void Close();
  bool IsOpen() const;

 private:
  friend class Recordset;
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// One column of the current record. Views stay valid until the recordset moves or closes.
struct Field {
  std::string_view Name;
  std::optional<std::string_view> Value;  // nullopt is Null; other values in their text form
};

// A forward-reading static recordset over one query.
class Recordset {
 public:
  Recordset();
  ~Recordset();
  Recordset(const Recordset&) = delete;
  Recordset& operator=(const Recordset&) = delete;

  // Runs `source` over `connection`, positioned on the first record. Raises Error.
  void Open(const std::string& source, Connection& connection, int cursorType = kAdOpenStatic,
            int lockType = kAdLockOptimistic, long options = kAdOptionUnspecified);
  int FieldCount() const;
  // Field `index` (zero-based) of the current record; the value is Null past the last record.
  Field Fields(int index) const;
  // The same value alone, without the name: for reading many rows.
  std::optional<std::string_view> Value(int index) const;
  // The exact number of records the query returns.
  std::int64_t RecordCount();
  // True once past the last record.
  bool Eof() const;
  // Moves to the next record; raises Error 3021 past the last one, or what reading raises.
  void MoveNext();
  // Ends the query; the connection stays open.
  void Close();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace palomet
