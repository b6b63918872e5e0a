#include "office/db/XmlImport.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "office/Error.h"
#include "office/StageTimes.h"
#include "office/db/SqliteDb.h"
#include "office/db/XmlEvents.h"
#include "office/db/XmlImportTuning.h"
#include "office/db/XmlNames.h"

// How the import works. The kind of every element name (field, list, record, container)
// depends on the whole file, so the file is read twice:
//   1. libxml2 parses the file. The Analyzer decides the kinds and notes the first time each
//      distinct element path, attribute and non-blank text occurs; the event stream is kept
//      in a compact form (names as numbers), in memory for most files and in an unnamed
//      temporary file for big ones.
//   2. Tables and columns are laid out from those first occurrences: their order and names
//      depend on first appearance, which only the whole file settles.
//   3. The stream is replayed to number and fill the rows, which are inserted in batches, all
//      in one transaction; for a big file a second thread inserts while the replay goes on.
// Replaying the compact stream costs a fraction of a parse. When no temporary file can be
// written the file is parsed again instead, and when a document has too many distinct paths
// the layout walks the stream. Memory stays flat: it grows with the number of distinct names
// and paths and the size of one record, never with the length of the file.

namespace palomet::xmlimport {

namespace {

enum class Kind : std::uint8_t { None, Field, List, Record, Container };

[[noreturn]] void Fail(const std::string& path, const std::string& what) {
  throw Error(errnum::kXmlImport, ImportFailure(path, what));
}

// Why writing the database file failed, as far as can be told: SQLite reports a failed write
// only as an I/O error and keeps no errno for it.
std::string WriteFailure(sqlite3* db, const std::string& file) {
  if ((sqlite3_errcode(db) & 0xff) == SQLITE_FULL) return std::strerror(ENOSPC);
  if (const int sys = sqlite3_system_errno(db); sys != 0) return std::strerror(sys);
  struct stat info {};
  if (::stat(file.c_str(), &info) == 0) {
    rlimit limit{};
    const auto size = static_cast<std::uint64_t>(info.st_size);
    if (::getrlimit(RLIMIT_FSIZE, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY &&
        size + (1u << 20) >= limit.rlim_cur) {
      return std::strerror(EFBIG);
    }
    struct statvfs fs {};
    if (::statvfs(file.c_str(), &fs) == 0 &&
        static_cast<std::uint64_t>(fs.f_bavail) * fs.f_frsize < (std::uint64_t{1} << 20)) {
      return std::strerror(ENOSPC);
    }
  }
  return sqlite3_errmsg(db);
}

[[noreturn]] void FailDb(sqlite3* db, const std::string& path) {
  // A write that failed in the file system (a full disk, a file size limit) is no fault of
  // the data: name the database and the reason. It carries its own number, as it would fail
  // any other file just the same; only a value too big for the database is the file's.
  const int rc = sqlite3_errcode(db) & 0xff;
  if (rc == SQLITE_IOERR || rc == SQLITE_FULL) {
    const char* name = sqlite3_db_filename(db, "main");
    const std::string file = name != nullptr ? name : "";
    throw Error(errnum::kDatabaseWrite,
                ImportFailure(path, "the staging database '" + file + "' could not be written (" +
                                        WriteFailure(db, file) + ")"));
  }
  throw Error(rc == SQLITE_TOOBIG ? errnum::kXmlImport : errnum::kDatabaseWrite,
              ImportFailure(path, std::string("the staging database refused the data (") +
                                      sqlite3_errmsg(db) + ")"));
}

// ---------------------------------------------------------------- the replayable event stream

struct FileClose {
  void operator()(std::FILE* f) const { std::fclose(f); }
};
using FilePtr = std::unique_ptr<std::FILE, FileClose>;

// An unnamed temporary file in $TMPDIR (or /tmp), gone when closed; null when none can be made.
FilePtr TemporaryFile() {
  const char* env = std::getenv("TMPDIR");
  const std::string dir = env != nullptr && *env != '\0' ? env : "/tmp";
  int fd = ::open(dir.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
  if (fd < 0) {  // a file system without O_TMPFILE: make a named file and unlink it at once
    std::string name = dir + "/palomet-import-XXXXXX";
    fd = ::mkostemp(name.data(), O_CLOEXEC);
    if (fd >= 0) ::unlink(name.c_str());
  }
  if (fd < 0) return nullptr;
  std::FILE* file = ::fdopen(fd, "w+b");
  if (file == nullptr) ::close(fd);
  return FilePtr(file);
}

// Writes the event stream to memory while it is small, which spares most files a temporary
// file (creating and removing one costs more than a small file's whole replay); once the
// stream passes `memoryLimit` bytes it moves to a temporary file, so that memory stays flat
// for big files.
class LogWriter final : public EventSink {
 public:
  explicit LogWriter(std::size_t memoryLimit)
      : memoryLimit_(memoryLimit), buf_(std::min(memoryLimit, kInitial)) {}

  void Start(int key, bool nil, const Attr* attrs, int attrCount) override {
    Room(3 * kMaxVar + 1);
    Byte('S');
    Var(static_cast<std::uint64_t>(key));
    Byte(nil ? 1 : 0);
    Var(static_cast<std::uint64_t>(attrCount));
    for (int i = 0; i < attrCount; ++i) {
      Room(2 * kMaxVar);
      Var(static_cast<std::uint64_t>(attrs[i].spelling));
      Var(static_cast<std::uint64_t>(attrs[i].ordinal));
      Bytes(attrs[i].value);
    }
  }
  void Text(std::string_view text, bool blank) override {
    Room(1);
    Byte(blank ? 't' : 'T');
    Bytes(text);
  }
  void End() override {
    Room(1);
    Byte('E');
  }

  // Ends the stream; false when it went to a temporary file that could not take it all.
  bool Finish() {
    if (inMemory_) return true;
    Flush();
    if (ok_ && std::fflush(file_.get()) != 0) ok_ = false;
    return ok_;
  }

  // The bytes of the whole stream, wherever they went.
  std::uint64_t Size() const { return flushed_ + used_; }
  // After Finish: the stream in memory, or empty when it is in File().
  std::string_view Memory() const {
    return inMemory_ ? std::string_view(buf_.data(), used_) : std::string_view();
  }
  std::FILE* File() const { return file_.get(); }

 private:
  static constexpr std::size_t kInitial = 64 << 10;
  static constexpr std::size_t kFileBuffer = 1 << 20;
  static constexpr std::size_t kMaxVar = 10;  // bytes of the longest variable-length number

  // Makes room for `n` more bytes in the buffer.
  void Room(std::size_t n) {
    if (used_ + n <= buf_.size()) return;
    if (inMemory_ && used_ + n <= memoryLimit_) {
      buf_.resize(std::min(memoryLimit_, std::max(buf_.size() * 2, used_ + n)));
      return;
    }
    Flush();
    if (buf_.size() < n) buf_.resize(n);
  }
  void Byte(int b) { buf_[used_++] = static_cast<char>(b); }
  void Var(std::uint64_t v) {
    while (v >= 0x80) {
      buf_[used_++] = static_cast<char>((v & 0x7F) | 0x80);
      v >>= 7;
    }
    buf_[used_++] = static_cast<char>(v);
  }
  void Bytes(std::string_view s) {
    Room(kMaxVar);
    Var(s.size());
    const bool fits = inMemory_ ? used_ + s.size() <= memoryLimit_ : s.size() <= buf_.size() / 2;
    if (!fits) {  // a long value goes to the file directly
      Flush();
      Write(s.data(), s.size());
      return;
    }
    Room(s.size());
    std::memcpy(buf_.data() + used_, s.data(), s.size());
    used_ += s.size();
  }
  // Moves what is buffered to the temporary file, making that first when still in memory.
  // Without a temporary file the stream is only counted from then on: the caller reads the
  // XML file again instead.
  void Flush() {
    if (inMemory_) {
      inMemory_ = false;
      file_ = TemporaryFile();
      ok_ = file_ != nullptr;
      if (buf_.size() < kFileBuffer) buf_.resize(kFileBuffer);
    }
    Write(buf_.data(), used_);
    used_ = 0;
  }
  void Write(const char* data, std::size_t n) {
    flushed_ += n;
    if (ok_ && n > 0 && std::fwrite(data, 1, n, file_.get()) != n) ok_ = false;
  }

  std::size_t memoryLimit_;
  std::vector<char> buf_;
  std::size_t used_ = 0;
  std::uint64_t flushed_ = 0;
  bool inMemory_ = true;
  FilePtr file_;
  bool ok_ = true;
};

// Replays a stream LogWriter wrote, from memory or from its temporary file.
class LogReader {
 public:
  LogReader(const LogWriter& log, const NameTable& names)
      : file_(log.File()), memory_(log.Memory()), names_(names) {}

  void Replay(EventSink& sink, const std::string& path) {
    if (file_ != nullptr) {
      if (std::fseek(file_, 0, SEEK_SET) != 0) Corrupt(path);
      own_.resize(1 << 20);
      data_ = own_.data();
      end_ = 0;
    } else {
      data_ = memory_.data();
      end_ = memory_.size();
    }
    pos_ = 0;
    for (;;) {
      if (!Need(1)) break;
      const char tag = data_[pos_++];
      switch (tag) {
        case 'S': {
          const int key = static_cast<int>(Var(path));
          if (!Need(1)) Corrupt(path);
          const bool nil = data_[pos_++] != 0;
          const auto count = static_cast<std::size_t>(Var(path));
          attrs_.resize(count);
          valueEnds_.resize(count);
          scratch_.clear();
          for (std::size_t i = 0; i < count; ++i) {
            attrs_[i].spelling = static_cast<int>(Var(path));
            attrs_[i].key = names_.KeyOf(attrs_[i].spelling);
            attrs_[i].ordinal = static_cast<int>(Var(path));
            scratch_.append(Bytes(path));
            valueEnds_[i] = scratch_.size();
          }
          std::size_t begin = 0;
          for (std::size_t i = 0; i < count; ++i) {
            attrs_[i].value = std::string_view(scratch_).substr(begin, valueEnds_[i] - begin);
            begin = valueEnds_[i];
          }
          sink.Start(key, nil, attrs_.data(), static_cast<int>(count));
          break;
        }
        case 'T':
        case 't': {
          const std::string_view text = Bytes(path);
          sink.Text(text, tag == 't');
          break;
        }
        case 'E':
          sink.End();
          break;
        default:
          Corrupt(path);
      }
    }
  }

 private:
  [[noreturn]] static void Corrupt(const std::string& path) {
    Fail(path, "the temporary copy of its contents could not be read back");
  }

  // Makes `n` bytes available from pos_; false at the end of the stream.
  bool Need(std::size_t n) {
    if (end_ - pos_ >= n) return true;
    if (file_ == nullptr) return false;
    std::memmove(own_.data(), own_.data() + pos_, end_ - pos_);
    end_ -= pos_;
    pos_ = 0;
    if (own_.size() < n) own_.resize(n);
    data_ = own_.data();
    while (end_ < n) {
      const std::size_t got = std::fread(own_.data() + end_, 1, own_.size() - end_, file_);
      if (got == 0) return false;
      end_ += got;
    }
    return true;
  }

  std::uint64_t Var(const std::string& path) {
    std::uint64_t v = 0;
    for (int shift = 0; shift < 64; shift += 7) {
      if (!Need(1)) Corrupt(path);
      const auto b = static_cast<unsigned char>(data_[pos_++]);
      v |= static_cast<std::uint64_t>(b & 0x7F) << shift;
      if ((b & 0x80) == 0) return v;
    }
    Corrupt(path);
  }

  std::string_view Bytes(const std::string& path) {
    const auto n = static_cast<std::size_t>(Var(path));
    if (!Need(n)) Corrupt(path);
    const std::string_view view(data_ + pos_, n);
    pos_ += n;
    return view;
  }

  std::FILE* file_;
  std::string_view memory_;
  const NameTable& names_;
  std::vector<char> own_;       // the window onto the file
  const char* data_ = nullptr;  // the memory stream, or own_
  std::size_t pos_ = 0;
  std::size_t end_ = 0;
  std::vector<Attr> attrs_;
  std::vector<std::size_t> valueEnds_;
  std::string scratch_;
};

// ---------------------------------------------------------------- kinds, over the whole file

// What the layout needs, gathered during the first parse: every distinct element path (the
// names from the document element down) and, in file order, the first time each path, each
// attribute of a path and non-blank text in a path occur. Which tables and columns an event
// adds depends only on its path and the kinds, so these first occurrences, taken in order,
// give the same layout as a walk over every event. When a document has too many distinct
// paths the summary is dropped and the layout walks the events instead.
struct PathSummary {
  struct Path {
    int parent;  // -1 for the document element
    int key;
    int depth;
  };
  struct First {
    enum Type : std::uint8_t { Element, Attribute, Text };
    Type type;
    int path;
    int attrKey = -1;
    int ordinal = 0;
    int spelling = -1;
  };
  std::vector<Path> paths;
  std::vector<First> firsts;
  bool complete = true;
};

class Analyzer : public EventSink {
 public:
  // Passes every event on to `log` as well, when given.
  explicit Analyzer(LogWriter* log) : log_(log) {}

  void Start(int key, bool nil, const Attr* attrs, int attrCount) override {
    if (log_ != nullptr) log_->Start(key, nil, attrs, attrCount);
    Grow(key);
    const bool isRoot = stack_.empty();
    const int path = summary_.complete ? NotePath(isRoot ? -1 : stack_.back().path, key) : -1;
    if (summary_.complete) NoteAttributes(path, attrs, attrCount);
    if (isRoot) {
      rootKey_ = key;
      rootValues_ = attrCount > 0;
    } else {
      const Frame& parent = stack_.back();
      stats_[parent.key].hasChildren = true;
      if (parent.isRoot) {
        rootHasChildren_ = true;
        stats_[key].rootChild = true;
      }
      NameStat& s = stats_[key];
      if (s.lastParentKey != parent.key) {
        s.lastParentKey = parent.key;
        bool known = false;
        for (int p : s.parentKeys) known = known || p == parent.key;
        if (!known) s.parentKeys.push_back(parent.key);
      }
      // Seen twice inside one parent instance? lastParent tells the instance the name was
      // last seen in. When that instance is an ancestor still open, the old value is put back
      // when this parent ends, so that later siblings are checked against it; values of
      // instances already closed never matter again, so the undo list stays as short as the
      // nesting, however many elements the file has.
      if (!s.repeated) {
        if (s.lastParentSerial == parent.serial) {
          s.repeated = true;
        } else {
          const std::size_t d = s.lastParentDepth;
          if (d < stack_.size() && stack_[d].serial == s.lastParentSerial) {
            undo_.push_back({key, s.lastParentSerial, d});
          }
          s.lastParentSerial = parent.serial;
          s.lastParentDepth = stack_.size() - 1;
        }
      }
    }
    if (attrCount > 0) stats_[key].hasValues = true;
    stack_.push_back({key, ++serial_, undo_.size(), isRoot, path});
  }

  void Text(std::string_view text, bool blank) override {
    if (log_ != nullptr) log_->Text(text, blank);
    if (blank || stack_.empty()) return;
    stats_[stack_.back().key].hasValues = true;
    if (stack_.back().isRoot) rootValues_ = true;
    const int path = stack_.back().path;
    if (summary_.complete && !pathText_[static_cast<std::size_t>(path)]) {
      pathText_[static_cast<std::size_t>(path)] = 1;
      summary_.firsts.push_back({PathSummary::First::Text, path});
    }
  }

  const PathSummary& Summary() const { return summary_; }

  void End() override {
    if (log_ != nullptr) log_->End();
    const Frame& f = stack_.back();
    while (undo_.size() > f.undoMark) {
      NameStat& s = stats_[static_cast<std::size_t>(undo_.back().key)];
      s.lastParentSerial = undo_.back().serial;
      s.lastParentDepth = undo_.back().depth;
      undo_.pop_back();
    }
    stack_.pop_back();
  }

  // The kind of every key, and of the document element's own instance.
  void Decide(int keyCount, std::vector<Kind>& kinds, Kind& rootKind) {
    Grow(keyCount - 1);
    std::vector<char> fieldChild(stats_.size(), 0);
    for (const NameStat& s : stats_) {
      if (!s.hasChildren && !s.repeated) {
        for (int p : s.parentKeys) fieldChild[p] = 1;
      }
    }
    kinds.assign(stats_.size(), Kind::None);
    for (std::size_t k = 0; k < stats_.size(); ++k) {
      const NameStat& s = stats_[k];
      if (!s.hasChildren) {
        kinds[k] = s.repeated ? Kind::List : Kind::Field;
      } else {
        kinds[k] = s.hasValues || fieldChild[k] ? Kind::Record : Kind::Container;
      }
    }
    rootKind = Kind::None;
    if (rootKey_ < 0) return;
    bool values = rootValues_;
    for (std::size_t k = 0; k < stats_.size() && !values; ++k) {
      values = stats_[k].rootChild && kinds[k] == Kind::Field;
    }
    if (rootHasChildren_) {
      rootKind = values ? Kind::Record : Kind::Container;
    } else {
      rootKind = values ? Kind::Record : Kind::None;
    }
  }

 private:
  struct NameStat {
    bool hasChildren = false;
    bool repeated = false;
    bool hasValues = false;  // attributes or own text in some instance
    bool rootChild = false;  // a child of the document element's own instance
    std::int64_t lastParentSerial = -1;
    std::size_t lastParentDepth = static_cast<std::size_t>(-1);
    int lastParentKey = -1;
    std::vector<int> parentKeys;
  };
  struct Frame {
    int key;
    std::int64_t serial;
    std::size_t undoMark;
    bool isRoot;
    int path;
  };

  static constexpr std::size_t kMaxFirsts = 200000;

  static std::uint64_t PairKey(int a, int b) {
    return (static_cast<std::uint64_t>(static_cast<std::uint32_t>(a)) << 32) |
           static_cast<std::uint32_t>(b);
  }

  // A few recent (name, path) pairs per path, so that most lookups need no hashing.
  struct Recent {
    int key = -1;
    int value = -1;
  };
  using RecentSet = std::array<Recent, 8>;
  static Recent& Slot(std::vector<RecentSet>& v, int index, int key) {
    if (index >= static_cast<int>(v.size())) v.resize(static_cast<std::size_t>(index) + 1);
    return v[static_cast<std::size_t>(index)][static_cast<std::size_t>(key) & 7];
  }

  // The path of a `key` element inside `parent`, noted when new.
  int NotePath(int parent, int key) {
    Recent& recent = Slot(recentChild_, parent + 1, key);
    if (recent.key == key) return recent.value;
    const auto [it, added] =
        pathIds_.try_emplace(PairKey(parent, key), static_cast<int>(summary_.paths.size()));
    const int path = it->second;
    if (added) {
      const int depth = parent < 0 ? 0 : summary_.paths[static_cast<std::size_t>(parent)].depth + 1;
      summary_.paths.push_back({parent, key, depth});
      pathText_.push_back(0);
      summary_.firsts.push_back({PathSummary::First::Element, path});
    }
    recent = {key, path};
    if (summary_.paths.size() > ImportTuning().maxPaths) GiveUpSummary();
    return path;
  }

  void NoteAttributes(int path, const Attr* attrs, int attrCount) {
    for (int i = 0; i < attrCount && summary_.complete; ++i) {
      const Attr& a = attrs[i];
      bool added;
      if (a.ordinal == 0) {
        Recent& recent = Slot(recentAttr_, path, a.key);
        if (recent.key == a.key) continue;
        added = pathAttrs_.insert(PairKey(path, a.key)).second;
        recent = {a.key, 0};
      } else {  // a second attribute of one local name on an element: rare
        added = pathAttrsMore_.insert({path, a.key, a.ordinal}).second;
      }
      if (added) {
        summary_.firsts.push_back(
            {PathSummary::First::Attribute, path, a.key, a.ordinal, a.spelling});
      }
    }
    if (summary_.firsts.size() > kMaxFirsts) GiveUpSummary();
  }

  void GiveUpSummary() {
    summary_ = PathSummary{};
    summary_.complete = false;
    pathIds_ = {};
    pathAttrs_ = {};
    pathAttrsMore_ = {};
    pathText_ = {};
    recentChild_ = {};
    recentAttr_ = {};
  }

  struct Triple {
    int a, b, c;
    bool operator==(const Triple&) const = default;
  };
  struct TripleHash {
    std::size_t operator()(const Triple& t) const {
      return (static_cast<std::size_t>(t.a) * 0x9E3779B97F4A7C15ull) ^
             (static_cast<std::size_t>(t.b) * 0xC2B2AE3D27D4EB4Full) ^
             static_cast<std::size_t>(t.c);
    }
  };

  LogWriter* log_;
  PathSummary summary_;
  std::unordered_map<std::uint64_t, int> pathIds_;
  std::unordered_set<std::uint64_t> pathAttrs_;
  std::unordered_set<Triple, TripleHash> pathAttrsMore_;
  std::vector<char> pathText_;
  std::vector<RecentSet> recentChild_;  // by parent path + 1
  std::vector<RecentSet> recentAttr_;   // by path

  void Grow(int key) {
    if (key >= static_cast<int>(stats_.size())) stats_.resize(static_cast<std::size_t>(key) + 1);
  }

  std::vector<NameStat> stats_;
  std::vector<Frame> stack_;
  struct Undo {
    int key;
    std::int64_t serial;
    std::size_t depth;
  };
  std::vector<Undo> undo_;
  std::int64_t serial_ = 0;
  int rootKey_ = -1;
  bool rootValues_ = false;
  bool rootHasChildren_ = false;
};

// ---------------------------------------------------------------- tables and columns

struct Source {
  enum Type : std::uint8_t { Link, Attribute, OwnText, FieldText, FieldAttribute, ListText };
  Type type;
  int key;                   // field or element key; attribute key for Attribute
  int parentTable;           // Link only
  std::string attrSpelling;  // the attribute's first spelling met in this table
  int column = -1;           // final position
};

struct SourceKey {
  int a, b, c;
  bool operator==(const SourceKey&) const = default;
};
struct SourceKeyHash {
  std::size_t operator()(const SourceKey& k) const {
    return (static_cast<std::size_t>(k.a) * 0x9E3779B97F4A7C15ull) ^
           (static_cast<std::size_t>(k.b) * 0xC2B2AE3D27D4EB4Full) ^ static_cast<std::size_t>(k.c);
  }
};

// One row being filled, then waiting in its table's batch: each column's bytes in `arena`.
struct RowBuffer {
  std::int64_t row = 0;
  std::vector<std::int64_t> offset;
  std::vector<std::int64_t> length;  // -1 is Null
  std::string arena;

  void Reset(std::int64_t number, int columns) {
    row = number;
    offset.assign(static_cast<std::size_t>(columns), 0);
    length.assign(static_cast<std::size_t>(columns), -1);
    arena.clear();
  }
  void Set(int column, std::string_view value) {
    offset[static_cast<std::size_t>(column)] = static_cast<std::int64_t>(arena.size());
    length[static_cast<std::size_t>(column)] = static_cast<std::int64_t>(value.size());
    arena.append(value);
  }
};

struct Table {
  int key = -1;
  std::string name;
  std::int64_t rows = 0;
  std::vector<Source> sources;  // in order of first appearance
  // Where to find a source: dense by key for the common ones, hashed for the rest.
  std::vector<int> fieldSource;  // by field key
  std::vector<int> attrSource;   // by attribute key, first of its name on the element
  std::vector<int> linkSource;   // by enclosing table
  std::unordered_map<SourceKey, int, SourceKeyHash> otherSource;
  int ownTextSource = -1;
  int listTextSource = -1;
  std::vector<int> sourceColumn;  // source -> column
  int columnCount = 0;
  // Rows go in batches of several per statement, which saves most of SQLite's per-statement
  // cost on narrow rows. Finished rows are swapped into the batch, never copied. Each
  // statement is prepared by whoever inserts first with it, the one of many rows only for a
  // table that proves big (see InsertRows).
  std::string insertHead;         // "INSERT INTO `t` (rowid, `c1`, ...) VALUES "
  sqlitedb::StmtPtr insertBatch;  // batchSize rows
  sqlitedb::StmtPtr insertOne;
  std::int64_t maxRow = 0;    // highest row number inserted so far
  std::int64_t inserted = 0;  // rows inserted so far
  int batchSize = 1;          // rows per statement
  int jobRows = 1;            // rows handed to the inserting thread at a time
  int pending = 0;
  std::vector<RowBuffer> batch;  // grows to jobRows as rows come
};

int& DenseSlot(std::vector<int>& v, int index) {
  if (index >= static_cast<int>(v.size())) v.resize(static_cast<std::size_t>(index) + 1, -1);
  return v[static_cast<std::size_t>(index)];
}

int& OtherSlot(Table& t, const SourceKey& key) {
  return t.otherSource.try_emplace(key, -1).first->second;
}

class Schema {
 public:
  std::vector<Table> tables;  // in creation order
  std::vector<int> tableOfKey;

  // Names tables and columns and creates the tables; their inserts are prepared when first
  // used, after every table of the file exists (a statement prepared before a later CREATE
  // TABLE would be prepared again by SQLite on its first step). Returns the schema version
  // the new tables leave, which the caller keeps with the names once the file is committed.
  std::int64_t Create(sqlite3* db, const std::string& path, const NameTable& names,
                      CatalogueCache& cache) {
    // The caller holds the write lock: no other connection can change the catalogue now.
    if (cache.schemaVersion < 0 || cache.schemaVersion != SchemaVersion(db, path)) {
      cache.foldedNames.clear();
      cache.nextNumber.clear();
      auto stmt = sqlitedb::Prepare(db, "SELECT name FROM sqlite_master", path);
      while (sqlite3_step(stmt.get()) == SQLITE_ROW) {
        cache.foldedNames.insert(
            FoldCase(reinterpret_cast<const char*>(sqlite3_column_text(stmt.get(), 0))));
      }
    }
    // Until this file is committed the names may hold some that will be rolled back.
    cache.schemaVersion = -1;
    std::unordered_set<std::string>& used = cache.foldedNames;
    for (Table& t : tables) {
      std::string base = ElementName(names, t.key);
      if (FoldCase(base).rfind("sqlite_", 0) == 0) base = "_" + base;  // reserved by SQLite
      // The smallest free number: a run of many files with the same elements would otherwise
      // try every number taken so far, for every file.
      std::string name = base;
      std::string folded = FoldCase(base);
      if (used.count(folded) > 0) {
        int& next = cache.nextNumber.try_emplace(folded, 1).first->second;
        for (int n = next;; ++n) {
          std::string suffix = std::to_string(n);
          if (used.count(folded + suffix) == 0) {
            name = base + suffix;
            folded += suffix;
            next = n + 1;
            break;
          }
        }
      }
      used.insert(std::move(folded));
      t.name = std::move(name);
    }
    const int maxColumns = sqlite3_limit(db, SQLITE_LIMIT_COLUMN, -1);
    for (Table& t : tables) {
      NameColumns(t, names, path);
      if (t.columnCount > maxColumns) {
        Fail(path, "the table '" + t.name + "' would need " + std::to_string(t.columnCount) +
                       " columns, more than the " + std::to_string(maxColumns) +
                       " the database allows");
      }
      CreateTable(db, path, t);
    }
    return SchemaVersion(db, path);
  }

  static std::string ElementName(const NameTable& names, int key) {
    return names.SpellingText(names.ElementSpelling(key));
  }

 private:
  void NameColumns(Table& t, const NameTable& names, const std::string& path) {
    std::vector<int> order;
    for (int pass = 0; pass < 2; ++pass) {
      for (int i = 0; i < static_cast<int>(t.sources.size()); ++i) {
        if ((t.sources[i].type == Source::Link) == (pass == 0)) order.push_back(i);
      }
    }
    std::unordered_set<std::string> used;
    t.sourceColumn.assign(t.sources.size(), -1);
    columnNames_.clear();
    for (int i : order) {
      const Source& s = t.sources[i];
      std::string base;
      switch (s.type) {
        case Source::Link:
          base = tables[static_cast<std::size_t>(s.parentTable)].name + "_Row";
          break;
        case Source::Attribute:
          base = s.attrSpelling;
          break;
        case Source::OwnText:
        case Source::ListText:
        case Source::FieldText:
          base = ElementName(names, s.key);
          break;
        case Source::FieldAttribute:
          base = ElementName(names, s.key) + "@" + s.attrSpelling;
          break;
      }
      std::string name = base;
      for (int n = 2; used.count(FoldCase(name)) > 0; ++n) name = base + "_" + std::to_string(n);
      used.insert(FoldCase(name));
      t.sourceColumn[static_cast<std::size_t>(i)] = static_cast<int>(columnNames_.size());
      columnNames_.push_back(std::move(name));
    }
    t.columnCount = static_cast<int>(columnNames_.size());
    // The row number goes into the hidden rowid; pick a spelling of it no column takes.
    rowidName_.clear();
    for (const char* alias : {"rowid", "_rowid_", "oid"}) {
      if (used.count(alias) == 0) {
        rowidName_ = alias;
        break;
      }
    }
    if (rowidName_.empty()) {
      Fail(path, "the table '" + t.name + "' has columns named rowid, _rowid_ and oid");
    }
  }

  void CreateTable(sqlite3* db, const std::string& path, Table& t) {
    std::string sql = "CREATE TABLE ";
    sqlitedb::AppendQuotedName(sql, t.name);
    sql += " (";
    for (std::size_t i = 0; i < columnNames_.size(); ++i) {
      if (i > 0) sql += ", ";
      sqlitedb::AppendQuotedName(sql, columnNames_[i]);
      sql += " TEXT";
    }
    sql += ")";
    if (sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr) != SQLITE_OK) FailDb(db, path);
    // SQLite binds at most 32766 parameters per statement.
    const int perRow = static_cast<int>(columnNames_.size()) + 1;
    // A statement of several rows is a compound select, whose width SQLite limits too.
    t.batchSize = perRow > sqlite3_limit(db, SQLITE_LIMIT_COLUMN, -1)
                      ? 1
                      : std::max(1, std::min(kBatchRows, 32766 / perRow));
    t.jobRows = t.batchSize * 16;
    t.insertHead = "INSERT INTO ";
    sqlitedb::AppendQuotedName(t.insertHead, t.name);
    t.insertHead += " (" + rowidName_;
    for (const std::string& c : columnNames_) {
      t.insertHead += ", ";
      sqlitedb::AppendQuotedName(t.insertHead, c);
    }
    t.insertHead += ") VALUES ";
  }

  static std::int64_t SchemaVersion(sqlite3* db, const std::string& path) {
    auto stmt = sqlitedb::Prepare(db, "PRAGMA schema_version", path);
    if (sqlite3_step(stmt.get()) != SQLITE_ROW) FailDb(db, path);
    return sqlite3_column_int64(stmt.get(), 0);
  }

  static constexpr int kBatchRows = 32;

  std::vector<std::string> columnNames_;
  std::string rowidName_;
};

// ---------------------------------------------------------------- rows

// Rows inserted one at a time into every table before the batches, in batches' worth.
constexpr int kSingleRowsFirst = 2;

// The table's insert of `rows` rows at a time.
sqlitedb::StmtPtr PrepareInsert(sqlite3* db, const std::string& path, const Table& t, int rows) {
  std::string sql = t.insertHead;
  for (int r = 0; r < rows; ++r) {
    sql += r == 0 ? "(?" : ", (?";
    for (int i = 0; i < t.columnCount; ++i) sql += ", ?";
    sql += ")";
  }
  sqlite3_stmt* raw = nullptr;
  if (sqlite3_prepare_v3(db, sql.c_str(), static_cast<int>(sql.size()), SQLITE_PREPARE_PERSISTENT,
                         &raw, nullptr) != SQLITE_OK) {
    FailDb(db, path);
  }
  return sqlitedb::StmtPtr(raw);
}

// Binds and inserts the rows of `count` buffers with the table's statements, preparing them
// on first use. Runs on the thread that holds the connection.
void InsertRows(sqlite3* db, const std::string& path, Table& t, const std::vector<RowBuffer>& rows,
                int count) {
  const int width = t.columnCount + 1;
  for (int first = 0; first < count;) {
    // Preparing the statement of many rows costs about as much as inserting a few dozen rows
    // one at a time: a table starts with single rows and takes batches once it proves big.
    const bool whole = t.batchSize > 1 && count - first >= t.batchSize &&
                       t.inserted >= kSingleRowsFirst * t.batchSize;
    sqlitedb::StmtPtr& stmt = whole ? t.insertBatch : t.insertOne;
    if (!stmt) stmt = PrepareInsert(db, path, t, whole ? t.batchSize : 1);
    sqlite3_stmt* s = stmt.get();
    const int rowsPerStatement = whole ? t.batchSize : 1;
    for (int r = 0; r < rowsPerStatement; ++r) {
      const RowBuffer& row = rows[static_cast<std::size_t>(first + r)];
      const int base = r * width;
      // A row that follows the table's highest so far takes its number from SQLite, which
      // appends without searching the tree; others (inner rows of a self-nested record
      // finish first) give theirs.
      if (row.row == t.maxRow + 1) {
        sqlite3_bind_null(s, base + 1);
      } else {
        sqlite3_bind_int64(s, base + 1, row.row);
      }
      t.maxRow = std::max(t.maxRow, row.row);
      for (int c = 0; c < t.columnCount; ++c) {
        const std::int64_t len = row.length[static_cast<std::size_t>(c)];
        if (len < 0) {
          sqlite3_bind_null(s, base + c + 2);
        } else {
          sqlite3_bind_text64(s, base + c + 2,
                              row.arena.data() + row.offset[static_cast<std::size_t>(c)],
                              static_cast<sqlite3_uint64>(len), SQLITE_STATIC, SQLITE_UTF8);
        }
      }
    }
    const int rc = sqlite3_step(s);
    sqlite3_reset(s);
    if (rc != SQLITE_DONE) FailDb(db, path);
    first += rowsPerStatement;
    t.inserted += rowsPerStatement;
  }
}

// Inserts batches of finished rows on a thread of its own, so that SQLite's work overlaps the
// reading of the events. Between construction and Finish the database connection and the
// tables' statements belong to that thread. Batches waiting are limited in bytes, so memory
// stays flat however fast the reading side is.
class Inserter {
 public:
  Inserter(sqlite3* db, const std::string& path, bool wantThread)
      : db_(db), path_(path), threaded_(wantThread && std::thread::hardware_concurrency() > 1) {
    if (threaded_) {
      try {
        thread_ = std::thread([this] { Run(); });
      } catch (const std::system_error&) {
        threaded_ = false;  // no second thread to be had: insert as the rows come
      }
    }
  }
  ~Inserter() { Stop(); }
  Inserter(const Inserter&) = delete;
  Inserter& operator=(const Inserter&) = delete;

  // Takes the first `count` rows of t's batch; t gets a batch to fill again.
  void Submit(Table& t, int count) {
    if (!threaded_) {
      InsertRows(db_, path_, t, t.batch, count);
      return;
    }
    std::size_t bytes = 0;
    for (int i = 0; i < count; ++i) {
      const RowBuffer& row = t.batch[static_cast<std::size_t>(i)];
      bytes += row.arena.size() + row.length.size() * 16 + 64;
    }
    std::unique_lock<std::mutex> lock(mutex_);
    // A few batches in flight are enough to keep both threads busy; their buffers are reused.
    {
      stagetimes::Timer timer("staging rows: waiting on inserts");
      changed_.wait(lock, [&] {
        return failed_ || queue_.empty() ||
               (queue_.size() < kMaxQueuedJobs && queuedBytes_ + bytes <= kMaxQueuedBytes);
      });
    }
    if (failed_) throw Error(errorNumber_, error_);
    Job job{&t, count, bytes, std::move(t.batch)};
    if (spare_.empty()) {
      t.batch = std::vector<RowBuffer>();
    } else {
      t.batch = std::move(spare_.back());
      spare_.pop_back();
    }
    queuedBytes_ += bytes;
    queue_.push_back(std::move(job));
    changed_.notify_all();
  }

  // Waits until every row is in the database; raises what inserting raised.
  void Finish() {
    Stop();
    if (failed_) throw Error(errorNumber_, error_);
  }

 private:
  static constexpr std::size_t kMaxQueuedBytes = 8u << 20;
  static constexpr std::size_t kMaxQueuedJobs = 4;

  struct Job {
    Table* table;
    int count;
    std::size_t bytes;
    std::vector<RowBuffer> rows;
  };

  void Run() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
      changed_.wait(lock, [&] { return done_ || !queue_.empty(); });
      if (queue_.empty()) return;
      Job job = std::move(queue_.front());
      queue_.pop_front();
      const bool skip = failed_;
      lock.unlock();
      std::string failure;
      long number = errnum::kXmlImport;
      if (!skip) {
        try {
          stagetimes::Timer timer("staging inserts (2nd thread)");
          InsertRows(db_, path_, *job.table, job.rows, job.count);
        } catch (const Error& e) {
          failure = e.what();
          number = e.Number();
        } catch (const std::exception& e) {
          failure = e.what();
        }
      }
      lock.lock();
      if (!failure.empty() && !failed_) {
        failed_ = true;
        error_ = failure;
        errorNumber_ = number;
      }
      queuedBytes_ -= job.bytes;
      spare_.push_back(std::move(job.rows));
      changed_.notify_all();
    }
  }

  void Stop() {
    if (!thread_.joinable()) return;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      done_ = true;
    }
    changed_.notify_all();
    thread_.join();
  }

  sqlite3* db_;
  const std::string& path_;
  bool threaded_;
  std::thread thread_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<Job> queue_;
  std::vector<std::vector<RowBuffer>> spare_;
  std::size_t queuedBytes_ = 0;
  bool done_ = false;
  bool failed_ = false;
  std::string error_;
  long errorNumber_ = errnum::kXmlImport;
};

// Walks the events with the kinds decided. In the layout walk it records tables and sources
// in order of first appearance; in the row walk it fills and inserts the rows.
class Shredder : public EventSink {
 public:
  Shredder(const NameTable& names, const std::vector<Kind>& kinds, Kind rootKind, Schema& schema,
           const std::string& path)
      : names_(names), kinds_(kinds), rootKind_(rootKind), schema_(schema), path_(path) {}

  void Start(int key, bool nil, const Attr* attrs, int attrCount) override {
    const bool isRoot = depth_ == 0;
    const Kind kind = isRoot ? rootKind_ : kinds_[static_cast<std::size_t>(key)];
    const int enclosing = isRoot ? -1 : frames_[depth_ - 1].recordFrame;
    if (depth_ == frames_.size()) frames_.emplace_back();
    const int self = static_cast<int>(depth_);
    Frame& f = frames_[depth_++];
    f.key = key;
    f.kind = kind;
    f.nil = nil;
    f.isRoot = isRoot;
    f.text.clear();
    f.hasText = false;
    f.recordFrame = enclosing;
    switch (kind) {
      case Kind::Record:
      case Kind::List: {
        f.recordFrame = self;
        f.table = TableFor(key);
        Table& t = schema_.tables[static_cast<std::size_t>(f.table)];
        f.row = ++t.rows;
        if (writing()) f.values.Reset(f.row, t.columnCount);
        if (enclosing >= 0 && !frames_[static_cast<std::size_t>(enclosing)].isRoot) {
          const Frame& parent = frames_[static_cast<std::size_t>(enclosing)];
          const int src =
              Find(DenseSlot(t.linkSource, parent.table), t, Source::Link, -1, parent.table, {});
          if (writing()) f.values.Set(Column(t, src), std::to_string(parent.row));
        }
        if (kind == Kind::List) {
          f.textSource = Find(t.listTextSource, t, Source::ListText, key, -1, {});
        }
        for (int i = 0; i < attrCount; ++i) {
          const Attr& a = attrs[i];
          int& slot = a.ordinal == 0 ? DenseSlot(t.attrSource, a.key)
                                     : OtherSlot(t, SourceKey{-1, a.key, a.ordinal});
          const int src =
              Find(slot, t, Source::Attribute, a.key, -1, names_.SpellingText(a.spelling));
          if (writing()) f.values.Set(Column(t, src), a.value);
        }
        break;
      }
      case Kind::Field: {
        if (enclosing < 0) Fail(path_, "a value was found outside every table");
        Frame& owner = frames_[static_cast<std::size_t>(enclosing)];
        Table& t = schema_.tables[static_cast<std::size_t>(owner.table)];
        f.textSource = Find(DenseSlot(t.fieldSource, key), t, Source::FieldText, key, -1, {});
        for (int i = 0; i < attrCount; ++i) {
          const Attr& a = attrs[i];
          int& slot = OtherSlot(t, SourceKey{key, a.key, a.ordinal});
          const int src =
              Find(slot, t, Source::FieldAttribute, key, -1, names_.SpellingText(a.spelling));
          if (writing()) owner.values.Set(Column(t, src), a.value);
        }
        break;
      }
      case Kind::Container:
      case Kind::None:
        break;
    }
  }

  void Text(std::string_view text, bool blank) override {
    Frame& f = frames_[depth_ - 1];
    switch (f.kind) {
      case Kind::Record: {
        if (blank) return;
        Table& t = schema_.tables[static_cast<std::size_t>(f.table)];
        Find(t.ownTextSource, t, Source::OwnText, f.key, -1, {});
        if (!writing()) return;
        // Own text: every non-blank piece, trimmed, joined by one blank.
        std::size_t b = 0;
        std::size_t e = text.size();
        while (b < e && IsBlank(text.substr(b, 1))) ++b;
        while (e > b && IsBlank(text.substr(e - 1, 1))) --e;
        if (f.hasText) f.text.push_back(' ');
        f.text.append(text.substr(b, e - b));
        f.hasText = true;
        break;
      }
      case Kind::List:
        if (writing()) f.text.append(text);
        f.hasText = true;
        break;
      case Kind::Field:
        if (!writing() || f.nil) break;
        if (!f.hasText) {
          // The usual case, one piece: straight into the row.
          Frame& owner = frames_[static_cast<std::size_t>(f.recordFrame)];
          owner.values.Set(Column(TableOf(owner), f.textSource), text);
          f.hasText = true;
        } else {
          RowBuffer& row = frames_[static_cast<std::size_t>(f.recordFrame)].values;
          const int column =
              Column(TableOf(frames_[static_cast<std::size_t>(f.recordFrame)]), f.textSource);
          f.text.assign(row.arena,
                        static_cast<std::size_t>(row.offset[static_cast<std::size_t>(column)]),
                        static_cast<std::size_t>(row.length[static_cast<std::size_t>(column)]));
          f.text.append(text);
          row.Set(column, f.text);
        }
        break;
      case Kind::Container:
      case Kind::None:
        break;
    }
  }

  void End() override {
    Frame& f = frames_[--depth_];
    if (!writing()) return;
    switch (f.kind) {
      case Kind::Record: {
        Table& t = schema_.tables[static_cast<std::size_t>(f.table)];
        if (f.hasText && !f.nil) f.values.Set(Column(t, t.ownTextSource), f.text);
        Insert(t, f);
        break;
      }
      case Kind::List: {
        Table& t = schema_.tables[static_cast<std::size_t>(f.table)];
        if (!f.nil) f.values.Set(Column(t, f.textSource), f.text);
        Insert(t, f);
        break;
      }
      case Kind::Field: {
        if (f.nil || f.hasText) break;
        Frame& owner = frames_[static_cast<std::size_t>(f.recordFrame)];
        owner.values.Set(Column(TableOf(owner), f.textSource), {});  // an empty element
        break;
      }
      case Kind::Container:
      case Kind::None:
        break;
    }
  }

 private:
  struct Frame {
    int key = -1;
    Kind kind = Kind::None;
    bool nil = false;
    bool isRoot = false;
    bool hasText = false;
    int recordFrame = -1;  // nearest record or list frame at or above this one
    int table = -1;
    int textSource = -1;  // field or list: where its text goes
    std::int64_t row = 0;
    std::string text;  // a list's text or a record's own text, gathered
    RowBuffer values;  // record and list frames: the row being filled
  };

  Table& TableOf(const Frame& f) { return schema_.tables[static_cast<std::size_t>(f.table)]; }

  bool writing() const { return inserter_ != nullptr; }

  int TableFor(int key) {
    int& slot = DenseSlot(schema_.tableOfKey, key);
    if (slot < 0) {
      if (writing()) Fail(path_, "its layout changed between two readings");
      slot = static_cast<int>(schema_.tables.size());
      schema_.tables.emplace_back();
      schema_.tables.back().key = key;
    }
    return slot;
  }

  // The source in `slot`, registered now when this is the layout walk.
  int Find(int& slot, Table& t, Source::Type type, int key, int parentTable,
           std::string_view attrSpelling) {
    if (slot >= 0) return slot;
    if (writing()) Fail(path_, "its layout changed between two readings");
    slot = static_cast<int>(t.sources.size());
    t.sources.push_back(Source{type, key, parentTable, std::string(attrSpelling)});
    return slot;
  }

  static int Column(const Table& t, int source) {
    return t.sourceColumn[static_cast<std::size_t>(source)];
  }

  void Insert(Table& t, Frame& f) {
    if (static_cast<std::size_t>(t.pending) == t.batch.size()) t.batch.emplace_back();
    std::swap(f.values, t.batch[static_cast<std::size_t>(t.pending)]);
    if (++t.pending == t.jobRows) Hand(t);
  }

  void Hand(Table& t) {
    if (t.pending == 0) return;
    inserter_->Submit(t, t.pending);
    t.pending = 0;
  }

 public:
  // Lays out tables and sources from the first occurrences the parse noted, in file order:
  // the same registrations, in the same order, as the layout walk over all events.
  void LayOut(const PathSummary& summary) {
    struct PathInfo {
      Kind kind = Kind::None;
      int recordPath = -1;  // nearest record or list path at or above, -1 when none
      int table = -1;
    };
    std::vector<PathInfo> info(summary.paths.size());
    const auto tableAt = [&](int path) -> Table& {
      return schema_.tables[static_cast<std::size_t>(info[static_cast<std::size_t>(path)].table)];
    };
    for (const PathSummary::First& first : summary.firsts) {
      const PathSummary::Path& p = summary.paths[static_cast<std::size_t>(first.path)];
      PathInfo& me = info[static_cast<std::size_t>(first.path)];
      switch (first.type) {
        case PathSummary::First::Element: {
          me.kind = p.depth == 0 ? rootKind_ : kinds_[static_cast<std::size_t>(p.key)];
          const int enclosing =
              p.parent < 0 ? -1 : info[static_cast<std::size_t>(p.parent)].recordPath;
          me.recordPath = enclosing;
          if (me.kind == Kind::Record || me.kind == Kind::List) {
            me.recordPath = first.path;
            me.table = TableFor(p.key);
            Table& t = tableAt(first.path);
            if (enclosing >= 0 && summary.paths[static_cast<std::size_t>(enclosing)].depth != 0) {
              const int parentTable = info[static_cast<std::size_t>(enclosing)].table;
              Find(DenseSlot(t.linkSource, parentTable), t, Source::Link, -1, parentTable, {});
            }
            if (me.kind == Kind::List) Find(t.listTextSource, t, Source::ListText, p.key, -1, {});
          } else if (me.kind == Kind::Field) {
            if (enclosing < 0) Fail(path_, "a value was found outside every table");
            me.table = info[static_cast<std::size_t>(enclosing)].table;
            Table& t = tableAt(first.path);
            Find(DenseSlot(t.fieldSource, p.key), t, Source::FieldText, p.key, -1, {});
          }
          break;
        }
        case PathSummary::First::Attribute: {
          const std::string& spelling = names_.SpellingText(first.spelling);
          if (me.kind == Kind::Record || me.kind == Kind::List) {
            Table& t = tableAt(first.path);
            int& slot = first.ordinal == 0
                            ? DenseSlot(t.attrSource, first.attrKey)
                            : OtherSlot(t, SourceKey{-1, first.attrKey, first.ordinal});
            Find(slot, t, Source::Attribute, first.attrKey, -1, spelling);
          } else if (me.kind == Kind::Field) {
            Table& t = tableAt(first.path);
            int& slot = OtherSlot(t, SourceKey{p.key, first.attrKey, first.ordinal});
            Find(slot, t, Source::FieldAttribute, p.key, -1, spelling);
          }
          break;
        }
        case PathSummary::First::Text:
          if (me.kind == Kind::Record) {
            Table& t = tableAt(first.path);
            Find(t.ownTextSource, t, Source::OwnText, p.key, -1, {});
          }
          break;
      }
    }
  }

  // From now on rows go to `inserter`.
  void StartWriting(Inserter& inserter) {
    inserter_ = &inserter;
    for (Table& t : schema_.tables) t.rows = 0;
  }
  // Hands over the rows still waiting in each table's batch.
  void FlushAll() {
    for (Table& t : schema_.tables) Hand(t);
  }

 private:
  const NameTable& names_;
  const std::vector<Kind>& kinds_;
  Kind rootKind_;
  Schema& schema_;
  const std::string& path_;
  Inserter* inserter_ = nullptr;
  std::vector<Frame> frames_;  // reused, never shrunk: no allocation per element
  std::size_t depth_ = 0;
};

class Transaction {
 public:
  Transaction(sqlite3* db, const std::string& path) : db_(db) {
    const int rc = sqlite3_exec(db, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr);
    // A database another program writes to is no fault of the XML file: name the database.
    if (rc == SQLITE_BUSY || rc == SQLITE_LOCKED) {
      const char* file = sqlite3_db_filename(db, "main");
      throw sqlitedb::MakeError(rc, db, file != nullptr ? file : "");
    }
    if (rc != SQLITE_OK) FailDb(db, path);
  }
  ~Transaction() {
    if (open_) sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
  }
  void Commit(const std::string& path) {
    if (sqlite3_exec(db_, "COMMIT", nullptr, nullptr, nullptr) != SQLITE_OK) FailDb(db_, path);
    open_ = false;
  }

 private:
  sqlite3* db_;
  bool open_ = true;
};

}  // namespace

Tuning& ImportTuning() {
  static Tuning tuning;
  return tuning;
}

void ImportFile(sqlite3* db, const std::string& xmlPath, CatalogueCache& cache) {
  NameTable names;
  // The event stream is replayed from memory or a temporary file; when the stream needed a
  // file and none could be written, the file is parsed again.
  LogWriter writer(ImportTuning().memoryStreamBytes);
  Analyzer analyzer(&writer);
  bool replayLog = false;
  {
    stagetimes::Timer timer("parse");
    ParseXmlFile(xmlPath, names, analyzer);
    replayLog = writer.Finish();
  }

  std::vector<Kind> kinds;
  Kind rootKind = Kind::None;
  analyzer.Decide(names.KeyCount(), kinds, rootKind);

  const auto replay = [&](EventSink& sink) {
    if (replayLog) {
      LogReader(writer, names).Replay(sink, xmlPath);
    } else {
      ParseXmlFile(xmlPath, names, sink);
    }
  };

  Schema schema;
  Shredder shredder(names, kinds, rootKind, schema, xmlPath);
  if (analyzer.Summary().complete && !ImportTuning().layoutByWalk) {
    shredder.LayOut(analyzer.Summary());
  } else {
    replay(shredder);
  }
  if (schema.tables.empty()) return;  // nothing in the file holds a value

  Transaction transaction(db, xmlPath);
  const std::int64_t schemaVersion = schema.Create(db, xmlPath, names, cache);
  {
    // A second thread pays only when there is enough to overlap.
    Inserter inserter(db, xmlPath, writer.Size() >= ImportTuning().threadStreamBytes);
    shredder.StartWriting(inserter);
    {
      stagetimes::Timer timer("staging rows (replay, fill)");
      replay(shredder);
      shredder.FlushAll();
    }
    stagetimes::Timer timer("staging inserts (last wait)");
    inserter.Finish();
  }
  for (Table& t : schema.tables) {
    t.insertBatch.reset();
    t.insertOne.reset();
  }
  transaction.Commit(xmlPath);
  cache.schemaVersion = schemaVersion;
}

}  // namespace palomet::xmlimport
