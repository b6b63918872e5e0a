#pragma once

#include "office/xl/Excel.h"

namespace palomet::test {

// Lowers the sheets' last row while it lives, so that a test's tables pass it in a few rows.
struct LowSheetRows {
  explicit LowSheetRows(std::int64_t rows) { xl::SetSheetRows(rows); }
  ~LowSheetRows() { xl::SetSheetRows(xl::kMaxRows); }
};

}  // namespace palomet::test
