#pragma once

#include <string>
#include <vector>

#include "filelist/FileList.h"
#include "filelist/WindowHost.h"

namespace palomet {

// Appends the paths dropped on the list, in the order given: a folder (links followed,
// hidden or not) contributes every file of its tree, whatever the name's extension, through
// AddFolderTree with "*.*" and without the busy pointer; a file is appended exactly as
// dropped. An archive, dropped or in a dropped folder, is taken as a folder: its XML files
// are appended (AddFileOrArchive). A path that no longer exists or cannot be examined, and
// anything that is neither a folder nor a regular file (FIFO, socket, device), is passed
// over. The window pointer is left alone. Returns false when the window was closed during
// the drop; then nothing more was added.
// A dropped folder's entries are its path and one "/" before each name.
bool AddDroppedPaths(const std::vector<std::string>& paths, FileList& list, WindowHost& host);

// `path` without the separators it ends with ("/data/in/" gives "/data/in"), as file
// managers may send a folder with one; the root stays "/".
std::string WithoutTrailingSeparators(std::string path);

}  // namespace palomet
