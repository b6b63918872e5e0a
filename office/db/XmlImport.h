#pragma once

// Private to office/db: the XML import behind DatabaseApplication::ImportXml.

#include <sqlite3.h>

#include <string>

namespace palomet::xmlimport {

// Imports the XML file at `xmlPath` into the open database `db` as new tables, in one
// transaction: on any failure nothing of this file remains. Raises Error 31550 naming the
// file, and the line and column where the parser knows them.
void ImportFile(sqlite3* db, const std::string& xmlPath);

}  // namespace palomet::xmlimport
