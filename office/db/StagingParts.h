#pragma once

// Private to office/db: the part files of a staging database.
//
// SQLite reads a new table's entry back from its catalogue with a scan of the whole catalogue
// (which has no index), and walks every table it knows when the catalogue changes; so each
// CREATE TABLE costs time in proportion to the tables already in the file, and an import of
// many files, each making tables of its own, grows with the square of the files. The XML
// import therefore keeps the tables of one database file to a bounded number: once the file
// holds a few hundred (XmlImportTuning.h), the next file's tables go into a part file beside
// it, "<path>.2", then "<path>.3", and so on, each again up to that many. A file's tables
// always stay together.
//
// The database file records how many parts it has in its header: its application id says
// that it keeps parts, its user version how many. A database that records none is a plain
// one; one that the import never filled past that number never gets a part. The catalogue
// lists a part's tables after those of the file and of earlier parts, in creation order;
// connections read them as if they were the file's own; the reset removes the parts whole.

#include <sqlite3.h>

#include <cstdint>
#include <string>
#include <vector>

namespace palomet::sqlitedb {

// Marks, in a database file's header, a staging database that keeps parts beside it; also
// the mark of every part file.
inline constexpr std::int32_t kPartsApplicationId = 0x506c6d74;

// The name under which the import attaches the part that receives tables.
inline constexpr const char* kPartSchema = "part";

// The path of part `number` (2, 3, ...) of the database at `path`.
std::string PartPath(const std::string& path, int number);

// The number of parts the database open on `db` records (its main file), 0 when it keeps
// none. Raises Error naming `path` when the header cannot be read.
int PartCount(sqlite3* db, const std::string& path);

// Records, within the caller's transaction on `db`, that the database keeps `count` parts.
void SetPartCount(sqlite3* db, int count, const std::string& path);

// Makes part file `partPath` afresh: empty, readable and writable by the user alone. False
// when it cannot be made (a folder that takes no new files): the import then goes on in the
// file it was filling.
bool MakePartFile(const std::string& partPath);

// The names of the tables in the part file `partPath`, in creation order. Raises Error naming
// the part when it is missing or cannot be read.
std::vector<std::string> PartTableNames(const std::string& partPath);

// Attaches the part file `partPath` to `db` under `schema`; `forWriting` sets it up as the
// staging database itself is (journal in memory, no syncing) and marks it as a part. Raises
// Error naming the part.
void AttachPart(sqlite3* db, const std::string& partPath, const std::string& schema,
                bool forWriting);

// Removes the part files of the database at `path`: "<path>.2", "<path>.3", ... as long as
// they exist, and only files that are parts (marked so, or empty). Returns false when one of
// them could not be removed.
bool RemovePartFiles(const std::string& path);

}  // namespace palomet::sqlitedb
