#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace palomet {

// Written after every field of a row string, the last field included.
inline constexpr std::string_view kFieldSeparator = "|xxspearaeatorxx|";

// One row of a staged table as text: each field's text followed by kFieldSeparator
// (Null gives the empty text); row 0 of a table holds the field names. The row also
// records where each field ends, so that a value which itself contains the separator
// text is split by these bounds and never cut apart.
class RowString {
 public:
  void AppendField(std::string_view value);
  void Clear();

  const std::string& Text() const { return text_; }
  std::size_t FieldCount() const { return fieldEnds_.size(); }
  // Field i's text, a view into Text().
  std::string_view Field(std::size_t i) const;

 private:
  std::string text_;
  std::vector<std::uint32_t> fieldEnds_;  // offset just past field i's text
};

}  // namespace palomet
