#include "office/ArchiveMembers.h"

#include <sys/stat.h>

#include "office/CaseFold.h"
#include "office/PackedFile.h"

namespace palomet {

namespace {

bool EndsWith(std::string_view s, std::string_view end) {
  return s.size() >= end.size() && s.substr(s.size() - end.size()) == end;
}

// The steps of a member's name, "/" and "\" both separating them.
std::vector<std::string_view> Steps(std::string_view name) {
  std::vector<std::string_view> steps;
  std::size_t from = 0;
  for (std::size_t i = 0; i <= name.size(); ++i) {
    if (i == name.size() || name[i] == '/' || name[i] == '\\') {
      steps.push_back(name.substr(from, i - from));
      from = i + 1;
    }
  }
  return steps;
}

// Whether a member is one the file list takes, by its name alone.
bool IsListed(std::string_view member) {
  if (!IsXmlMemberName(member)) return false;
  if (LeadsOutsideArchive(member)) return true;  // listed to be refused by name
  const std::vector<std::string_view> steps = Steps(member);
  for (std::size_t i = 0; i + 1 < steps.size(); ++i) {
    if ((!steps[i].empty() && steps[i].front() == '.') || steps[i] == "__MACOSX") return false;
  }
  return steps.back().front() != '~';  // an XML name is never empty
}

}  // namespace

std::string MemberEntryName(const std::string& archive, const std::string& member) {
  return archive + ":" + member;
}

bool IsArchiveName(std::string_view name) {
  const std::string folded = AsciiFold(name);
  for (const std::string_view ending : kArchiveEndings) {
    if (EndsWith(folded, ending)) return true;
  }
  return false;
}

bool IsXmlMemberName(std::string_view member) {
  std::string name = AsciiFold(member);
  for (const std::string_view compression : kCompressedEndings) {
    if (EndsWith(name, compression)) {
      name.resize(name.size() - compression.size());
      break;
    }
  }
  return EndsWith(name, ".xml");
}

bool LeadsOutsideArchive(std::string_view member) {
  if (!member.empty() && (member.front() == '/' || member.front() == '\\')) return true;
  for (const std::string_view step : Steps(member)) {
    if (step == "..") return true;
  }
  return false;
}

bool SplitAtArchive(const std::string& name, std::string& archive, std::string& member) {
  for (std::size_t colon = name.rfind(':'); colon != std::string::npos && colon > 0;
       colon = name.rfind(':', colon - 1)) {
    struct stat info {};
    if (::stat(name.substr(0, colon).c_str(), &info) == 0 && S_ISREG(info.st_mode)) {
      archive = name.substr(0, colon);
      member = name.substr(colon + 1);
      return true;
    }
  }
  return false;
}

ArchiveListing ListArchive(const std::string& path, const std::function<bool()>& keepGoing) {
  ArchiveListing listing;
  int entries = 0;
  try {
    const packed::OpenedFile file(path);
    packed::Expansion expansion;
    packed::PackedReader reader(file, expansion, true);
    const bool any = reader.Next();
    if (reader.GetPacking() != packed::Packing::Archive) return listing;
    listing.isArchive = true;
    listing.format = reader.FormatName();
    if (!any) return listing;
    bool whole = true;
    do {
      if (keepGoing && !keepGoing()) {
        whole = false;
        break;
      }
      ++entries;
      if (reader.EntryIsFile() && IsListed(reader.EntryName())) {
        listing.members.push_back(reader.EntryName());
      }
    } while (reader.Next());
    // A compressed archive is read to the end of its streams, which costs next to nothing
    // here and spares the import reading it whole again to check them.
    if (whole && reader.Decompresses()) {
      reader.ReadRest();
      packed::NoteReadWhole(file.Identity());
    }
  } catch (const packed::Fault& fault) {
    if (listing.isArchive) listing.failure = fault.what;
    // An archive past the limit on members is refused whole: one failure, not thousands of
    // members first.
    if (entries >= packed::kMaxMembers) listing.members.clear();
  }
  return listing;
}

}  // namespace palomet
