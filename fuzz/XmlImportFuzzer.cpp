// Feeds arbitrary bytes to the XML import as a file, into a fresh staging database, and reads
// every staged table back through the staging layer. Besides crashes, leaks and hangs it
// stops on broken promises of the import:
//   - a failure is a palomet::Error naming the file, and leaves no table behind;
//   - a success gives tables whose every row has as many fields as the header;
//   - the import without its temporary event stream (the file parsed again instead) gives
//     the same tables, rows and values, or the same failure.

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "office/Error.h"
#include "office/db/DatabaseApplication.h"
#include "staging/Access1.h"

namespace {

namespace fs = std::filesystem;
using palomet::Error;

class NoBoxes : public palomet::MessageBoxes {
 public:
  palomet::MsgResult Show(const std::string& text, palomet::MsgButtons, palomet::MsgIcon,
                          palomet::MsgResult answer) override {
    std::fprintf(stderr, "unexpected message box: %s\n", text.c_str());
    std::abort();
    return answer;
  }
};

struct Folder {
  fs::path dir;
  std::string xml;
  std::string db;
  std::string tmpOk;
  std::string tmpNone;
};

const Folder& Work() {
  static const Folder folder = [] {
    const fs::path base = fs::exists("/dev/shm") ? fs::path("/dev/shm") : fs::temp_directory_path();
    std::string tmpl = (base / "palomet-fuzz-XXXXXX").string();
    if (::mkdtemp(tmpl.data()) == nullptr) std::abort();
    Folder f;
    f.dir = tmpl;
    f.xml = (f.dir / "input.xml").string();
    f.db = (f.dir / "temp.mdb").string();
    f.tmpOk = f.dir.string();
    f.tmpNone = (f.dir / "no such folder").string();
    return f;
  }();
  return folder;
}

void WriteFile(const std::string& path, const std::uint8_t* data, std::size_t size) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  if (!out) std::abort();
}

[[noreturn]] void Broken(const std::string& what) {
  std::fprintf(stderr, "broken promise: %s\n", what.c_str());
  std::abort();
}

// Every staged table with its rows, as one text; "failed: <description>" for a failure.
std::string ImportAndDump(const Folder& f, const std::string& tmpdir) {
  {
    std::ofstream(f.db, std::ios::binary | std::ios::trunc);  // an empty database
  }
  ::setenv("TMPDIR", tmpdir.c_str(), 1);
  std::string result;
  bool failed = false;
  {
    palomet::DatabaseApplication app;
    app.OpenCurrentDatabase(f.db);
    try {
      app.ImportXml(f.xml);
    } catch (const Error& e) {
      failed = true;
      result = "failed: " + e.Description();
      if (e.Description().find(f.xml) == std::string::npos) Broken("error without file name");
    }
    app.Quit();
  }
  NoBoxes boxes;
  const std::optional<std::vector<std::string>> names = palomet::GetTableNames(f.db, "", boxes);
  if (!names) Broken("the staging database cannot be listed after an import");
  if (failed) {
    if (!names->empty()) Broken("a failed import left table " + names->front());
    return result;
  }
  for (const std::string& name : *names) {
    const std::vector<palomet::RowString> rows = palomet::ReadTableRows(name, f.db, "");
    if (rows.empty()) Broken("table " + name + " has no header row");
    result += name + "\n";
    for (const palomet::RowString& row : rows) {
      if (row.FieldCount() != rows.front().FieldCount()) Broken("ragged rows in " + name);
      result += row.Text();
      result += '\n';
    }
  }
  return result;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const Folder& f = Work();
  WriteFile(f.xml, data, size);
  const std::string streamed = ImportAndDump(f, f.tmpOk);
  const std::string reparsed = ImportAndDump(f, f.tmpNone);
  if (streamed != reparsed) {
    Broken("the import differs without its temporary stream:\n--- streamed\n" + streamed +
           "\n--- parsed again\n" + reparsed);
  }
  return 0;
}
