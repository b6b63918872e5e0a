#pragma once

#include <string>

#include "filelist/FileList.h"
#include "filelist/WindowHost.h"

namespace palomet {

// Appends the file at `path` to `list`; or, when it is an archive (zip, tar, a compressed
// tar: named so, kArchiveEndings, and so by its content), one entry per XML file in it, in
// the archive's order, as a folder's files each get one: "archive.zip:folder/member.xml".
// An archive that cannot be read to its end (damaged, past one of the import's limits) is
// listed after the members read so far under its own path, so that the import run names it
// and says what is wrong. Serves window events while it reads an archive; returns false
// when the window was closed meanwhile, and then adds nothing more. A compressed file is a
// file: it is listed as it is.
bool AddFileOrArchive(const std::string& path, FileList& list, WindowHost& host);

}  // namespace palomet
