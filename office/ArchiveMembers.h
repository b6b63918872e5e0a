#pragma once

// The XML files inside an archive (zip, tar, a compressed tar) and how they are named. A
// member is named by the archive's path, a colon and the member's name in the archive
// ("/data/export.zip:2026/orders.xml"), in the file list and in every message. Nothing is
// ever unpacked: a member's name is only a name, never a path on disk.

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace palomet {

namespace packed {
// The limits against hostile packed files. Decompressed bytes allowed per byte of a packed
// file (compressed file or archive), counted over a whole run...
inline constexpr std::uint64_t kMaxExpansion = 1000;
// ...once this much has been decompressed: small and very regular files get this far at any
// ratio, a decompression bomb no further.
inline constexpr std::uint64_t kExpansionAllowance = std::uint64_t{64} << 20;
// Entries of any kind (files, folders, links) an archive may hold.
inline constexpr int kMaxMembers = 10'000;
}  // namespace packed

// The endings, in any letter case, of the names of compressed files...
inline constexpr std::array<std::string_view, 4> kCompressedEndings = {".gz", ".xz", ".bz2",
                                                                       ".zst"};
// ...and of archives: only a file named so is opened as a folder of XML files, so that an
// office document (a zip by its content) stays one file.
inline constexpr std::array<std::string_view, 7> kArchiveEndings = {
    ".zip", ".tar", ".tar.gz", ".tgz", ".tar.xz", ".tar.bz2", ".tar.zst"};

// Whether `name` ends like an archive's name (kArchiveEndings).
bool IsArchiveName(std::string_view name);

// The name of member `member` of the archive at `archive`.
std::string MemberEntryName(const std::string& archive, const std::string& member);

// Whether a member's name ends like an XML file: ".xml" in any letter case, or that followed
// by one of kCompressedEndings.
bool IsXmlMemberName(std::string_view member);

// Whether a member's name would lead outside the archive, were it unpacked: an absolute name
// or one with a ".." step (with "/" or "\" between the steps). Such members are never read.
bool LeadsOutsideArchive(std::string_view member);

// Where `name` may name a member: the longest text before one of its colons that names a
// regular file (so an archive's path may hold colons, and so may a member's name), and the
// rest. Whether `name` then names that member or a file of its own is the caller's to
// settle: the name of a file that exists is the file's.
bool SplitAtArchive(const std::string& name, std::string& archive, std::string& member);

// What the file list gets for one archive.
struct ArchiveListing {
  bool isArchive = false;            // false: not an archive, or it cannot be read at all
  std::string format;                // "ZIP archive", "tar archive (gzip)", ...
  std::vector<std::string> members;  // the XML members' names, in the archive's order
  std::string failure;  // why the listing stopped before the archive's end, in plain words
};

// Lists the XML members of the file at `path`: regular files (not links) with XML names, in
// the archive's order, leaving out, as a folder scan does, names beginning with "~",
// members of hidden folders (and of "__MACOSX", the resource forks macOS adds to a zip),
// and anything else (folders, links, other files, archives inside). Members whose names
// lead outside the archive and encrypted ones are listed, so that their import names them.
// A compressed archive is read on to the end of its streams, whose checks count as the rest
// of the archive does. Stops at damage or the limit on expansion with what was listed so far
// and `failure` set; an archive past the limit on members lists none, only the failure.
// `keepGoing` is asked before each entry; false stops the listing (no failure). Raises only
// for faults of the machine (memory).
ArchiveListing ListArchive(const std::string& path, const std::function<bool()>& keepGoing = {});

}  // namespace palomet
