#include <gtest/gtest.h>

#include "logs/LogTable.h"
#include "logs/UserList.h"
#include "support/TempLogs.h"

namespace quorvane {
namespace {

using testing::Rows;
using testing::TableOf;

// Rows behind a removed row move up, with their dates; a row past the end is no row.
TEST(RemoveRow, RowsBehindMoveUpWithTheirDates) {
  LogTable table = TableOf({{"2026-03-01", "a", "c", "one", "f1"},
                            {"2026-03-02", "b", "c", "two", "f2"},
                            {"2026-03-03", "c", "c", "three", "f3"}});
  table.ReadDates(DateOrder::Detect);
  table.RemoveRow(1);
  table.RemoveRow(7);
  ASSERT_EQ(table.RowCount(), 2u);
  EXPECT_EQ(table.CellText(1, Column::Address) + table.CellText(1, Column::FileName) +
                std::string(table.Name(1)) + FormatTimestamp(table.Date(1)),
            "cf3three2026-03-03 00:00:00");
  table.RemoveRow(0);
  table.RemoveRow(0);
  table.RemoveRow(0);
  EXPECT_TRUE(table.Empty());
}

// Every Name cell equal to the old name, exactly, in both tables; only the Name column changes.
// Exactly the Name cells equal to the old name (not a trailing blank's) are rewritten and
// counted, to a name new to the table, in Unicode text whatever the file's encoding.
TEST(RenameUser, RewritesExactMatchesAndCountsThem) {
  LogTable table = TableOf({{"d", "1", "c", "M\xFCller", "f"}, {"d", "2", "c", "M\xFCller ", "f"}});
  ASSERT_EQ(table.TextEncoding(), Encoding::Windows1252);
  EXPECT_EQ(table.RenameUser("M\xC3\xBCller", "\xE5\xB1\xB1"), 1u);
  EXPECT_EQ(table.RenameUser("nobody", "x"), 0u);
  EXPECT_EQ(table.CellText(0, Column::Name) + '|' + table.CellText(1, Column::Name) + '|' +
                table.CellText(0, Column::Address),
            "\xE5\xB1\xB1|M\xC3\xBCller |1");
}

TEST(SelectRows, SharesCellsInTheGivenOrderAndRenamesStayApart) {
  LogTable table = TableOf({{"2026-03-01", "a", "c", "one", "f1"},
                            {"2026-03-02", "b", "c", "two", "f2"},
                            {"2026-03-03", "c", "c", "three", "f3"}});
  table.ReadDates(DateOrder::Detect);
  LogTable picked = table.SelectRows({2, 0, 2});
  ASSERT_EQ(picked.RowCount(), 3u);
  EXPECT_EQ(picked.CellText(0, Column::Address) + picked.CellText(1, Column::FileName) +
                FormatTimestamp(picked.Date(1)),
            "cf12026-03-01 00:00:00");
  EXPECT_EQ(picked.AddressId(2), table.AddressId(2));
  EXPECT_EQ(table.RenameUser("three", "new name"), 1u);  // a name new to the shared pool
  EXPECT_EQ(picked.Name(0), "three");
  EXPECT_FALSE(picked.FindName("new name"));
  EXPECT_EQ(picked.RenameUser("one", "uno"), 1u);
  EXPECT_EQ(table.Name(0), "one");
  EXPECT_THROW(table.SelectRows({3}), std::out_of_range);
}

using testing::Rows;
using testing::TableOf;
using Names = std::vector<std::string>;

struct UserListCase {
  const char* label;
  std::vector<std::pair<std::string, std::string>> downloads;  // (Address, Name)
  std::vector<std::pair<std::string, std::string>> uploads;
  Names expected;
};

TEST(UserList, CollectsTheFirstNameOfEachAddressOfEachLogOnce) {
  const UserListCase cases[] = {
      {"FirstNameOfEachAddress", {{"1.1.1.1", "ann"}, {"1.1.1.1", "bob"}}, {}, {"ann"}},
      {"NameFromTwoAddressesOnce", {{"1.1.1.1", "ann"}, {"2.2.2.2", "ann"}}, {}, {"ann"}},
      {"NameInBothTablesOnce", {{"1.1.1.1", "ann"}}, {{"9.9.9.9", "ann"}}, {"ann"}},
      {"AddressesCountPerTable", {{"1.1.1.1", "ann"}}, {{"1.1.1.1", "bob"}}, {"ann", "bob"}},
      {"CaseMakesTwoEntries", {{"1.1.1.1", "joe"}, {"2.2.2.2", "Joe"}}, {}, {"Joe", "joe"}},
      {"EmptyAddressBringsNothing", {{"", "ann"}, {"1.1.1.1", "bob"}}, {}, {"bob"}},
      {"EmptyNameIsAnEntry", {{"1.1.1.1", ""}, {"2.2.2.2", ""}}, {}, {""}},
      {"AddressWithBlankIsAnotherAddress",
       {{"1.1.1.1", "ann"}, {"1.1.1.1 ", "bob"}},
       {},
       {"ann", "bob"}},
      {"EmptyDownloadsUseUploads", {}, {{"1.1.1.1", "zed"}, {"2.2.2.2", "amy"}}, {"amy", "zed"}},
      {"UploadNameTheDownloadsHadButDidNotList",
       {{"1.1.1.1", "ann"}, {"1.1.1.1", "bob"}},
       {{"2.2.2.2", "bob"}},
       {"ann", "bob"}},
      // Alike in their first eight bytes and in the hashes' low halves, which the pools' slots
      // compare first: the whole texts still differ.
      {"NamesThatCollideButInTheirLastBytes",
       {{"1", "abcdefgh14242"}, {"2", "abcdefgh47420"}},
       {},
       {"abcdefgh14242", "abcdefgh47420"}},
      {"BothEmpty", {}, {}, {}}};
  for (const UserListCase& c : cases)
    EXPECT_EQ(CollectUserNames(TableOf(Rows(c.downloads)), TableOf(Rows(c.uploads))), c.expected)
        << c.label;
}

// The users of the whole-population views: every Name on a row of either table, whatever its
// Address, once, in display order; after renames and removals only the names still on a row.
TEST(EveryUser, EveryNameOnARowCountsWhateverItsAddress) {
  const UserListCase cases[] = {
      {"TwoNamesOnOneAddress", {{"1.1.1.1", "bob"}, {"1.1.1.1", "ann"}}, {}, {"ann", "bob"}},
      {"SharedAddressInBothTables",
       {{"1.1.1.1", "ann"}},
       {{"1.1.1.1", "cat"}, {"1.1.1.1", "ann"}},
       {"ann", "cat"}},
      {"EmptyAddress", {{"", "ann"}}, {{"", "Bob"}}, {"ann", "Bob"}},
      {"EmptyName", {{"1.1.1.1", "zed"}, {"1.1.1.1", ""}}, {}, {"", "zed"}},
      {"UploadsOnlyBehindAnAddressUsedFirst",
       {{"1.1.1.1", "wren"}},
       {{"1.1.1.1", "wren"}, {"1.1.1.1", "sysop"}},
       {"sysop", "wren"}},
      {"BothEmpty", {}, {}, {}}};
  for (const UserListCase& c : cases) {
    EXPECT_EQ(CollectEveryUserName(TableOf(Rows(c.downloads)), TableOf(Rows(c.uploads))),
              c.expected)
        << c.label;
  }
  LogTable downloads = TableOf(Rows({{"1", "ann"}, {"1", "bob"}}));
  LogTable uploads = TableOf(Rows({{"2", "cat"}, {"2", "dan"}}));
  downloads.RenameUser("ann", "dan");
  uploads.RemoveRow(1);
  EXPECT_EQ(CollectEveryUserName(downloads, uploads), (Names{"bob", "cat", "dan"}));
  const std::vector<ListedUser> ids = ListEveryUser(downloads, uploads);
  ASSERT_EQ(ids.size(), 3u);
  EXPECT_EQ(ids[1].downloadId, kNoName);
  EXPECT_EQ(uploads.NameText(ids[1].uploadId), "cat");
  EXPECT_EQ(downloads.NameText(ids[2].downloadId), "dan");
}

TEST(DisplayOrder, IgnoresCaseOfEveryLetterThenUsesCodePoints) {
  Names names = {"b",    "\u00DCber",  "A",   "\u00FCber", "a",  "\u00C9mile",
                 "emil", "\u00E9mile", "Zed", "_x",        "10", "9"};
  SortForDisplay(names);
  EXPECT_EQ(names, (Names{"10", "9", "_x", "A", "a", "b", "emil", "Zed", "\u00C9mile", "\u00E9mile",
                          "\u00DCber", "\u00FCber"}));
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

}  // namespace
}  // namespace quorvane
