#include "office/db/XmlImport.h"

#include <cstdint>
#include <vector>

#include "office/StageTimes.h"
#include "office/db/SqliteDb.h"
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

}  // namespace

Tuning& ImportTuning() {
  static Tuning tuning;
  return tuning;
}

void ImportFile(sqlite3* db, const std::string& xmlPath, XmlInputs& inputs,
                CatalogueCache& cache) {
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
  Registrar registrar(schema, names, kinds, rootKind, xmlPath);
  Shredder shredder(schema, registrar);
  if (analyzer.Summary().complete && !ImportTuning().layoutByWalk) {
    LayOut(analyzer.Summary(), registrar);
  } else {
    replay(shredder);
  }
  if (schema.tables.empty()) return;  // nothing in the file holds a value

  Transaction transaction(db, xmlPath);
  const std::int64_t schemaVersion = [&] {
    stagetimes::Timer timer("staging tables (create)");
    return schema.Create(db, xmlPath, names, cache);
  }();
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
  for (Table& t : schema.tables) {
    t.insertBatch.reset();
    t.insertOne.reset();
  }
  stagetimes::Timer timer("staging commit");
  transaction.Commit(xmlPath);
  cache.schemaVersion = schemaVersion;
}

}  // namespace palomet::xmlimport
