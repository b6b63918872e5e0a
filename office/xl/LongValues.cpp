#include "office/xl/LongValues.h"

#include <cmath>

#include "office/xl/Places.h"

namespace palomet::xl {

std::optional<KeptValue> ReadKeptValue(const Worksheet& sheet, std::int64_t row, std::int64_t col,
                                       std::size_t maxBytes) {
  const CellValue cut = sheet.Cell(row, col);
  if (cut.type != CellType::Text) return std::nullopt;
  const std::string* location = sheet.HyperlinkAt(row, col);
  if (!location) return std::nullopt;
  const std::optional<Place> place = ParsePlace(*location);
  if (!place || !place->hasSheet) return std::nullopt;
  const Worksheet* kept = sheet.Parent().FindSheet(place->sheet);
  if (!kept || kept == &sheet) return std::nullopt;
  const std::int64_t at = place->row;
  // The row must be this cell's: any other link, or a row changed since, is no kept value.
  const CellValue name = kept->Cell(at, kKeptSheetColumn);
  const CellValue address = kept->Cell(at, kKeptCellColumn);
  const CellValue length = kept->Cell(at, kKeptLengthColumn);
  const CellValue first = kept->Cell(at, kKeptFirstPieceColumn);
  if (name.type != CellType::Text || name.text != sheet.Name() ||
      address.type != CellType::Text || address.text != CellAddress(row, col) ||
      length.type != CellType::Number || first.type != CellType::Text ||
      first.text != cut.text) {
    return std::nullopt;
  }
  KeptValue value;
  value.length = static_cast<std::int64_t>(std::llround(length.number));
  const std::int64_t lastColumn = kept->UsedColumns();
  for (std::int64_t c = kKeptFirstPieceColumn; c <= lastColumn; ++c) {
    const CellValue piece = kept->Cell(at, c);
    if (piece.type != CellType::Text) break;
    if (value.text.size() + piece.text.size() > maxBytes) {
      value.whole = false;
      break;
    }
    value.text += piece.text;
  }
  return value;
}

}  // namespace palomet::xl
