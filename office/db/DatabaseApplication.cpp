#include "office/db/DatabaseApplication.h"

#include <exception>
#include <new>

#include "office/Error.h"
#include "office/XmlInput.h"
#include "office/db/SqliteDb.h"
#include "office/db/XmlImport.h"

namespace palomet {

struct DatabaseApplication::Impl {
  std::string path;
  sqlitedb::DbPtr db;
  xmlimport::CatalogueCache catalogue;  // of `db`, kept between imports
  XmlInputs inputs;                     // the archive read last, what packed files expanded to
};

DatabaseApplication::DatabaseApplication() : impl_(std::make_unique<Impl>()) {}
DatabaseApplication::~DatabaseApplication() = default;

void DatabaseApplication::OpenCurrentDatabase(const std::string& path, bool exclusive) {
  if (impl_->db) {
    throw Error(errnum::kDatabaseAlreadyOpen, "A database is already open: '" + impl_->path + "'.");
  }
  auto db = sqlitedb::OpenExisting(path, false);
  // SQLite opens a file it may not write read-only without a word; every import would then
  // fail on its first row. Say what is wrong before anything is imported.
  if (sqlite3_db_readonly(db.get(), "main") == 1) {
    throw Error(errnum::kCannotOpen,
                "The database '" + path + "' cannot be written: it is read-only for this user.");
  }
  // Staging data is scratch: nothing needs to survive a power cut, but a failed file must
  // still roll back whole, which the in-memory journal does.
  sqlitedb::Exec(db.get(),
                 "PRAGMA page_size=16384; PRAGMA synchronous=OFF; PRAGMA journal_mode=MEMORY;"
                 "PRAGMA cache_size=-4096; PRAGMA busy_timeout=2000; PRAGMA secure_delete=OFF;",
                 path);
  // Held exclusively, the lock is taken at the first import and kept until Quit, so that a
  // file's transaction needs no calls to lock and unlock, nor to look for a journal left
  // behind or for changes made by others; nobody else reads the file meanwhile.
  if (exclusive) sqlitedb::Exec(db.get(), "PRAGMA locking_mode=EXCLUSIVE", path);
  impl_->path = path;
  impl_->db = std::move(db);
  const bool combine = impl_->catalogue.combine;
  impl_->catalogue = {};
  impl_->catalogue.databasePath = path;
  impl_->catalogue.combine = combine;
  impl_->catalogue.exclusive = exclusive;
}

void DatabaseApplication::ImportXml(const std::string& dataSource) {
  if (!impl_->db)
    throw Error(errnum::kNoDatabaseOpen, "No database is open; open one before importing.");
  try {
    xmlimport::ImportFile(impl_->db.get(), dataSource, impl_->inputs, impl_->catalogue);
  } catch (const Error&) {
    throw;
  } catch (const std::bad_alloc&) {
    throw Error(errnum::kOutOfMemory, ImportFailure(dataSource, "out of memory"));
  } catch (const std::exception& e) {
    // No thread, or any other failure of the program's own: no fault of the file's.
    throw Error(errnum::kGeneric, ImportFailure(dataSource, e.what()));
  }
}

void DatabaseApplication::CombineTables(bool on) {
  impl_->catalogue.combine = on;
}

void DatabaseApplication::Quit() {
  impl_->db.reset();
  impl_->catalogue = {};
  impl_->inputs.Close();
}

}  // namespace palomet
