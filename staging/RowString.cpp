#include "staging/RowString.h"

namespace palomet {

void RowString::AppendField(std::string_view value) {
  text_.append(value);
  fieldEnds_.push_back(static_cast<std::uint32_t>(text_.size()));
  text_.append(kFieldSeparator);
}

void RowString::Clear() {
  text_.clear();
  fieldEnds_.clear();
}

std::string_view RowString::Field(std::size_t i) const {
  const std::size_t end = fieldEnds_.at(i);
  const std::size_t begin = i == 0 ? 0 : fieldEnds_[i - 1] + kFieldSeparator.size();
  return std::string_view(text_).substr(begin, end - begin);
}

}  // namespace palomet
