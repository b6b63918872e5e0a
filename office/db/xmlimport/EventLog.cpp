#include "office/db/xmlimport/EventLog.h"

#include <algorithm>
#include <cstring>

#include "office/Error.h"
#include "office/XmlInput.h"

namespace palomet::xmlimport {

LogWriter::LogWriter(std::size_t memoryLimit)
    : memoryLimit_(memoryLimit), buf_(std::min(memoryLimit, kInitial)) {}

void LogWriter::Start(int key, bool nil, const Attr* attrs, int attrCount) {
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

void LogWriter::Text(std::string_view text, bool blank) {
  Room(1);
  Byte(blank ? 't' : 'T');
  Bytes(text);
}

void LogWriter::End() {
  Room(1);
  Byte('E');
}

bool LogWriter::Finish() {
  if (inMemory_) return true;
  Flush();
  if (ok_ && std::fflush(file_.get()) != 0) ok_ = false;
  return ok_;
}

// Makes room for `n` more bytes in the buffer.
void LogWriter::Room(std::size_t n) {
  if (used_ + n <= buf_.size()) return;
  if (inMemory_ && used_ + n <= memoryLimit_) {
    buf_.resize(std::min(memoryLimit_, std::max(buf_.size() * 2, used_ + n)));
    return;
  }
  Flush();
  if (buf_.size() < n) buf_.resize(n);
}

void LogWriter::Var(std::uint64_t v) {
  while (v >= 0x80) {
    buf_[used_++] = static_cast<char>((v & 0x7F) | 0x80);
    v >>= 7;
  }
  buf_[used_++] = static_cast<char>(v);
}

void LogWriter::Bytes(std::string_view s) {
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
void LogWriter::Flush() {
  if (inMemory_) {
    inMemory_ = false;
    file_ = UnlinkedTemporaryFile();
    ok_ = file_ != nullptr;
    if (buf_.size() < kFileBuffer) buf_.resize(kFileBuffer);
  }
  Write(buf_.data(), used_);
  used_ = 0;
}

void LogWriter::Write(const char* data, std::size_t n) {
  flushed_ += n;
  if (ok_ && n > 0 && std::fwrite(data, 1, n, file_.get()) != n) ok_ = false;
}

void LogReader::Replay(EventSink& sink, const std::string& path) {
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

void LogReader::Corrupt(const std::string& path) {
  // The copy is the program's own, in $TMPDIR: reading it back fails for the machine's
  // reasons (a full or failing disk), never for the file's.
  throw Error(errnum::kDeviceIo,
              ImportFailure(path, "the temporary copy of its contents could not be read back"));
}

// Makes `n` bytes available from pos_; false at the end of the stream.
bool LogReader::Need(std::size_t n) {
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

std::uint64_t LogReader::Var(const std::string& path) {
  std::uint64_t v = 0;
  for (int shift = 0; shift < 64; shift += 7) {
    if (!Need(1)) Corrupt(path);
    const auto b = static_cast<unsigned char>(data_[pos_++]);
    v |= static_cast<std::uint64_t>(b & 0x7F) << shift;
    if ((b & 0x80) == 0) return v;
  }
  Corrupt(path);
}

std::string_view LogReader::Bytes(const std::string& path) {
  const auto n = static_cast<std::size_t>(Var(path));
  if (!Need(n)) Corrupt(path);
  const std::string_view view(data_ + pos_, n);
  pos_ += n;
  return view;
}

}  // namespace palomet::xmlimport
