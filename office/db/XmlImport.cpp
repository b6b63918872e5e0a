#include "office/db/XmlImport.h"

#include <algorithm>
#include <cstdint>
#include <vector>

#include "office/KillPoint.h"
#include "office/StageTimes.h"
#include "office/db/SqliteDb.h"
#include "office/db/StagingParts.h"
#include "office/db/XmlEvents.h"
#include "office/db/XmlImportTuning.h"
#include "office/db/XmlNames.h"
#include "office/db/xmlimport/EventLog.h"
#include "office/db/xmlimport/Kinds.h"
#include "office/db/xmlimport/Layout.h"
#include "office/db/xmlimport/RowInserter.h"
#include "office/db/xmlimport/Shredder.h"

// How the import works. The kind of every element name (field, list, record, container)
// depends on the whole file, so the file is read twice:
//   1. libxml2 parses the file. The Analyzer decides the kinds and notes the first time each
//      distinct element path, attribute and non-blank text occurs; the event stream is kept
//      in a compact form (names as numbers), in memory for most files and in an unnamed
//      temporary file for big ones.
//   2. Tables and columns are laid out from those first occurrences: their order and names
//      depend on first appearance, which only the whole file settles.
//   3. The stream is replayed to number and fill the rows, which are inserted in batches, all
//      in one transaction; for a big file a second thread inserts while the replay goes on.
// Replaying the compact stream costs a fraction of a parse, and a compressed file or an
// archive member is decompressed only once. When no temporary file can be written the file
// is parsed (and decompressed) again instead, and when a document has too many distinct paths
// the layout walks the stream. Memory stays flat: it grows with the number of distinct names
// and paths and the size of one record, never with the length of the file.
// Each mechanism has a file of its own under xmlimport/: the event stream kept for the replay
// (EventLog), the first pass (Kinds), tables and columns (Layout), the walk that fills the
// rows (Shredder) and their insertion (RowInserter). This file holds the sequence and the
// transaction.

namespace palomet::xmlimport {

namespace {

class Transaction {
 public:
  Transaction(sqlite3* db, const std::string& path) : db_(db) {
    const int rc = sqlite3_exec(db, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr);
    // A database another program writes to is no fault of the XML file: name the database.
    if (rc == SQLITE_BUSY || rc == SQLITE_LOCKED) {
      const char* file = sqlite3_db_filename(db, "main");
      throw sqlitedb::MakeError(rc, db, file != nullptr ? file : "");
    }
    if (rc != SQLITE_OK) throw sqlitedb::ImportWriteError(db, path);
  }
  ~Transaction() {
    if (open_) sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
  }
  void Commit(const std::string& path) {
    if (sqlite3_exec(db_, "COMMIT", nullptr, nullptr, nullptr) != SQLITE_OK) {
      throw sqlitedb::ImportWriteError(db_, path);
    }
    open_ = false;
  }

 private:
  sqlite3* db_;
  bool open_ = true;
};

std::int64_t SchemaVersion(sqlite3* db, const std::string& schema, const std::string& path) {
  auto stmt = sqlitedb::Prepare(db, "PRAGMA " + schema + ".schema_version", path);
  const int rc = sqlite3_step(stmt.get());
  if (rc != SQLITE_ROW) throw sqlitedb::MakeError(rc, db, path);
  return sqlite3_column_int64(stmt.get(), 0);
}

// Adds the names of `schema`'s catalogue on `db` to the cache; returns how many are tables.
int AddNames(sqlite3* db, const std::string& schema, const std::string& path,
             CatalogueCache& cache) {
  auto stmt = sqlitedb::Prepare(db, "SELECT name, type FROM " + schema + ".sqlite_master", path);
  int tables = 0;
  int rc;
  while ((rc = sqlite3_step(stmt.get())) == SQLITE_ROW) {
    cache.foldedNames.insert(
        AsciiFold(reinterpret_cast<const char*>(sqlite3_column_text(stmt.get(), 0))));
    const auto* type = reinterpret_cast<const char*>(sqlite3_column_text(stmt.get(), 1));
    if (type != nullptr && std::string_view(type) == "table") ++tables;
  }
  if (rc != SQLITE_DONE) throw sqlitedb::MakeError(rc, db, path);
  return tables;
}

void Detach(sqlite3* db, CatalogueCache& cache) {
  if (cache.attached == 0) return;
  sqlitedb::Exec(db, std::string("DETACH DATABASE ") + sqlitedb::kPartSchema, cache.databasePath);
  cache.attached = 0;
  cache.partVersion = -1;
}

void Attach(sqlite3* db, CatalogueCache& cache, int part) {
  sqlitedb::AttachPart(db, sqlitedb::PartPath(cache.databasePath, part), sqlitedb::kPartSchema,
                       true);
  cache.attached = part;
}

void RecordVersions(sqlite3* db, CatalogueCache& cache, const std::string& path) {
  if (cache.exclusive) return;
  cache.mainVersion = SchemaVersion(db, "main", path);
  cache.partVersion = cache.attached > 0 ? SchemaVersion(db, sqlitedb::kPartSchema, path) : -1;
}

// Reads the names of the whole catalogue (the file and its parts) and where new tables go:
// the last part, attached, or the file itself.
void ReadCatalogue(sqlite3* db, CatalogueCache& cache, const std::string& path) {
  Detach(db, cache);
  cache.foldedNames.clear();
  cache.nextNumber.clear();
  cache.parts = sqlitedb::PartCount(db, cache.databasePath);
  cache.tablesInTarget = AddNames(db, "main", path, cache);
  for (int part = 2; part <= cache.parts + 1; ++part) {
    if (part == cache.parts + 1) {
      Attach(db, cache, part);
      cache.tablesInTarget = AddNames(db, sqlitedb::kPartSchema, path, cache);
    } else {
      for (const std::string& name :
           sqlitedb::PartTableNames(sqlitedb::PartPath(cache.databasePath, part))) {
        cache.foldedNames.insert(AsciiFold(name));
      }
    }
  }
  cache.known = true;
  RecordVersions(db, cache, path);
}

// Makes sure the cache knows the catalogue, and attaches a new part when the file that
// receives tables is full. Runs outside a transaction (attaching cannot happen inside one).
void PrepareTarget(sqlite3* db, CatalogueCache& cache, const std::string& path) {
  const auto changed = [&] {
    return cache.mainVersion != SchemaVersion(db, "main", path) ||
           (cache.attached > 0 &&
            cache.partVersion != SchemaVersion(db, sqlitedb::kPartSchema, path));
  };
  if (!cache.known || (!cache.exclusive && changed())) {
    ReadCatalogue(db, cache, path);
  }
  // Combined tables take rows from every file, so they all stay in the file itself (a run
  // that combines makes few tables).
  if (cache.combine || !cache.partsPossible || cache.tablesInTarget < ImportTuning().partTables) {
    return;
  }
  const int next = cache.parts + 2;    // parts are numbered from 2: the file itself is the first
  if (cache.attached == next) return;  // made for a file whose import failed: still empty
  const std::string partPath = sqlitedb::PartPath(cache.databasePath, next);
  if (!sqlitedb::MakePartFile(partPath)) {
    cache.partsPossible = false;  // the file's folder takes no new files: go on in this one
    return;
  }
  Detach(db, cache);
  Attach(db, cache, next);
  cache.tablesInTarget = 0;
  RecordVersions(db, cache, path);
}

}  // namespace

Tuning& ImportTuning() {
  static Tuning tuning;
  return tuning;
}

std::string CatalogueCache::TargetSchema() const {
  return attached > 0 ? sqlitedb::kPartSchema : "main";
}

void CatalogueCache::Undo() {
  for (const std::string& name : added) foldedNames.erase(name);
  // Taken back latest first, so that a name numbered twice gets its first number back.
  for (auto it = movedNumbers.rbegin(); it != movedNumbers.rend(); ++it) {
    if (it->second == 0) {
      nextNumber.erase(it->first);
    } else {
      nextNumber[it->first] = it->second;
    }
  }
  added.clear();
  movedNumbers.clear();
  for (auto it = combinedBefore.rbegin(); it != combinedBefore.rend(); ++it) {
    if (it->second) {
      combined[it->first] = std::move(*it->second);
    } else {
      combined.erase(it->first);
    }
  }
  combinedBefore.clear();
}

void CatalogueCache::Keep() {
  added.clear();
  movedNumbers.clear();
  combinedBefore.clear();
}

void ImportFile(sqlite3* db, const std::string& xmlPath, XmlInputs& inputs, CatalogueCache& cache) {
  NameTable names;
  // The event stream is replayed from memory or a temporary file; when the stream needed a
  // file and none could be written, the file is parsed again.
  LogWriter writer(ImportTuning().memoryStreamBytes);
  Analyzer analyzer(&writer);
  bool replayLog = false;
  {
    stagetimes::Timer timer("parse");
    ParseXmlFile(xmlPath, inputs, names, analyzer);
    replayLog = writer.Finish();
  }

  std::vector<Kind> kinds;
  Kind rootKind = Kind::None;
  analyzer.Decide(names.KeyCount(), kinds, rootKind);

  const auto replay = [&](EventSink& sink) {
    if (replayLog) {
      LogReader(writer, names).Replay(sink, xmlPath);
    } else {
      ParseXmlFile(xmlPath, inputs, names, sink);
    }
  };

  Schema schema;
  if (cache.combine) schema.fileValue = xmlPath;
  Registrar registrar(schema, names, kinds, rootKind, xmlPath);
  Shredder shredder(schema, registrar);
  if (analyzer.Summary().complete && !ImportTuning().layoutByWalk) {
    LayOut(analyzer.Summary(), registrar);
  } else {
    replay(shredder);
  }
  if (schema.tables.empty()) return;  // nothing in the file holds a value

  PrepareTarget(db, cache, cache.databasePath);
  Transaction transaction(db, xmlPath);
  // Until the file is committed its names are taken back if anything fails.
  struct Pending {
    CatalogueCache& cache;
    ~Pending() { cache.Undo(); }
  } pending{cache};
  {
    stagetimes::Timer timer("staging tables (create)");
    schema.Create(db, xmlPath, names, cache);
    // A new part is recorded with the first file that puts tables in it.
    if (cache.attached > cache.parts + 1) {
      sqlitedb::SetPartCount(db, cache.attached - 1, cache.databasePath);
    }
  }
  {
    // A second thread pays only when there is enough to overlap.
    Inserter inserter(db, xmlPath, writer.Size() >= ImportTuning().threadStreamBytes);
    shredder.StartWriting(inserter);
    {
      stagetimes::Timer timer("staging rows (replay, fill)");
      replay(shredder);
      shredder.FlushAll();
    }
    stagetimes::Timer timer("staging inserts (last wait)");
    inserter.Finish();
  }
  KillPoint("file-rows");  // every row in, nothing committed
  for (Table& t : schema.tables) {
    t.insertBatch.reset();
    t.insertOne.reset();
  }
  stagetimes::Timer timer("staging commit");
  transaction.Commit(xmlPath);
  for (const Table& t : schema.tables) {
    if (t.combined != nullptr) t.combined->rows = t.rows;
  }
  cache.Keep();
  cache.parts = std::max(cache.parts, cache.attached - 1);
  cache.tablesInTarget += static_cast<int>(schema.tables.size());
  RecordVersions(db, cache, cache.databasePath);
}

}  // namespace palomet::xmlimport
