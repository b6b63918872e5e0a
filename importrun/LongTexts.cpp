#include "importrun/LongTexts.h"

#include <cerrno>
#include <cstring>

#include "office/Error.h"
#include "office/Numbers.h"
#include "office/xl/LongValues.h"

namespace palomet {

namespace {

// A piece of a value holds at most 32,767 units; in UTF-8 that is at most 98,301 bytes
// (three bytes a unit), so a window of this size always holds a whole piece and the few
// bytes after it that decide whether an "_xHHHH_" at its end is escaped.
constexpr std::size_t kWindow = std::size_t{128} << 10;

// The header's leading columns, before "Text 1" (where the window looks for the pieces).
constexpr std::int64_t kLeadColumns = xl::kKeptFirstPieceColumn - 1;
// Pieces fill the columns after the lead ones.
constexpr std::uint64_t kMostPieces = static_cast<std::uint64_t>(xl::kMaxColumns - kLeadColumns);

// A place on another sheet as a link names it: 'Long texts'!A2.
std::string Location(const std::string& sheetName, std::int64_t row, std::int64_t col) {
  return xl::QuotedSheetName(sheetName) + "!" + xl::CellAddress(row, col);
}

[[noreturn]] void TempFileFailed(const char* what) {
  throw Error(errnum::kSpreadsheet,
              std::string("A temporary file for values longer than a cell holds could not be ") +
                  what + ": " + std::strerror(errno) + ".");
}

}  // namespace

std::vector<std::size_t> LongTexts::Pieces(std::string_view value) {
  std::vector<std::size_t> pieces;
  while (!value.empty()) {
    std::size_t n = xl::FitInCell(value.substr(0, kWindow));
    if (n == 0) n = value.size();  // not UTF-8 after all: the cell will say so
    pieces.push_back(n);
    value.remove_prefix(n);
  }
  return pieces;
}

void LongTexts::Write(xl::Worksheet& sheet, std::int64_t row, std::int64_t col,
                      std::string_view value) {
  // Most values are far below the limit, whatever their characters: seven file units per
  // byte at the very most (a NUL is spelled "_x0000_").
  constexpr std::size_t kSurelyFits = xl::kMaxCellChars / 7;
  if (value.size() <= kSurelyFits) return sheet.SetCell(row, col, value);
  // One scan finds both the cut and the pieces; a value that fits is one piece.
  const std::vector<std::size_t> pieces = Pieces(value);
  if (pieces.size() <= 1) return sheet.SetCell(row, col, value);

  Kept kept{};
  kept.sheetId = sheet.Id();
  kept.row = row;
  kept.col = col;
  const std::int64_t units = xl::TextLength(value);
  if (units < 0 || pieces.size() > kMostPieces) {
    sheet.SetCell(row, col, value);  // refused with the cell's own error
    return;
  }
  kept.units = static_cast<std::uint64_t>(units);
  kept.pieces = static_cast<std::uint32_t>(pieces.size());
  sheet.SetCell(row, col, value.substr(0, pieces.front()));
  Store(value, kept);
  kept_.push_back(kept);
  mostPieces_ = std::max(mostPieces_, kept.pieces);
}

void LongTexts::Store(std::string_view value, Kept& kept) {
  if (!file_) {
    file_ = UnlinkedTemporaryFile();
    if (!file_) TempFileFailed("made");
  }
  if (std::fseek(file_.get(), static_cast<long>(size_), SEEK_SET) != 0 ||
      std::fwrite(value.data(), 1, value.size(), file_.get()) != value.size()) {
    TempFileFailed("written");
  }
  kept.offset = size_;
  kept.bytes = value.size();
  size_ += value.size();
}

void LongTexts::Load(const Kept& kept, std::uint64_t from, char* into, std::size_t n) {
  if (std::fseek(file_.get(), static_cast<long>(kept.offset + from), SEEK_SET) != 0 ||
      std::fread(into, 1, n, file_.get()) != n) {
    TempFileFailed("read");
  }
}

void LongTexts::Fill(xl::Workbook& workbook, xl::Worksheet& sheet,
                     const std::function<void()>& yield) {
  sheet.SetText(1, 1, "Sheet");
  sheet.SetText(1, 2, "Cell");
  sheet.SetText(1, 3, "Characters");
  for (std::uint32_t p = 1; p <= mostPieces_; ++p) {
    sheet.SetText(1, kLeadColumns + p, "Text " + std::to_string(p));
  }
  for (std::size_t i = 0; i < kept_.size(); ++i) {
    if (yield) yield();
    WriteRow(workbook, sheet, i);
  }
}

void LongTexts::WriteRow(xl::Workbook& workbook, xl::Worksheet& sheet, std::size_t index) {
  const Kept& kept = kept_[index];
  const std::int64_t row = static_cast<std::int64_t>(index) + 2;
  // The cut cell and its row link to each other. Cells go in row-then-column order, so a
  // written-through sheet keeps streaming.
  xl::Worksheet* cut = workbook.SheetWithId(kept.sheetId);
  if (cut) sheet.SetText(row, 1, cut->Name());
  sheet.SetText(row, 2, xl::CellAddress(kept.row, kept.col));
  if (cut) {
    cut->SetHyperlink(kept.row, kept.col, Location(sheet.Name(), row, 1));
    sheet.SetHyperlink(row, 2, Location(cut->Name(), kept.row, kept.col));
  }
  sheet.SetCell(row, 3, std::to_string(kept.units));

  std::string window(kWindow, '\0');
  std::uint64_t done = 0;
  for (std::int64_t col = kLeadColumns + 1; done < kept.bytes; ++col) {
    const std::size_t n =
        static_cast<std::size_t>(std::min<std::uint64_t>(kWindow, kept.bytes - done));
    Load(kept, done, window.data(), n);
    std::string_view piece(window.data(), n);
    std::size_t fit = xl::FitInCell(piece);
    if (fit == 0) fit = n;
    sheet.SetText(row, col, piece.substr(0, fit));
    done += fit;
  }
}

std::string LongTexts::Summary(std::size_t count, const std::string& sheetName) {
  return count == 1 ? "1 value longer than a cell holds was cut in its cell and kept whole on "
                      "sheet \"" + sheetName + "\"."
                    : WithThousands(static_cast<std::int64_t>(count)) +
                          " values longer than a cell holds were cut in their cells and kept "
                          "whole on sheet \"" + sheetName + "\".";
}

}  // namespace palomet
