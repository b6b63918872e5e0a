#pragma once

// Private to the XML import: the tables and columns one file gives. The Registrar decides,
// event by event, which table a record or list starts a row of and which source (link,
// attribute, own text, field text, field attribute, list text) each value fills, registering
// new ones in order of first appearance. Both ways of laying a file out go through it: LayOut
// from the first pass's path summary, and the Shredder's walk over every event; so the two
// give the same registrations in the same order by construction. Schema then names the tables
// (free names in the catalogue) and their columns and creates them.

#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "office/db/SqliteDb.h"
#include "office/db/XmlEvents.h"
#include "office/db/XmlImport.h"
#include "office/db/xmlimport/Kinds.h"
#include "office/db/xmlimport/TripleKey.h"

namespace palomet::xmlimport {

struct Source {
  enum Type : std::uint8_t { Link, Attribute, OwnText, FieldText, FieldAttribute, ListText };
  Type type;
  int key;                   // field or element key; attribute key for Attribute
  int parentTable;           // Link only
  std::string attrSpelling;  // the attribute's first spelling met in this table
  int column = -1;           // final position
};

// One row being filled, then waiting in its table's batch: each column's bytes in `arena`.
struct RowBuffer {
  std::int64_t row = 0;
  std::vector<std::int64_t> offset;
  std::vector<std::int64_t> length;  // -1 is Null
  std::string arena;

  void Reset(std::int64_t number, int columns) {
    row = number;
    offset.assign(static_cast<std::size_t>(columns), 0);
    length.assign(static_cast<std::size_t>(columns), -1);
    arena.clear();
  }
  void Set(int column, std::string_view value) {
    offset[static_cast<std::size_t>(column)] = static_cast<std::int64_t>(arena.size());
    length[static_cast<std::size_t>(column)] = static_cast<std::int64_t>(value.size());
    arena.append(value);
  }
};

struct Table {
  int key = -1;
  std::string name;
  std::int64_t rows = 0;       // rows numbered so far, rowOffset included
  std::int64_t rowOffset = 0;  // a combined table's rows of earlier files
  // Combining: the table the rows go into, and the column of the row buffer that names the
  // file (-1 without combining).
  CatalogueCache::Combined* combined = nullptr;
  int fileColumn = -1;
  int linkColumns = 0;          // of the file's own columns, the first ones
  std::vector<Source> sources;  // in order of first appearance
  // Where to find a source: dense by key for the common ones, hashed for the rest.
  std::vector<int> fieldSource;  // by field key
  std::vector<int> attrSource;   // by attribute key, first of its name on the element
  std::vector<int> linkSource;   // by enclosing table
  std::unordered_map<TripleKey, int, TripleKeyHash> otherSource;
  int ownTextSource = -1;
  int listTextSource = -1;
  std::vector<int> sourceColumn;  // source -> column
  int columnCount = 0;
  // Rows go in batches of several per statement, which saves most of SQLite's per-statement
  // cost on narrow rows. Finished rows are swapped into the batch, never copied. Each
  // statement is prepared by whoever inserts first with it, the one of many rows only for a
  // table that proves big (see InsertRows).
  std::string insertHead;         // "INSERT INTO `t` (rowid, `c1`, ...) VALUES "
  sqlitedb::StmtPtr insertBatch;  // batchSize rows
  sqlitedb::StmtPtr insertOne;
  std::int64_t maxRow = 0;    // highest row number inserted so far
  std::int64_t inserted = 0;  // rows inserted so far
  int batchSize = 1;          // rows per statement
  int jobRows = 1;            // rows handed to the inserting thread at a time, at most
  int pending = 0;
  std::size_t pendingBytes = 0;  // of the values of the pending rows
  std::vector<RowBuffer> batch;  // grows to jobRows as rows come
};

class Schema {
 public:
  std::vector<Table> tables;  // in creation order
  std::vector<int> tableOfKey;
  std::string fileValue;  // combining: what each row's file column holds

  // Names tables (free names among the cache's, which it adds to) and columns and creates
  // the tables in the cache's target schema; their inserts are prepared when first used,
  // after every table of the file exists (a statement prepared before a later CREATE TABLE
  // would be prepared again by SQLite on its first step).
  void Create(sqlite3* db, const std::string& path, const NameTable& names, CatalogueCache& cache);

  static std::string ElementName(const NameTable& names, int key);

 private:
  void NameColumns(Table& t, const NameTable& names, const std::string& path);
  void CreateTable(sqlite3* db, const std::string& path, const std::string& schemaName, Table& t);
  // Combining: makes the combined table of t's name when there is none yet, adds the columns
  // it lacks, and prepares the insert of the file's rows into it.
  void Combine(sqlite3* db, const std::string& path, Table& t);
  // Sets the insert of t's rows into `table` with the columns `columns` (the row buffer's,
  // in order).
  void SetInsert(Table& t, const std::string& table, const std::vector<std::string>& columns,
                 const std::string& rowid, int maxColumns);

  static constexpr int kBatchRows = 32;

  std::vector<std::string> columnNames_;
  std::string rowidName_;
};

// Where an element's values go.
struct Placement {
  Kind kind = Kind::None;
  int key = -1;
  int table = -1;       // record, list: its own table; field: the enclosing record's
  int textSource = -1;  // field, list: where its text goes
  int linkSource = -1;  // record, list: the link to the enclosing row, -1 when none
};

class Registrar {
 public:
  Registrar(Schema& schema, const NameTable& names, const std::vector<Kind>& kinds, Kind rootKind,
            const std::string& path)
      : schema_(schema), names_(names), kinds_(kinds), rootKind_(rootKind), path_(path) {}

  // From now on every event must find what the layout registered; anything new means the
  // file changed between two readings, a failure of the import.
  void Freeze() { frozen_ = true; }
  bool Frozen() const { return frozen_; }

  // An element of `key` starts. `enclosingTable` is the table of the nearest enclosing record
  // or list (-1 when none), `enclosingIsRoot` whether that is the document element's own.
  Placement Element(int key, bool isRoot, int enclosingTable, bool enclosingIsRoot);
  // An attribute of the element placed at `at`: its source, -1 when it gives no value.
  int Attribute(const Placement& at, int attrKey, int ordinal, int spelling);
  // Non-blank text directly inside the element placed at `at`: the record's own-text
  // source; -1 for other kinds (their text is theirs, see Placement::textSource).
  int OwnText(const Placement& at);

 private:
  int TableFor(int key);
  int Find(int& slot, Table& t, Source::Type type, int key, int parentTable,
           std::string_view attrSpelling);
  Table& TableAt(int table) { return schema_.tables[static_cast<std::size_t>(table)]; }

  Schema& schema_;
  const NameTable& names_;
  const std::vector<Kind>& kinds_;
  Kind rootKind_;
  const std::string& path_;
  bool frozen_ = false;
};

// Registers tables and sources from the first occurrences the first pass noted, in file
// order.
void LayOut(const PathSummary& summary, Registrar& registrar);

}  // namespace palomet::xmlimport
