// A sheet's links: a later link of a cell replaces its earlier one, wherever it was set
// among many, and the links keep the order they were first set in.

#include <gtest/gtest.h>

#include "office/xl/Excel.h"

namespace palomet::xl {
namespace {

TEST(Hyperlinks, ALaterLinkOfACellReplacesItsOwnAmongManyAndTheOrderStays) {
  auto app = Application::Create();
  app->AddWorkbook();
  Worksheet& s = app->ActiveSheet();
  constexpr int kLinks = 50'000;
  for (int i = 1; i <= kLinks; ++i)
    s.SetHyperlink(i, 1 + i % 3, "'Long texts'!A" + std::to_string(i));
  // Same row, other column; and the largest row and column the sheet has.
  s.SetHyperlink(7, 16'384, "far");
  s.SetHyperlink(SheetRows(), 16'384, "last");
  s.SetHyperlink(7, 1 + 7 % 3, "again");
  s.SetHyperlink(kLinks, 1 + kLinks % 3, "end");
  ASSERT_EQ(s.Hyperlinks().size(), std::size_t{kLinks + 2});
  EXPECT_EQ(s.Hyperlinks()[6].location, "again");
  EXPECT_EQ(s.Hyperlinks()[kLinks - 1].location, "end");
  EXPECT_EQ(s.Hyperlinks()[kLinks].location, "far");
  EXPECT_EQ(*s.HyperlinkAt(7, 2), "again");
  EXPECT_EQ(*s.HyperlinkAt(7, 16'384), "far");
  EXPECT_EQ(*s.HyperlinkAt(SheetRows(), 16'384), "last");
  EXPECT_EQ(s.HyperlinkAt(7, 3), nullptr);
  EXPECT_EQ(s.HyperlinkAt(8, 16'384), nullptr);
}

}  // namespace
}  // namespace palomet::xl
