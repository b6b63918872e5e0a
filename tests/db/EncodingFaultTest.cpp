// Files whose bytes do not match their encoding: one error that names the real fault, and not a
// word from the parser on standard error, whichever thread parses.

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "office/Error.h"
#include "office/db/DatabaseApplication.h"
#include "tests/db/DbTestSupport.h"
#include "tests/support/TempDir.h"

namespace palomet {
namespace {

using test::TempDir;

// Sends this process's standard error to a file for as long as it lives.
class StderrCapture {
 public:
  explicit StderrCapture(const std::string& path) : path_(path) {
    std::fflush(stderr);
    saved_ = ::dup(2);
    std::FILE* f = std::fopen(path.c_str(), "w");
    ::dup2(::fileno(f), 2);
    std::fclose(f);
  }
  ~StderrCapture() { Stop(); }
  // What was written meanwhile.
  std::string Text() {
    Stop();
    return test::ReadFile(path_);
  }

 private:
  void Stop() {
    if (saved_ < 0) return;
    std::fflush(stderr);
    ::dup2(saved_, 2);
    ::close(saved_);
    saved_ = -1;
  }
  std::string path_;
  int saved_ = -1;
};

std::string Declared(const std::string& encoding, const std::string& body) {
  return "<?xml version=\"1.0\" encoding=\"" + encoding + "\"?>\n" + body;
}

// A Shift_JIS document of `rows` valid rows (あ is 0x82 0xA0) before `tail`.
std::string LongShiftJis(int rows, const std::string& tail) {
  std::string body = "<r>\n";
  for (int i = 0; i < rows; ++i) body += "<a>\x82\xa0 " + std::to_string(i) + "</a>\n";
  return Declared("Shift_JIS", body + tail);
}

class EncodingFaults : public ::testing::Test {
 protected:
  void SetUp() override {
    db_ = dir_.Write("temp.mdb", "").string();
    app_.OpenCurrentDatabase(db_);
  }
  // Imports `bytes` as bad.xml and returns the error's description ("" if it imported).
  std::string ImportError(const std::string& bytes) {
    try {
      app_.ImportXml(dir_.Write("bad.xml", bytes).string());
    } catch (const Error& e) {
      EXPECT_EQ(e.Number(), errnum::kXmlImport);
      return e.Description();
    }
    return "";
  }

  TempDir dir_;
  std::string db_;
  DatabaseApplication app_;
};

TEST_F(EncodingFaults, NameTheBytesAndWhereTheyStandAndNothingElse) {
  const struct {
    const char* what;
    std::string bytes;
    std::vector<std::string> says;
  } cases[] = {
      {"Shift_JIS with bytes it does not have",
       Declared("Shift_JIS", "<r>\n<a>ok \x82\xa0</a>\n<a>bad \x87\x40\x81\x40 here</a>\n</r>\n"),
       {"line 4, column 8: ", "0x87 0x40", "not valid Shift_JIS"}},
      {"EUC-KR with bytes it does not have",
       Declared("EUC-KR", "<r><a>\xb0\xa1 \xff\xfe</a></r>\n"),
       {"line 2, column 9: ", "0xFF 0xFE", "not valid EUC-KR"}},
      {"bad bytes in an attribute value",
       Declared("Shift_JIS", "<r>\n<a v=\"x\x87\x40\"/></r>"),
       {"line 3, column 8: ", "0x87 0x40", "not valid Shift_JIS"}},
      {"bad bytes after many good rows",
       LongShiftJis(3000, "<a>\x87\x40</a></r>"),
       {"line 3003, column 4: ", "0x87 0x40", "not valid Shift_JIS"}},
      {"bad bytes on the declaration's line",
       "<?xml version=\"1.0\" encoding=\"Shift_JIS\"?><r>\x87\x40</r>",
       {"line 1, column 46: ", "0x87 0x40", "not valid Shift_JIS"}},
      {"UTF-16 cut after an odd number of bytes",
       std::string("\xff\xfe<\0r\0/\0>\0\n\0<", 13),
       {"line 2", "not a whole UTF-16"}},
      {"bad bytes after the document element",
       Declared("Shift_JIS", "<r/>\n\x87\x40"),
       {"line 3", "0x87 0x40", "not valid Shift_JIS"}},
      {"a file ending in the middle of a character",
       Declared("Shift_JIS", "<r><a>x\x82"),
       {"line 2, column 8: ", "not a whole Shift_JIS character"}},
      {"a whole document, then half a character",
       Declared("EUC-KR", "<r><a>x</a></r>\xb0"),
       {"line 2", "not a whole EUC-KR character"}},
      {"a long file ending in the middle of a character",
       LongShiftJis(3000, "</r>\x82"),
       {"line 3003, column 5: ", "not a whole Shift_JIS character"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    StderrCapture err((dir_.Path() / "stderr.txt").string());
    const std::string text = ImportError(c.bytes);
    EXPECT_EQ(err.Text(), "");
    EXPECT_EQ(text.rfind("Cannot import '" + (dir_.Path() / "bad.xml").string() + "': ", 0), 0u)
        << text;
    for (const std::string& part : c.says) EXPECT_NE(text.find(part), std::string::npos) << text;
    EXPECT_EQ(text.find("not well-formed"), std::string::npos) << text;
    EXPECT_EQ(text.find("Premature"), std::string::npos) << text;
    EXPECT_EQ(test::DumpTables(db_), "");
  }
}

TEST_F(EncodingFaults, GoodFilesInTheseEncodingsImportAndAnEarlierFaultStaysTheOneNamed) {
  StderrCapture err((dir_.Path() / "stderr.txt").string());
  const std::string good[] = {
      Declared("Shift_JIS", "<r><a>\x82\xa0</a><a>\x93\xfa</a></r>"),
      Declared("EUC-KR", "<r><a>\xb0\xa1</a><a>\xc7\xd1</a></r>\n"),
      std::string(
          "\xff\xfe<\0r\0>\0<\0a\0>\0\x42\x30<\0/\0a\0>\0<\0a\0>\0\xe5\x65<\0/\0a\0>\0<\0/\0r\0>\0",
          48),
  };
  for (const std::string& bytes : good) app_.ImportXml(dir_.Write("good.xml", bytes).string());
  EXPECT_EQ(test::DumpTables(db_),
            "a: a\n  \xe3\x81\x82\n  \xe6\x97\xa5\n"     // あ 日
            "a1: a\n  \xea\xb0\x80\n  \xed\x95\x9c\n"    // 가 한
            "a2: a\n  \xe3\x81\x82\n  \xe6\x97\xa5\n");  // あ 日
  // The tag is wrong a line before the bytes go bad, within what the converter reads ahead.
  const std::string text = ImportError(Declared("Shift_JIS", "<r>\n<a></b>\n<a>\x87\x40</a></r>"));
  EXPECT_NE(text.find("line 3"), std::string::npos) << text;
  EXPECT_NE(text.find("not well-formed"), std::string::npos) << text;
  EXPECT_EQ(err.Text(), "");
}

TEST_F(EncodingFaults, AParseOnAnotherThreadWritesNothingOnStandardErrorEither) {
  StderrCapture err((dir_.Path() / "stderr.txt").string());
  std::string text;
  std::thread worker([&] {
    DatabaseApplication app;
    app.OpenCurrentDatabase(db_);
    try {
      app.ImportXml(dir_.Write("t.xml", Declared("Shift_JIS", "<r><a>\x87\x40</a></r>")).string());
    } catch (const Error& e) {
      text = e.Description();
    }
  });
  worker.join();
  EXPECT_NE(text.find("0x87 0x40"), std::string::npos) << text;
  EXPECT_EQ(err.Text(), "");
}

}  // namespace
}  // namespace palomet
