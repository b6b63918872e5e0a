// Saving as .xlsx: what a real reader finds in the file, both storages giving the same
// file, and a save that fails leaving nothing behind.

#include <gtest/gtest.h>

#include <sys/resource.h>
#include <unistd.h>

#include <fstream>
#include <sstream>

#include "office/xl/Excel.h"
#include "tests/support/TempDir.h"
#include "tests/support/XlsxReadBack.h"

namespace palomet::xl {
namespace {

using test::ReadXlsx;
using test::TempDir;

// Fills a workbook the way the import run does: a sheet per table, default sheets gone.
void Fill(Application& app) {
  Workbook& wb = app.AddWorkbook();
  Worksheet& a = app.AddSheet();
  a.SetName("Orders");
  const char* header[] = {"ID", "Price", "Day", "At", "Note"};
  for (int c = 0; c < 5; ++c) a.SetCell(1, c + 1, header[c]);
  a.SetCell(2, 1, "007");
  a.SetCell(2, 2, "12.50");
  a.SetCell(2, 3, "2026-01-05");
  a.SetCell(2, 4, "2026-01-05T18:30:15");
  a.SetCell(2, 5, "_x0041_ stays");
  a.SetCell(3, 1, "-3");
  a.SetCell(3, 2, "0.730");
  a.SetCell(3, 5, " lead\ttab\nline\r\x01 & <b> ÿ 😀");
  a.SetCell(3, 4, std::string("nul\0in", 6));
  a.SetCell(4, 1, std::string(32'754, 'z') + "_x0041_");  // at the limit once escaped
  // Megabytes of text of every length, so replaying a write-through sheet crosses its
  // read buffer in the middle of records and texts.
  Worksheet& big = app.AddSheet();
  for (int r = 1; r <= 5'000; ++r) {
    big.SetCell(r, 1, std::to_string(r));
    big.SetCell(r, 2, std::string(1 + (r * 37) % 997, static_cast<char>('a' + r % 26)));
  }
  Worksheet& b = app.AddSheet();
  b.SetName("Zoë's 東京");
  b.SetCell(1, 1, "1234567890123456789");
  b.SetCell(1, 16'384, "far");
  wb.Sheets("Sheet2").Delete();
  wb.Activate(a);
}

TEST(Save, ARealReaderFindsTheSameCellsTypesFormatsAndSheets) {
  TempDir dir;
  auto app = Application::Create();
  Fill(*app);
  const auto path = dir.Path() / "out.xlsx";
  app->ActiveWorkbook().SaveAs(path);
  EXPECT_TRUE(app->ActiveWorkbook().Saved());

  const auto book = ReadXlsx(path.string());
  ASSERT_TRUE(book.ok) << book.dump;
  ASSERT_EQ(book.sheets.size(), 5u);
  EXPECT_EQ(book.sheets[0].name, "Sheet1");
  EXPECT_EQ(book.sheets[1].name, "Orders");
  EXPECT_EQ(book.sheets[2].name, "Sheet4");
  EXPECT_EQ(book.sheets[3].name, "Zoë's 東京");
  EXPECT_EQ(book.sheets[4].name, "Sheet3");
  EXPECT_EQ(book.active, "Orders");

  std::map<std::pair<int, int>, test::XlsxCell> cells;
  for (const auto& c : book.sheets[1].InOrder()) cells[{c.row, c.col}] = c;
  auto at = [&](int r, int c) { return cells.at({r, c}); };
  EXPECT_EQ(cells.size(), 15u);
  EXPECT_EQ(at(4, 1).text, std::string(32'754, 'z') + "_x0041_");
  EXPECT_EQ(at(1, 1).text, "ID");
  EXPECT_EQ(at(2, 1).kind, "s");
  EXPECT_EQ(at(2, 1).text, "007");
  EXPECT_EQ(at(2, 2).kind, "n");
  EXPECT_EQ(at(2, 2).number, 12.5);
  EXPECT_EQ(at(2, 2).format, "0.00");
  EXPECT_EQ(at(2, 3).kind, "d");
  EXPECT_EQ(at(2, 3).text, "2026-01-05T00:00:00");
  EXPECT_EQ(at(2, 3).format, "yyyy-mm-dd");
  EXPECT_EQ(at(2, 4).text, "2026-01-05T18:30:15");
  EXPECT_EQ(at(2, 4).format, "yyyy-mm-dd\"T\"hh:mm:ss");
  EXPECT_EQ(at(2, 5).text, "_x0041_ stays") << "the text shows as given, not as \"A stays\"";
  EXPECT_EQ(at(3, 1).number, -3);
  EXPECT_EQ(at(3, 1).format, "0");
  EXPECT_EQ(at(3, 2).format, "0.000");
  EXPECT_EQ(at(3, 5).text, " lead\ttab\nline\r\x01 & <b> ÿ 😀");
  EXPECT_EQ(at(3, 4).text, std::string("nul\0in", 6));

  ASSERT_EQ(book.sheets[3].cells.size(), 2u);
  EXPECT_EQ(book.sheets[3].InOrder()[0].text, "1234567890123456789");
  EXPECT_EQ(book.sheets[3].InOrder()[1].col, 16'384);
}

// Every part of the package but the creation time.
std::string PartsOf(const std::filesystem::path& xlsx) {
  const std::string cmd =
      "/usr/bin/python3 -c \"import sys,zipfile; z=zipfile.ZipFile(sys.argv[1]); "
      "[sys.stdout.buffer.write(n.encode()+b'\\n'+z.read(n)) for n in sorted(z.namelist()) "
      "if n != 'docProps/core.xml']\" '" +
      xlsx.string() + "'";
  std::FILE* p = ::popen(cmd.c_str(), "r");
  std::string out;
  char buf[65536];
  for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, p)) > 0;) out.append(buf, n);
  ::pclose(p);
  return out;
}

TEST(Save, WriteThroughSavesTheSameFileAsTheWindowWould) {
  TempDir dir;
  auto memory = Application::Create(CellStorage::InMemory);
  auto through = Application::Create(CellStorage::WriteThrough);
  Fill(*memory);
  Fill(*through);
  memory->ActiveWorkbook().SaveAs(dir.Path() / "memory.xlsx");
  through->ActiveWorkbook().SaveAs(dir.Path() / "through.xlsx");
  const std::string a = PartsOf(dir.Path() / "memory.xlsx");
  EXPECT_GT(a.size(), 1000u);
  EXPECT_EQ(a, PartsOf(dir.Path() / "through.xlsx"));

  // A write-through sheet can be saved again, and goes on taking rows afterwards.
  through->ActiveSheet().SetCell(9, 1, "more");
  memory->ActiveSheet().SetCell(9, 1, "more");
  through->ActiveWorkbook().SaveAs(dir.Path() / "through.xlsx");
  memory->ActiveWorkbook().SaveAs(dir.Path() / "memory.xlsx");
  EXPECT_EQ(PartsOf(dir.Path() / "memory.xlsx"), PartsOf(dir.Path() / "through.xlsx"));
}

TEST(Save, WriteThroughTakesBackwardWritesToo) {
  TempDir dir;
  auto through = Application::Create(CellStorage::WriteThrough);
  through->AddWorkbook();
  Worksheet& s = through->ActiveSheet();
  s.SetCell(3, 1, "three");
  s.SetCell(1, 2, "one");
  s.SetCell(3, 1, "");
  s.SetCell(2, 1, "2.0");
  through->ActiveWorkbook().SaveAs(dir.Path() / "t.xlsx");
  const auto book = ReadXlsx((dir.Path() / "t.xlsx").string());
  ASSERT_TRUE(book.ok) << book.dump;
  const auto cells = book.sheets[0].InOrder();
  ASSERT_EQ(cells.size(), 2u);
  EXPECT_EQ(cells[0].text, "one");
  EXPECT_EQ(cells[1].number, 2.0);
  EXPECT_EQ(cells[1].format, "0.0");
}

TEST(Save, AFailedSaveLeavesTheTargetAsItWasAndNoTemporaryFile) {
  TempDir dir;
  auto app = Application::Create();
  Fill(*app);
  Workbook& wb = app->ActiveWorkbook();

  // Missing folder: the error names the file.
  const auto missing = dir.Path() / "no" / "such.xlsx";
  try {
    wb.SaveAs(missing);
    FAIL();
  } catch (const Error& e) {
    EXPECT_NE(e.Description().find(missing.string()), std::string::npos) << e.Description();
  }
  EXPECT_FALSE(wb.Saved());

  // A folder in the way of the target: refused, the folder untouched, nothing left over.
  std::filesystem::create_directory(dir.Path() / "taken.xlsx");
  dir.Write("taken.xlsx/keep.txt", "keep");
  EXPECT_THROW(wb.SaveAs(dir.Path() / "taken.xlsx"), Error);
  EXPECT_EQ(test::ReadFile(dir.Path() / "taken.xlsx" / "keep.txt"), "keep");

  // An existing file is replaced whole.
  dir.Write("old.xlsx", "old contents");
  wb.SaveAs(dir.Path() / "old.xlsx");
  EXPECT_TRUE(ReadXlsx((dir.Path() / "old.xlsx").string()).ok);

  // An unwritable folder: refused when the temporary file beside the target is made.
  if (::geteuid() != 0) {
    std::filesystem::create_directory(dir.Path() / "ro");
    std::filesystem::permissions(
        dir.Path() / "ro", std::filesystem::perms::owner_read | std::filesystem::perms::owner_exec);
    EXPECT_THROW(wb.SaveAs(dir.Path() / "ro" / "x.xlsx"), Error);
  }

  const std::vector<std::string> left = test::EntryNames(dir.Path());
  const std::vector<std::string> expected =
      ::geteuid() != 0 ? std::vector<std::string>{"old.xlsx", "ro", "taken.xlsx"}
                       : std::vector<std::string>{"old.xlsx", "taken.xlsx"};
  EXPECT_EQ(left, expected);
}

// Write-through sheets share one temporary file: sheets written in turns, a row here and
// a row there, must each get back exactly their own cells, across the shared buffer's flushes.
TEST(Save, WriteThroughSheetsWrittenInTurnsKeepTheirOwnCells) {
  TempDir dir;
  auto memory = Application::Create(CellStorage::InMemory);
  auto through = Application::Create(CellStorage::WriteThrough);
  for (Application* app : {memory.get(), through.get()}) {
    app->AddWorkbook();
    std::vector<Worksheet*> sheets;
    for (int i = 0; i < 3; ++i) sheets.push_back(&app->AddSheet());
    for (int r = 1; r <= 2'000; ++r) {
      for (int i = 0; i < 3; ++i) {
        sheets[i]->SetCell(r, 1, std::to_string(r * 10 + i));
        // Long texts now and then, so that records straddle the shared buffer's flushes.
        sheets[i]->SetCell(r, 2, std::string(r % 50 == 0 ? 30'000 : 1 + r % 7, 'a' + i));
      }
    }
  }
  memory->ActiveWorkbook().SaveAs(dir.Path() / "memory.xlsx");
  through->ActiveWorkbook().SaveAs(dir.Path() / "through.xlsx");
  EXPECT_EQ(PartsOf(dir.Path() / "memory.xlsx"), PartsOf(dir.Path() / "through.xlsx"));
}

// Saving opens one file whatever the number of sheets, and leaves the process's limits
// alone: a workbook of many more sheets than a low limit of open files saves under it.
TEST(Save, ManySheetsUnderALowOpenFileLimit) {
  TempDir dir;
  auto app = Application::Create(CellStorage::WriteThrough);
  app->AddWorkbook();
  for (int i = 0; i < 300; ++i) app->AddSheet().SetCell(1, 1, std::to_string(i));
  rlimit saved{};
  ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &saved), 0);
  rlimit low = saved;
  low.rlim_cur = 64;
  ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &low), 0);
  EXPECT_NO_THROW(app->ActiveWorkbook().SaveAs(dir.Path() / "many.xlsx"));
  rlimit after{};
  ::getrlimit(RLIMIT_NOFILE, &after);
  ::setrlimit(RLIMIT_NOFILE, &saved);
  EXPECT_EQ(after.rlim_cur, 64u);
  const auto book = ReadXlsx((dir.Path() / "many.xlsx").string());
  ASSERT_TRUE(book.ok) << book.dump;
  ASSERT_EQ(book.sheets.size(), 303u);
  EXPECT_EQ(book.sheets[300].cells.begin()->second.number, 299);
  EXPECT_EQ(test::EntryNames(dir.Path()), std::vector<std::string>{"many.xlsx"});
}

}  // namespace
}  // namespace palomet::xl
