#pragma once

// Internal to the engine: values spelled as the package's XML spells them. Inline: the
// writer calls these for every cell.

#include <array>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <string>
#include <string_view>

namespace palomet::xl::detail {

// XML text: & < > as entities. In attribute values (`quote`) also the double quote.
inline void AppendEscaped(std::string& out, std::string_view s, bool quote) {
  std::size_t from = 0;
  for (std::size_t i = 0; i < s.size(); ++i) {
    const char* entity;
    switch (s[i]) {
      case '&':
        entity = "&amp;";
        break;
      case '<':
        entity = "&lt;";
        break;
      case '>':
        entity = "&gt;";
        break;
      case '"':
        if (!quote) continue;
        entity = "&quot;";
        break;
      default:
        continue;
    }
    out.append(s.data() + from, i - from);
    out += entity;
    from = i + 1;
  }
  out.append(s.data() + from, s.size() - from);
}

// Bytes a cell's text cannot carry as they are: the XML entities, the carriage return and the
// control characters (but tab and line feed). A carriage return is written as the character
// reference &#13;, which XML readers keep (a bare one they would turn into a line feed) and
// spreadsheets show as itself; the other controls, which XML cannot carry at all, are spelled
// _xHHHH_, as the file format has it.
inline constexpr std::array<bool, 256> kSpecial = [] {
  std::array<bool, 256> t{};
  for (int c = 0; c < 0x20; ++c) t[c] = c != '\t' && c != '\n';
  t['&'] = t['<'] = t['>'] = true;
  return t;
}();

inline void AppendCellText(std::string& out, std::string_view s) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::size_t from = 0;
  for (std::size_t i = 0; i < s.size(); ++i) {
    const auto c = static_cast<unsigned char>(s[i]);
    if (!kSpecial[c]) continue;
    out.append(s.data() + from, i - from);
    from = i + 1;
    if (c == '&') {
      out += "&amp;";
    } else if (c == '<') {
      out += "&lt;";
    } else if (c == '>') {
      out += "&gt;";
    } else if (c == '\r') {
      out += "&#13;";
    } else {
      const char esc[] = {'_', 'x', '0', '0', kHex[c >> 4], kHex[c & 15], '_'};
      out.append(esc, sizeof esc);
    }
  }
  out.append(s.data() + from, s.size() - from);
}

inline void AppendColumn(std::string& out, unsigned col) {  // 0-based
  char buf[4];
  int n = 0;
  for (unsigned c = col + 1; c > 0; c = (c - 1) / 26)
    buf[n++] = static_cast<char>('A' + (c - 1) % 26);
  while (n > 0) out += buf[--n];
}

inline void AppendInt(std::string& out, std::int64_t v) {
  char buf[24];
  const auto r = std::to_chars(buf, buf + sizeof buf, v);
  out.append(buf, r.ptr);
}

// Numbers as spreadsheets write them: up to 16 significant digits, exponent in capitals.
inline void AppendNumber(std::string& out, double v) {
  char buf[40];
  if (v == std::floor(v) && std::fabs(v) < 1e15) {
    AppendInt(out, static_cast<std::int64_t>(v));
    if (v == 0 && std::signbit(v)) out.insert(out.size() - 1, "-");
    return;
  }
  const auto r = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::general, 16);
  for (char* p = buf; p < r.ptr; ++p) {
    if (*p == 'e') *p = 'E';
  }
  out.append(buf, r.ptr);
}

}  // namespace palomet::xl::detail
