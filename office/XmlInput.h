#pragma once

// The bytes of the XML files an import reads, whatever their packing: a plain file, a
// compressed one (gzip, xz, bzip2, zstd; recognised by their content), or a member of an
// archive named "archive.zip:folder/member.xml" (which may itself be compressed). Read as
// streams, never unpacked to disk; only the named file and its archive are ever read.

#include <cstddef>
#include <memory>
#include <string>

namespace palomet {

// "Cannot import 'path'" followed by `what`: the description of every import failure.
std::string ImportFailure(const std::string& path, const std::string& what);

// Raises Error 31550 with ImportFailure(path, what): a fault of the XML file.
[[noreturn]] void FailImport(const std::string& path, const std::string& what);

// One XML file's bytes, as the parser reads them.
class XmlInput {
 public:
  virtual ~XmlInput() = default;
  // Reads up to `size` bytes into `buffer`; 0 at the end, once every compressed stream has
  // passed its checks and the file was found as it was when opened. Raises Error 31550 naming
  // the file for a read error, compressed data that is damaged, fails its check, ends too
  // soon or is followed by other bytes, a file that changed while it was read, or the
  // import's limit on expansion.
  virtual std::size_t Read(char* buffer, std::size_t size) = 0;
};

// The XML files of one run. Keeps the last archive read open, so that members read in the
// archive's order cost one pass over it, and counts what every packed file has expanded to
// over the run, against decompression bombs.
class XmlInputs {
 public:
  XmlInputs();
  ~XmlInputs();
  XmlInputs(const XmlInputs&) = delete;
  XmlInputs& operator=(const XmlInputs&) = delete;

  // Opens the file or member `name` for reading; the input lives no longer than this object
  // and is closed before the next Open. Raises Error 31550 naming it when it cannot be read,
  // is empty, is an archive rather than a file in one, is an encrypted member or one whose
  // name leads outside its archive, when its name is both a file's and a member's, or when it
  // is a member of a compressed archive whose streams fail their checks (the whole archive is
  // read once in a run, before its first member is taken).
  std::unique_ptr<XmlInput> Open(const std::string& name);

  // Closes the archive kept open.
  void Close();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace palomet
