#include "filelist/ArchiveIntake.h"

#include "office/ArchiveMembers.h"

namespace palomet {

bool AddFileOrArchive(const std::string& path, FileList& list, WindowHost& host) {
  if (!IsArchiveName(path)) {
    list.Add(path);
    return true;
  }
  const ArchiveListing listing = ListArchive(path, [&host] {
    host.DoEvents();
    return !host.Closed();
  });
  if (host.Closed()) return false;
  if (!listing.isArchive) {
    list.Add(path);
    return true;
  }
  for (const std::string& member : listing.members) list.Add(MemberEntryName(path, member));
  if (!listing.failure.empty()) list.Add(path);
  return true;
}

}  // namespace palomet
