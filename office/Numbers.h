#pragma once

// Counts as the program prints them to people.

#include <cstdint>
#include <string>

namespace palomet {

// 1,234,567: a comma between groups of three digits, whatever the locale, as spreadsheets
// print counts.
inline std::string WithThousands(std::int64_t n) {
  const std::string digits = std::to_string(n);
  const std::size_t sign = n < 0 ? 1 : 0;
  std::string out = digits.substr(0, sign);
  for (std::size_t i = sign; i < digits.size(); ++i) {
    if (i > sign && (digits.size() - i) % 3 == 0) out += ',';
    out += digits[i];
  }
  return out;
}

}  // namespace palomet
