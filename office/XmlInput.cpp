#include "office/XmlInput.h"

#include <sys/stat.h>

#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <exception>
#include <map>
#include <mutex>
#include <optional>
#include <thread>
#include <tuple>
#include <utility>
#include <vector>

#include "office/ArchiveMembers.h"
#include "office/Error.h"
#include "office/PackedFile.h"

namespace palomet {

using packed::Fault;
using packed::OpenedFile;
using packed::PackedReader;
using packed::Packing;

namespace {

// Reads a packed file or member for the parser. A compressed stream, or a member big enough
// to be worth it, is decompressed on a thread of its own a few blocks ahead of the parser, so
// that where a second core is free it costs the import about what a plain file does.
class PackedInput final : public XmlInput {
 public:
  PackedInput(std::string name, std::unique_ptr<OpenedFile> file,
              std::unique_ptr<PackedReader> reader, bool readAhead)
      : name_(std::move(name)), file_(std::move(file)), reader_(std::move(reader)) {
    if (!readAhead) return;
    // Only a stream read ahead takes blocks: a run of thousands of small plain files would
    // otherwise allocate and clear them for every file.
    blocks_.resize(kBlocks);
    for (std::size_t i = 0; i < kBlocks; ++i) free_.push_back(i);
    worker_ = std::thread([this] { Decompress(); });
  }
  ~PackedInput() override {
    if (!worker_.joinable()) return;
    {
      const std::lock_guard lock(mutex_);
      stop_ = true;
    }
    changed_.notify_all();
    worker_.join();
  }
  PackedInput(const PackedInput&) = delete;
  PackedInput& operator=(const PackedInput&) = delete;

  std::size_t Read(char* buffer, std::size_t size) override {
    try {
      if (!worker_.joinable()) return reader_->Read(buffer, size);
      std::unique_lock lock(mutex_);
      changed_.wait(lock, [this] { return !ready_.empty() || done_; });
      if (ready_.empty()) {
        if (failure_) std::rethrow_exception(failure_);
        return 0;
      }
      Block& block = blocks_[ready_.front()];
      const std::size_t n = std::min(size, block.size - block.used);
      std::memcpy(buffer, block.data.data() + block.used, n);
      block.used += n;
      if (block.used == block.size) {
        free_.push_back(ready_.front());
        ready_.pop_front();
        changed_.notify_all();
      }
      return n;
    } catch (const Fault& fault) {
      FailImport(name_, fault.what);
    }
  }

 private:
  static constexpr std::size_t kBlocks = 4;
  static constexpr std::size_t kBlockSize = 1 << 16;
  struct Block {
    std::vector<char> data = std::vector<char>(kBlockSize);
    std::size_t size = 0;
    std::size_t used = 0;
  };

  // The worker: fills free blocks until the stream ends, fails or the input is closed.
  void Decompress() {
    for (;;) {
      std::size_t index;
      {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [this] { return stop_ || !free_.empty(); });
        if (stop_) return;
        index = free_.front();
        free_.pop_front();
      }
      Block& block = blocks_[index];
      std::exception_ptr failure;
      std::size_t n = 0;
      try {
        n = reader_->Read(block.data.data(), block.data.size());
      } catch (...) {
        failure = std::current_exception();
      }
      {
        const std::lock_guard lock(mutex_);
        if (failure || n == 0) {
          failure_ = failure;
          done_ = true;
        } else {
          block.size = n;
          block.used = 0;
          ready_.push_back(index);
        }
      }
      changed_.notify_all();
      if (failure || n == 0) return;
    }
  }

  std::string name_;
  std::unique_ptr<OpenedFile> file_;  // null for a member: the archive kept open holds it
  std::unique_ptr<PackedReader> reader_;
  // Between the parser and the worker, under mutex_.
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<Block> blocks_;  // kBlocks of them when reading ahead, else none
  std::deque<std::size_t> free_;
  std::deque<std::size_t> ready_;  // in the stream's order
  bool done_ = false;
  bool stop_ = false;
  std::exception_ptr failure_;
  std::thread worker_;  // last: started once everything it uses exists
};

// Members smaller than this are read on the parser's thread: a thread would cost more.
constexpr std::int64_t kReadAheadFrom = 1 << 20;

}  // namespace

std::string ImportFailure(const std::string& path, const std::string& what) {
  return "Cannot import '" + path + "': " + what + ".";
}

void FailImport(const std::string& path, const std::string& what) {
  throw Error(errnum::kXmlImport, ImportFailure(path, what));
}

struct XmlInputs::Impl {
  // By device and inode: what each packed file has expanded to in this run.
  std::map<std::pair<dev_t, ino_t>, packed::Expansion> expansions;
  // The compressed archives that failed to be read whole in this run, by identity, with the
  // failure.
  std::map<std::tuple<dev_t, ino_t, off_t, std::int64_t>, std::string> failedWhole;
  // The archive kept open, at its entry number `position` (1 for the first; 0 for none).
  std::string archivePath;
  std::unique_ptr<OpenedFile> archiveFile;
  std::unique_ptr<PackedReader> archiveReader;
  int position = 0;

  enum class Found { Member, NoMember, NoArchive };

  packed::Expansion& ExpansionOf(const OpenedFile& file) {
    return expansions[{file.Identity().device, file.Identity().inode}];
  }

  std::unique_ptr<XmlInput> OpenFile(const std::string& name) {
    auto file = std::make_unique<OpenedFile>(name);
    auto reader = std::make_unique<PackedReader>(*file, ExpansionOf(*file), false);
    const bool any = reader->Next();
    if (reader->GetPacking() == Packing::Archive) {
      const ArchiveListing listing = ListArchive(name);
      if (!listing.failure.empty()) throw Fault{listing.failure};
      if (!any) throw Fault{"it is an archive without members"};
      throw Fault{"it is a " + reader->FormatName() + ", not an XML file"};
    }
    const bool compressed = reader->GetPacking() == Packing::Compressed;
    return std::make_unique<PackedInput>(name, std::move(file), std::move(reader), compressed);
  }

  std::unique_ptr<XmlInput> OpenMember(const std::string& name, const std::string& archive,
                                       const std::string& member) {
    // Refused by its name alone, before the archive is even opened.
    if (LeadsOutsideArchive(member)) {
      throw Fault{"the member's name leads outside the archive, and such members are not read"};
    }
    switch (Find(archive, member)) {
      case Found::NoArchive:
        return OpenFile(name);  // a file's own name after all: it says what is wrong
      case Found::NoMember:
        throw Fault{"the archive '" + archive + "' holds no member '" + member + "'"};
      case Found::Member:
        break;
    }
    if (!archiveReader->EntryIsFile()) {
      throw Fault{"in the archive it is a folder or a link, not a file"};
    }
    if (archiveReader->EntryIsEncrypted()) {
      throw Fault{"the member is encrypted, and encrypted members are not read"};
    }
    if (archiveReader->Decompresses()) CheckWhole(archive);
    const std::int64_t size = archiveReader->EntrySize();
    auto reader = std::make_unique<PackedReader>(*archiveReader);
    reader->Next();
    if (reader->GetPacking() == Packing::Archive) {
      throw Fault{"it is itself an archive (" + reader->FormatName() +
                  "), and archives inside archives are not read"};
    }
    const bool big = size < 0 || size >= kReadAheadFrom;
    return std::make_unique<PackedInput>(name, nullptr, std::move(reader),
                                         big || reader->GetPacking() == Packing::Compressed);
  }

  // A compressed archive's streams are checked at their end, and a member lies before it: the
  // whole archive is read once (in the run, unless its listing did so), before any of its
  // members is taken, so that none is imported from damaged data. Raises the failure for every
  // member of a damaged archive.
  void CheckWhole(const std::string& path) {
    const packed::FileIdentity& kept = archiveFile->Identity();
    if (packed::WasReadWhole(kept)) return;
    const auto key = std::make_tuple(kept.device, kept.inode, kept.size, kept.modifiedNs);
    if (const auto it = failedWhole.find(key); it != failedWhole.end()) throw Fault{it->second};
    try {
      const OpenedFile file(path);
      if (!(file.Identity() == kept)) throw Fault{packed::kChanged};
      PackedReader::ReadWhole(file, ExpansionOf(file));
      packed::NoteReadWhole(kept);
    } catch (const Fault& fault) {
      failedWhole.emplace(key, fault.what);
      throw;
    }
  }

  // Opens `path` afresh at its first entry; false, with nothing kept open, when it is no
  // archive.
  bool Reopen(const std::string& path) {
    Close();
    auto file = std::make_unique<OpenedFile>(path);
    auto reader = std::make_unique<PackedReader>(*file, ExpansionOf(*file), true);
    const bool any = reader->Next();
    if (reader->GetPacking() != Packing::Archive) return false;
    archivePath = path;
    archiveFile = std::move(file);
    archiveReader = std::move(reader);
    position = any ? 1 : 0;
    return true;
  }

  bool Advance() {
    if (!archiveReader->Next()) return false;
    ++position;
    return true;
  }

  bool AtMember(const std::string& member) const {
    return position > 0 && archiveReader->EntryName() == member;
  }

  // Moves the archive kept open to the entry `member` of the archive at `path`: onwards from
  // where it is, so that members taken in the archive's order cost one pass, then from the
  // start up to there. A changed or failed archive is opened afresh.
  Found Find(const std::string& path, const std::string& member) {
    packed::FileIdentity now;
    const bool same = archiveReader && archivePath == path && !archiveReader->Failed() &&
                      packed::IdentityOf(path, now) && now == archiveFile->Identity();
    int searched = 0;  // entries 1 to this one are known not to be the member
    // Damage met onwards from where the archive was: the member may still lie before it, and
    // only when it does not is the damage the answer.
    std::optional<Fault> damage;
    if (same) {
      searched = position;
      try {
        while (Advance()) {
          if (AtMember(member)) return Found::Member;
        }
      } catch (const Fault& fault) {
        damage = fault;
      }
    }
    if (!Reopen(path)) return Found::NoArchive;
    if (AtMember(member)) return Found::Member;
    while ((searched == 0 || position < searched) && Advance()) {
      if (AtMember(member)) return Found::Member;
    }
    if (damage) throw *damage;
    return Found::NoMember;
  }

  void Close() {
    archiveReader.reset();
    archiveFile.reset();
    archivePath.clear();
    position = 0;
  }
};

XmlInputs::XmlInputs() : impl_(std::make_unique<Impl>()) {}
XmlInputs::~XmlInputs() = default;

std::unique_ptr<XmlInput> XmlInputs::Open(const std::string& name) {
  try {
    std::string archive, member;
    struct stat info {};
    if (::lstat(name.c_str(), &info) != 0) {
      if (SplitAtArchive(name, archive, member)) return impl_->OpenMember(name, archive, member);
      return impl_->OpenFile(name);
    }
    // A file's own name, colons and all; unless an archive beside it holds a member of the
    // same name, which leaves no way to tell which is meant.
    if (SplitAtArchive(name, archive, member) && !LeadsOutsideArchive(member)) {
      bool holds = false;
      try {
        holds = impl_->Find(archive, member) == Impl::Found::Member;
      } catch (const Fault&) {
        // A damaged archive beside the file holds nothing that could be meant.
      }
      if (holds) {
        throw Fault{"the name is both that of a file and that of a member of the archive '" +
                    archive + "'; rename the file to import it"};
      }
    }
    return impl_->OpenFile(name);
  } catch (const Fault& fault) {
    FailImport(name, fault.what);
  }
}

void XmlInputs::Close() {
  impl_->Close();
  impl_->expansions.clear();
  impl_->failedWhole.clear();
}

}  // namespace palomet
