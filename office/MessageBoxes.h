#pragma once

#include <string>

namespace palomet {

// The application's title, shown as the caption of every message box.
inline constexpr const char* kAppTitle = "Palomet";

// SaveDiscardCancel: the question on closing an unsaved workbook.
enum class MsgButtons { Ok, YesNo, SaveDiscardCancel };
enum class MsgIcon { None, Warning };
enum class MsgResult { Ok, Yes, No, Save, Discard, Cancel };

// Modal message boxes captioned with kAppTitle. The window implements it with
// QMessageBox; tests answer it with canned replies and record what was shown.
class MessageBoxes {
 public:
  virtual ~MessageBoxes() = default;
  // Shows `text` and returns the button the user pressed. For questions,
  // `defaultButton` is the button that Enter presses.
  virtual MsgResult Show(const std::string& text, MsgButtons buttons, MsgIcon icon,
                         MsgResult defaultButton = MsgResult::Ok) = 0;
};

}  // namespace palomet
