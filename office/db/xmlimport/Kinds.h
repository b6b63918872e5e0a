#pragma once

// Private to the XML import: the first pass. The Analyzer takes every event of the parse and
// decides the kind of each element name over the whole file (field, list, record, container),
// and of the document element's own instance. On the way it notes, in file order, the first
// time each distinct element path, attribute of a path and non-blank text in a path occur
// (the PathSummary), from which the layout is made without a second walk over the events.

#include <array>
#include <cstdint>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "office/db/XmlEvents.h"
#include "office/db/xmlimport/TripleKey.h"

namespace palomet::xmlimport {

enum class Kind : std::uint8_t { None, Field, List, Record, Container };

// Every distinct element path (the names from the document element down) and the first
// occurrences in file order. Which tables and columns an event adds depends only on its path
// and the kinds, so these first occurrences, taken in order, give the same layout as a walk
// over every event. When a document has too many distinct paths the summary is dropped
// (complete is false) and the layout walks the events instead.
struct PathSummary {
  struct Path {
    int parent;  // -1 for the document element
    int key;
    int depth;
  };
  struct First {
    enum Type : std::uint8_t { Element, Attribute, Text };
    Type type;
    int path;
    int attrKey = -1;
    int ordinal = 0;
    int spelling = -1;
  };
  std::vector<Path> paths;
  std::vector<First> firsts;
  bool complete = true;
};

class Analyzer : public EventSink {
 public:
  // Passes every event on to `forward` as well, when given (the event log).
  explicit Analyzer(EventSink* forward) : forward_(forward) {}

  void Start(int key, bool nil, const Attr* attrs, int attrCount) override;
  void Text(std::string_view text, bool blank) override;
  void End() override;

  const PathSummary& Summary() const { return summary_; }

  // The kind of every key below `keyCount`, and of the document element's own instance.
  void Decide(int keyCount, std::vector<Kind>& kinds, Kind& rootKind);

 private:
  struct NameStat {
    bool hasChildren = false;
    bool repeated = false;
    bool hasValues = false;  // attributes or own text in some instance
    bool rootChild = false;  // a child of the document element's own instance
    std::int64_t lastParentSerial = -1;
    std::size_t lastParentDepth = static_cast<std::size_t>(-1);
    int lastParentKey = -1;
    std::vector<int> parentKeys;
  };
  struct Frame {
    int key;
    std::int64_t serial;
    std::size_t undoMark;
    bool isRoot;
    int path;
  };
  struct Undo {
    int key;
    std::int64_t serial;
    std::size_t depth;
  };
  // A few recent (name, path) pairs per path, so that most lookups need no hashing.
  struct Recent {
    int key = -1;
    int value = -1;
  };
  using RecentSet = std::array<Recent, 8>;

  static constexpr std::size_t kMaxFirsts = 200000;

  static Recent& Slot(std::vector<RecentSet>& v, int index, int key);
  int NotePath(int parent, int key);
  void NoteAttributes(int path, const Attr* attrs, int attrCount);
  void GiveUpSummary();
  void Grow(int key);

  EventSink* forward_;
  PathSummary summary_;
  std::unordered_map<std::uint64_t, int> pathIds_;
  std::unordered_set<std::uint64_t> pathAttrs_;
  std::unordered_set<TripleKey, TripleKeyHash> pathAttrsMore_;
  std::vector<char> pathText_;
  std::vector<RecentSet> recentChild_;  // by parent path + 1
  std::vector<RecentSet> recentAttr_;   // by path

  std::vector<NameStat> stats_;
  std::vector<Frame> stack_;
  std::vector<Undo> undo_;
  std::int64_t serial_ = 0;
  int rootKey_ = -1;
  bool rootValues_ = false;
  bool rootHasChildren_ = false;
};

}  // namespace palomet::xmlimport
