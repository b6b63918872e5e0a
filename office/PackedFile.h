#pragma once

// Private to office/: a file read through libarchive, whatever its packing. A compressed file
// (gzip, xz, bzip2, zstd) reads as the one stream it holds, an archive (zip, tar, either of
// them compressed) as its members one after the other, a plain file as itself. Compressed
// streams are decompressed by Decompress.h before libarchive sees them. Nothing is ever
// unpacked to disk: data only goes to the caller's buffer. libarchive's errors are translated
// into plain words here and nowhere else.

#include <sys/types.h>

#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "office/ArchiveMembers.h"
#include "office/Decompress.h"

struct archive;
struct archive_entry;

namespace palomet::packed {

// The failure of a file whose size or modification time changed between its opening and the
// end of its reading, as archivers report it.
inline constexpr const char* kChanged = "the file changed while it was read";

// How a file's content is packed, known once its first entry has been read.
enum class Packing { Plain, Compressed, Archive };

// What one packed file took in and gave out, summed over every reading of it in a run, so
// that reading it again and again (member by member) cannot get round the expansion limit.
struct Expansion {
  std::uint64_t packed = 0;  // bytes read from the file
  // Bytes given out by the readers of the file itself and by those of its members' data
  // (a compressed member of a zip is decompressed twice over).
  std::uint64_t unpacked[2] = {0, 0};
};

// The identity of a file on its device, with what tells a changed file from the same one.
struct FileIdentity {
  dev_t device = 0;
  ino_t inode = 0;
  off_t size = 0;
  std::int64_t modifiedNs = 0;
  bool operator==(const FileIdentity&) const = default;
};

// A regular file opened for reading, without blocking on a pipe or a device; the reasons
// in `Fault::what` are those of the XML import ("the file cannot be read (...)", "it is a
// folder, not a file", "the file is empty").
class OpenedFile {
 public:
  explicit OpenedFile(const std::string& path);  // raises Fault
  ~OpenedFile();
  OpenedFile(const OpenedFile&) = delete;
  OpenedFile& operator=(const OpenedFile&) = delete;
  int Descriptor() const { return fd_; }
  const FileIdentity& Identity() const { return identity_; }

 private:
  int fd_ = -1;
  FileIdentity identity_;
};

// The identity of the file at `path` now (links followed); false when it cannot be told.
bool IdentityOf(const std::string& path, FileIdentity& identity);

// The compressed archives read whole in this process, every stream to its end and checked,
// by identity (a changed file is another one): an archive listed whole is not read whole again
// before its members are imported.
void NoteReadWhole(const FileIdentity& identity);
bool WasReadWhole(const FileIdentity& identity);

// One libarchive reader, over an opened file or over the data of another reader's current
// entry. Raises Fault for damaged data, read errors and the expansion limit; once it has
// raised, it only raises again.
class PackedReader {
 public:
  // Reads `file` (kept open by the caller) and counts its expansion in `expansion`. With
  // `asArchive` a zip is read by its central directory, found by seeking to the file's end;
  // without, a zip is only recognised by its first bytes, which costs a plain file nothing.
  PackedReader(const OpenedFile& file, Expansion& expansion, bool asArchive);
  // Reads the data of `outer`'s current entry (`outer` must outlive this reader); what it
  // gives out counts in the expansion of `outer`'s file.
  explicit PackedReader(PackedReader& outer);
  ~PackedReader();
  PackedReader(const PackedReader&) = delete;
  PackedReader& operator=(const PackedReader&) = delete;

  // Moves to the next entry; false after the last one. A plain or compressed file has one.
  bool Next();
  // After the first Next(): how the content is packed, and its format in words ("gzip",
  // "ZIP archive", "tar archive (xz)").
  Packing GetPacking() const { return packing_; }
  const std::string& FormatName() const { return formatName_; }

  // The current entry: its name as the archive gives it (UTF-8 where the archive says how
  // to read it), whether it is a file, and whether its data is encrypted.
  const std::string& EntryName() const { return entryName_; }
  bool EntryIsFile() const;
  bool EntryIsEncrypted() const;
  // The size the current entry's data says it has, or -1 when it does not say.
  std::int64_t EntrySize() const;

  // Reads up to `size` bytes of the current entry's data into `buffer`; 0 at its end.
  std::size_t Read(char* buffer, std::size_t size);

  // Whether the reader has failed and can only fail again.
  bool Failed() const { return failed_; }

  // Whether the data under libarchive is decompressed first (a compressed file or tar).
  bool Decompresses() const { return !layers_.empty(); }

  // Raises Fault(kChanged) when the file read (the outermost reader's) no longer has the size
  // and modification time it had when it was opened.
  void CheckUnchanged() const;

  // Reads what libarchive left of the data to its end (a tar ends before its compressed
  // stream does), so that every stream has been read whole and checked. Raises Fault as Read
  // does; the reader is spent afterwards.
  void ReadRest();

  // Reads the whole of `file` as a reader of it would, every compressed stream to its end and
  // checked, without libarchive, and counts what it decompresses in `expansion`. Raises Fault
  // as Read does.
  static void ReadWhole(const OpenedFile& file, Expansion& expansion);

 private:
  struct WholeTag {};
  PackedReader(const OpenedFile& file, Expansion& expansion, WholeTag);
  static long OnRead(struct archive*, void* self, const void** buffer);
  static std::int64_t OnSeek(struct archive*, void* self, std::int64_t offset, int whence);
  static std::int64_t OnSkip(struct archive*, void* self, std::int64_t request);
  void Start(bool asArchive);
  // Sets up the layers of decompression, as many as the data's first bytes call for.
  void Layer(std::size_t block);
  // The bytes of the file, or of the outer reader's entry, as they are.
  std::size_t ReadRaw(char* buffer, std::size_t size);
  bool Expanded();
  [[noreturn]] void Fail();
  [[noreturn]] void Fail(std::string what);

  struct ArchiveFree {
    void operator()(struct archive* a) const;
  };
  // Owned so that a reader whose constructor raises still frees it.
  std::unique_ptr<struct archive, ArchiveFree> archive_;
  struct archive* a_ = nullptr;  // archive_, for the C calls
  struct archive_entry* entry_ = nullptr;
  int fd_ = -1;                    // the file read, or -1 over another reader
  const OpenedFile* file_ = nullptr;  // the file read, or null over another reader
  PackedReader* outer_ = nullptr;  // the reader whose entry is read, or null
  Expansion* expansion_ = nullptr;
  std::vector<char> buffer_;
  // What libarchive reads: the raw bytes, through a decompressor per layer of compression.
  class Peeked;
  std::vector<std::unique_ptr<Peeked>> peeked_;
  std::vector<std::unique_ptr<Decompressor>> layers_;
  ReadFn top_;
  int depth_ = 0;               // 0 over a file, 1 over another reader
  std::uint64_t given_ = 0;     // what Read gave out
  std::uint64_t produced_ = 0;  // what libarchive was given
  std::uint64_t decoded_ = 0;   // what the decompressors gave, over all layers
  std::uint64_t reported_ = 0;  // what this reader has added to the expansion
  Packing packing_ = Packing::Plain;
  std::string formatName_;
  std::string entryName_;
  std::string fault_;  // a failure found inside a callback, said in our own words
  std::exception_ptr exception_;  // a failure of the machine met inside a callback
  bool failed_ = false;
  bool known_ = false;  // whether packing_ is settled
  int entries_ = 0;
};

namespace testing {
// Called after every block read from a file, on the thread that reads it: lets a test change
// a file while it is read. Empty (the default) for none.
void SetAfterFileRead(std::function<void()> hook);
}  // namespace testing

}  // namespace palomet::packed
