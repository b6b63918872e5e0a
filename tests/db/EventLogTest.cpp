#include <gtest/gtest.h>

#include <unistd.h>

#include <string>
#include <vector>

#include "office/Error.h"

#include "office/db/xmlimport/EventLog.h"

namespace palomet::xmlimport {
namespace {

// Writes every event it gets as one line of text.
class Trace : public EventSink {
 public:
  void Start(int key, bool nil, const Attr* attrs, int attrCount) override {
    out += "S" + std::to_string(key) + (nil ? " nil" : "");
    for (int i = 0; i < attrCount; ++i) {
      out += " " + std::to_string(attrs[i].spelling) + "/" + std::to_string(attrs[i].key) + "/" +
             std::to_string(attrs[i].ordinal) + "=[" + std::string(attrs[i].value) + "]";
    }
    out += "\n";
  }
  void Text(std::string_view text, bool blank) override {
    out += (blank ? "t[" : "T[") + std::string(text) + "]\n";
  }
  void End() override { out += "E\n"; }
  std::string out;
};

// Sends the same events to `sink`: attributes with binary values, an empty text, a value far
// longer than any buffer, and enough elements to pass a small memory limit many times.
void Feed(EventSink& sink, NameTable& names) {
  const int a = names.Spelling("id");
  const int b = names.Spelling("ID");  // same key as "id"
  const std::string big(3 << 20, 'x');
  std::string binary("\0\x80\xff|", 4);
  const Attr two[] = {{a, names.KeyOf(a), 0, "1"}, {b, names.KeyOf(b), 1, binary}};
  sink.Start(0, false, two, 2);
  sink.Text("  ", true);
  for (int i = 0; i < 2000; ++i) {
    const std::string value = "value " + std::to_string(i);
    const Attr one[] = {{a, names.KeyOf(a), 0, value}};
    sink.Start(1 + i % 3, i % 7 == 0, one, 1);
    sink.Text(value, false);
    sink.Text("", false);
    sink.End();
  }
  sink.Text(big, false);
  sink.End();
}

std::string Replayed(std::size_t memoryLimit, bool* inMemory) {
  NameTable names;
  LogWriter writer(memoryLimit);
  Feed(writer, names);
  EXPECT_TRUE(writer.Finish());
  *inMemory = writer.File() == nullptr;
  Trace replay;
  LogReader(writer, names).Replay(replay, "in.xml");
  // A second replay of the same log gives the same events again.
  Trace again;
  LogReader(writer, names).Replay(again, "in.xml");
  EXPECT_EQ(replay.out, again.out);
  return replay.out;
}

TEST(EventLog, ReplaysEveryEventAsWrittenFromMemoryAndFromTheTemporaryFile) {
  NameTable names;
  Trace direct;
  Feed(direct, names);
  bool inMemory = false;
  EXPECT_EQ(Replayed(64 << 20, &inMemory), direct.out);
  EXPECT_TRUE(inMemory);
  EXPECT_EQ(Replayed(100, &inMemory), direct.out);
  EXPECT_FALSE(inMemory);
}

TEST(EventLog, AnEmptyStreamReplaysNothing) {
  NameTable names;
  LogWriter writer(100);
  ASSERT_TRUE(writer.Finish());
  Trace replay;
  LogReader(writer, names).Replay(replay, "in.xml");
  EXPECT_EQ(replay.out, "");
  EXPECT_EQ(writer.Size(), 0u);
}

// The temporary copy cut short (a disk that failed under it): no fault of the XML file's,
// so --keep-going must not leave the file out for it.
TEST(EventLog, ACopyThatCannotBeReadBackIsAFaultOfTheMachine) {
  NameTable names;
  LogWriter writer(100);
  Feed(writer, names);
  ASSERT_TRUE(writer.Finish());
  ASSERT_NE(writer.File(), nullptr);
  ASSERT_EQ(::ftruncate(::fileno(writer.File()), 1000), 0);
  Trace replay;
  try {
    LogReader(writer, names).Replay(replay, "in.xml");
    FAIL() << "replayed a copy cut short";
  } catch (const Error& e) {
    EXPECT_EQ(e.Number(), errnum::kDeviceIo);
    EXPECT_NE(e.Number(), errnum::kXmlImport);
    EXPECT_NE(e.Description().find("in.xml"), std::string::npos) << e.Description();
  }
}

}  // namespace
}  // namespace palomet::xmlimport
