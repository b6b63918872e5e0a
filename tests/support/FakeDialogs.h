#pragma once

#include <deque>
#include <string>
#include <vector>

#include "app/Dialogs.h"

namespace palomet::test {

// Answers the file and folder dialogs from queues of canned selections (a
// cancel when a queue is empty) and records every dialog shown.
class FakeDialogs : public Dialogs {
 public:
  struct Shown {
    std::string title;
    std::string filter;  // empty for the folder dialog
  };

  std::vector<std::string> GetOpenFileNames(const std::string& title,
                                            const std::string& filter) override {
    shown.push_back({title, filter});
    if (fileAnswers.empty()) return {};
    auto answer = fileAnswers.front();
    fileAnswers.pop_front();
    return answer;
  }

  std::string BrowseFolder(const std::string& prompt) override {
    shown.push_back({prompt, {}});
    if (folderAnswers.empty()) return {};
    auto answer = folderAnswers.front();
    folderAnswers.pop_front();
    return answer;
  }

  std::deque<std::vector<std::string>> fileAnswers;
  std::deque<std::string> folderAnswers;
  std::vector<Shown> shown;
};

}  // namespace palomet::test
