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

// Every error number the program raises, in one place; callers test some of them.
namespace errnum {
inline constexpr long kGeneric = 1;
inline constexpr long kTablesNotListed = 3011;  // the catalogue gave no list of the tables
inline constexpr long kNotADatabase = 3343;     // the file is not a database of this engine
inline constexpr long kCannotOpen = 3044;       // a database file is missing or cannot be opened
inline constexpr long kXmlImport = 31550;       // an XML file could not be imported: its own fault
inline constexpr long kDatabaseWrite = 3043;    // the staging database could not take the data
inline constexpr long kSpreadsheet = 1004;      // the workbook engine refused a call
inline constexpr long kInUse = 3211;            // a file or a table is held by someone else
inline constexpr long kNoCurrentRecord = 3021;  // a recordset moved past its last record
inline constexpr long kItemNotFound = 3265;     // no field or item of that name or number
inline constexpr long kObjectClosed = 3704;     // a connection or recordset is not open
inline constexpr long kObjectOpen = 3705;       // a connection or recordset is open already
inline constexpr long kNoDatabaseOpen = 2467;   // the database application has no database
inline constexpr long kDatabaseAlreadyOpen = 7866;  // the database application has one open
inline constexpr long kInvalidPassword = 3031;      // the database has no such password
inline constexpr long kOutOfMemory = 7;             // memory ran out: no fault of any file
inline constexpr long kDeviceIo = 57;  // a temporary file could not be read back: the machine's
}  // namespace errnum

}  // namespace palomet
