#pragma once

#include <cstddef>
#include <filesystem>
#include <string>
#include <vector>

#include "filelist/FileList.h"
#include "filelist/WindowHost.h"

namespace palomet {

// The folder dialog's prompt of the folder button.
inline constexpr const char* kAddFolderPrompt = "Please select folder to add:";

// What a folder scan takes, as a ListFolderFiles pattern: XML files ("*.xml"), compressed
// ones ("*.xml.gz", ...) and archives of them ("*.zip", "*.tar.gz", ...).
std::string ScanPattern();

// One folder of a walk. `path` is the folder as the walk joined it, ending in one "/";
// `real` is its real path (links resolved), empty when it could not be resolved;
// `parent` is the index in the folder list of the folder it was found in, kNoParent
// for the folders a walk starts from. The chain of parents lets the walk refuse a
// link that leads back to a folder it is already inside.
struct WalkFolder {
  static constexpr std::size_t kNoParent = static_cast<std::size_t>(-1);
  std::string path;
  std::filesystem::path real;
  std::size_t parent = kNoParent;
};
using FolderList = std::vector<WalkFolder>;

// Appends `folder` as a starting folder of a walk: its path followed by one "/"
// (so "/" enters as "//"), without any test that it exists.
void AddWalkStart(FolderList& folders, const std::string& folder);

// Appends every subfolder of the folders in `folders`, breadth-first: all subfolders
// of the first level in listing order grouped by parent, then those of the next level,
// and so on (one level only when `recurse` is false). Hidden subfolders (name begins
// with a dot) are not entered; links to folders are walked like folders unless they
// lead to the folder being walked or one of its ancestors in the walk. A folder that
// cannot be listed or an entry that vanishes is passed over. Yields to window events
// for every folder listed, every entry read and every folder handed back; returns
// false, with `folders` left partly filled, as soon as the window has been closed.
bool CollectSubfolders(FolderList& folders, bool recurse, WindowHost& host);

// The names (without the folder) of the regular files of `folder` (with or without a
// final "/"; links followed) whose names match the wildcard `pattern` ("*" any run,
// "?" one character, without regard to case; a trailing ".*" also matches names
// without a dot, so "*.*" matches every name; several wildcards separated by ";"
// match a name that any of them matches), hidden files
// included, in listing order (names by their Unicode case-folded form, ties by their
// bytes). Empty when there is none or the folder cannot be listed.
std::vector<std::string> ListFolderFiles(const std::string& folder, const std::string& pattern);

// Appends to `list` every file matching `pattern` in `folder` and all its subfolders:
// folder by folder in the walk's order, files in listing order, names beginning with
// "~" left out. Each entry is the folder path as joined, one "/" and the name. With
// `busy` the busy pointer is shown and window events are served for every folder and
// every file while it appends. With `archives`, an archive among the files is taken as
// a folder is: its XML files are appended (AddFileOrArchive). Returns false when the
// window was closed meanwhile; then nothing more was added and neither the list nor
// the window was touched again.
bool AddFolderTree(const std::string& folder, const std::string& pattern, bool busy, FileList& list,
                   WindowHost& host, bool archives = false);

// The folder button's work once the folder dialog has answered: nothing for "" (a
// cancelled dialog), otherwise the busy pointer, the ScanPattern() files of the tree (an
// archive as its XML files), and the default pointer again (unless the window was closed
// meanwhile).
void AddChosenFolder(const std::string& folder, FileList& list, WindowHost& host);

}  // namespace palomet
