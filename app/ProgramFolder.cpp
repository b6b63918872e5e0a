#include "app/ProgramFolder.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "office/Error.h"

namespace palomet {

namespace fs = std::filesystem;

namespace {

bool IsDirectory(const fs::path& path) {
  std::error_code ec;
  return fs::is_directory(path, ec);
}

bool Exists(const fs::path& path) {
  std::error_code ec;
  return fs::exists(path, ec);
}

// Whether this user may write `path`, a read-only file system included.
bool Writable(const fs::path& path, bool folder) {
  return ::access(path.c_str(), folder ? W_OK | X_OK : W_OK) == 0;
}

Error CopyError(const fs::path& target, const std::string& what) {
  return Error(errnum::kGeneric,
               "Cannot make the staging database '" + target.string() + "': " + what);
}

// Copies `source` to `target` through a temporary file in the target's folder, so that a
// failed copy never leaves a half-written database under the final name.
void CopyWhole(const fs::path& source, const fs::path& target) {
  std::error_code ec;
  fs::create_directories(target.parent_path(), ec);
  if (ec) throw CopyError(target, ec.message());

  std::string pattern = (target.parent_path() / ".temp.mdb.XXXXXX").string();
  const int fd = ::mkstemp(pattern.data());
  if (fd < 0) throw CopyError(target, std::strerror(errno));
  ::close(fd);
  const fs::path partial(pattern);
  struct Cleanup {
    const fs::path& path;
    bool armed = true;
    ~Cleanup() {
      std::error_code ignored;
      if (armed) fs::remove(path, ignored);
    }
  } cleanup{partial};

  fs::copy_file(source, partial, fs::copy_options::overwrite_existing, ec);
  if (ec) throw CopyError(target, ec.message());
  // The shipped file may be read-only; the user's copy is theirs to fill.
  fs::permissions(partial, fs::perms::owner_read | fs::perms::owner_write, fs::perm_options::add,
                  ec);
  if (ec) throw CopyError(target, ec.message());
  fs::rename(partial, target, ec);
  if (ec) throw CopyError(target, ec.message());
  cleanup.armed = false;
}

}  // namespace

std::string FindProgramFolder(const std::string& executableFolder,
                              const std::string& installedRelative) {
  const fs::path beside(executableFolder);
  if (Exists(beside / kStagingFileName) || installedRelative.empty()) return executableFolder;
  const fs::path installed = (beside / installedRelative).lexically_normal();
  if (IsDirectory(installed)) {
    std::string folder = installed.string();
    while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
    return folder;
  }
  return executableFolder;
}

std::string StagingDatabaseFor(const std::string& programFolder,
                               const std::string& userDataFolder) {
  const fs::path shipped = fs::path(programFolder) / kStagingFileName;
  if (Writable(programFolder, true) && (!Exists(shipped) || Writable(shipped, false))) {
    return shipped.string();
  }
  if (userDataFolder.empty()) {
    throw CopyError(shipped, "the program folder is read-only and there is no user data folder");
  }
  const fs::path own = fs::path(userDataFolder) / kStagingFileName;
  // A missing shipped file is left for the run to report, as in the program folder.
  if (!Exists(own) && Exists(shipped)) CopyWhole(shipped, own);
  return own.string();
}

}  // namespace palomet
