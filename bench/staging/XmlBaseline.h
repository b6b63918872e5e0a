#pragma once

#include <cstdint>
#include <string>

namespace palomet {

// A bare libxml2 streaming (SAX2) parse of `path` with the importer's reader set-up and
// callbacks that only count: the yardstick the import's speed is measured against. Returns the
// number of elements. Raises Error 31550 when the file cannot be read or parsed.
std::uint64_t ParseXmlBaseline(const std::string& path);

}  // namespace palomet
