#pragma once

// Private to office/db: the XML import behind DatabaseApplication::ImportXml.

#include <sqlite3.h>

#include <cstdint>
#include <string>
#include <unordered_map>
#include <unordered_set>

#include "office/XmlInput.h"

namespace palomet::xmlimport {

// What the import remembers between files imported over one connection: the names the
// catalogue holds, case-folded, so that a new table's name need not be checked against a
// fresh read of the whole catalogue for every file. The names are trusted only while the
// database's schema version is the one our own last commit left; any other change to the
// catalogue (another connection, a failed import) makes the next import read it again.
struct CatalogueCache {
  std::unordered_set<std::string> foldedNames;
  // By folded base name: every numbered name below this number is known to be taken. Names
  // are only added while the cache is trusted, so the search for a free number resumes here.
  std::unordered_map<std::string, int> nextNumber;
  std::int64_t schemaVersion = -1;  // -1: the names are not to be trusted
};

// Imports the XML file or archive member `xmlPath`, read through `inputs`, into the open
// database `db` as new tables, in one transaction: on any failure nothing of this file
// remains. Raises Error 31550 naming the file, and the line and column where the parser knows
// them, for a fault of the file; 3043 when the database cannot take the data. `cache` belongs
// to `db` and is kept by the caller from one file to the next, as are `inputs`.
void ImportFile(sqlite3* db, const std::string& xmlPath, XmlInputs& inputs,
                CatalogueCache& cache);

}  // namespace palomet::xmlimport
