#include "filelist/DropIntake.h"

#include <filesystem>
#include <system_error>

#include "filelist/AddFolder.h"
#include "filelist/ArchiveIntake.h"

namespace palomet {

bool AddDroppedPaths(const std::vector<std::string>& paths, FileList& list, WindowHost& host) {
  for (const std::string& path : paths) {
    if (host.Closed()) return false;
    std::error_code ec;
    const auto status = std::filesystem::status(path, ec);
    if (ec) continue;  // vanished, or its attributes cannot be read
    if (std::filesystem::is_directory(status)) {
      if (!AddFolderTree(WithoutTrailingSeparators(path), "*.*", false, list, host, true)) {
        return false;
      }
    } else if (std::filesystem::is_regular_file(status)) {
      if (!AddFileOrArchive(path, list, host)) return false;
    }
    // A FIFO, socket or device would hang or fail the import: passed over.
  }
  return true;
}

std::string WithoutTrailingSeparators(std::string path) {
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return path;
}

}  // namespace palomet
