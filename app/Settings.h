#pragma once

#include <string>

namespace palomet {

// The per-user settings store: text values under organisation "Corvane",
// application "Palomet", group "Palomet".
class SettingsStore {
 public:
  // `folder` empty: the user's own store. Otherwise the store is kept under that
  // folder instead, laid out the same way (tests use a temporary folder).
  explicit SettingsStore(std::string folder = {});

  // The stored text of `key`, or `defaultValue` when it was never written or the
  // store cannot be read.
  std::string GetSetting(const std::string& key, const std::string& defaultValue) const;

  // Writes `key` = `value` to the store at once. Returns false when the store
  // refused the write; nothing is thrown and nothing else changes.
  bool SaveSetting(const std::string& key, const std::string& value);

 private:
  std::string folder_;
};

// The sheet-mode setting and its two values.
inline constexpr const char* kOptionKey = "Option";
inline constexpr const char* kOneSheet = "1";
inline constexpr const char* kMultipleSheets = "2";

// Whether tables of the same name from all files are combined: a setting of its own, "1" for
// yes; anything else, or nothing stored, is no.
inline constexpr const char* kCombineKey = "Combine";
inline constexpr const char* kCombineOn = "1";
inline constexpr const char* kCombineOff = "0";

// True when a stored "Option" text names the multiple-sheets mode: it reads as a
// number equal to 2. Anything else, garbage included, means one sheet.
bool IsMultipleSheetsOption(const std::string& stored);

}  // namespace palomet
