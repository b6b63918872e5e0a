#include <atomic>
#include <string>

#include "office/Numbers.h"
#include "office/xl/Excel.h"

namespace palomet::xl {

namespace {

// Read by the engine's checks of every cell; set only before a workbook is made.
std::atomic<std::int64_t> sheetRows{kMaxRows};

}  // namespace

std::int64_t SheetRows() {
  return sheetRows.load(std::memory_order_relaxed);
}

void SetSheetRows(std::int64_t rows) {
  if (rows < 2 || rows > kMaxRows) {
    throw Error(errnum::kSpreadsheet, "A sheet has 2 to " + WithThousands(kMaxRows) +
                                          " rows, not " + std::to_string(rows) + ".");
  }
  sheetRows.store(rows, std::memory_order_relaxed);
}

}  // namespace palomet::xl
