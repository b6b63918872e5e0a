#pragma once

// Replacing a file so that no moment of the writing can lose the old file or leave a
// half-written one: the new file is made without a name in the target's folder, written,
// synced, and only then takes the target's place. A process killed at any moment before
// that leaves the target as it was and nothing beside it.

#include <string>

namespace palomet {

// Commit found the process asked to stop (see SetReplaceStopCheck): the target is as it was.
struct ReplaceStopped {};

class ReplacedFile {
 public:
  // Opens the new file that is to replace `target`. A target that is a symbolic link
  // stands for the file it points to: that file is replaced, in its own folder, and the
  // link stays. Throws std::system_error with the system's reason when the folder cannot
  // take a new file, when the target is a folder or when this user may not write it.
  explicit ReplacedFile(const std::string& target);
  // Without Commit the new file is dropped and the target stays as it was.
  ~ReplacedFile();
  ReplacedFile(const ReplacedFile&) = delete;
  ReplacedFile& operator=(const ReplacedFile&) = delete;

  // The new file, open for reading and writing.
  int Fd() const { return fd_; }
  // The file that is replaced: the target with its symbolic links followed.
  const std::string& Path() const { return path_; }

  // Syncs the new file, gives it the replaced file's permission bits (and owner and group
  // where the process may set them; a new target gets 0666 less the umask), puts it in the
  // target's place and syncs the folder. Throws std::system_error, or ReplaceStopped.
  void Commit();

 private:
  void LinkInPlace();

  std::string path_;
  std::string folder_;
  std::string name_;     // the target's name in its folder
  std::string visible_;  // the new file's name while it has one (no O_TMPFILE here)
  int folderFd_ = -1;
  int fd_ = -1;
  bool existed_ = false;
  unsigned mode_ = 0;
  unsigned owner_ = 0, group_ = 0;
};

// The file a save to `target` replaces: `target` with symbolic links followed (as far as
// they lead; a link to a missing file gives that file's path).
std::string FollowLinks(const std::string& target);

// Set by a front end that stops on a signal: asked with SIGINT, SIGTERM and SIGHUP held
// back just before a new file takes a target's place. True stops the replace (Commit throws
// ReplaceStopped); a signal that comes later is handled only once the new file is in place.
void SetReplaceStopCheck(bool (*stop)() noexcept);

}  // namespace palomet
