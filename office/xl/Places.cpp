#include "office/xl/Places.h"

#include <algorithm>

#include "office/xl/Excel.h"

namespace palomet::xl {

namespace {

bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

char UpperAscii(char c) {
  return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

// "B7", "$b$7": the cell's row and column, or nothing.
std::optional<std::pair<std::int64_t, std::int64_t>> ParseCell(std::string_view text) {
  std::size_t i = 0;
  if (i < text.size() && text[i] == '$') ++i;
  std::int64_t col = 0;
  const std::size_t lettersFrom = i;
  for (; i < text.size() && UpperAscii(text[i]) >= 'A' && UpperAscii(text[i]) <= 'Z'; ++i) {
    col = col * 26 + (UpperAscii(text[i]) - 'A' + 1);
    if (col > kMaxColumns) return std::nullopt;
  }
  if (i == lettersFrom) return std::nullopt;
  if (i < text.size() && text[i] == '$') ++i;
  std::int64_t row = 0;
  const std::size_t digitsFrom = i;
  for (; i < text.size() && IsDigit(text[i]); ++i) {
    row = row * 10 + (text[i] - '0');
    if (row > kMaxRows) return std::nullopt;
  }
  if (i == digitsFrom || i != text.size() || row < 1) return std::nullopt;
  return std::make_pair(row, col);
}

std::string_view Trimmed(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

}  // namespace

std::optional<Place> ParsePlace(std::string_view text) {
  text = Trimmed(text);
  Place place;
  std::string_view cell = text;
  if (!text.empty() && text.front() == '\'') {
    // 'It''s here'!A1: the name runs to the apostrophe that is not doubled.
    std::size_t i = 1;
    for (;; ++i) {
      if (i >= text.size()) return std::nullopt;
      if (text[i] != '\'') {
        place.sheet += text[i];
      } else if (i + 1 < text.size() && text[i + 1] == '\'') {
        place.sheet += '\'';
        ++i;
      } else {
        break;
      }
    }
    if (i + 1 >= text.size() || text[i + 1] != '!') return std::nullopt;
    place.hasSheet = true;
    cell = text.substr(i + 2);
  } else if (const std::size_t bang = text.rfind('!'); bang != std::string_view::npos) {
    place.sheet = std::string(text.substr(0, bang));
    place.hasSheet = true;
    cell = text.substr(bang + 1);
  }
  if (place.hasSheet && place.sheet.empty()) return std::nullopt;
  const auto at = ParseCell(cell);
  if (!at) return std::nullopt;
  place.row = at->first;
  place.col = at->second;
  return place;
}

std::optional<PlaceRange> ParseRange(std::string_view text) {
  // A sheet's name holds no colon, so the last one parts the two cells.
  const std::size_t colon = text.rfind(':');
  std::optional<Place> first = ParsePlace(text.substr(0, colon));
  if (!first) return std::nullopt;
  PlaceRange range{*first, first->row, first->col};
  if (colon == std::string_view::npos) return range;
  const std::optional<Place> second = ParsePlace(text.substr(colon + 1));
  if (!second || second->hasSheet) return std::nullopt;
  range.first.row = std::min(first->row, second->row);
  range.first.col = std::min(first->col, second->col);
  range.lastRow = std::max(first->row, second->row);
  range.lastCol = std::max(first->col, second->col);
  return range;
}

}  // namespace palomet::xl
