#pragma once

namespace palomet {

// Window pointer values, as kept on the main window.
namespace pointer {
inline constexpr int kDefault = 0;
inline constexpr int kBusy = 11;
inline constexpr int kImage = 99;
}  // namespace pointer

// What long commands (folder scan, drop, import run) need of the main window:
// serving pending events, the window pointer, and whether the window has been
// closed meanwhile (then the command ends at once and touches the window no more).
// The command line implements it with no-ops.
class WindowHost {
 public:
  virtual ~WindowHost() = default;
  virtual void DoEvents() = 0;
  virtual int MousePointer() const = 0;
  virtual void SetMousePointer(int value) = 0;
  virtual bool Closed() const = 0;
};

// A host without a window: nothing to serve, never closed.
class NoWindowHost : public WindowHost {
 public:
  void DoEvents() override {}
  int MousePointer() const override { return pointer_; }
  void SetMousePointer(int value) override { pointer_ = value; }
  bool Closed() const override { return false; }

 private:
  int pointer_ = pointer::kDefault;
};

}  // namespace palomet
