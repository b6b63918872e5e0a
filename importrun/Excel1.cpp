#include "importrun/Excel1.h"

#include <algorithm>

namespace palomet {

namespace {

// Length in bytes of the UTF-8 sequence that starts with `c` (1 for a stray byte).
std::size_t SequenceLength(unsigned char c) {
  if (c >= 0xF0 && c <= 0xF4) return 4;
  if (c >= 0xE0) return c <= 0xEF ? 3 : 1;
  if (c >= 0xC2) return 2;
  return 1;
}

}  // namespace

std::string CutToUtf16Units(std::string_view s, std::size_t maxUnits) {
  std::size_t units = 0, i = 0;
  while (i < s.size()) {
    const std::size_t len =
        std::min(SequenceLength(static_cast<unsigned char>(s[i])), s.size() - i);
    const std::size_t w = len == 4 ? 2 : 1;  // a supplementary character is a surrogate pair
    if (units + w > maxUnits) break;
    units += w;
    i += len;
  }
  return std::string(s.substr(0, i));
}

std::string MakeSheetName(std::string_view tableName) {
  std::string name;
  name.reserve(tableName.size());
  for (char c : tableName) {
    switch (c) {
      case '[':
      case ']':
        break;
      case ':':
      case '\\':
      case '/':
      case '?':
      case '*':
        name += '_';
        break;
      default:
        // Control characters (a tab or line break decoded from a name) cannot be kept.
        name += static_cast<unsigned char>(c) < 0x20 ? '_' : c;
    }
  }
  name = CutToUtf16Units(name, 30);
  if (name.empty()) return "_";
  if (name.front() == '\'') name.front() = '_';
  if (name.back() == '\'') name.back() = '_';
  return name;
}

}  // namespace palomet
