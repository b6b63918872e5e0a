#include "office/db/XmlNames.h"

namespace palomet::xmlimport {

namespace {

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Reads `digits` hex digits at `s`; -1 when one is not a hex digit.
long long ReadHex(std::string_view s, std::size_t digits) {
  long long v = 0;
  for (std::size_t i = 0; i < digits; ++i) {
    const int h = HexValue(s[i]);
    if (h < 0) return -1;
    v = v * 16 + h;
  }
  return v;
}

bool IsXmlChar(long long c) {
  return c == 0x9 || c == 0xA || c == 0xD || (c >= 0x20 && c <= 0xD7FF) ||
         (c >= 0xE000 && c <= 0xFFFD) || (c >= 0x10000 && c <= 0x10FFFF);
}

void AppendUtf8(std::string& out, long long c) {
  if (c < 0x80) {
    out.push_back(static_cast<char>(c));
  } else if (c < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (c >> 6)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else if (c < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (c >> 12)));
    out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (c >> 18)));
    out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  }
}

}  // namespace

// The length of the escape at the start of `s` ("_x0020_" is 7), 0 when there is none or its
// code is not a character XML allows; the decoded character goes to `out`.
static std::size_t DecodeEscape(std::string_view s, std::string& out) {
  if (s.size() < 7 || s[0] != '_' || s[1] != 'x') return 0;
  for (std::size_t digits : {4u, 8u}) {
    if (s.size() >= digits + 3 && s[digits + 2] == '_') {
      const long long code = ReadHex(s.substr(2), digits);
      if (code >= 0 && IsXmlChar(code)) {
        AppendUtf8(out, code);
        return digits + 3;
      }
    }
  }
  return 0;
}

std::string DecodeName(std::string_view raw) {
  if (raw.find("_x") == std::string_view::npos) return std::string(raw);
  std::string out;
  out.reserve(raw.size());
  std::size_t i = 0;
  while (i < raw.size()) {
    const std::size_t used = DecodeEscape(raw.substr(i), out);
    if (used > 0) {
      i += used;
    } else {
      out.push_back(raw[i++]);
    }
  }
  return out;
}

bool IsBlank(std::string_view text) {
  for (char c : text) {
    if (c != ' ' && c != '\t' && c != '\r' && c != '\n') return false;
  }
  return true;
}

int NameTable::Spelling(std::string_view decoded) {
  const auto [it, added] =
      spellingIds_.try_emplace(std::string(decoded), static_cast<int>(spellings_.size()));
  if (!added) return it->second;
  spellings_.emplace_back(decoded);
  const auto [kit, keyAdded] =
      keyIds_.try_emplace(AsciiFold(decoded), static_cast<int>(keyElementSpelling_.size()));
  if (keyAdded) keyElementSpelling_.push_back(-1);
  spellingKey_.push_back(kit->second);
  return it->second;
}

}  // namespace palomet::xmlimport
