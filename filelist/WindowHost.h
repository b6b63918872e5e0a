#pragma once

namespace palomet {

// The main window's pointer. The numbers are the window's pointer setting as the design
// names it: 0 the default pointer, 11 busy, 99 the pointer image.
enum class Pointer { Default = 0, Busy = 11, Image = 99 };

// What long commands (folder scan, drop, import run) need of the main window:
// serving pending events, the window pointer, and whether the window has been
// closed meanwhile (then the command ends at once and touches the window no more).
// The command line implements it with no-ops.
class WindowHost {
 public:
  virtual ~WindowHost() = default;
  virtual void DoEvents() = 0;
  virtual Pointer MousePointer() const = 0;
  virtual void SetMousePointer(Pointer value) = 0;
  virtual bool Closed() const = 0;
};

// A host without a window: nothing to serve, never closed.
class NoWindowHost : public WindowHost {
 public:
  void DoEvents() override {}
  Pointer MousePointer() const override { return pointer_; }
  void SetMousePointer(Pointer value) override { pointer_ = value; }
  bool Closed() const override { return false; }

 private:
  Pointer pointer_ = Pointer::Default;
};

}  // namespace palomet
