// The in-memory cells: values at the edges of every kind come back as written whichever
// way they were written (in order, going back, overwritten), the store agrees with a plain
// map under any mix of writes, and a closed workbook window's cells are freed.

#include <gtest/gtest.h>

#include <bit>
#include <cstring>
#include <limits>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "office/xl/Excel.h"
#include "office/xl/MemoryStore.h"
#include "tests/xl/WorkbookWindowFixture.h"

namespace palomet::xl {
namespace {

std::string Repeat(std::string_view s, std::size_t n) {
  std::string out;
  for (std::size_t i = 0; i < n; ++i) out += s;
  return out;
}

// --- values at the edges, through the sheet -------------------------------------------

struct Edge {
  std::string what;
  std::string value;
  bool asText = false;  // SetText rather than SetCell
  CellType type;
  std::string format;
  double number = 0;  // dates: the serial
};

std::vector<Edge> Edges() {
  std::vector<Edge> edges = {
      {"the empty text empties the cell", "", true, CellType::Empty, ""},
      {"one unit", "a", false, CellType::Text, ""},
      {"32,767 one-byte units", std::string(32'767, 'x'), false, CellType::Text, ""},
      {"32,767 three-byte units", Repeat("\xE2\x82\xAC", 32'767), false, CellType::Text, ""},
      {"surrogate pairs up to 32,767 units", Repeat("\xF0\x9F\x98\x80", 16'383) + "x", false,
       CellType::Text, ""},
      {"one surrogate pair", "\xF0\x9D\x84\x9E", false, CellType::Text, ""},
      {"a number kept as text", "007", true, CellType::Text, ""},
      {"a NUL inside a text", std::string("a\0b", 3), false, CellType::Text, ""},
      {"zero", "0", false, CellType::Number, "0"},
      {"the largest plain number", "999999999999999", false, CellType::Number, "0",
       999999999999999},
      {"the most negative plain number", "-999999999999999", false, CellType::Number, "0",
       -999999999999999},
      {"the smallest plain number", "0." + std::string(29, '0') + "1", false, CellType::Number,
       "0." + std::string(30, '0'), 1e-30},
      {"the first date", "1900-03-01", false, CellType::Date, "yyyy-mm-dd", 61},
      {"the last date", "9999-12-31", false, CellType::Date, "yyyy-mm-dd", 2958465},
      {"the first date-time", "1900-03-01T00:00:00", false, CellType::DateTime,
       "yyyy-mm-dd\"T\"hh:mm:ss", 61},
      {"the last date-time", "9999-12-31T23:59:59", false, CellType::DateTime,
       "yyyy-mm-dd\"T\"hh:mm:ss", 2958465 + 86399 / 86400.0},
  };
  // Every number format: 0 to 30 decimals.
  for (int d = 0; d <= detail::kMaxDecimals; ++d) {
    const std::string value =
        d == 0 ? "5" : "0." + std::string(static_cast<std::size_t>(d - 1), '0') + "1";
    edges.push_back({"number of " + std::to_string(d) + " decimals", value, false, CellType::Number,
                     d == 0 ? "0" : "0." + std::string(static_cast<std::size_t>(d), '0'),
                     std::stod(value)});
  }
  return edges;
}

// Each edge goes on a row of its own, at a column that moves so that runs start and end on
// them; the last goes to the sheet's last cell.
struct Place {
  std::int64_t row, col;
};
Place PlaceOf(std::size_t i, std::size_t count) {
  if (i + 1 == count) return {kMaxRows, kMaxColumns};
  return {static_cast<std::int64_t>(i) + 1, static_cast<std::int64_t>(i % 3) + 1};
}

void Write(Worksheet& s, const Edge& e, Place p) {
  if (e.asText) {
    s.SetText(p.row, p.col, e.value);
  } else {
    s.SetCell(p.row, p.col, e.value);
  }
}

void ExpectEdges(const Worksheet& s, const std::vector<Edge>& edges, const std::string& how) {
  std::size_t cells = 0;
  for (std::size_t i = 0; i < edges.size(); ++i) {
    const Edge& e = edges[i];
    const Place p = PlaceOf(i, edges.size());
    const CellValue v = s.Cell(p.row, p.col);
    SCOPED_TRACE(how + ": " + e.what);
    EXPECT_EQ(v.type, e.type);
    EXPECT_EQ(v.NumberFormat(), e.format);
    if (e.type == CellType::Empty) continue;
    ++cells;
    EXPECT_EQ(v.DisplayText(), e.value);
    if (e.type == CellType::Text) {
      EXPECT_EQ(v.text, e.value);
    } else {
      EXPECT_DOUBLE_EQ(v.number, e.number);
    }
  }
  EXPECT_EQ(s.CellCount(), cells) << how;
  EXPECT_EQ(s.UsedRows(), kMaxRows) << how;
  EXPECT_EQ(s.UsedColumns(), kMaxColumns) << how;
  EXPECT_EQ(s.FirstUsedRow(), 2) << how << ": row 1 holds the emptied cell";
  EXPECT_EQ(s.FirstUsedColumn(), 1) << how;
}

TEST(MemoryCells, HoldValuesAtTheEdgesOfEveryKindHoweverTheyAreWritten) {
  const std::vector<Edge> edges = Edges();
  const std::size_t n = edges.size();
  auto app = Application::Create();
  Workbook& wb = app->AddWorkbook();

  Worksheet& inOrder = wb.Sheet(1);
  for (std::size_t i = 0; i < n; ++i) Write(inOrder, edges[i], PlaceOf(i, n));
  ExpectEdges(inOrder, edges, "in order");

  Worksheet& backwards = wb.Sheet(2);
  for (std::size_t i = n; i-- > 0;) Write(backwards, edges[i], PlaceOf(i, n));
  ExpectEdges(backwards, edges, "backwards");

  // Every place first holds something else, then the edge value overwrites it in place.
  Worksheet& overwritten = wb.Sheet(3);
  for (std::size_t i = 0; i < n; ++i) {
    const Place p = PlaceOf(i, n);
    overwritten.SetCell(p.row, p.col, i % 2 ? "12.5" : "placeholder");
  }
  for (std::size_t i = 0; i < n; ++i) Write(overwritten, edges[i], PlaceOf(i, n));
  ExpectEdges(overwritten, edges, "overwritten");
}

// --- numbers at the ends of double, in the store itself ----------------------------------

TEST(MemoryCells, KeepEveryBitOfANumber) {
  using L = std::numeric_limits<double>;
  const double numbers[] = {
      L::max(), L::lowest(), L::min(),     -L::min(),          L::denorm_min(), -L::denorm_min(),
      -0.0,     0.0,         L::epsilon(), 1.0 + L::epsilon(), 2958465.99998843};
  detail::MemoryStore store;
  std::uint32_t row = 0;
  for (const double x : numbers) {
    detail::CellRec rec{};
    rec.row = row++;
    rec.col = 16'383;
    rec.type = static_cast<std::uint8_t>(CellType::Number);
    rec.decimals = detail::kMaxDecimals;
    rec.number = x;
    store.Put(rec, {});
  }
  row = 0;
  for (const double x : numbers) {
    detail::CellRec rec{};
    std::string_view text;
    ASSERT_TRUE(store.Find(row++, 16'383, rec, text));
    EXPECT_EQ(std::bit_cast<std::uint64_t>(rec.number), std::bit_cast<std::uint64_t>(x)) << x;
    EXPECT_EQ(rec.decimals, detail::kMaxDecimals);
  }
  std::size_t seen = 0;
  store.ForEach([&](const detail::CellRec& rec, std::string_view) {
    EXPECT_EQ(std::bit_cast<std::uint64_t>(rec.number),
              std::bit_cast<std::uint64_t>(numbers[seen++]));
  });
  EXPECT_EQ(seen, std::size(numbers));
}

// --- the store against a plain map --------------------------------------------------------

// Rows written in order with gaps, then writes that go back, overwrite and erase, in random
// mixes: after each round the store gives what a map of the last write of each place gives.
TEST(MemoryCells, AgreeWithAMapUnderAnyMixOfWrites) {
  std::mt19937 random(27);
  const auto pick = [&](unsigned n) { return static_cast<unsigned>(random() % n); };
  for (int round = 0; round < 40; ++round) {
    detail::MemoryStore store;
    std::map<std::uint64_t, std::pair<detail::CellRec, std::string>> model;
    const auto put = [&](std::uint32_t row, std::uint16_t col, unsigned kind) {
      detail::CellRec rec{};
      rec.row = row;
      rec.col = col;
      std::string text;
      if (kind == 0) {
        rec.type = static_cast<std::uint8_t>(CellType::Empty);
      } else if (kind == 1) {
        rec.type = static_cast<std::uint8_t>(CellType::Text);
        text = "t" + std::to_string(pick(100000)) + std::string(pick(3) * 1500, 'z');
      } else {
        rec.type = static_cast<std::uint8_t>(kind == 2 ? CellType::Number : CellType::Date);
        rec.decimals = static_cast<std::uint8_t>(kind == 2 ? pick(31) : 0);
        rec.number = pick(1000) - 500.25;
      }
      store.Put(rec, text);
      const std::uint64_t key = detail::Key(row, col);
      if (kind == 0) {
        model.erase(key);
      } else {
        model[key] = {rec, text};
      }
    };
    // A table written row after row, a field now and then left out.
    const unsigned rows = 1 + pick(60), cols = 1 + pick(12);
    for (std::uint32_t r = 0; r < rows; ++r) {
      for (std::uint16_t c = 0; c < cols; ++c) {
        if (pick(5)) put(r, static_cast<std::uint16_t>(c + round % 3), 1 + pick(3));
      }
    }
    // Then anything anywhere, empties included; reads in between put things in order.
    for (int w = pick(80); w > 0; --w) {
      put(pick(rows + 5), static_cast<std::uint16_t>(pick(cols + 5)), pick(4));
      if (pick(10) == 0) store.Count();
    }
    SCOPED_TRACE("round " + std::to_string(round));
    ASSERT_EQ(store.Count(), model.size());
    std::uint32_t minRow = UINT32_MAX, maxRow = 0;
    std::uint16_t minCol = UINT16_MAX, maxCol = 0;
    for (const auto& [key, cell] : model) {
      minRow = std::min(minRow, cell.first.row);
      maxRow = std::max(maxRow, cell.first.row);
      minCol = std::min(minCol, cell.first.col);
      maxCol = std::max(maxCol, cell.first.col);
    }
    EXPECT_EQ(store.UsedRows(), model.empty() ? 0 : std::int64_t{maxRow} + 1);
    EXPECT_EQ(store.UsedColumns(), model.empty() ? 0 : std::int64_t{maxCol} + 1);
    EXPECT_EQ(store.FirstRow(), model.empty() ? 0 : std::int64_t{minRow} + 1);
    EXPECT_EQ(store.FirstColumn(), model.empty() ? 0 : std::int64_t{minCol} + 1);
    for (std::uint32_t r = 0; r < rows + 6; ++r) {
      for (std::uint16_t c = 0; c < cols + 8; ++c) {
        detail::CellRec rec{};
        std::string_view text;
        const auto it = model.find(detail::Key(r, c));
        ASSERT_EQ(store.Find(r, c, rec, text), it != model.end()) << r << "," << c;
        if (it == model.end()) continue;
        EXPECT_EQ(rec.type, it->second.first.type);
        EXPECT_EQ(rec.decimals, it->second.first.decimals);
        if (rec.type == static_cast<std::uint8_t>(CellType::Text)) {
          EXPECT_EQ(text, it->second.second);
        } else {
          EXPECT_EQ(rec.number, it->second.first.number);
        }
      }
    }
    auto next = model.begin();
    store.ForEach([&](const detail::CellRec& rec, std::string_view text) {
      ASSERT_NE(next, model.end());
      EXPECT_EQ(detail::Key(rec), next->first) << "in row-then-column order";
      EXPECT_EQ(text, next->second.second);
      ++next;
    });
    EXPECT_EQ(next, model.end());
  }
}

}  // namespace
}  // namespace palomet::xl

namespace palomet::xlwindow {
namespace {

using FreedCells = WorkbookWindowTest;

// The user closes the window of a workbook the run has let go: its cells go with it, and
// another window's stay.
TEST_F(FreedCells, AClosedWorkbookWindowsCellsAreFreed) {
  const std::size_t before = xl::InMemoryCellBytes();
  const auto open = [] {
    auto app = xl::Application::Create();
    app->SetVisible(true);
    xl::Worksheet& s = app->AddWorkbook().Sheet(1);
    for (int r = 1; r <= 30'000; ++r) {
      for (int c = 1; c <= 5; ++c) s.SetCell(r, c, c == 1 ? std::to_string(r) : "a text");
    }
    QMainWindow* w = Window();
    EXPECT_NE(w, nullptr);
    w->setObjectName("Filled");  // told apart from the next one
    QTest::qWait(250);           // the grid reads what it shows
    return w;
  };
  QMainWindow* first = open();
  const std::size_t one = xl::InMemoryCellBytes();
  EXPECT_GT(one - before, 150'000u * 9);
  QMainWindow* second = open();
  first->setObjectName("WorkbookWindow");
  second->setObjectName("WorkbookWindow");

  prompts->answer = WindowPrompts::SaveAnswer::Discard;
  second->close();
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  EXPECT_EQ(xl::InMemoryCellBytes(), one) << "the other window's cells stay";
  first->close();
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  EXPECT_EQ(xl::InMemoryCellBytes(), before);
}

}  // namespace
}  // namespace palomet::xlwindow
