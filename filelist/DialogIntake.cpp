#include "filelist/DialogIntake.h"

namespace palomet {

void AddDialogSelection(FileList& list, const std::vector<std::string>& parts) {
  if (parts.empty()) return;
  if (parts.size() == 1) {
    list.Add(parts.front());
    return;
  }
  const std::string& folder = parts.front();
  // Only the joint is looked at, so a folder that begins with "//" keeps it.
  const bool endsInSeparator = !folder.empty() && folder.back() == '/';
  for (std::size_t i = 1; i < parts.size(); ++i) {
    const std::string& name = parts[i];
    if (!name.empty() && name.front() == '/') {
      list.Add(name);
    } else {
      list.Add(endsInSeparator ? folder + name : folder + "/" + name);
    }
  }
}

}  // namespace palomet
