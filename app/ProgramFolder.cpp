#include "app/ProgramFolder.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <system_error>
#include <vector>

#include "office/Error.h"
#include "office/SafeReplace.h"

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

// Copies `source` to `target` as the save of a workbook would: the copy takes the
// target's name only once it is whole, so a failed or killed copy never leaves a
// half-written database under the final name, nor anything beside it.
void CopyWhole(const fs::path& source, const fs::path& target) {
  // The staged rows are the user's data: the folders made for the copy and the copy are the
  // user's alone, whatever the umask. Folders that exist already are left as they are.
  std::vector<fs::path> missing;
  for (fs::path p = target.parent_path(); !p.empty() && !Exists(p); p = p.parent_path()) {
    missing.push_back(p);
    if (p == p.root_path()) break;
  }
  for (auto it = missing.rbegin(); it != missing.rend(); ++it) {
    if (::mkdir(it->c_str(), S_IRWXU) != 0 && errno != EEXIST) {
      throw CopyError(target, std::strerror(errno));
    }
    ::chmod(it->c_str(), S_IRWXU);
  }
  try {
    const int in = ::open(source.c_str(), O_RDONLY | O_CLOEXEC);
    if (in < 0) throw std::system_error(errno, std::generic_category());
    struct Closer {
      int fd;
      ~Closer() { ::close(fd); }
    } closer{in};
    ReplacedFile copy(target.string());
    char buf[1 << 16];
    for (;;) {
      const ssize_t n = ::read(in, buf, sizeof buf);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) throw std::system_error(errno, std::generic_category());
      if (n == 0) break;
      for (ssize_t done = 0; done < n;) {
        const ssize_t w = ::write(copy.Fd(), buf + done, static_cast<std::size_t>(n - done));
        if (w < 0 && errno == EINTR) continue;
        if (w < 0) throw std::system_error(errno, std::generic_category());
        done += w;
      }
    }
    copy.Commit();
    ::chmod(target.c_str(), S_IRUSR | S_IWUSR);
  } catch (const std::system_error& e) {
    throw CopyError(target, e.code().message());
  }
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
