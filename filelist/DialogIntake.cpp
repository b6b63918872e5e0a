#include "filelist/DialogIntake.h"

#include "filelist/AddFolder.h"
#include "filelist/ArchiveIntake.h"

namespace palomet {

std::string AddFilesFilter() {
  return "XML Files (*.xml)|*.xml|XML, Compressed XML and Archives|" + ScanPattern() +
         "|All Files|*|";
}

void AddDialogSelection(FileList& list, const std::vector<std::string>& parts) {
  if (parts.empty()) return;
  // The dialog is modal: nothing to serve while an archive is read.
  NoWindowHost host;
  if (parts.size() == 1) {
    AddFileOrArchive(parts.front(), list, host);
    return;
  }
  const std::string& folder = parts.front();
  // Only the joint is looked at, so a folder that begins with "//" keeps it.
  const bool endsInSeparator = !folder.empty() && folder.back() == '/';
  for (std::size_t i = 1; i < parts.size(); ++i) {
    const std::string& name = parts[i];
    if (!name.empty() && name.front() == '/') {
      AddFileOrArchive(name, list, host);
    } else {
      AddFileOrArchive(endsInSeparator ? folder + name : folder + "/" + name, list, host);
    }
  }
}

}  // namespace palomet
