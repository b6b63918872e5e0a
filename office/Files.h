#pragma once

// File-system helpers every layer shares: whether a file exists, what kind of thing a path
// names, and the unnamed temporary file.

#include <cstdio>
#include <memory>
#include <string>
#include <system_error>

namespace palomet {

// True when the file system reports a modification time for `path`; never throws.
bool FileExists(const std::string& path) noexcept;

enum class PathKind {
  Missing,  // nothing there, or the file system could not tell (`ec` says why)
  File,     // a regular file
  Folder,
  Other,  // a pipe, socket or device: nothing the import can read twice
};

// What `path` names, following symbolic links. Never throws.
PathKind KindOfPath(const std::string& path, std::error_code& ec) noexcept;

struct FileClose {
  void operator()(std::FILE* f) const { std::fclose(f); }
};
using FilePtr = std::unique_ptr<std::FILE, FileClose>;

// An unnamed temporary file in $TMPDIR (or /tmp), open for reading and writing, gone when it
// is closed or the process ends, however it ends. Null when none can be made (errno says why).
FilePtr UnlinkedTemporaryFile() noexcept;

}  // namespace palomet
