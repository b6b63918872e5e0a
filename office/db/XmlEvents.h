#pragma once

// Private to office/db: an XML file as a stream of data events. Schema elements, namespace
// declarations, schema-instance attributes, comments and processing instructions are gone;
// names are decoded and interned; text comes in whole pieces (all character data between two
// tags, entities and CDATA resolved).

#include <string>
#include <string_view>

#include "office/XmlInput.h"
#include "office/db/XmlNames.h"

namespace palomet::xmlimport {

struct Attr {
  int spelling;  // the attribute's decoded local name
  int key;       // its case-insensitive class
  int ordinal;   // how many earlier attributes of this element share the key
  std::string_view value;
};

class EventSink {
 public:
  virtual ~EventSink() = default;
  // An element starts; `key` is its name's class, `nil` is true for xsi:nil="true".
  virtual void Start(int key, bool nil, const Attr* attrs, int attrCount) = 0;
  // A non-empty piece of text directly inside the innermost open element.
  virtual void Text(std::string_view text, bool blank) = 0;
  virtual void End() = 0;
};

inline constexpr int kMaxDepth = 256;

// Parses the file or archive member `path`, opened through `inputs`, with libxml2, streaming,
// and sends its events to `sink`. Never loads an external DTD or entity, never touches the
// network. Raises Error 31550 naming the file (and line and column where known) for a file
// that cannot be read or is bad XML, and passes on what the sink raises.
void ParseXmlFile(const std::string& path, XmlInputs& inputs, NameTable& names, EventSink& sink);

}  // namespace palomet::xmlimport
