#pragma once

#include <string>
#include <vector>

namespace palomet {

// The platform's file and folder dialogs, modal to the main window. The window
// uses QtDialogs; tests answer with canned selections.
class Dialogs {
 public:
  virtual ~Dialogs() = default;

  // Shows the open-file dialog with multiple selection. `filter` holds
  // description|pattern pairs, each followed by "|". Returns the selection in the
  // form AddDialogSelection takes: nothing when cancelled, the full path of a
  // single file, or the folder followed by the picked names.
  virtual std::vector<std::string> GetOpenFileNames(const std::string& title,
                                                    const std::string& filter) = 0;

  // Shows the folder dialog with `prompt`; returns the chosen folder's path, or ""
  // when the user cancelled.
  virtual std::string BrowseFolder(const std::string& prompt) = 0;
};

}  // namespace palomet
