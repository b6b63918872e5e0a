#include "office/db/xmlimport/Shredder.h"

#include <utility>

namespace palomet::xmlimport {

void Shredder::Start(int key, bool nil, const Attr* attrs, int attrCount) {
  const bool isRoot = depth_ == 0;
  const int enclosing = isRoot ? -1 : frames_[depth_ - 1].recordFrame;
  const Frame* outer = enclosing < 0 ? nullptr : &frames_[static_cast<std::size_t>(enclosing)];
  const Placement at = registrar_.Element(key, isRoot, outer != nullptr ? outer->at.table : -1,
                                          outer != nullptr && outer->isRoot);
  if (depth_ == frames_.size()) frames_.emplace_back();  // may move the frames: `outer` ends
  const int self = static_cast<int>(depth_);
  Frame& f = frames_[depth_++];
  f.at = at;
  f.nil = nil;
  f.isRoot = isRoot;
  f.text.clear();
  f.hasText = false;
  f.recordFrame = enclosing;
  switch (at.kind) {
    case Kind::Record:
    case Kind::List: {
      f.recordFrame = self;
      Table& t = TableOf(f);
      f.row = ++t.rows;
      if (writing()) {
        f.values.Reset(f.row, t.columnCount);
        if (t.fileColumn >= 0) f.values.Set(t.fileColumn, schema_.fileValue);
        if (at.linkSource >= 0) {
          const Frame& parent = frames_[static_cast<std::size_t>(enclosing)];
          f.values.Set(Column(t, at.linkSource), std::to_string(parent.row));
        }
      }
      for (int i = 0; i < attrCount; ++i) {
        const Attr& a = attrs[i];
        const int src = registrar_.Attribute(at, a.key, a.ordinal, a.spelling);
        if (writing()) f.values.Set(Column(t, src), a.value);
      }
      break;
    }
    case Kind::Field: {
      Frame& owner = frames_[static_cast<std::size_t>(enclosing)];
      Table& t = TableOf(owner);
      for (int i = 0; i < attrCount; ++i) {
        const Attr& a = attrs[i];
        const int src = registrar_.Attribute(at, a.key, a.ordinal, a.spelling);
        if (writing()) owner.values.Set(Column(t, src), a.value);
      }
      break;
    }
    case Kind::Container:
    case Kind::None:
      break;
  }
}

void Shredder::Text(std::string_view text, bool blank) {
  Frame& f = frames_[depth_ - 1];
  switch (f.at.kind) {
    case Kind::Record: {
      if (blank) return;
      registrar_.OwnText(f.at);
      if (!writing()) return;
      // Own text: every non-blank piece, trimmed, joined by one blank.
      std::size_t b = 0;
      std::size_t e = text.size();
      while (b < e && IsBlank(text.substr(b, 1))) ++b;
      while (e > b && IsBlank(text.substr(e - 1, 1))) --e;
      if (f.hasText) f.text.push_back(' ');
      f.text.append(text.substr(b, e - b));
      f.hasText = true;
      break;
    }
    case Kind::List:
      if (writing()) f.text.append(text);
      f.hasText = true;
      break;
    case Kind::Field: {
      if (!writing() || f.nil) break;
      Frame& owner = frames_[static_cast<std::size_t>(f.recordFrame)];
      const int column = Column(TableOf(owner), f.at.textSource);
      if (!f.hasText) {
        // The usual case, one piece: straight into the row.
        owner.values.Set(column, text);
        f.hasText = true;
      } else {
        RowBuffer& row = owner.values;
        f.text.assign(row.arena,
                      static_cast<std::size_t>(row.offset[static_cast<std::size_t>(column)]),
                      static_cast<std::size_t>(row.length[static_cast<std::size_t>(column)]));
        f.text.append(text);
        row.Set(column, f.text);
      }
      break;
    }
    case Kind::Container:
    case Kind::None:
      break;
  }
}

void Shredder::End() {
  Frame& f = frames_[--depth_];
  if (!writing()) return;
  switch (f.at.kind) {
    case Kind::Record: {
      Table& t = TableOf(f);
      if (f.hasText && !f.nil) f.values.Set(Column(t, t.ownTextSource), f.text);
      Insert(t, f);
      break;
    }
    case Kind::List: {
      Table& t = TableOf(f);
      if (!f.nil) f.values.Set(Column(t, f.at.textSource), f.text);
      Insert(t, f);
      break;
    }
    case Kind::Field: {
      if (f.nil || f.hasText) break;
      Frame& owner = frames_[static_cast<std::size_t>(f.recordFrame)];
      owner.values.Set(Column(TableOf(owner), f.at.textSource), {});  // an empty element
      break;
    }
    case Kind::Container:
    case Kind::None:
      break;
  }
}

void Shredder::StartWriting(Inserter& inserter) {
  inserter_ = &inserter;
  registrar_.Freeze();
  // Rows are numbered on from a combined table's rows of earlier files, and so are the links
  // to them.
  for (Table& t : schema_.tables) {
    t.rows = t.rowOffset;
    t.maxRow = t.rowOffset;
  }
}

void Shredder::FlushAll() {
  for (Table& t : schema_.tables) Hand(t);
}

void Shredder::Insert(Table& t, Frame& f) {
  if (static_cast<std::size_t>(t.pending) == t.batch.size()) t.batch.emplace_back();
  RowBuffer& row = t.batch[static_cast<std::size_t>(t.pending)];
  std::swap(f.values, row);
  t.pendingBytes += row.arena.size();
  // Rows of long values are handed on by their bytes well before the row count: a batch of
  // full rows of cell-sized texts would hold tens of megabytes, several times over while
  // the inserting thread works.
  if (++t.pending == t.jobRows || t.pendingBytes >= kJobBytes) Hand(t);
}

void Shredder::Hand(Table& t) {
  if (t.pending == 0) return;
  inserter_->Submit(t, t.pending);
  t.pending = 0;
  t.pendingBytes = 0;
}

}  // namespace palomet::xmlimport
