#include "office/db/xmlimport/Kinds.h"

#include "office/db/XmlImportTuning.h"

namespace palomet::xmlimport {

namespace {

std::uint64_t PairKey(int a, int b) {
  return (static_cast<std::uint64_t>(static_cast<std::uint32_t>(a)) << 32) |
         static_cast<std::uint32_t>(b);
}

}  // namespace

void Analyzer::Start(int key, bool nil, const Attr* attrs, int attrCount) {
  if (forward_ != nullptr) forward_->Start(key, nil, attrs, attrCount);
  Grow(key);
  const bool isRoot = stack_.empty();
  const int path = summary_.complete ? NotePath(isRoot ? -1 : stack_.back().path, key) : -1;
  if (summary_.complete) NoteAttributes(path, attrs, attrCount);
  if (isRoot) {
    rootKey_ = key;
    rootValues_ = attrCount > 0;
  } else {
    const Frame& parent = stack_.back();
    stats_[parent.key].hasChildren = true;
    if (parent.isRoot) {
      rootHasChildren_ = true;
      stats_[key].rootChild = true;
    }
    NameStat& s = stats_[key];
    if (s.lastParentKey != parent.key) {
      s.lastParentKey = parent.key;
      bool known = false;
      for (int p : s.parentKeys) known = known || p == parent.key;
      if (!known) s.parentKeys.push_back(parent.key);
    }
    // Seen twice inside one parent instance? lastParent tells the instance the name was
    // last seen in. When that instance is an ancestor still open, the old value is put back
    // when this parent ends, so that later siblings are checked against it; values of
    // instances already closed never matter again, so the undo list stays as short as the
    // nesting, however many elements the file has.
    if (!s.repeated) {
      if (s.lastParentSerial == parent.serial) {
        s.repeated = true;
      } else {
        const std::size_t d = s.lastParentDepth;
        if (d < stack_.size() && stack_[d].serial == s.lastParentSerial) {
          undo_.push_back({key, s.lastParentSerial, d});
        }
        s.lastParentSerial = parent.serial;
        s.lastParentDepth = stack_.size() - 1;
      }
    }
  }
  if (attrCount > 0) stats_[key].hasValues = true;
  stack_.push_back({key, ++serial_, undo_.size(), isRoot, path});
}

void Analyzer::Text(std::string_view text, bool blank) {
  if (forward_ != nullptr) forward_->Text(text, blank);
  if (blank || stack_.empty()) return;
  stats_[stack_.back().key].hasValues = true;
  if (stack_.back().isRoot) rootValues_ = true;
  const int path = stack_.back().path;
  if (summary_.complete && !pathText_[static_cast<std::size_t>(path)]) {
    pathText_[static_cast<std::size_t>(path)] = 1;
    summary_.firsts.push_back({PathSummary::First::Text, path});
  }
}

void Analyzer::End() {
  if (forward_ != nullptr) forward_->End();
  const Frame& f = stack_.back();
  while (undo_.size() > f.undoMark) {
    NameStat& s = stats_[static_cast<std::size_t>(undo_.back().key)];
    s.lastParentSerial = undo_.back().serial;
    s.lastParentDepth = undo_.back().depth;
    undo_.pop_back();
  }
  stack_.pop_back();
}

void Analyzer::Decide(int keyCount, std::vector<Kind>& kinds, Kind& rootKind) {
  Grow(keyCount - 1);
  std::vector<char> fieldChild(stats_.size(), 0);
  for (const NameStat& s : stats_) {
    if (!s.hasChildren && !s.repeated) {
      for (int p : s.parentKeys) fieldChild[p] = 1;
    }
  }
  kinds.assign(stats_.size(), Kind::None);
  for (std::size_t k = 0; k < stats_.size(); ++k) {
    const NameStat& s = stats_[k];
    if (!s.hasChildren) {
      kinds[k] = s.repeated ? Kind::List : Kind::Field;
    } else {
      kinds[k] = s.hasValues || fieldChild[k] ? Kind::Record : Kind::Container;
    }
  }
  rootKind = Kind::None;
  if (rootKey_ < 0) return;
  bool values = rootValues_;
  for (std::size_t k = 0; k < stats_.size() && !values; ++k) {
    values = stats_[k].rootChild && kinds[k] == Kind::Field;
  }
  if (rootHasChildren_) {
    rootKind = values ? Kind::Record : Kind::Container;
  } else {
    rootKind = values ? Kind::Record : Kind::None;
  }
}

Analyzer::Recent& Analyzer::Slot(std::vector<RecentSet>& v, int index, int key) {
  if (index >= static_cast<int>(v.size())) v.resize(static_cast<std::size_t>(index) + 1);
  return v[static_cast<std::size_t>(index)][static_cast<std::size_t>(key) & 7];
}

// The path of a `key` element inside `parent`, noted when new.
int Analyzer::NotePath(int parent, int key) {
  Recent& recent = Slot(recentChild_, parent + 1, key);
  if (recent.key == key) return recent.value;
  const auto [it, added] =
      pathIds_.try_emplace(PairKey(parent, key), static_cast<int>(summary_.paths.size()));
  const int path = it->second;
  if (added) {
    const int depth = parent < 0 ? 0 : summary_.paths[static_cast<std::size_t>(parent)].depth + 1;
    summary_.paths.push_back({parent, key, depth});
    pathText_.push_back(0);
    summary_.firsts.push_back({PathSummary::First::Element, path});
  }
  recent = {key, path};
  if (summary_.paths.size() > ImportTuning().maxPaths) GiveUpSummary();
  return path;
}

void Analyzer::NoteAttributes(int path, const Attr* attrs, int attrCount) {
  for (int i = 0; i < attrCount && summary_.complete; ++i) {
    const Attr& a = attrs[i];
    bool added;
    if (a.ordinal == 0) {
      Recent& recent = Slot(recentAttr_, path, a.key);
      if (recent.key == a.key) continue;
      added = pathAttrs_.insert(PairKey(path, a.key)).second;
      recent = {a.key, 0};
    } else {  // a second attribute of one local name on an element: rare
      added = pathAttrsMore_.insert(TripleKey{path, a.key, a.ordinal}).second;
    }
    if (added) {
      summary_.firsts.push_back(
          {PathSummary::First::Attribute, path, a.key, a.ordinal, a.spelling});
    }
  }
  if (summary_.firsts.size() > kMaxFirsts) GiveUpSummary();
}

void Analyzer::GiveUpSummary() {
  summary_ = PathSummary{};
  summary_.complete = false;
  pathIds_ = {};
  pathAttrs_ = {};
  pathAttrsMore_ = {};
  pathText_ = {};
  recentChild_ = {};
  recentAttr_ = {};
}

void Analyzer::Grow(int key) {
  if (key >= static_cast<int>(stats_.size())) stats_.resize(static_cast<std::size_t>(key) + 1);
}

}  // namespace palomet::xmlimport
