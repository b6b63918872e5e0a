#include "filelist/AddFolder.h"

#include <QList>
#include <QString>
#include <algorithm>
#include <system_error>
#include <utility>

#include "filelist/ArchiveIntake.h"
#include "office/ArchiveMembers.h"
#include "office/CaseFold.h"

namespace palomet {

namespace fs = std::filesystem;

namespace {

std::u32string FoldedUcs4(const std::string& s) {
  const QList<uint> ucs4 =
      QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size())).toCaseFolded().toUcs4();
  return std::u32string(ucs4.begin(), ucs4.end());
}

// "*" matches any run of characters, "?" exactly one; greedy with backtracking to the
// last star, so the cost stays proportional to name length times pattern length.
bool WildcardMatch(const std::u32string& name, const std::u32string& pattern) {
  std::size_t i = 0, j = 0, star = std::u32string::npos, mark = 0;
  while (i < name.size()) {
    if (j < pattern.size() && (pattern[j] == U'?' || pattern[j] == name[i])) {
      ++i;
      ++j;
    } else if (j < pattern.size() && pattern[j] == U'*') {
      star = j++;
      mark = i;
    } else if (star != std::u32string::npos) {
      j = star + 1;
      i = ++mark;
    } else {
      return false;
    }
  }
  while (j < pattern.size() && pattern[j] == U'*') ++j;
  return j == pattern.size();
}

// A pattern folded once and matched against many names: one wildcard, or several separated
// by ";" (a name matches when it matches any of them).
class Pattern {
 public:
  explicit Pattern(const std::string& pattern) {
    std::size_t from = 0;
    for (;;) {
      const std::size_t end = pattern.find(';', from);
      AddWildcard(FoldedUcs4(pattern.substr(from, end - from)));
      if (end == std::string::npos) break;
      from = end + 1;
    }
  }
  bool Matches(const std::string& name) const {
    const std::u32string folded = FoldedUcs4(name);
    for (const std::u32string& wildcard : wildcards_) {
      if (WildcardMatch(folded, wildcard)) return true;
    }
    return false;
  }

 private:
  void AddWildcard(std::u32string wildcard) {
    // "x.*" also matches "x": a trailing ".*" stands for "any extension or none".
    if (wildcard.size() >= 2 && wildcard.compare(wildcard.size() - 2, 2, U".*") == 0) {
      wildcards_.push_back(wildcard.substr(0, wildcard.size() - 2));
    }
    wildcards_.push_back(std::move(wildcard));
  }

  std::vector<std::u32string> wildcards_;
};

// A name read from a listing, with its sort key.
struct Listed {
  std::string key;  // the folded name
  std::string name;
  bool link = false;
};

Listed MakeListed(std::string name, bool link = false) {
  std::string key = UnicodeFold(name);  // UTF-8: byte order is code point order
  return {std::move(key), std::move(name), link};
}

void SortInListingOrder(std::vector<Listed>& items) {
  std::sort(items.begin(), items.end(), [](const Listed& a, const Listed& b) {
    return a.key != b.key ? a.key < b.key : a.name < b.name;
  });
}

bool IsHiddenName(const std::string& name) {
  return !name.empty() && name.front() == '.';
}

// Serves pending window events; false when the window has been closed meanwhile.
bool Yield(WindowHost& host) {
  host.DoEvents();
  return !host.Closed();
}

}  // namespace

std::string ScanPattern() {
  std::string pattern = "*.xml";
  for (const std::string_view ending : kCompressedEndings) {
    pattern += ";*.xml" + std::string(ending);
  }
  for (const std::string_view ending : kArchiveEndings) pattern += ";*" + std::string(ending);
  return pattern;
}

void AddWalkStart(FolderList& folders, const std::string& folder) {
  std::error_code ec;
  fs::path real = fs::canonical(folder, ec);
  if (ec) real.clear();
  folders.push_back({folder + "/", std::move(real), WalkFolder::kNoParent});
}

bool CollectSubfolders(FolderList& folders, bool recurse, WindowHost& host) {
  // Everything found is kept apart and handed back at the end, as the deeper levels
  // of the folders given. An index below `base` names a folder given, one at or above
  // it a folder found (its index once handed back).
  const std::size_t base = folders.size();
  FolderList found;
  auto at = [&](std::size_t index) -> const WalkFolder& {
    return index < base ? folders[index] : found[index - base];
  };
  auto isOnWalkPath = [&](std::size_t from, const fs::path& real) {
    for (std::size_t k = from; k != WalkFolder::kNoParent; k = at(k).parent) {
      if (at(k).real == real) return true;
    }
    return false;
  };

  std::size_t levelBegin = 0, levelEnd = base;  // the level being listed, by index
  while (levelBegin < levelEnd) {
    for (std::size_t index = levelBegin; index < levelEnd; ++index) {
      // Copies: `found` grows below, which would move the folder being listed.
      const std::string dir = at(index).path;
      const fs::path dirReal = at(index).real;

      std::error_code ec;
      fs::directory_iterator it(dir, ec);
      if (!Yield(host)) return false;
      if (ec) continue;  // cannot be listed: passed over

      std::vector<Listed> subs;
      for (; !ec && it != fs::directory_iterator(); it.increment(ec)) {
        if (!Yield(host)) return false;
        std::string name = it->path().filename().string();
        if (IsHiddenName(name)) continue;
        std::error_code typeError;
        if (!it->is_directory(typeError) || typeError) continue;  // files, vanished entries
        const bool link = it->is_symlink(typeError);
        subs.push_back(MakeListed(std::move(name), link));
      }
      SortInListingOrder(subs);

      for (const Listed& sub : subs) {
        const std::string& name = sub.name;
        fs::path real;
        if (sub.link) {
          std::error_code realError;
          real = fs::canonical(dir + name, realError);
          if (realError) continue;                  // vanished or dangling since it was read
          if (isOnWalkPath(index, real)) continue;  // a loop back up the walk
        } else if (!dirReal.empty()) {
          real = dirReal / name;
        }
        found.push_back({dir + name + "/", std::move(real), index});
      }
    }
    if (!recurse) break;
    levelBegin = levelEnd;
    levelEnd = base + found.size();
  }

  folders.reserve(base + found.size());
  for (auto& f : found) {
    if (!Yield(host)) return false;
    folders.push_back(std::move(f));
  }
  return true;
}

std::vector<std::string> ListFolderFiles(const std::string& folder, const std::string& pattern) {
  std::string dir = folder;
  if (dir.empty() || dir.back() != '/') dir += '/';
  const Pattern match(pattern);

  std::vector<Listed> files;
  std::error_code ec;
  for (fs::directory_iterator it(dir, ec); !ec && it != fs::directory_iterator();
       it.increment(ec)) {
    std::string name = it->path().filename().string();
    if (!match.Matches(name)) continue;
    // Only regular files, links followed: no folders, FIFOs, sockets, devices or
    // dangling links, and nothing that vanished since it was read.
    std::error_code typeError;
    if (!it->is_regular_file(typeError) || typeError) continue;
    files.push_back(MakeListed(std::move(name)));
  }
  SortInListingOrder(files);

  std::vector<std::string> names;
  names.reserve(files.size());
  for (auto& f : files) names.push_back(std::move(f.name));
  return names;
}

bool AddFolderTree(const std::string& folder, const std::string& pattern, bool busy, FileList& list,
                   WindowHost& host, bool archives) {
  if (host.Closed()) return false;
  if (folder.empty()) return true;  // "" + "/" would be the root of the file system

  FolderList folders;
  AddWalkStart(folders, folder);
  if (!CollectSubfolders(folders, true, host)) return false;

  for (const WalkFolder& f : folders) {
    if (busy) {
      host.SetMousePointer(Pointer::Busy);
      if (!Yield(host)) return false;
    }
    const std::string dir = f.path.substr(0, f.path.size() - 1);
    for (const std::string& name : ListFolderFiles(dir, pattern)) {
      if (busy) {
        if (!Yield(host)) return false;
        host.SetMousePointer(Pointer::Busy);
      }
      if (name.front() == '~') continue;  // editors' lock and backup files
      if (!archives) {
        list.Add(dir + "/" + name);
      } else if (!AddFileOrArchive(dir + "/" + name, list, host)) {
        return false;
      }
    }
  }
  return true;
}

void AddChosenFolder(const std::string& folder, FileList& list, WindowHost& host) {
  if (folder.empty() || host.Closed()) return;
  host.SetMousePointer(Pointer::Busy);
  if (AddFolderTree(folder, ScanPattern(), true, list, host, true)) {
    host.SetMousePointer(Pointer::Default);
  }
}

}  // namespace palomet
