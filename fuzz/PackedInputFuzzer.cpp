// Feeds arbitrary bytes to the import's input as a file, read as a run reads it: compressed
// or not (gzip, xz, bzip2, zstd, one inside the other), an archive or not (zip, tar, either of
// them compressed), and every XML member the file list would take from it, each read to its
// end through XmlInputs (the archive kept open, the thread that decompresses ahead, the checks
// at every stream's end). Besides crashes, leaks and hangs it stops on broken promises:
//   - a failure is palomet::Error 31550 naming the file or the member;
//   - members read again in the reverse order, through inputs of their own, give the same
//     bytes or the same failure (unless the limit on expansion, counted over the reads of a
//     run, was met on one side only, or the archive holds two members of the name).

#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "office/ArchiveMembers.h"
#include "office/Error.h"
#include "office/XmlInput.h"

namespace {

namespace fs = std::filesystem;
using palomet::Error;

// Members read from one input at most: enough to reach nesting and the archive kept open.
constexpr std::size_t kMaxMembers = 8;

const std::string& InputPath() {
  static const std::string path = [] {
    const fs::path base = fs::exists("/dev/shm") ? fs::path("/dev/shm") : fs::temp_directory_path();
    std::string tmpl = (base / "palomet-fuzz-packed-XXXXXX").string();
    if (::mkdtemp(tmpl.data()) == nullptr) std::abort();
    return tmpl + "/input";
  }();
  return path;
}

[[noreturn]] void Broken(const std::string& what) {
  std::fprintf(stderr, "broken promise: %s\n", what.c_str());
  std::abort();
}

// What reading `name` to its end gives: its size and a hash of its bytes, or the failure.
std::string ReadToEnd(palomet::XmlInputs& inputs, const std::string& name) {
  try {
    const auto input = inputs.Open(name);
    std::uint64_t hash = 14695981039346656037u, size = 0;  // FNV-1a
    char buffer[16384];
    for (std::size_t n; (n = input->Read(buffer, sizeof buffer)) > 0;) {
      for (std::size_t i = 0; i < n; ++i) {
        hash = (hash ^ static_cast<unsigned char>(buffer[i])) * 1099511628211u;
      }
      size += n;
    }
    return std::to_string(size) + " bytes, hash " + std::to_string(hash);
  } catch (const Error& e) {
    if (e.Number() != palomet::errnum::kXmlImport) {
      Broken("error " + std::to_string(e.Number()) + " reading " + name + ": " + e.Description());
    }
    if (e.Description().find("'" + name + "'") == std::string::npos) {
      Broken("error without the name " + name + ": " + e.Description());
    }
    return "failed: " + e.Description();
  }
}

bool PastExpansionLimit(const std::string& result) {
  return result.find("the import's limit against decompression bombs") != std::string::npos;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string& path = InputPath();
  {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    if (!out) std::abort();
  }
  {
    palomet::XmlInputs inputs;
    ReadToEnd(inputs, path);
  }
  const palomet::ArchiveListing listing = palomet::ListArchive(path);
  std::vector<std::string> members = listing.members;
  if (members.size() > kMaxMembers) members.resize(kMaxMembers);
  std::map<std::string, int> times;
  for (const std::string& m : listing.members) ++times[m];

  std::vector<std::string> forward(members.size()), backward(members.size());
  {
    palomet::XmlInputs inputs;
    for (std::size_t i = 0; i < members.size(); ++i) {
      forward[i] = ReadToEnd(inputs, palomet::MemberEntryName(path, members[i]));
    }
  }
  {
    palomet::XmlInputs inputs;
    for (std::size_t i = members.size(); i-- > 0;) {
      backward[i] = ReadToEnd(inputs, palomet::MemberEntryName(path, members[i]));
    }
  }
  for (std::size_t i = 0; i < members.size(); ++i) {
    if (forward[i] == backward[i] || times[members[i]] > 1 || PastExpansionLimit(forward[i]) ||
        PastExpansionLimit(backward[i])) {
      continue;
    }
    Broken("member " + members[i] + " read in another order differs:\n  " + forward[i] + "\n  " +
           backward[i]);
  }
  return 0;
}
