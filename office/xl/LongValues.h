#pragma once

// Values longer than a cell holds, kept whole on a sheet of their own: one row a value, with
// the cut cell's sheet name, its address, the value's length in characters and then the
// value in pieces that each fit a cell. The cut cell holds the first piece and links to the
// first cell of its row there. The import run writes these rows; the window reads them back.

#include <cstdint>
#include <optional>
#include <string>

#include "office/xl/Excel.h"

namespace palomet::xl {

inline constexpr std::int64_t kKeptSheetColumn = 1;
inline constexpr std::int64_t kKeptCellColumn = 2;
inline constexpr std::int64_t kKeptLengthColumn = 3;
inline constexpr std::int64_t kKeptFirstPieceColumn = 4;

struct KeptValue {
  std::string text;         // the whole value, or its start when longer than asked for
  std::int64_t length = 0;  // the whole value's length in UTF-16 units
  bool whole = true;        // false when `text` stops at the limit asked for
};

// The whole value of the cell at `row`, `col` of `sheet` when the cell was cut and its value
// kept as above: its link leads to a row that names this cell and whose first piece is the
// cell's text. Nothing for any other cell. Reads at most about `maxBytes` of the value.
std::optional<KeptValue> ReadKeptValue(const Worksheet& sheet, std::int64_t row, std::int64_t col,
                                       std::size_t maxBytes);

}  // namespace palomet::xl
