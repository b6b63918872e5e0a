#include "office/CaseFold.h"

#include <QString>

namespace palomet {

std::string UnicodeFold(std::string_view name) {
  // Names of ASCII characters only (the usual case) fold without a trip through UTF-16.
  // Any other letter may fold onto an ASCII one (the Kelvin sign onto k), so those go the
  // long way.
  bool ascii = true;
  for (unsigned char c : name) ascii = ascii && c < 0x80;
  if (ascii) return AsciiFold(name);
  return QString::fromUtf8(name.data(), static_cast<qsizetype>(name.size()))
      .toCaseFolded()
      .toStdString();
}

}  // namespace palomet
