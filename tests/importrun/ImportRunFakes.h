#pragma once

// Stand-ins for the main window and the workbook window, for tests that run the
// import without widgets.

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "filelist/FileList.h"
#include "importrun/ImportRun.h"
#include "office/xl/Excel.h"

namespace palomet::test {

// Keeps every shown application alive and registered, as the workbook window does.
class KeepAliveView : public xl::ApplicationView {
 public:
  explicit KeepAliveView(std::shared_ptr<xl::Application> app) : app_(std::move(app)) {}
  void Show() override { app_->ViewOpened(); }
  void Hide() override {}
  void StructureChanged() override {}
  void Close() { app_->ViewClosed(); }
  const std::shared_ptr<xl::Application>& App() const { return app_; }

 private:
  std::shared_ptr<xl::Application> app_;
};

inline std::vector<std::unique_ptr<KeepAliveView>>& Views() {
  static std::vector<std::unique_ptr<KeepAliveView>> views;
  return views;
}

// What a message box saw of the window when it was shown.
struct ShownBox {
  std::string text;
  MsgButtons buttons;
  MsgIcon icon;
  MsgResult defaultButton;
  Pointer pointer;
  double progress;
};

class FakeWindow : public ImportWindow, public WindowHost, public MessageBoxes {
 public:
  WindowHost& Host() override { return *this; }
  MessageBoxes& Boxes() override { return *this; }
  const FileList& Files() const override { return files; }
  bool MultipleSheets() const override { return multiple; }
  void SetProgress(double percent) override {
    progress = percent;
    progressHistory.push_back(percent);
  }
  void ShowInFront() override { ++shownInFront; }

  void DoEvents() override {
    ++yields;
    if (onYield) onYield();
  }
  Pointer MousePointer() const override { return pointer; }
  void SetMousePointer(Pointer value) override {
    pointer = value;
    pointerHistory.push_back(value);
  }
  bool Closed() const override { return closed; }

  MsgResult Show(const std::string& text, MsgButtons buttons, MsgIcon icon,
                 MsgResult defaultButton) override {
    boxes.push_back({text, buttons, icon, defaultButton, pointer, progress});
    if (buttons == MsgButtons::Ok) return MsgResult::Ok;
    if (answers.empty()) return defaultButton;
    const MsgResult r = answers.front();
    answers.erase(answers.begin());
    return r;
  }

  std::vector<std::string> BoxTexts() const {
    std::vector<std::string> texts;
    for (const auto& b : boxes) texts.push_back(b.text);
    return texts;
  }

  PlainFileList files;
  bool multiple = false;
  bool closed = false;
  Pointer pointer = Pointer::Default;
  double progress = 0;
  int shownInFront = 0;
  int yields = 0;
  std::function<void()> onYield;
  std::vector<double> progressHistory;
  std::vector<Pointer> pointerHistory;
  std::vector<ShownBox> boxes;
  std::vector<MsgResult> answers;
};

// A running instance of whatever name, registered while the object lives.
class RunningInstance : public xl::RunningObject {
 public:
  explicit RunningInstance(std::string name) : name_(std::move(name)) {}
  std::string Name() const override { return name_; }

 private:
  std::string name_;
};

// Installs KeepAliveView as the workbook window while alive.
class KeepAliveViews {
 public:
  KeepAliveViews() {
    xl::Application::SetViewFactory([](std::shared_ptr<xl::Application> app) {
      Views().push_back(std::make_unique<KeepAliveView>(std::move(app)));
      return Views().back().get();
    });
  }
  ~KeepAliveViews() {
    for (auto& v : Views()) v->Close();
    Views().clear();
    xl::Application::SetViewFactory(nullptr);
  }
  KeepAliveViews(const KeepAliveViews&) = delete;
  KeepAliveViews& operator=(const KeepAliveViews&) = delete;
};

}  // namespace palomet::test
