#pragma once

// Lets a test see file permissions as an ordinary user does, also when the suite runs as
// root (as CI does): root's capabilities to override them are taken out of the calling
// thread's effective set while the object lives, and put back afterwards. Threads started
// meanwhile inherit the reduced set.

#include <linux/capability.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cstdint>

namespace palomet::test {

class PermissionsApply {
 public:
  PermissionsApply() {
    if (::geteuid() != 0) return;
    header_.version = _LINUX_CAPABILITY_VERSION_3;
    header_.pid = 0;
    if (::syscall(SYS_capget, &header_, saved_) != 0) return;
    __user_cap_data_struct reduced[2] = {saved_[0], saved_[1]};
    for (int cap : {CAP_DAC_OVERRIDE, CAP_DAC_READ_SEARCH, CAP_FOWNER}) {
      reduced[cap / 32].effective &= ~(std::uint32_t{1} << (cap % 32));
    }
    active_ = ::syscall(SYS_capset, &header_, reduced) == 0;
  }
  ~PermissionsApply() {
    if (active_) ::syscall(SYS_capset, &header_, saved_);
  }
  PermissionsApply(const PermissionsApply&) = delete;
  PermissionsApply& operator=(const PermissionsApply&) = delete;

  // False when the process runs as root and could not give up its overrides: a test that
  // needs permissions to hold must then skip.
  bool Holds() const { return ::geteuid() != 0 || active_; }

 private:
  __user_cap_header_struct header_{};
  __user_cap_data_struct saved_[2]{};
  bool active_ = false;
};

}  // namespace palomet::test
