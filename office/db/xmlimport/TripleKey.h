#pragma once

// Private to the XML import: a key of three numbers for the hashed lookups that the dense,
// by-number tables do not cover (a second attribute of one local name, a field's attributes).

#include <cstddef>

namespace palomet::xmlimport {

struct TripleKey {
  int a, b, c;
  bool operator==(const TripleKey&) const = default;
};

struct TripleKeyHash {
  std::size_t operator()(const TripleKey& k) const {
    return (static_cast<std::size_t>(k.a) * 0x9E3779B97F4A7C15ull) ^
           (static_cast<std::size_t>(k.b) * 0xC2B2AE3D27D4EB4Full) ^ static_cast<std::size_t>(k.c);
  }
};

}  // namespace palomet::xmlimport
