// Names in references are quoted by the same rule whatever the process's locale: under an
// 8-bit locale the C library takes bytes of UTF-8 sequences for letters.

#include <gtest/gtest.h>

#include <clocale>
#include <cstdlib>
#include <string>

#include "office/xl/Excel.h"
#include "tests/support/TempDir.h"

namespace palomet::xl {
namespace {

// Switches the process to a Latin-1 locale made for the test, and back to "C" afterwards.
class Latin1Locale {
 public:
  Latin1Locale() {
    const std::string made =
        "localedef -i de_DE -f ISO-8859-1 '" + dir_.Str() + "/de_DE.ISO-8859-1' >/dev/null 2>&1";
    if (std::system(made.c_str()) != 0) return;
    ::setenv("LOCPATH", dir_.Str().c_str(), 1);
    active_ = std::setlocale(LC_ALL, "de_DE.ISO-8859-1") != nullptr;
  }
  ~Latin1Locale() {
    std::setlocale(LC_ALL, "C");
    ::unsetenv("LOCPATH");
  }
  Latin1Locale(const Latin1Locale&) = delete;
  Latin1Locale& operator=(const Latin1Locale&) = delete;
  bool Active() const { return active_; }

 private:
  test::TempDir dir_;
  bool active_ = false;
};

TEST(LocaleFree, SheetNamesAreQuotedTheSameUnderAnEightBitLocale) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"Fête", "'Fête'"},  // C3 AA: both bytes letters in Latin-1
      {"ªº", "'ªº'"},     {"Plain_1.x", "Plain_1.x"}, {"A1", "'A1'"}, {"R1C1", "'R1C1'"},
  };
  std::vector<std::string> inC;
  for (const auto& c : cases) inC.push_back(QuotedSheetName(c.first));
  Latin1Locale latin1;
  if (!latin1.Active()) GTEST_SKIP() << "no Latin-1 locale can be made here";
  for (std::size_t i = 0; i < cases.size(); ++i) {
    EXPECT_EQ(QuotedSheetName(cases[i].first), cases[i].second) << cases[i].first;
    EXPECT_EQ(inC[i], cases[i].second) << cases[i].first;
  }
}

}  // namespace
}  // namespace palomet::xl
