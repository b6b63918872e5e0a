#pragma once

#include <deque>
#include <string>
#include <vector>

#include "office/MessageBoxes.h"

namespace palomet::test {

// Answers message boxes from a queue of canned replies (Ok, or the default button
// when the queue is empty) and records every box shown.
class FakeMessageBoxes : public MessageBoxes {
 public:
  struct Shown {
    std::string text;
    MsgButtons buttons;
    MsgIcon icon;
    MsgResult defaultButton;
  };

  MsgResult Show(const std::string& text, MsgButtons buttons, MsgIcon icon,
                 MsgResult defaultButton) override {
    shown.push_back({text, buttons, icon, defaultButton});
    if (answers.empty()) return buttons == MsgButtons::Ok ? MsgResult::Ok : defaultButton;
    MsgResult r = answers.front();
    answers.pop_front();
    return r;
  }

  std::deque<MsgResult> answers;
  std::vector<Shown> shown;
};

}  // namespace palomet::test
