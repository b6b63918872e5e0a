#pragma once

// Comparing names without regard to letter case. There are two rules, each for a reason:
//
// - AsciiFold: ASCII letters lowered, every other byte as it is. SQLite compares identifiers
//   this way, so every name that becomes a table or a column (element and attribute names
//   of the XML import) is compared so; the keys of connection strings are ASCII too.
// - UnicodeFold: full Unicode case folding. Sheet names are compared so (the workbook's
//   rule: "Straße" and "STRASSE" are one name), and the folder scan orders its listing by the
//   folded names, so that "b.xml" and "B.xml" sort together whatever the script.
//
// Both give UTF-8; a folded name compares with another folded one byte by byte.
//
// Character classes are ASCII's too, whatever the locale: a byte of a UTF-8 sequence is
// never a letter or a digit (the C library's tests would say otherwise under an 8-bit
// locale).

#include <string>
#include <string_view>

namespace palomet {

inline char AsciiLower(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

inline char AsciiUpper(char c) {
  return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

inline bool AsciiIsDigit(char c) {
  return c >= '0' && c <= '9';
}

inline bool AsciiIsLetter(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

inline std::string AsciiFold(std::string_view name) {
  std::string out(name);
  for (char& c : out) c = AsciiLower(c);
  return out;
}

// Text that is not valid UTF-8 has its bad bytes replaced by U+FFFD first.
std::string UnicodeFold(std::string_view name);

}  // namespace palomet
