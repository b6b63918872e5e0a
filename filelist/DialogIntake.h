#pragma once

#include <string>
#include <vector>

#include "filelist/FileList.h"

namespace palomet {

// The open-file dialog of "Add XML File(s)": its title, and its filters as
// description|pattern pairs, each followed by "|": XML files, chosen when the dialog opens;
// then what a folder scan takes (compressed XML files and archives too); then all files.
inline constexpr const char* kAddFilesTitle = "Add File(s) - Hold Ctrl to select multiple files";
std::string AddFilesFilter();

// Appends the files of one open-file dialog selection to the end of `list`, in the
// order the dialog returned them. `parts` is the selection as the dialog gives it:
// empty when the user cancelled (nothing is added), one element holding the full
// path of a single picked file (added unchanged), or a folder followed by the
// picked names. A name is joined to the folder with one "/" (none is added when
// the folder already ends in one, as the root "/" does); a name that is itself an
// absolute path, as when the user typed one, is taken as it is. An archive picked or
// typed is taken as a folder: its XML files are added (AddFileOrArchive). Nothing else
// is checked or compared: missing files and duplicates are listed like any other.
void AddDialogSelection(FileList& list, const std::vector<std::string>& parts);

}  // namespace palomet
