#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

#include "logs/UserList.h"
#include "support/TempLogs.h"

namespace quorvane {
namespace {

using testing::Rows;
using testing::TableOf;
using Names = std::vector<std::string>;

struct UserListCase {
  const char* label;
  std::vector<std::pair<std::string, std::string>> downloads;  // (Address, Name)
  std::vector<std::pair<std::string, std::string>> uploads;
  Names expected;
  friend void PrintTo(const UserListCase& c, std::ostream* os) { *os << c.label; }
};

class UserListRules : public ::testing::TestWithParam<UserListCase> {};

TEST_P(UserListRules, CollectsTheseNames) {
  const LogTable downloads = TableOf(Rows(GetParam().downloads));
  const LogTable uploads = TableOf(Rows(GetParam().uploads));
  EXPECT_EQ(CollectUserNames(downloads, uploads), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Rules, UserListRules,
    ::testing::Values(
        UserListCase{
            "FirstNameOfEachAddress", {{"1.1.1.1", "ann"}, {"1.1.1.1", "bob"}}, {}, {"ann"}},
        UserListCase{
            "NameFromTwoAddressesOnce", {{"1.1.1.1", "ann"}, {"2.2.2.2", "ann"}}, {}, {"ann"}},
        UserListCase{"NameInBothTablesOnce", {{"1.1.1.1", "ann"}}, {{"9.9.9.9", "ann"}}, {"ann"}},
        UserListCase{
            "AddressesCountPerTable", {{"1.1.1.1", "ann"}}, {{"1.1.1.1", "bob"}}, {"ann", "bob"}},
        UserListCase{
            "CaseMakesTwoEntries", {{"1.1.1.1", "joe"}, {"2.2.2.2", "Joe"}}, {}, {"Joe", "joe"}},
        UserListCase{"EmptyAddressBringsNothing", {{"", "ann"}, {"1.1.1.1", "bob"}}, {}, {"bob"}},
        UserListCase{"EmptyNameIsAnEntry", {{"1.1.1.1", ""}, {"2.2.2.2", ""}}, {}, {""}},
        UserListCase{"AddressWithBlankIsAnotherAddress",
                     {{"1.1.1.1", "ann"}, {"1.1.1.1 ", "bob"}},
                     {},
                     {"ann", "bob"}},
        UserListCase{"EmptyDownloadsUseUploads",
                     {},
                     {{"1.1.1.1", "zed"}, {"2.2.2.2", "amy"}},
                     {"amy", "zed"}},
        UserListCase{"BothEmpty", {}, {}, {}}),
    [](const auto& testCase) { return std::string(testCase.param.label); });

TEST(DisplayOrder, IgnoresCaseOfEveryLetterThenUsesCodePoints) {
  Names names = {"b",
                 "\xC3\x9C"
                 "ber",
                 "A",
                 "\xC3\xBC"
                 "ber",
                 "a",
                 "\xC3\x89mile",
                 "emil",
                 "\xC3\xA9mile",
                 "Zed",
                 "_x",
                 "10",
                 "9"};
  SortForDisplay(names);
  const Names expected = {"10",
                          "9",
                          "_x",
                          "A",
                          "a",
                          "b",
                          "emil",
                          "Zed",
                          "\xC3\x89mile",
                          "\xC3\xA9mile",
                          "\xC3\x9C"
                          "ber",
                          "\xC3\xBC"
                          "ber"};
  EXPECT_EQ(names, expected);
}

TEST(ContainsFolded, FindsThePartWhateverTheCaseOfAnyLetter) {
  const char* odon = "\xC3\x96\x64\xC3\xB6n";  // Ödön
  const std::vector<std::tuple<const char*, const char*, bool>> cases = {
      {"JoeSmith", "esm", true}, {"joe", "JOE", true},   {"joe", "", true},
      {"", "a", false},          {"joe", "joey", false}, {odon, "\xC3\xB6\x44", true},  // öD
      {odon, "od", false}};  // a diaeresis is not folded away
  for (const auto& [text, part, found] : cases)
    EXPECT_EQ(ContainsFolded(text, part), found) << text << " / " << part;
}

TEST(CollectUserNames, ReportsProgressPerTableUpToItsRowCount) {
  std::vector<std::pair<std::string, std::string>> rows;
  for (int i = 0; i < 20000; ++i)
    rows.push_back({"10.0." + std::to_string(i % 300), "u"});
  const LogTable downloads = TableOf(Rows(rows));
  const LogTable uploads = TableOf(Rows({{"1.1.1.1", "v"}}));
  std::vector<std::size_t> downloadSteps, uploadSteps;
  CollectUserNames(
      downloads, uploads, [&](std::size_t n) { downloadSteps.push_back(n); },
      [&](std::size_t n) { uploadSteps.push_back(n); });
  ASSERT_FALSE(downloadSteps.empty());
  EXPECT_TRUE(std::is_sorted(downloadSteps.begin(), downloadSteps.end()));
  EXPECT_EQ(downloadSteps.back(), 20000u);
  EXPECT_GT(downloadSteps.size(), 1u);  // moves during the pass, not only at its end
  EXPECT_EQ(uploadSteps, std::vector<std::size_t>{1});
}

}  // namespace
}  // namespace quorvane
