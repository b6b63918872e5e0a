#include "office/db/xmlimport/Layout.h"

#include <algorithm>
#include <unordered_set>

namespace palomet::xmlimport {

namespace {

int& DenseSlot(std::vector<int>& v, int index) {
  if (index >= static_cast<int>(v.size())) v.resize(static_cast<std::size_t>(index) + 1, -1);
  return v[static_cast<std::size_t>(index)];
}

int& OtherSlot(Table& t, const TripleKey& key) {
  return t.otherSource.try_emplace(key, -1).first->second;
}

}  // namespace

void Schema::Create(sqlite3* db, const std::string& path, const NameTable& names,
                    CatalogueCache& cache) {
  // The caller holds the write lock and has checked the names: no other connection can
  // change the catalogue now.
  std::unordered_set<std::string>& used = cache.foldedNames;
  for (Table& t : tables) {
    std::string base = ElementName(names, t.key);
    if (AsciiFold(base).rfind("sqlite_", 0) == 0) base = "_" + base;  // reserved by SQLite
    std::string folded = AsciiFold(base);
    if (cache.combine) {
      // An earlier file's table of this name takes this file's rows.
      if (const auto it = cache.combined.find(folded); it != cache.combined.end()) {
        cache.combinedBefore.emplace_back(folded, it->second);
        t.combined = &it->second;
        t.name = it->second.name;
        continue;
      }
      cache.combinedBefore.emplace_back(folded, std::nullopt);
      t.combined = &cache.combined[folded];
    }
    // The smallest free number: a run of many files with the same elements would otherwise
    // try every number taken so far, for every file.
    std::string name = base;
    if (used.count(folded) > 0) {
      auto [at, fresh] = cache.nextNumber.try_emplace(folded, 1);
      cache.movedNumbers.emplace_back(folded, fresh ? 0 : at->second);
      int& next = at->second;
      for (int n = next;; ++n) {
        std::string suffix = std::to_string(n);
        if (used.count(folded + suffix) == 0) {
          name = base + suffix;
          folded += suffix;
          next = n + 1;
          break;
        }
      }
    }
    cache.added.push_back(folded);
    used.insert(std::move(folded));
    t.name = std::move(name);
    if (t.combined) t.combined->name = t.name;
  }
  const std::string schemaName = cache.TargetSchema();
  const int maxColumns = sqlite3_limit(db, SQLITE_LIMIT_COLUMN, -1);
  for (Table& t : tables) {
    NameColumns(t, names, path);
    if (t.columnCount > maxColumns) {
      FailImport(path, "the table '" + t.name + "' would need " + std::to_string(t.columnCount) +
                           " columns, more than the " + std::to_string(maxColumns) +
                           " the database allows");
    }
    if (t.combined) {
      Combine(db, path, t);
    } else {
      CreateTable(db, path, schemaName, t);
    }
  }
}

std::string Schema::ElementName(const NameTable& names, int key) {
  return names.SpellingText(names.ElementSpelling(key));
}

void Schema::NameColumns(Table& t, const NameTable& names, const std::string& path) {
  std::vector<int> order;
  for (int pass = 0; pass < 2; ++pass) {
    for (int i = 0; i < static_cast<int>(t.sources.size()); ++i) {
      if ((t.sources[i].type == Source::Link) == (pass == 0)) order.push_back(i);
    }
  }
  std::unordered_set<std::string> used;
  t.sourceColumn.assign(t.sources.size(), -1);
  columnNames_.clear();
  for (int i : order) {
    const Source& s = t.sources[i];
    std::string base;
    switch (s.type) {
      case Source::Link:
        base = tables[static_cast<std::size_t>(s.parentTable)].name + "_Row";
        break;
      case Source::Attribute:
        base = s.attrSpelling;
        break;
      case Source::OwnText:
      case Source::ListText:
      case Source::FieldText:
        base = ElementName(names, s.key);
        break;
      case Source::FieldAttribute:
        base = ElementName(names, s.key) + "@" + s.attrSpelling;
        break;
    }
    std::string name = base;
    for (int n = 2; used.count(AsciiFold(name)) > 0; ++n) name = base + "_" + std::to_string(n);
    used.insert(AsciiFold(name));
    t.sourceColumn[static_cast<std::size_t>(i)] = static_cast<int>(columnNames_.size());
    columnNames_.push_back(std::move(name));
  }
  t.columnCount = static_cast<int>(columnNames_.size());
  t.linkColumns =
      static_cast<int>(std::count_if(t.sources.begin(), t.sources.end(), [](const Source& source) {
        return source.type == Source::Link;
      }));
  // The row number goes into the hidden rowid; pick a spelling of it no column takes.
  rowidName_.clear();
  for (const char* alias : {"rowid", "_rowid_", "oid"}) {
    if (used.count(alias) == 0) {
      rowidName_ = alias;
      break;
    }
  }
  if (rowidName_.empty()) {
    FailImport(path, "the table '" + t.name + "' has columns named rowid, _rowid_ and oid");
  }
}

void Schema::CreateTable(sqlite3* db, const std::string& path, const std::string& schemaName,
                         Table& t) {
  std::string sql = "CREATE TABLE " + schemaName + ".";
  sqlitedb::AppendQuotedName(sql, t.name);
  sql += " (";
  for (std::size_t i = 0; i < columnNames_.size(); ++i) {
    if (i > 0) sql += ", ";
    sqlitedb::AppendQuotedName(sql, columnNames_[i]);
    sql += " TEXT";
  }
  sql += ")";
  if (sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr) != SQLITE_OK)
    throw sqlitedb::ImportWriteError(db, path);
  SetInsert(t, schemaName + "." + sqlitedb::QuoteName(t.name), columnNames_, rowidName_,
            sqlite3_limit(db, SQLITE_LIMIT_COLUMN, -1));
}

void Schema::SetInsert(Table& t, const std::string& table, const std::vector<std::string>& columns,
                       const std::string& rowid, int maxColumns) {
  // SQLite binds at most 32766 parameters per statement.
  const int perRow = static_cast<int>(columns.size()) + 1;
  // A statement of several rows is a compound select, whose width SQLite limits too.
  t.batchSize = perRow > maxColumns ? 1 : std::max(1, std::min(kBatchRows, 32766 / perRow));
  t.jobRows = t.batchSize * 16;
  t.insertHead = "INSERT INTO " + table + " (" + rowid;
  for (const std::string& c : columns) {
    t.insertHead += ", ";
    sqlitedb::AppendQuotedName(t.insertHead, c);
  }
  t.insertHead += ") VALUES ";
}

namespace {

void Run(sqlite3* db, const std::string& path, const std::string& sql) {
  if (sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr) != SQLITE_OK)
    throw sqlitedb::ImportWriteError(db, path);
}

void RenameColumn(sqlite3* db, const std::string& path, const std::string& table,
                  const std::string& from, const std::string& to) {
  Run(db, path,
      "ALTER TABLE main." + sqlitedb::QuoteName(table) + " RENAME COLUMN " +
          sqlitedb::QuoteName(from) + " TO " + sqlitedb::QuoteName(to));
}

void AddColumn(sqlite3* db, const std::string& path, const std::string& table,
               const std::string& column) {
  Run(db, path,
      "ALTER TABLE main." + sqlitedb::QuoteName(table) + " ADD COLUMN " +
          sqlitedb::QuoteName(column) + " TEXT");
}

void Reindex(CatalogueCache::Combined& ct) {
  ct.position.clear();
  for (std::size_t i = 0; i < ct.columns.size(); ++i) {
    ct.position[AsciiFold(ct.columns[i])] = static_cast<int>(i);
  }
}

// Puts the new column `name` at `at` among ct's columns: the columns from there on move one
// place to the right, values and names, so that a link column met in a later file stays
// with the other link columns and the table keeps its place in the catalogue.
void InsertColumn(sqlite3* db, const std::string& path, CatalogueCache::Combined& ct,
                  std::size_t at, const std::string& name) {
  // Names no column can have (XML names hold no control characters) while values move.
  const auto aside = [](std::size_t i) { return "\x01moving " + std::to_string(i); };
  const std::size_t moving = ct.columns.size() - at;
  for (std::size_t i = 0; i < moving; ++i)
    RenameColumn(db, path, ct.name, ct.columns[at + i], aside(i));
  AddColumn(db, path, ct.name, aside(moving));
  std::string shift = "UPDATE main." + sqlitedb::QuoteName(ct.name) + " SET ";
  for (std::size_t i = moving; i > 0; --i) {
    shift += sqlitedb::QuoteName(aside(i)) + " = " + sqlitedb::QuoteName(aside(i - 1)) + ", ";
  }
  shift += sqlitedb::QuoteName(aside(0)) + " = NULL";
  Run(db, path, shift);
  RenameColumn(db, path, ct.name, aside(0), name);
  for (std::size_t i = 1; i <= moving; ++i) {
    RenameColumn(db, path, ct.name, aside(i), ct.columns[at + i - 1]);
  }
  ct.columns.insert(ct.columns.begin() + static_cast<std::ptrdiff_t>(at), name);
  Reindex(ct);
}

}  // namespace

void Schema::Combine(sqlite3* db, const std::string& path, Table& t) {
  CatalogueCache::Combined& ct = *t.combined;
  const int maxColumns = sqlite3_limit(db, SQLITE_LIMIT_COLUMN, -1);
  const auto tooWide = [&](std::size_t columns) {
    if (columns <= static_cast<std::size_t>(maxColumns)) return;
    FailImport(path, "the table '" + ct.name + "' would need " + std::to_string(columns) +
                         " columns, more than the " + std::to_string(maxColumns) +
                         " the database allows");
  };
  std::unordered_set<std::string> fileNames;  // this file's columns, folded
  for (const std::string& c : columnNames_) fileNames.insert(AsciiFold(c));
  // The column that names each row's file: "File", unless a data column is named so.
  const auto freeFileColumn = [&] {
    std::string name = "File";
    for (int n = 2; fileNames.count(AsciiFold(name)) || ct.position.count(AsciiFold(name)); ++n) {
      name = "File_" + std::to_string(n);
    }
    return name;
  };
  std::vector<std::string> rowColumns;  // the row buffer's columns as the table names them
  if (ct.columns.empty()) {
    ct.columns.push_back(freeFileColumn());
    ct.columns.insert(ct.columns.end(), columnNames_.begin(), columnNames_.end());
    ct.fileColumn = 0;
    ct.linkColumns = t.linkColumns;
    Reindex(ct);
    tooWide(ct.columns.size());
    std::string sql = "CREATE TABLE main." + sqlitedb::QuoteName(ct.name) + " (";
    for (std::size_t i = 0; i < ct.columns.size(); ++i) {
      if (i > 0) sql += ", ";
      sqlitedb::AppendQuotedName(sql, ct.columns[i]);
      sql += " TEXT";
    }
    Run(db, path, sql + ")");
    rowColumns = columnNames_;
  } else {
    for (int i = 0; i < t.columnCount; ++i) {
      const std::string& column = columnNames_[static_cast<std::size_t>(i)];
      const std::string folded = AsciiFold(column);
      if (folded == AsciiFold(ct.columns[static_cast<std::size_t>(ct.fileColumn)])) {
        // A data column takes the file column's name: the file column moves aside.
        std::string& fileColumn = ct.columns[static_cast<std::size_t>(ct.fileColumn)];
        const std::string moved = freeFileColumn();
        RenameColumn(db, path, ct.name, fileColumn, moved);
        fileColumn = moved;
        Reindex(ct);
      }
      if (const auto at = ct.position.find(folded); at != ct.position.end()) {
        rowColumns.push_back(ct.columns[static_cast<std::size_t>(at->second)]);
        continue;
      }
      tooWide(ct.columns.size() + 1);
      const bool link = i < t.linkColumns;
      const std::size_t linksEnd = static_cast<std::size_t>(ct.fileColumn + 1 + ct.linkColumns);
      if (link && linksEnd < ct.columns.size()) {
        InsertColumn(db, path, ct, linksEnd, column);
      } else {
        AddColumn(db, path, ct.name, column);
        ct.columns.push_back(column);
        ct.position[folded] = static_cast<int>(ct.columns.size()) - 1;
      }
      if (link) ++ct.linkColumns;
      rowColumns.push_back(column);
    }
  }
  rowColumns.push_back(ct.columns[static_cast<std::size_t>(ct.fileColumn)]);
  t.fileColumn = t.columnCount++;
  t.rowOffset = ct.rows;
  std::string rowid;
  for (const char* alias : {"rowid", "_rowid_", "oid"}) {
    if (ct.position.count(alias) == 0) {
      rowid = alias;
      break;
    }
  }
  if (rowid.empty()) {
    FailImport(path, "the table '" + ct.name + "' has columns named rowid, _rowid_ and oid");
  }
  SetInsert(t, "main." + sqlitedb::QuoteName(ct.name), rowColumns, rowid, maxColumns);
}

int Registrar::TableFor(int key) {
  int& slot = DenseSlot(schema_.tableOfKey, key);
  if (slot < 0) {
    if (frozen_) FailImport(path_, "its layout changed between two readings");
    slot = static_cast<int>(schema_.tables.size());
    schema_.tables.emplace_back();
    schema_.tables.back().key = key;
  }
  return slot;
}

// The source in `slot`, registered now unless frozen.
int Registrar::Find(int& slot, Table& t, Source::Type type, int key, int parentTable,
                    std::string_view attrSpelling) {
  if (slot >= 0) return slot;
  if (frozen_) FailImport(path_, "its layout changed between two readings");
  slot = static_cast<int>(t.sources.size());
  t.sources.push_back(Source{type, key, parentTable, std::string(attrSpelling)});
  return slot;
}

Placement Registrar::Element(int key, bool isRoot, int enclosingTable, bool enclosingIsRoot) {
  Placement at;
  at.kind = isRoot ? rootKind_ : kinds_[static_cast<std::size_t>(key)];
  at.key = key;
  switch (at.kind) {
    case Kind::Record:
    case Kind::List: {
      at.table = TableFor(key);
      Table& t = TableAt(at.table);
      // Nothing links to the document element: it has one row at most.
      if (enclosingTable >= 0 && !enclosingIsRoot) {
        at.linkSource =
            Find(DenseSlot(t.linkSource, enclosingTable), t, Source::Link, -1, enclosingTable, {});
      }
      if (at.kind == Kind::List) {
        at.textSource = Find(t.listTextSource, t, Source::ListText, key, -1, {});
      }
      break;
    }
    case Kind::Field: {
      if (enclosingTable < 0) FailImport(path_, "a value was found outside every table");
      at.table = enclosingTable;
      Table& t = TableAt(at.table);
      at.textSource = Find(DenseSlot(t.fieldSource, key), t, Source::FieldText, key, -1, {});
      break;
    }
    case Kind::Container:
    case Kind::None:
      break;
  }
  return at;
}

int Registrar::Attribute(const Placement& at, int attrKey, int ordinal, int spelling) {
  switch (at.kind) {
    case Kind::Record:
    case Kind::List: {
      Table& t = TableAt(at.table);
      int& slot = ordinal == 0 ? DenseSlot(t.attrSource, attrKey)
                               : OtherSlot(t, TripleKey{-1, attrKey, ordinal});
      return Find(slot, t, Source::Attribute, attrKey, -1, names_.SpellingText(spelling));
    }
    case Kind::Field: {
      Table& t = TableAt(at.table);
      int& slot = OtherSlot(t, TripleKey{at.key, attrKey, ordinal});
      return Find(slot, t, Source::FieldAttribute, at.key, -1, names_.SpellingText(spelling));
    }
    case Kind::Container:
    case Kind::None:
      break;
  }
  return -1;
}

int Registrar::OwnText(const Placement& at) {
  if (at.kind != Kind::Record) return -1;
  Table& t = TableAt(at.table);
  return Find(t.ownTextSource, t, Source::OwnText, at.key, -1, {});
}

void LayOut(const PathSummary& summary, Registrar& registrar) {
  struct PathInfo {
    Placement at;
    int recordPath = -1;  // nearest record or list path at or above, -1 when none
  };
  std::vector<PathInfo> info(summary.paths.size());
  for (const PathSummary::First& first : summary.firsts) {
    const PathSummary::Path& p = summary.paths[static_cast<std::size_t>(first.path)];
    PathInfo& me = info[static_cast<std::size_t>(first.path)];
    switch (first.type) {
      case PathSummary::First::Element: {
        const int enclosing =
            p.parent < 0 ? -1 : info[static_cast<std::size_t>(p.parent)].recordPath;
        const int enclosingTable =
            enclosing < 0 ? -1 : info[static_cast<std::size_t>(enclosing)].at.table;
        const bool enclosingIsRoot =
            enclosing >= 0 && summary.paths[static_cast<std::size_t>(enclosing)].depth == 0;
        me.at = registrar.Element(p.key, p.depth == 0, enclosingTable, enclosingIsRoot);
        const bool row = me.at.kind == Kind::Record || me.at.kind == Kind::List;
        me.recordPath = row ? first.path : enclosing;
        break;
      }
      case PathSummary::First::Attribute:
        registrar.Attribute(me.at, first.attrKey, first.ordinal, first.spelling);
        break;
      case PathSummary::First::Text:
        registrar.OwnText(me.at);
        break;
    }
  }
}

}  // namespace palomet::xmlimport
