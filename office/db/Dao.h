#pragma once

#include <memory>
#include <string>
#include <vector>

namespace palomet {

namespace daoattr {
// Attributes of a table definition: engine tables carry the system bit (negative value),
// user tables 0.
inline constexpr long kSystemObject = static_cast<long>(static_cast<int>(0x80000002u));
}  // namespace daoattr

// One table of a database as the catalogue sees it.
struct TableDef {
  std::string Name;
  long Attributes = 0;
};

// An open database of the catalogue engine. Read-only view of its table definitions.
class DaoDatabase {
 public:
  ~DaoDatabase();
  DaoDatabase(const DaoDatabase&) = delete;
  DaoDatabase& operator=(const DaoDatabase&) = delete;

  // Every table definition, engine tables included, in creation order. Raises Error.
  std::vector<TableDef> TableDefs() const;
  // Releases the file. Harmless when already closed.
  void Close();

 private:
  friend class Workspace;
  DaoDatabase();
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

class Workspace {
 public:
  // Opens `path` for shared read/write access. Raises Error 3044 for a missing or unopenable
  // file, 3343 for a file that is not a database.
  std::unique_ptr<DaoDatabase> OpenDatabase(const std::string& path);
  // The same, with options, read-only flag and a connect string ("MS ACCESS;PWD=..."). The
  // staging files carry no password: a connect string with a non-empty password raises 3031.
  std::unique_ptr<DaoDatabase> OpenDatabase(const std::string& path, bool exclusive, bool readOnly,
                                            const std::string& connect);
};

// The catalogue engine: made on first use and kept for the life of the program.
class DBEngine {
 public:
  // The engine's workspaces; only index 0 exists. Raises Error for any other index.
  Workspace& Workspaces(int index);

 private:
  Workspace workspace0_;
};

// The program's one catalogue engine, created on first call.
DBEngine& GetDBEngine();

// Drops every table that the database at `path` keeps in part files (the XML import's
// tables past the number one file takes), all at once, by removing those files: a part holds
// nothing else. A database without parts is left as it is. Raises Error when the file cannot
// be opened or written, or a part cannot be removed.
void DropPartTables(const std::string& path);

// Gives the room of dropped tables back to the file system: afterwards the database file is
// as small as what it still holds allows. Raises Error when it cannot be opened or written.
void CompactDatabase(const std::string& path);

// What the file at `path` is to the engine.
enum class DatabaseFileState {
  Missing,  // nothing there (or nothing this user may look at)
  Sound,    // a database the engine reads (an empty file is an empty one)
  // A database file the engine cannot read whole: a header left unwritten (zeros) by a run
  // killed while it wrote the file, a header or catalogue the engine refuses, or, when asked
  // to look `thoroughly`, pages that fail the engine's quick check.
  Damaged,
  Foreign,  // a file of some other kind
};
DatabaseFileState CheckDatabaseFile(const std::string& path, bool thoroughly);

// Makes the database at `path` an empty one and removes its part files: for a database that
// holds nothing worth keeping, damaged or not. The file stays where it is, with its owner and
// permissions. Raises Error naming the file when it cannot be written.
void EmptyDatabaseFile(const std::string& path);

}  // namespace palomet
