#pragma once

#include <functional>
#include <vector>

#include "filelist/WindowHost.h"

namespace palomet::test {

// A window host that records what a long command does to the window: every yield,
// the pointer at each yield, every pointer write, and anything done after the
// window was closed. It closes itself at a chosen yield, and can run a callback at
// each yield (another command working on the list meanwhile).
class ScanHost : public WindowHost {
 public:
  void DoEvents() override {
    if (closed_) ++touchedAfterClose;
    ++yields;
    pointerAtYield.push_back(pointer_);
    if (onYield) onYield();
    if (closeAtYield != 0 && yields == closeAtYield) closed_ = true;
  }
  Pointer MousePointer() const override { return pointer_; }
  void SetMousePointer(Pointer value) override {
    if (closed_) ++touchedAfterClose;
    ++pointerWrites;
    pointer_ = value;
  }
  bool Closed() const override { return closed_; }

  int yields = 0;
  int pointerWrites = 0;
  int touchedAfterClose = 0;
  int closeAtYield = 0;  // 0: never closes
  std::vector<Pointer> pointerAtYield;
  std::function<void()> onYield;

 private:
  Pointer pointer_ = Pointer::Default;
  bool closed_ = false;
};

}  // namespace palomet::test
