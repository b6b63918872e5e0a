#pragma once

// Where the program finds its own files (temp.mdb, HAND-M.CUR, drag.ico, x/o.cjs) and
// where the window's import run keeps its staging database, in the build tree and once
// installed.

#include <string>

namespace palomet {

// The staging database's name in the program folder and in the user's data folder.
inline constexpr const char* kStagingFileName = "temp.mdb";

// The program folder for an executable in `executableFolder`. In the build tree the files
// lie beside the executable, and that folder wins whenever it holds temp.mdb. An installed
// executable finds them in its data folder, `installedRelative` from its own folder (say
// "../share/palomet", fixed when the build is configured, so that an installation under
// any prefix works); that folder is taken when it exists. Otherwise the executable's folder
// is the answer, and a missing staging database is reported when a run needs it.
std::string FindProgramFolder(const std::string& executableFolder,
                              const std::string& installedRelative);

// The staging database the window's run uses. It is temp.mdb in `programFolder` when the
// user may write both that folder (the engine writes its journal beside the file) and the
// file, or when the file is missing from a writable folder (the run then reports it). An
// installed program folder is normally read-only: then the run uses temp.mdb in
// `userDataFolder`, first copied there from the program folder when it is missing. The copy
// appears whole or not at all, and an existing one (holding the last run's tables) is kept.
// Raises Error naming the file when the user's copy cannot be made.
std::string StagingDatabaseFor(const std::string& programFolder, const std::string& userDataFolder);

}  // namespace palomet
