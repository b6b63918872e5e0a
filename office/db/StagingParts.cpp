#include "office/db/StagingParts.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>

#include "office/Error.h"
#include "office/db/SqliteDb.h"

namespace palomet::sqlitedb {

namespace {

std::int64_t PragmaValue(sqlite3* db, const std::string& sql, const std::string& path) {
  auto stmt = Prepare(db, sql, path);
  const int rc = sqlite3_step(stmt.get());
  if (rc != SQLITE_ROW) throw MakeError(rc, db, path);
  return sqlite3_column_int64(stmt.get(), 0);
}

// Whether the file at `path` is a part file: marked as one in its header, or empty (made for
// a file whose import then failed).
bool IsPartFile(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
  if (fd < 0) return false;
  std::array<unsigned char, 100> header{};
  ssize_t got;
  do {
    got = ::pread(fd, header.data(), header.size(), 0);
  } while (got < 0 && errno == EINTR);
  ::close(fd);
  if (got == 0) return true;
  if (got != static_cast<ssize_t>(header.size())) return false;
  const std::uint32_t id = (std::uint32_t{header[68]} << 24) | (std::uint32_t{header[69]} << 16) |
                           (std::uint32_t{header[70]} << 8) | header[71];
  return id == static_cast<std::uint32_t>(kPartsApplicationId);
}

}  // namespace

std::string PartPath(const std::string& path, int number) {
  return path + "." + std::to_string(number);
}

int PartCount(sqlite3* db, const std::string& path) {
  if (PragmaValue(db, "PRAGMA main.application_id", path) != kPartsApplicationId) return 0;
  const std::int64_t count = PragmaValue(db, "PRAGMA main.user_version", path);
  return count > 0 && count < (1 << 30) ? static_cast<int>(count) : 0;
}

void SetPartCount(sqlite3* db, int count, const std::string& path) {
  Exec(db,
       "PRAGMA main.application_id=" + std::to_string(kPartsApplicationId) +
           "; PRAGMA main.user_version=" + std::to_string(count),
       path);
}

bool MakePartFile(const std::string& partPath) {
  const int fd = ::open(partPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW,
                        S_IRUSR | S_IWUSR);
  if (fd < 0) return false;
  // A part left by an earlier run keeps its mode otherwise; the umask may have widened it.
  const bool ok = ::fchmod(fd, S_IRUSR | S_IWUSR) == 0;
  ::close(fd);
  return ok;
}

std::vector<std::string> PartTableNames(const std::string& partPath) {
  DbPtr part = OpenExisting(partPath, true);
  auto stmt = Prepare(
      part.get(), "SELECT name FROM sqlite_master WHERE type = 'table' ORDER BY rowid", partPath);
  std::vector<std::string> names;
  int rc;
  while ((rc = sqlite3_step(stmt.get())) == SQLITE_ROW) {
    names.emplace_back(reinterpret_cast<const char*>(sqlite3_column_text(stmt.get(), 0)));
  }
  if (rc != SQLITE_DONE) throw MakeError(rc, part.get(), partPath);
  return names;
}

void AttachPart(sqlite3* db, const std::string& partPath, const std::string& schema,
                bool forWriting) {
  auto attach = Prepare(db, "ATTACH DATABASE ?1 AS " + QuoteName(schema), partPath);
  sqlite3_bind_text(attach.get(), 1, partPath.c_str(), static_cast<int>(partPath.size()),
                    SQLITE_TRANSIENT);
  const int rc = sqlite3_step(attach.get());
  if (rc != SQLITE_DONE) throw MakeError(rc, db, partPath);
  if (!forWriting) return;
  const std::string s = QuoteName(schema);
  Exec(db,
       "PRAGMA " + s + ".page_size=16384; PRAGMA " + s + ".journal_mode=MEMORY; PRAGMA " + s +
           ".synchronous=OFF; PRAGMA " + s +
           ".application_id=" + std::to_string(kPartsApplicationId),
       partPath);
}

bool RemovePartFiles(const std::string& path) {
  bool all = true;
  for (int number = 2;; ++number) {
    const std::string part = PartPath(path, number);
    struct stat info {};
    if (::lstat(part.c_str(), &info) != 0) break;
    if (!S_ISREG(info.st_mode) || !IsPartFile(part)) break;
    if (::unlink(part.c_str()) != 0) all = false;
  }
  return all;
}

}  // namespace palomet::sqlitedb
