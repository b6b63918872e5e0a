#pragma once

#include <memory>
#include <string>

namespace palomet {

// The database application: holds one database file open and imports XML files into it as
// new tables. One instance per import run; the file is released by Quit or destruction.
class DatabaseApplication {
 public:
  DatabaseApplication();
  ~DatabaseApplication();
  DatabaseApplication(const DatabaseApplication&) = delete;
  DatabaseApplication& operator=(const DatabaseApplication&) = delete;

  // Kept for callers that show the application; there is no window, so it changes nothing.
  bool Visible() const { return visible_; }
  void SetVisible(bool visible) { visible_ = visible; }

  // Opens `path` as the current database; `exclusive` keeps it for this application alone
  // from the first import to Quit (others can then neither write nor read it), which makes
  // each import cheaper. Raises Error 3044 when the file is missing or cannot be opened,
  // 3343 when it is not a database, and when a database is already open.
  void OpenCurrentDatabase(const std::string& path, bool exclusive = false);

  // Imports the XML file `dataSource` into the current database as new tables, whole or not
  // at all. The file may be compressed (gzip, xz, bzip2, zstd) or be a member of an archive
  // (zip, tar), named "archive.zip:folder/member.xml". Raises Error 31550 naming the file
  // (and line and column where known) for bad input; earlier imports are untouched, and
  // later files may still be imported. Raises other numbers for faults of the database
  // rather than of the file (3043 when it cannot take the data, 3211 when it is locked),
  // and when no database is open.
  void ImportXml(const std::string& dataSource);

  // From the next import on, combines tables: a table that a file would make under a name
  // (compared without regard to ASCII case) that an earlier file of this application made
  // takes the file's rows into that table instead, adding the columns it lacks. Its first
  // column names each row's file as ImportXml was given it ("File", or "File_2", ... when a
  // data column is named so), then come the link columns, then the others, each in the order
  // the files brought them; links count the combined table's rows. Off until asked for.
  void CombineTables(bool on);

  // Closes the current database and releases the file. Harmless when none is open.
  void Quit();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
  bool visible_ = false;
};

}  // namespace palomet
