#include "office/SafeReplace.h"

#include <fcntl.h>
#include <limits.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <fstream>
#include <random>
#include <system_error>

#include "office/KillPoint.h"

namespace palomet {

namespace {

std::atomic<bool (*)() noexcept> gStopCheck{nullptr};

[[noreturn]] void Fail(int error) {
  throw std::system_error(error, std::generic_category());
}

// The process's umask, read without changing it (umask(2) would, for every thread).
mode_t CurrentUmask() {
  std::ifstream status("/proc/self/status");
  for (std::string line; std::getline(status, line);) {
    if (line.rfind("Umask:", 0) == 0)
      return static_cast<mode_t>(std::stoul(line.substr(6), nullptr, 8));
  }
  const mode_t m = ::umask(0);
  ::umask(m);
  return m;
}

// SIGINT, SIGTERM and SIGHUP held back on this thread while the object lives.
class HeldSignals {
 public:
  HeldSignals() {
    sigset_t set;
    sigemptyset(&set);
    for (int sig : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&set, sig);
    pthread_sigmask(SIG_BLOCK, &set, &saved_);
  }
  ~HeldSignals() { pthread_sigmask(SIG_SETMASK, &saved_, nullptr); }
  HeldSignals(const HeldSignals&) = delete;
  HeldSignals& operator=(const HeldSignals&) = delete;

 private:
  sigset_t saved_;
};

// A name for the new file beside the target that no other file has yet.
std::string FreshName(const std::string& name) {
  static thread_local std::mt19937_64 random{std::random_device{}()};
  char tail[20];
  std::snprintf(tail, sizeof tail, ".%012llx",
                static_cast<unsigned long long>(random() & 0xFFFFFFFFFFFFull));
  return "." + name + tail;
}

}  // namespace

std::string FollowLinks(const std::string& target) {
  std::string path = target;
  for (int hops = 0; hops < 40; ++hops) {
    char text[PATH_MAX];
    const ssize_t n = ::readlink(path.c_str(), text, sizeof text);
    if (n < 0) return path;  // not a link (or nothing there): the path itself is meant
    const std::string link(text, static_cast<std::size_t>(n));
    const std::size_t slash = path.rfind('/');
    path =
        link.front() == '/' || slash == std::string::npos ? link : path.substr(0, slash + 1) + link;
  }
  Fail(ELOOP);
}

ReplacedFile::ReplacedFile(const std::string& target) : path_(FollowLinks(target)) {
  const std::size_t slash = path_.rfind('/');
  folder_ = slash == std::string::npos ? "." : slash == 0 ? "/" : path_.substr(0, slash);
  name_ = slash == std::string::npos ? path_ : path_.substr(slash + 1);
  if (name_.empty()) Fail(EISDIR);

  struct stat old {};
  if (::stat(path_.c_str(), &old) == 0) {
    if (S_ISDIR(old.st_mode)) Fail(EISDIR);
    // A file this user may not write is left alone, as the spreadsheet leaves it.
    if (::faccessat(AT_FDCWD, path_.c_str(), W_OK, AT_EACCESS) != 0) Fail(errno);
    existed_ = true;
    mode_ = old.st_mode & 07777;
    owner_ = old.st_uid;
    group_ = old.st_gid;
  } else if (errno != ENOENT) {
    Fail(errno);
  } else {
    mode_ = 0666 & ~CurrentUmask();
  }

  folderFd_ = ::open(folder_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (folderFd_ < 0) Fail(errno);
  // Private while it is written; the final bits come at Commit.
  fd_ = ::openat(folderFd_, ".", O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
  if (fd_ < 0 && (errno == EOPNOTSUPP || errno == EISDIR || errno == EINVAL)) {
    // No unnamed files on this file system: a hidden name, removed unless committed.
    for (int attempt = 0; attempt < 100 && fd_ < 0; ++attempt) {
      visible_ = FreshName(name_);
      fd_ = ::openat(folderFd_, visible_.c_str(), O_CREAT | O_EXCL | O_RDWR | O_CLOEXEC, 0600);
      if (fd_ < 0 && errno != EEXIST) break;
    }
    if (fd_ < 0) visible_.clear();
  }
  if (fd_ < 0) {
    const int error = errno;
    ::close(folderFd_);
    Fail(error);
  }
}

ReplacedFile::~ReplacedFile() {
  if (fd_ >= 0) ::close(fd_);
  if (!visible_.empty()) ::unlinkat(folderFd_, visible_.c_str(), 0);
  if (folderFd_ >= 0) ::close(folderFd_);
}

void ReplacedFile::Commit() {
  if (::fsync(fd_) != 0) Fail(errno);
  if (existed_) {
    struct stat now {};
    if (::fstat(fd_, &now) == 0 && (now.st_uid != owner_ || now.st_gid != group_)) {
      // Only root may give a file away; a member of the group may still set the group.
      if (::fchown(fd_, owner_, group_) != 0) static_cast<void>(::fchown(fd_, -1, group_));
    }
  }
  if (::fchmod(fd_, mode_) != 0) Fail(errno);
  KillPoint("replace");
  {
    HeldSignals held;
    if (const auto stop = gStopCheck.load(); stop != nullptr && stop()) throw ReplaceStopped{};
    LinkInPlace();
    KillPoint("replaced");
  }
  // The new name is on disk once the folder is synced; the file is whole either way.
  ::fsync(folderFd_);
}

void ReplacedFile::LinkInPlace() {
  if (!visible_.empty()) {
    if (::renameat(folderFd_, visible_.c_str(), folderFd_, name_.c_str()) != 0) Fail(errno);
    visible_.clear();
    return;
  }
  // An unnamed file gets a name through its /proc link (linking the descriptor itself,
  // AT_EMPTY_PATH, needs a privilege ordinary users lack).
  const std::string self = "/proc/self/fd/" + std::to_string(fd_);
  const auto link = [&](const std::string& as) {
    if (::linkat(AT_FDCWD, self.c_str(), folderFd_, as.c_str(), AT_SYMLINK_FOLLOW) == 0) return 0;
    if (errno != ENOENT) return errno;
    return ::linkat(fd_, "", folderFd_, as.c_str(), AT_EMPTY_PATH) == 0 ? 0 : errno;
  };
  // A new target takes the name at once; an existing one is replaced by a rename, the only
  // atomic replace there is, from a name the file has for an instant.
  int error = existed_ ? EEXIST : link(name_);
  if (error == 0) return;
  if (error != EEXIST) Fail(error);
  for (int attempt = 0; attempt < 100; ++attempt) {
    const std::string temporary = FreshName(name_);
    error = link(temporary);
    if (error == EEXIST) continue;
    if (error != 0) Fail(error);
    if (::renameat(folderFd_, temporary.c_str(), folderFd_, name_.c_str()) != 0) {
      error = errno;
      ::unlinkat(folderFd_, temporary.c_str(), 0);
      Fail(error);
    }
    return;
  }
  Fail(EEXIST);
}

void SetReplaceStopCheck(bool (*stop)() noexcept) {
  gStopCheck.store(stop);
}

}  // namespace palomet
