#include "office/xl/CellTyping.h"

#include <algorithm>
#include <charconv>
#include <cmath>

#include "office/xl/Excel.h"

namespace palomet::xl::detail {
namespace {

bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

bool IsHex(char c) {
  return IsDigit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

// A plain decimal: -?(0|[1-9][0-9]*)(\.[0-9]+)?, at most 15 significant digits (trailing
// zeros written count), not negative zero, at most kMaxDecimals decimals.
bool TypeNumber(std::string_view s, Typed& out) {
  std::size_t i = 0;
  const bool negative = s[0] == '-';
  if (negative) ++i;
  const std::size_t wholeBegin = i;
  while (i < s.size() && IsDigit(s[i])) ++i;
  const std::size_t wholeLen = i - wholeBegin;
  if (wholeLen == 0 || (wholeLen > 1 && s[wholeBegin] == '0')) return false;
  std::size_t fracLen = 0;
  if (i < s.size()) {
    if (s[i] != '.') return false;
    const std::size_t fracBegin = ++i;
    while (i < s.size() && IsDigit(s[i])) ++i;
    fracLen = i - fracBegin;
    if (fracLen == 0 || i != s.size()) return false;
  }
  if (fracLen > static_cast<std::size_t>(kMaxDecimals)) return false;
  // Significant digits: from the first non-zero digit to the end, the point not counted.
  std::size_t significant = 0;
  bool seenNonZero = false;
  for (std::size_t k = wholeBegin; k < s.size(); ++k) {
    if (s[k] == '.') continue;
    if (s[k] != '0') seenNonZero = true;
    if (seenNonZero) ++significant;
  }
  if (significant > 15) return false;
  if (negative && !seenNonZero) return false;
  double value = 0;
  const auto res = std::from_chars(s.data(), s.data() + s.size(), value);
  if (res.ec != std::errc() || res.ptr != s.data() + s.size() || !std::isfinite(value)) {
    return false;
  }
  out.type = static_cast<std::uint8_t>(CellType::Number);
  out.decimals = static_cast<std::uint8_t>(fracLen);
  out.number = value;
  return true;
}

int Digits(std::string_view s, std::size_t pos, std::size_t n) {
  int v = 0;
  for (std::size_t k = pos; k < pos + n; ++k) {
    if (!IsDigit(s[k])) return -1;
    v = v * 10 + (s[k] - '0');
  }
  return v;
}

bool IsLeap(int y) {
  return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
}

// YYYY-MM-DD from 1900-03-01 to 9999-12-31, optionally THH:MM:SS (00:00:00 to 23:59:59).
bool TypeDate(std::string_view s, Typed& out) {
  if (s.size() != 10 && s.size() != 19) return false;
  if (s[4] != '-' || s[7] != '-') return false;
  const int y = Digits(s, 0, 4), m = Digits(s, 5, 2), d = Digits(s, 8, 2);
  if (y < 0 || m < 1 || m > 12 || d < 1) return false;
  static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  const int monthDays = kDays[m - 1] + (m == 2 && IsLeap(y) ? 1 : 0);
  if (d > monthDays) return false;
  if (y < 1900 || (y == 1900 && m < 3)) return false;
  double serial = static_cast<double>(DaysFromCivil(y, m, d));
  if (s.size() == 19) {
    if (s[10] != 'T' || s[13] != ':' || s[16] != ':') return false;
    const int hh = Digits(s, 11, 2), mm = Digits(s, 14, 2), ss = Digits(s, 17, 2);
    if (hh < 0 || hh > 23 || mm < 0 || mm > 59 || ss < 0 || ss > 59) return false;
    serial += (hh * 3600 + mm * 60 + ss) / 86400.0;
    out.type = static_cast<std::uint8_t>(CellType::DateTime);
  } else {
    out.type = static_cast<std::uint8_t>(CellType::Date);
  }
  out.number = serial;
  return true;
}

}  // namespace

Typed TypeValue(std::string_view s) {
  Typed t{static_cast<std::uint8_t>(CellType::Text)};
  if (s[0] == '-' || IsDigit(s[0])) {
    if (TypeNumber(s, t)) return t;
    if (TypeDate(s, t)) return t;
  }
  return Typed{static_cast<std::uint8_t>(CellType::Text)};
}

bool Utf16Length(std::string_view s, std::size_t& units) {
  std::size_t n = 0;
  const auto* p = reinterpret_cast<const unsigned char*>(s.data());
  const auto* end = p + s.size();
  while (p < end) {
    const unsigned char c = *p;
    if (c < 0x80) {
      ++p;
      ++n;
      continue;
    }
    std::size_t len;
    std::uint32_t cp;
    if (c >= 0xC2 && c <= 0xDF) {
      len = 2;
      cp = c & 0x1F;
    } else if (c >= 0xE0 && c <= 0xEF) {
      len = 3;
      cp = c & 0x0F;
    } else if (c >= 0xF0 && c <= 0xF4) {
      len = 4;
      cp = c & 0x07;
    } else {
      return false;
    }
    if (static_cast<std::size_t>(end - p) < len) return false;
    for (std::size_t k = 1; k < len; ++k) {
      if ((p[k] & 0xC0) != 0x80) return false;
      cp = (cp << 6) | (p[k] & 0x3F);
    }
    // Overlong forms, surrogates and code points past U+10FFFF are not UTF-8.
    if ((len == 3 && cp < 0x800) || (len == 4 && cp < 0x10000) || cp > 0x10FFFF ||
        (cp >= 0xD800 && cp <= 0xDFFF)) {
      return false;
    }
    n += len == 4 ? 2 : 1;
    p += len;
  }
  units = n;
  return true;
}

namespace {

// True when the character at `i` is written to the file as _xHHHH_: by EscapeForXlsx (NUL,
// U+FFFE, U+FFFF) or by the writer itself (the other C0 controls but tab, LF and CR, which
// it writes as the character reference &#13;).
bool WrittenAsEscape(std::string_view s, std::size_t i) {
  if (i >= s.size()) return false;
  const auto c = static_cast<unsigned char>(s[i]);
  if (c < 0x20) return c != '\t' && c != '\n' && c != '\r';
  return c == 0xEF && i + 2 < s.size() && s[i + 1] == '\xBF' &&
         (s[i + 2] == '\xBE' || s[i + 2] == '\xBF');
}

// True when the "_" at `i` would be read as the start of an escape: "_xHHHH" followed by
// "_" or by a character whose escape begins with one.
bool UnderscoreNeedsEscape(std::string_view s, std::size_t i) {
  return s[i] == '_' && i + 6 < s.size() && s[i + 1] == 'x' && IsHex(s[i + 2]) && IsHex(s[i + 3]) &&
         IsHex(s[i + 4]) && IsHex(s[i + 5]) && (s[i + 6] == '_' || WrittenAsEscape(s, i + 6));
}

}  // namespace

bool UnderscoreNeedsEscapeAt(std::string_view s, std::size_t i) {
  return UnderscoreNeedsEscape(s, i);
}

void EscapeForXlsx(std::string_view s, std::string& out) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  for (std::size_t i = 0; i < s.size(); ++i) {
    const char c = s[i];
    if (UnderscoreNeedsEscape(s, i)) {
      out += "_x005F_";
    } else if (c == '\0') {
      out += "_x0000_";
    } else if (c == '\xEF' && i + 2 < s.size() && s[i + 1] == '\xBF' &&
               (s[i + 2] == '\xBE' || s[i + 2] == '\xBF')) {
      out += "_xFFF";
      out += kHex[s[i + 2] == '\xBE' ? 14 : 15];
      out += '_';
      i += 2;
    } else {
      out += c;
    }
  }
}

std::size_t EscapeGrowth(std::string_view s) {
  std::size_t extra = 0;
  for (std::size_t i = 0; i < s.size(); ++i) {
    const char c = s[i];
    if (UnderscoreNeedsEscape(s, i) || c == '\0') {
      extra += 6;
    } else if (c == '\xEF' && i + 2 < s.size() && s[i + 1] == '\xBF' &&
               (s[i + 2] == '\xBE' || s[i + 2] == '\xBF')) {
      extra += 6;
      i += 2;
    }
  }
  return extra;
}

}  // namespace palomet::xl::detail

namespace palomet::xl {

std::int64_t TextLength(std::string_view text) {
  std::size_t units = 0;
  return detail::Utf16Length(text, units) ? static_cast<std::int64_t>(units) : -1;
}

std::string CutToUtf16Units(std::string_view s, std::size_t maxUnits) {
  std::size_t units = 0, i = 0;
  while (i < s.size()) {
    const auto c = static_cast<unsigned char>(s[i]);
    std::size_t len = 1;  // a stray byte too
    if (c >= 0xF0 && c <= 0xF4) {
      len = 4;
    } else if (c >= 0xE0 && c <= 0xEF) {
      len = 3;
    } else if (c >= 0xC2 && c < 0xE0) {
      len = 2;
    }
    len = std::min(len, s.size() - i);
    const std::size_t w = len == 4 ? 2 : 1;  // a supplementary character is a surrogate pair
    if (units + w > maxUnits) break;
    units += w;
    i += len;
  }
  return std::string(s.substr(0, i));
}

std::size_t FitInCell(std::string_view s) {
  using detail::UnderscoreNeedsEscapeAt;
  std::size_t used = 0, i = 0;
  while (i < s.size()) {
    const auto c = static_cast<unsigned char>(s[i]);
    std::size_t len = 1, units = 1;
    if (UnderscoreNeedsEscapeAt(s, i)) {
      // "_xHHHH_" goes whole or not at all; its "_" is spelled "_x005F_" in the file.
      len = s[i + 6] == '_' ? 7 : 6;
      units = len + 6;
    } else if (c == 0) {
      units = 7;  // "_x0000_"
    } else if (c >= 0xF0) {
      len = 4;
      units = 2;  // a surrogate pair
    } else if (c >= 0xE0) {
      len = 3;
      if (c == 0xEF && i + 2 < s.size() && s[i + 1] == '\xBF' &&
          (s[i + 2] == '\xBE' || s[i + 2] == '\xBF')) {
        units = 7;  // "_xFFFE_", "_xFFFF_"
      }
    } else if (c >= 0xC0) {
      len = 2;
    }
    if (used + units > kMaxCellChars || i + len > s.size()) break;
    used += units;
    i += len;
  }
  return i;
}

}  // namespace palomet::xl

namespace palomet::xl::detail {

// Howard Hinnant's days_from_civil, shifted to the spreadsheet's epoch 1899-12-30.
std::int64_t DaysFromCivil(int y, unsigned m, unsigned d) {
  y -= m <= 2;
  const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<std::int64_t>(doe) - 719468 + 25569;
}

void CivilFromDays(std::int64_t z, int& y, unsigned& m, unsigned& d) {
  z += 719468 - 25569;
  const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  d = doy - (153 * mp + 2) / 5 + 1;
  m = mp < 10 ? mp + 3 : mp - 9;
  y = static_cast<int>(yoe + era * 400) + (m <= 2);
}

std::string NumberFormatFor(std::uint8_t type, std::uint8_t decimals) {
  switch (static_cast<CellType>(type)) {
    case CellType::Number:
      return decimals == 0 ? "0" : "0." + std::string(decimals, '0');
    case CellType::Date:
      return "yyyy-mm-dd";
    case CellType::DateTime:
      return "yyyy-mm-dd\"T\"hh:mm:ss";
    default:
      return {};
  }
}

}  // namespace palomet::xl::detail
