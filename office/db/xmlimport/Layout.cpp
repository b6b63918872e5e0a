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
    // The smallest free number: a run of many files with the same elements would otherwise
    // try every number taken so far, for every file.
    std::string name = base;
    std::string folded = AsciiFold(base);
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
    CreateTable(db, path, schemaName, t);
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
  // SQLite binds at most 32766 parameters per statement.
  const int perRow = static_cast<int>(columnNames_.size()) + 1;
  // A statement of several rows is a compound select, whose width SQLite limits too.
  t.batchSize = perRow > sqlite3_limit(db, SQLITE_LIMIT_COLUMN, -1)
                    ? 1
                    : std::max(1, std::min(kBatchRows, 32766 / perRow));
  t.jobRows = t.batchSize * 16;
  t.insertHead = "INSERT INTO " + schemaName + ".";
  sqlitedb::AppendQuotedName(t.insertHead, t.name);
  t.insertHead += " (" + rowidName_;
  for (const std::string& c : columnNames_) {
    t.insertHead += ", ";
    sqlitedb::AppendQuotedName(t.insertHead, c);
  }
  t.insertHead += ") VALUES ";
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
