#include "office/Files.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>

namespace palomet {

bool FileExists(const std::string& path) noexcept {
  // The system call would see only the text before an embedded NUL.
  if (path.empty() || path.find('\0') != std::string::npos) return false;
  try {
    std::error_code ec;
    static_cast<void>(std::filesystem::last_write_time(path, ec));
    return !ec;
  } catch (...) {
    return false;
  }
}

PathKind KindOfPath(const std::string& path, std::error_code& ec) noexcept {
  try {
    const auto st = std::filesystem::status(path, ec);
    if (ec || !std::filesystem::exists(st)) return PathKind::Missing;
    if (std::filesystem::is_regular_file(st)) return PathKind::File;
    if (std::filesystem::is_directory(st)) return PathKind::Folder;
    return PathKind::Other;
  } catch (...) {
    ec = std::make_error_code(std::errc::not_enough_memory);
    return PathKind::Missing;
  }
}

FilePtr UnlinkedTemporaryFile() noexcept {
  try {
    const char* env = std::getenv("TMPDIR");
    const std::string dir = env != nullptr && *env != '\0' ? env : "/tmp";
    int fd = ::open(dir.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    if (fd < 0) {  // a file system without O_TMPFILE: make a named file and unlink it at once
      std::string name = dir + "/palomet-XXXXXX";
      fd = ::mkostemp(name.data(), O_CLOEXEC);
      if (fd >= 0) ::unlink(name.c_str());
    }
    if (fd < 0) return nullptr;
    std::FILE* file = ::fdopen(fd, "w+b");
    if (file == nullptr) ::close(fd);
    return FilePtr(file);
  } catch (...) {
    return nullptr;
  }
}

}  // namespace palomet
