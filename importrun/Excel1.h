#pragma once

#include <string>
#include <string_view>

namespace palomet {

// The sheet name for a table: "[" and "]" removed, every other character a sheet name may
// not hold (: \ / ? *, control characters, and an apostrophe at either end) replaced by "_", cut to 30
// characters (UTF-16 code units; a cut never splits a surrogate pair); an empty result
// becomes "_". Does not look at the workbook: PrepareSheet makes the name unique.
std::string MakeSheetName(std::string_view tableName);

}  // namespace palomet
