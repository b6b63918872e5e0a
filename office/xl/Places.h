#pragma once

// Places in a workbook as references name them ("B7", "Customer!C10", "'Long texts'!A2"),
// read back: what a link holds and what a user types to go somewhere.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace palomet::xl {

struct Place {
  bool hasSheet = false;  // false: the reference names a cell only ("B7")
  std::string sheet;      // the sheet's name as written, apostrophes taken off
  std::int64_t row = 0;   // 1-based
  std::int64_t col = 0;
};

// Reads a reference to one cell, as QuotedSheetName and CellAddress write it: column letters
// in either case, `$` signs allowed, a sheet name in apostrophes (an apostrophe inside
// doubled) or plain, blanks around the whole ignored. Nothing when `text` is no reference
// or names a cell outside the sheet's 1,048,576 rows and 16,384 columns.
std::optional<Place> ParsePlace(std::string_view text);

// A rectangle of cells as a reference names it ("C3:E5", "Customer!C3:E5"); a single cell
// is a rectangle of one.
struct PlaceRange {
  Place first;               // the sheet, when named, and the top left cell
  std::int64_t lastRow = 0;  // the bottom right cell, 1-based
  std::int64_t lastCol = 0;
};

// Reads ParsePlace's reference to one cell, or that followed by a colon and a second cell
// without a sheet; the two cells may be any two opposite corners. Nothing when `text` is
// neither.
std::optional<PlaceRange> ParseRange(std::string_view text);

}  // namespace palomet::xl
