#pragma once

// Named points where the tests may have the process signalled, to see what a run stopped
// or killed right there leaves behind (a crash, the out-of-memory killer, a closed
// terminal, Ctrl+C at an unlucky moment). PALOMET_KILL_AT=<point> in the environment sends
// SIGKILL when the process reaches that point; PALOMET_KILL_AT=<point>:<sig>,<sig>... sends
// those signals in turn instead.

#include <signal.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

namespace palomet {

inline void KillPoint(const char* point) {
  static const char* const at = std::getenv("PALOMET_KILL_AT");
  if (at == nullptr) return;
  const std::size_t n = std::strlen(point);
  if (std::strncmp(at, point, n) != 0 || (at[n] != '\0' && at[n] != ':')) return;
  if (at[n] == '\0') {
    ::kill(::getpid(), SIGKILL);
    return;
  }
  for (const char* p = at + n + 1; *p != '\0';) {
    char* end = nullptr;
    const long sig = std::strtol(p, &end, 10);
    if (end == p) return;
    ::kill(::getpid(), static_cast<int>(sig));
    p = *end == ',' ? end + 1 : end;
  }
}

}  // namespace palomet
