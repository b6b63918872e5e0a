#include "office/xl/XlsxWriter.h"

#include <fcntl.h>
#include <malloc.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
#include <xlsxwriter.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <string>
#include <system_error>

#include "office/Error.h"
#include "office/xl/CellStore.h"
#include "office/xl/Excel.h"

namespace palomet::xl::detail {
namespace {

// libxlsxwriter prints its errors on standard error besides returning them; the error
// returned is reported (as palomet::Error), so the printing is sent to /dev/null meanwhile.
class QuietStderr {
 public:
  QuietStderr() {
    std::fflush(stderr);
    saved_ = ::dup(STDERR_FILENO);
    const int null = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (saved_ >= 0 && null >= 0) ::dup2(null, STDERR_FILENO);
    if (null >= 0) ::close(null);
  }
  ~QuietStderr() {
    if (saved_ < 0) return;
    std::fflush(stderr);
    ::dup2(saved_, STDERR_FILENO);
    ::close(saved_);
  }
  QuietStderr(const QuietStderr&) = delete;
  QuietStderr& operator=(const QuietStderr&) = delete;

 private:
  int saved_ = -1;
};

// In constant-memory mode the writer keeps a temporary file open for every sheet until the
// package is written. Many sheets pass the usual soft limit of 1,024 open files, so the
// limit is raised towards the hard one for the save and put back afterwards.
class OpenFilesForSave {
 public:
  explicit OpenFilesForSave(std::size_t sheets) {
    if (::getrlimit(RLIMIT_NOFILE, &saved_) != 0) return;
    std::size_t open = 0;
    std::error_code ec;
    for (auto it = std::filesystem::directory_iterator("/proc/self/fd", ec);
         !ec && it != std::filesystem::directory_iterator(); it.increment(ec)) {
      ++open;
    }
    const rlim_t want = static_cast<rlim_t>(open + sheets + 16);
    needed_ = want;
    if (saved_.rlim_cur == RLIM_INFINITY || saved_.rlim_cur >= want) return;
    rlimit raised = saved_;
    raised.rlim_cur = saved_.rlim_max == RLIM_INFINITY ? want : std::min(want, saved_.rlim_max);
    if (::setrlimit(RLIMIT_NOFILE, &raised) == 0) changed_ = true;
  }
  ~OpenFilesForSave() {
    if (changed_) ::setrlimit(RLIMIT_NOFILE, &saved_);
  }
  OpenFilesForSave(const OpenFilesForSave&) = delete;
  OpenFilesForSave& operator=(const OpenFilesForSave&) = delete;

  // The limit in force when it is below what the save needs, else 0.
  rlim_t Short() const {
    rlimit now{};
    if (::getrlimit(RLIMIT_NOFILE, &now) != 0 || now.rlim_cur == RLIM_INFINITY) return 0;
    return now.rlim_cur < needed_ ? now.rlim_cur : 0;
  }

 private:
  rlimit saved_{};
  rlim_t needed_ = 0;
  bool changed_ = false;
};

// The writer gives every sheet a zeroed table of 16,384 cell pointers (128 KB) of which a
// table of a few columns touches one page. glibc serves blocks of that size from fresh
// mappings, whose untouched pages cost nothing, until the first large block is freed; from
// then on it raises its threshold and serves them from the heap, zeroing all of it, and a
// workbook of 4,000 sheets holds half a gigabyte. Fixing the threshold at its usual value
// keeps the tables in mappings.
void KeepLargeBlocksMapped() {
  static std::once_flag once;
  std::call_once(once, [] { ::mallopt(M_MMAP_THRESHOLD, 128 * 1024); });
}

// Removes the temporary file unless the save went through.
struct TempFileGuard {
  std::string path;
  bool keep = false;
  ~TempFileGuard() {
    if (!keep && !path.empty()) ::unlink(path.c_str());
  }
};

// The workbook handle, closed (and its temporary files freed) on every way out.
struct LxwWorkbook {
  lxw_workbook* wb = nullptr;
  ~LxwWorkbook() {
    if (wb) lxw_workbook_free(wb);  // an unfinished save: drop it, the guard removes the file
  }
  lxw_error Close() {
    lxw_error err = workbook_close(wb);
    wb = nullptr;
    return err;
  }
};

class Formats {
 public:
  explicit Formats(lxw_workbook* wb) : wb_(wb) {}
  lxw_format* For(std::uint8_t type, std::uint8_t decimals) {
    lxw_format*& slot = type == static_cast<std::uint8_t>(CellType::Number) ? numbers_[decimals]
                        : type == static_cast<std::uint8_t>(CellType::Date) ? date_
                                                                            : dateTime_;
    if (!slot) {
      slot = workbook_add_format(wb_);
      format_set_num_format(slot, NumberFormatFor(type, decimals).c_str());
    }
    return slot;
  }

 private:
  lxw_workbook* wb_;
  std::array<lxw_format*, kMaxDecimals + 1> numbers_{};
  lxw_format* date_ = nullptr;
  lxw_format* dateTime_ = nullptr;
};

}  // namespace

void WriteXlsx(const std::filesystem::path& path, const std::vector<const Worksheet*>& sheets,
               const Worksheet* active) {
  const std::string shown = path.string();
  auto fail = [&](const std::string& why) -> void {
    throw Error(errnum::kSpreadsheet, "Cannot save the workbook as \"" + shown + "\": " + why);
  };

  KeepLargeBlocksMapped();
  const OpenFilesForSave openFiles(sheets.size());
  if (const rlim_t limit = openFiles.Short()) {
    fail("its " + std::to_string(sheets.size()) +
         " sheets need an open file each while the file is written, and this system lets a "
         "program open only " +
         std::to_string(limit) + " files at once (see \"ulimit -n\").");
  }

  // Reserve a unique name in the target's folder so the rename at the end is atomic.
  const std::filesystem::path dir = path.has_parent_path() ? path.parent_path() : ".";
  std::string tmpl = (dir / ("." + path.filename().string() + ".XXXXXX")).string();
  const int fd = ::mkstemp(tmpl.data());
  if (fd < 0) fail(std::string(std::strerror(errno)) + ".");
  ::close(fd);
  TempFileGuard guard{tmpl};

  // Very large sheets need ZIP64 entries (over 4 GB uncompressed); small files keep the
  // plain format every reader takes.
  std::uint64_t estimate = 0;
  for (const Worksheet* s : sheets) {
    estimate += s->CellCount() * std::uint64_t{64} + s->TextBytes() * std::uint64_t{2};
  }
  lxw_workbook_options options{};
  options.constant_memory = LXW_TRUE;
  options.use_zip64 = estimate > (std::uint64_t{3} << 30) ? LXW_TRUE : LXW_FALSE;
  const QuietStderr quiet;
  LxwWorkbook book;
  book.wb = workbook_new_opt(tmpl.c_str(), &options);
  if (!book.wb) fail("the file cannot be created.");
  Formats formats(book.wb);

  std::string scratch;
  for (const Worksheet* sheet : sheets) {
    lxw_worksheet* ws = workbook_add_worksheet(book.wb, sheet->Name().c_str());
    if (!ws) fail("the sheet name \"" + sheet->Name() + "\" was refused by the writer.");
    if (sheet == active) worksheet_activate(ws);
    sheet->ForEachCell([&](const CellRec& rec, std::string_view text) {
      lxw_error err;
      if (rec.type == static_cast<std::uint8_t>(CellType::Text)) {
        scratch.clear();
        EscapeForXlsx(text, scratch);
        err = worksheet_write_string(ws, rec.row, rec.col, scratch.c_str(), nullptr);
      } else {
        err = worksheet_write_number(ws, rec.row, rec.col, rec.number,
                                     formats.For(rec.type, rec.decimals));
      }
      if (err != LXW_NO_ERROR) {
        fail("sheet \"" + sheet->Name() + "\", row " + std::to_string(rec.row + 1) + ", column " +
             std::to_string(rec.col + 1) + ": " + lxw_strerror(err) + ".");
      }
    });
  }

  // libxlsxwriter reports an unwritable target only here. For a failing write it keeps
  // the system's reason (a full disk, a file size limit) in errno and only prints it.
  errno = 0;
  const lxw_error err = book.Close();
  const int closeErrno = errno;
  if (err != LXW_NO_ERROR) {
    std::string why = lxw_strerror(err);
    if (!why.empty() && why.back() == '.') why.pop_back();
    const bool fileError = err == LXW_ERROR_CREATING_XLSX_FILE ||
                           err == LXW_ERROR_CREATING_TMPFILE ||
                           err == LXW_ERROR_ZIP_FILE_OPERATION || err == LXW_ERROR_ZIP_FILE_ADD ||
                           err == LXW_ERROR_ZIP_CLOSE;
    if (fileError && closeErrno != 0)
      why = std::string(std::strerror(closeErrno)) + " (" + why + ")";
    fail(why + ".");
  }
  const int sync = ::open(tmpl.c_str(), O_RDONLY);
  if (sync >= 0) {
    ::fsync(sync);
    ::close(sync);
  }
  ::chmod(
      tmpl.c_str(), 0666 & ~[] {
        const mode_t m = ::umask(0);
        ::umask(m);
        return m;
      }());
  if (::rename(tmpl.c_str(), shown.c_str()) != 0) fail(std::string(std::strerror(errno)) + ".");
  guard.keep = true;
}

}  // namespace palomet::xl::detail
