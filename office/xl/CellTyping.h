#pragma once

// Internal to the engine: how a written string becomes a cell, text checks, and the
// compact cell record both storages share.

#include <cstdint>
#include <string>
#include <string_view>

namespace palomet::xl::detail {

// One cell in 16 bytes. Text lives elsewhere; the record holds where and how long.
struct CellRec {
  std::uint32_t row;      // 0-based
  std::uint16_t col;      // 0-based
  std::uint8_t type;      // CellType
  std::uint8_t decimals;  // Number: decimals shown
  union {
    double number;       // Number, Date, DateTime
    std::uint64_t text;  // Text: offset << kLenBits | length in bytes
  };
};
static_assert(sizeof(CellRec) == 16);

inline constexpr unsigned kLenBits = 18;  // 32,767 UTF-16 units are at most 98,301 bytes
inline constexpr std::uint64_t kLenMask = (std::uint64_t{1} << kLenBits) - 1;

inline std::uint64_t Key(std::uint32_t row, std::uint16_t col) {
  return (std::uint64_t{row} << 16) | col;
}
inline std::uint64_t Key(const CellRec& c) {
  return Key(c.row, c.col);
}

// Numbers keep at most this many decimals: spreadsheets show no more.
inline constexpr int kMaxDecimals = 30;

struct Typed {
  std::uint8_t type;  // CellType
  std::uint8_t decimals = 0;
  double number = 0;
};

// Types `s` as a person typing it would, never losing information. `s` is not empty.
Typed TypeValue(std::string_view s);

// Counts `s` in UTF-16 code units; false when `s` is not valid UTF-8.
bool Utf16Length(std::string_view s, std::size_t& units);

// Appends `s` to `out` as the .xlsx text of a cell must be: `_xHHHH_` written as
// `_x005F_xHHHH_`, characters XML cannot carry (NUL, U+FFFE, U+FFFF) as `_xHHHH_`.
// Other control characters are escaped the same way by the writer itself.
void EscapeForXlsx(std::string_view s, std::string& out);
// True when the "_" at `i` starts a sequence the file must escape ("_x005F_").
bool UnderscoreNeedsEscapeAt(std::string_view s, std::size_t i);
// How many characters EscapeForXlsx adds to `s`.
std::size_t EscapeGrowth(std::string_view s);

// Days since 1899-12-30 (the spreadsheet's serial for dates from 1900-03-01 on).
std::int64_t DaysFromCivil(int y, unsigned m, unsigned d);
void CivilFromDays(std::int64_t z, int& y, unsigned& m, unsigned& d);

std::string NumberFormatFor(std::uint8_t type, std::uint8_t decimals);

}  // namespace palomet::xl::detail
