#pragma once

// Private to office/db: how XML names become table and column names.

#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "office/CaseFold.h"

namespace palomet::xmlimport {

// Decodes the `_xHHHH_` and `_xHHHHHHHH_` escapes that database and spreadsheet exports write
// for characters XML names cannot hold. An escape of a code XML does not allow stays as written.
std::string DecodeName(std::string_view raw);

// Names are compared as SQLite compares identifiers: AsciiFold.
using palomet::AsciiFold;

// True when every byte is space, tab, CR or LF (also for the empty text).
bool IsBlank(std::string_view text);

// Interns decoded names. A spelling is one exact decoded name; a key is the class of
// spellings equal without regard to ASCII case. Ids are dense, from 0.
class NameTable {
 public:
  int Spelling(std::string_view decoded);
  int KeyOf(int spelling) const { return spellingKey_[spelling]; }
  const std::string& SpellingText(int spelling) const { return spellings_[spelling]; }
  int KeyCount() const { return static_cast<int>(keyElementSpelling_.size()); }

  // The first spelling of `key` met as an element, -1 when none yet.
  int ElementSpelling(int key) const { return keyElementSpelling_[key]; }
  void NoteElementSpelling(int key, int spelling) {
    if (keyElementSpelling_[key] < 0) keyElementSpelling_[key] = spelling;
  }

 private:
  std::unordered_map<std::string, int> spellingIds_;
  std::unordered_map<std::string, int> keyIds_;
  std::vector<std::string> spellings_;
  std::vector<int> spellingKey_;
  std::vector<int> keyElementSpelling_;
};

}  // namespace palomet::xmlimport
