#include "office/db/XmlImport.h"

#include "office/Error.h"

namespace palomet::xmlimport {

void ImportFile(sqlite3*, const std::string& xmlPath) {
  throw Error(errnum::kXmlImport, "Importing '" + xmlPath + "' is not available yet.");
}

}  // namespace palomet::xmlimport
