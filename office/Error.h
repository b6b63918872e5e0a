#pragma once

#include <stdexcept>
#include <string>

namespace palomet {

// A failure as the program reports it: a number and a description in plain words.
// Thrown where the failure arises and caught once, by the command that owns the
// error path (the import run's message box, the command line's exit status).
class Error : public std::runtime_error {
 public:
  Error(long number, const std::string& description)
      : std::runtime_error(description), number_(number) {}

  long Number() const noexcept { return number_; }
  std::string Description() const { return what(); }

 private:
  long number_;
};

// Error numbers the callers test for. Others are informational only.
namespace errnum {
inline constexpr long kGeneric = 1;
inline constexpr long kTypeMismatch = 13;     // a value of the wrong kind, e.g. no table list
inline constexpr long kNotADatabase = 3343;   // the file is not a database of this engine
inline constexpr long kCannotOpen = 3044;     // a database file is missing or cannot be opened
inline constexpr long kXmlImport = 31550;     // an XML file could not be imported: its own fault
inline constexpr long kDatabaseWrite = 3043;  // the staging database could not take the data
inline constexpr long kSpreadsheet = 1004;    // the workbook engine refused a call
}  // namespace errnum

}  // namespace palomet
