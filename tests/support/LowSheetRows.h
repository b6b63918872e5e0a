#pragma once

// Lowers the sheets' last row for the life of the object, so that a test's tables pass it in
// a few rows.

#include "office/xl/Excel.h"

namespace palomet::test {

class LowSheetRows {
 public:
  explicit LowSheetRows(std::int64_t rows) { xl::SetSheetRows(rows); }
  ~LowSheetRows() { xl::SetSheetRows(xl::kMaxRows); }
  LowSheetRows(const LowSheetRows&) = delete;
  LowSheetRows& operator=(const LowSheetRows&) = delete;
};

}  // namespace palomet::test
