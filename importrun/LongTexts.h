#pragma once

// Values longer than a cell holds. The run cuts such a value to fit its cell and keeps the
// whole of it here; after the last table the values go, in pieces that each fit a cell, onto
// a sheet of their own, and each cut cell links to its row there. The values wait in an
// unnamed temporary file, not in memory, so a run with many of them stays flat.

#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "office/Files.h"
#include "office/xl/Excel.h"

namespace palomet {

// The name of the sheet that holds the values (numbered like any sheet when taken).
inline constexpr std::string_view kLongTextsSheet = "Long texts";

class LongTexts {
 public:
  LongTexts() = default;
  LongTexts(const LongTexts&) = delete;
  LongTexts& operator=(const LongTexts&) = delete;

  // Writes `value` into the cell at `row`, `col` of `sheet`: whole when it fits, else cut to
  // what the cell holds and kept whole for the sheet of long texts. A value whose pieces
  // would not fit in one row of that sheet, or that is not valid UTF-8, is refused by the
  // cell with the engine's error, as any value it cannot hold.
  void Write(xl::Worksheet& sheet, std::int64_t row, std::int64_t col, std::string_view value);

  std::size_t Count() const { return kept_.size(); }

  // Fills `sheet` (new and empty) with a header row "Sheet", "Cell", "Characters",
  // "Text 1", "Text 2", ... and one row per kept value, and links every cut cell to its
  // row and the row's "Cell" back to the cut cell. `workbook` holds the cut cells' sheets.
  // `yield` is called between values.
  void Fill(xl::Workbook& workbook, xl::Worksheet& sheet, const std::function<void()>& yield);

  // One line for the reader: how many values were cut and on which sheet they are whole.
  static std::string Summary(std::size_t count, const std::string& sheetName);

  // The pieces `value` is split into so that each fits in a cell, as byte lengths.
  static std::vector<std::size_t> Pieces(std::string_view value);

 private:
  struct Kept {
    std::uint64_t sheetId;  // the cut cell's sheet (sheets may be renamed until the end)
    std::int64_t row;
    std::int64_t col;
    std::uint64_t offset;  // where the value starts in the file
    std::uint64_t bytes;
    std::uint64_t units;   // the value's length in UTF-16 code units
    std::uint32_t pieces;
  };

  void WriteRow(xl::Workbook& workbook, xl::Worksheet& sheet, std::size_t index);
  void Store(std::string_view value, Kept& kept);
  void Load(const Kept& kept, std::uint64_t from, char* into, std::size_t n);

  std::vector<Kept> kept_;
  std::uint32_t mostPieces_ = 0;
  FilePtr file_;
  std::uint64_t size_ = 0;
};

}  // namespace palomet
