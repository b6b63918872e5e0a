#include "importrun/Excel1.h"

#include "office/xl/Excel.h"

namespace palomet {

std::string MakeSheetName(std::string_view tableName) {
  std::string name;
  name.reserve(tableName.size());
  for (char c : tableName) {
    if (c == '[' || c == ']') continue;
    // Control characters (a tab or line break decoded from a name) cannot be kept either.
    const bool refused = xl::kSheetNameForbidden.find(c) != std::string_view::npos ||
                         static_cast<unsigned char>(c) < 0x20;
    name += refused ? '_' : c;
  }
  // One unit short of the workbook's limit.
  name = xl::CutToUtf16Units(name, xl::kMaxSheetNameChars - 1);
  if (name.empty()) return "_";
  if (name.front() == '\'') name.front() = '_';
  if (name.back() == '\'') name.back() = '_';
  return name;
}

}  // namespace palomet
