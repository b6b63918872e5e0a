#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "filelist/DialogIntake.h"
#include "filelist/FileList.h"

namespace palomet {
namespace {

using Texts = std::vector<std::string>;

struct IntakeCase {
  const char* name;
  Texts parts;
  Texts added;
};

void PrintTo(const IntakeCase& c, std::ostream* os) {
  *os << c.name;
}

class DialogIntakeTable : public testing::TestWithParam<IntakeCase> {};

TEST_P(DialogIntakeTable, AppendsAfterTheExistingEntries) {
  PlainFileList list;
  list.Add("/old.xml");
  list.Select(1);
  AddDialogSelection(list, GetParam().parts);
  Texts expected{"/old.xml"};
  expected.insert(expected.end(), GetParam().added.begin(), GetParam().added.end());
  EXPECT_EQ(list.Texts(), expected);
  EXPECT_EQ(list.SelectedIndex(), 1);  // the selection is left alone
}

INSTANTIATE_TEST_SUITE_P(
    FileList, DialogIntakeTable,
    testing::Values(
        IntakeCase{"Cancelled", {}, {}},
        IntakeCase{"OneFileAsReturned", {"/data/My Orders.XML"}, {"/data/My Orders.XML"}},
        IntakeCase{"OneFileAtTheRoot", {"/a.xml"}, {"/a.xml"}},
        IntakeCase{"SeveralInTheDialogsOrder",
                   {"/data", "c.xml", "a.xml", "b.xml"},
                   {"/data/c.xml", "/data/a.xml", "/data/b.xml"}},
        IntakeCase{
            "SeveralAtTheRootNoDoubledSeparator", {"/", "a.xml", "b.xml"}, {"/a.xml", "/b.xml"}},
        IntakeCase{"FolderWithTrailingSeparator",
                   {"/data/", "a.xml", "b.xml"},
                   {"/data/a.xml", "/data/b.xml"}},
        // A network-style folder keeps its leading pair.
        IntakeCase{"LeadingPairKept",
                   {"//server/share", "a.xml", "b.xml"},
                   {"//server/share/a.xml", "//server/share/b.xml"}},
        IntakeCase{"TypedAbsoluteNameKept",
                   {"/data", "a.xml", "/elsewhere/b.xml"},
                   {"/data/a.xml", "/elsewhere/b.xml"}},
        IntakeCase{"AlreadyListedAddedAgain", {"/old.xml"}, {"/old.xml"}},
        IntakeCase{
            "NamesKeptAsGiven", {"/d", "~lock.xml", "x y.TXT"}, {"/d/~lock.xml", "/d/x y.TXT"}}),
    [](const testing::TestParamInfo<IntakeCase>& info) { return info.param.name; });

}  // namespace
}  // namespace palomet
