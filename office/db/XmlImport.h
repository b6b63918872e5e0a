#pragma once

// Private to office/db: the XML import behind DatabaseApplication::ImportXml.

#include <sqlite3.h>

#include <cstdint>
#include <optional>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

#include "office/XmlInput.h"

namespace palomet::xmlimport {

// What the import remembers between files imported over one connection: the names the
// catalogue holds, case-folded, so that a new table's name need not be checked against a
// fresh read of the whole catalogue for every file, and where new tables go (the database
// file itself, or its last part: see StagingParts.h). Read from the database at the first
// import; trusted while the catalogue's schema versions are those the connection's own last
// commit left, read again when anything else changed them. A failed import takes back the
// names it added.
struct CatalogueCache {
  std::string databasePath;  // the main file of the database, whose parts lie beside it
  std::unordered_set<std::string> foldedNames;
  // By folded base name: every numbered name below this number is known to be taken. Names
  // are only added while the cache is trusted, so the search for a free number resumes here.
  std::unordered_map<std::string, int> nextNumber;
  bool known = false;         // the fields below and the names were read from the database
  // The connection holds the database exclusively: nothing else can change its catalogue,
  // so the schema versions need no looking at.
  bool exclusive = false;
  int parts = 0;              // the parts the database records
  int attached = 0;           // the part attached to receive tables (0: none, the file itself does)
  int tablesInTarget = 0;     // the tables in the file that receives new tables
  bool partsPossible = true;  // false once a part file could not be made
  std::int64_t mainVersion = -1;  // schema versions as the connection last left them
  std::int64_t partVersion = -1;
  // The names the import under way added, and the numbers it moved on, to take back when it
  // fails.
  std::vector<std::string> added;
  std::vector<std::pair<std::string, int>> movedNumbers;

  // Combining: every file's table of a name goes into the one table that the first file
  // with a table of that name made (see DatabaseApplication::CombineTables).
  struct Combined {
    std::string name;                  // as the first file spelled it
    std::vector<std::string> columns;  // in the table's order: the file column, the links, the rest
    std::unordered_map<std::string, int> position;  // by folded column name
    int fileColumn = 0;                             // where the column naming each row's file is
    int linkColumns = 0;                            // link columns, right after the file column
    std::int64_t rows = 0;                          // rows of the files committed so far
  };
  bool combine = false;
  std::unordered_map<std::string, Combined> combined;  // by the folded name files give them
  // The combined tables as they were before the import under way changed or made them
  // (nothing: it made them), to put back when it fails.
  std::vector<std::pair<std::string, std::optional<Combined>>> combinedBefore;

  // The schema that receives the next file's tables: "main" or the attached part.
  std::string TargetSchema() const;
  // Takes back what the failed import under way added.
  void Undo();
  // Keeps what the import under way added, once it is committed.
  void Keep();
};
// Imports the XML file or archive member `xmlPath`, read through `inputs`, into the open
// database `db` as new tables, in one transaction: on any failure nothing of this file
// remains. Raises Error 31550 naming the file, and the line and column where the parser knows
// them, for a fault of the file; 3043 when the database cannot take the data. `cache` belongs
// to `db` and is kept by the caller from one file to the next, as are `inputs`.
void ImportFile(sqlite3* db, const std::string& xmlPath, XmlInputs& inputs, CatalogueCache& cache);

}  // namespace palomet::xmlimport
