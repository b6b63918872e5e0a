#pragma once

#include <QString>

#include "office/MessageBoxes.h"

class QWidget;

namespace palomet {

// Message boxes shown with QMessageBox, captioned kAppTitle. Texts are shown as
// plain text, so "&" and "<" appear as themselves.
class QtMessageBoxes : public MessageBoxes {
 public:
  explicit QtMessageBoxes(QWidget* owner = nullptr) : owner_(owner) {}
  void SetOwner(QWidget* owner) { owner_ = owner; }

  MsgResult Show(const std::string& text, MsgButtons buttons, MsgIcon icon,
                 MsgResult defaultButton = MsgResult::Ok) override;

 private:
  QWidget* owner_;
};

// A message text as the box shows it: carriage returns, alone or before a line
// feed, become line breaks, so paragraphs separated by two of them stand apart.
QString MessageBoxText(const std::string& text);

}  // namespace palomet
