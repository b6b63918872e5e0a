#pragma once

// Private to the XML import: walks the events with the kinds decided. Before StartWriting it
// is the layout walk, which registers tables and sources through the Registrar (used when
// the first pass kept no path summary); after it, the row walk, which numbers the rows, fills
// them and hands them to the Inserter table by table. The row walk registers nothing: an
// event the layout did not foresee fails the import.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "office/db/XmlEvents.h"
#include "office/db/xmlimport/Layout.h"
#include "office/db/xmlimport/RowInserter.h"

namespace palomet::xmlimport {

class Shredder : public EventSink {
 public:
  Shredder(Schema& schema, Registrar& registrar) : schema_(schema), registrar_(registrar) {}

  void Start(int key, bool nil, const Attr* attrs, int attrCount) override;
  void Text(std::string_view text, bool blank) override;
  void End() override;

  // From now on rows go to `inserter`; the layout is frozen.
  void StartWriting(Inserter& inserter);
  // Hands over the rows still waiting in each table's batch.
  void FlushAll();

 private:
  struct Frame {
    Placement at;
    bool nil = false;
    bool isRoot = false;
    bool hasText = false;
    int recordFrame = -1;  // nearest record or list frame at or above this one
    std::int64_t row = 0;
    std::string text;  // a list's text or a record's own text, gathered
    RowBuffer values;  // record and list frames: the row being filled
  };

  Table& TableOf(const Frame& f) { return schema_.tables[static_cast<std::size_t>(f.at.table)]; }
  bool writing() const { return inserter_ != nullptr; }
  static int Column(const Table& t, int source) {
    return t.sourceColumn[static_cast<std::size_t>(source)];
  }
  void Insert(Table& t, Frame& f);
  void Hand(Table& t);

  // A table's pending rows go to the inserter once their values reach this many bytes.
  static constexpr std::size_t kJobBytes = 1u << 20;

  Schema& schema_;
  Registrar& registrar_;
  Inserter* inserter_ = nullptr;
  std::vector<Frame> frames_;  // reused, never shrunk: no allocation per element
  std::size_t depth_ = 0;
};

}  // namespace palomet::xmlimport
