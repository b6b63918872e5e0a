// The running-object table: workbook applications register here while they live, so that
// a later run can attach to the one already open instead of starting another.

#include <algorithm>
#include <mutex>
#include <string>
#include <vector>

#include "office/xl/Excel.h"

namespace palomet::xl {

namespace {
struct RotEntry {
  std::uint64_t cookie;
  std::string className;
  std::weak_ptr<RunningObject> object;
};
std::mutex rotMutex;
std::vector<RotEntry>& Rot() {
  static std::vector<RotEntry> table;
  return table;
}
std::uint64_t rotNextCookie = 1;
}  // namespace

std::uint64_t RunningObjectTable::Register(std::string_view className,
                                           std::weak_ptr<RunningObject> object) {
  std::lock_guard lock(rotMutex);
  const std::uint64_t cookie = rotNextCookie++;
  Rot().push_back({cookie, std::string(className), std::move(object)});
  return cookie;
}

void RunningObjectTable::Revoke(std::uint64_t cookie) {
  std::lock_guard lock(rotMutex);
  auto& t = Rot();
  t.erase(std::remove_if(t.begin(), t.end(), [&](const RotEntry& e) { return e.cookie == cookie; }),
          t.end());
}

std::shared_ptr<RunningObject> RunningObjectTable::GetObject(std::string_view className) {
  std::lock_guard lock(rotMutex);
  auto& t = Rot();
  for (auto it = t.rbegin(); it != t.rend(); ++it) {
    if (it->className != className) continue;
    if (auto obj = it->object.lock()) return obj;
  }
  throw Error(kErrNoRunningInstance,
              "No running instance of " + std::string(className) + " was found.");
}

}  // namespace palomet::xl
