#include <gtest/gtest.h>

#include "logs/LogTable.h"
#include "logs/UserList.h"
#include "support/TempLogs.h"

namespace quorvane {
namespace {

using testing::Rows;
using testing::TableOf;

TEST(RemoveRow, RowsBehindMoveUpAndOutOfRangeDoesNothing) {
  LogTable table = TableOf(Rows({{"a", "one"}, {"b", "two"}, {"c", "three"}}));
  table.RemoveRow(1);
  ASSERT_EQ(table.RowCount(), 2u);
  EXPECT_EQ(table.Name(0), "one");
  EXPECT_EQ(table.Name(1), "three");
  EXPECT_EQ(table.CellText(1, Column::Address), "c");
  table.RemoveRow(7);
  EXPECT_EQ(table.RowCount(), 2u);
  table.RemoveRow(0);
  table.RemoveRow(0);
  EXPECT_TRUE(table.Empty());
  table.RemoveRow(0);
  EXPECT_TRUE(table.Empty());
}

std::size_t RenameBoth(LogTable& downloads, LogTable& uploads, std::string_view from,
                       std::string_view to) {
  return downloads.RenameUser(from, to) + uploads.RenameUser(from, to);
}

TEST(RenameUser, RewritesExactMatchesInBothTablesAndCountsThem) {
  auto downloadRows = Rows({{"1", "joe32"},
                            {"2", "joe32"},
                            {"3", "Joe32"},
                            {"4", "joe32"},
                            {"5", "joe32 "},
                            {"6", "joe32"},
                            {"7", "ann"}});
  LogTable downloads = TableOf(downloadRows);
  LogTable uploads = TableOf(Rows({{"1", "joe32"}, {"2", "joe32"}, {"3", "joe32"}, {"4", "x"}}));

  EXPECT_EQ(RenameBoth(downloads, uploads, "joe32", "joe2000"), 7u);
  EXPECT_EQ(downloads.Name(0), "joe2000");
  EXPECT_EQ(downloads.Name(2), "Joe32");   // case differs: untouched
  EXPECT_EQ(downloads.Name(4), "joe32 ");  // trailing blank: untouched
  EXPECT_EQ(uploads.Name(2), "joe2000");
  // Only the Name column changes.
  EXPECT_EQ(downloads.CellText(0, Column::FileName), downloadRows[0][4]);
  EXPECT_EQ(downloads.CellText(0, Column::Address), "1");

  const auto names = CollectUserNames(downloads, uploads);
  EXPECT_EQ(std::count(names.begin(), names.end(), "joe32"), 0);
  EXPECT_EQ(std::count(names.begin(), names.end(), "joe2000"), 1);

  EXPECT_EQ(RenameBoth(downloads, uploads, "joe32", "anything"), 0u);   // no match left
  EXPECT_EQ(RenameBoth(downloads, uploads, "joe2000", "joe2000"), 7u);  // by itself: counted
  EXPECT_EQ(RenameBoth(downloads, uploads, "ann", "\xC3\x84nn"), 1u);   // a new name
  EXPECT_EQ(downloads.Name(6), "\xC3\x84nn");
}

TEST(RenameUser, WorksOnWindows1252TablesInUnicodeText) {
  auto parsed = TableOf({{"d", "1.1.1.1", "c", "M\xFCller", "f"}});
  ASSERT_EQ(parsed.TextEncoding(), Encoding::Windows1252);
  EXPECT_EQ(parsed.RenameUser("M\xC3\xBCller", "\xE5\xB1\xB1"), 1u);
  EXPECT_EQ(parsed.CellText(0, Column::Name), "\xE5\xB1\xB1");
}

TEST(SelectRows, SharesCellsInTheGivenOrderAndRenamesStayApart) {
  LogTable table = TableOf(Rows({{"a", "one"}, {"b", "two"}, {"c", "three"}}));
  LogTable picked = table.SelectRows({2, 0, 2});
  ASSERT_EQ(picked.RowCount(), 3u);
  EXPECT_EQ(picked.CellText(0, Column::Address), "c");
  EXPECT_EQ(picked.CellText(1, Column::FileName), table.CellText(0, Column::FileName));
  EXPECT_EQ(picked.AddressId(2), table.AddressId(2));

  EXPECT_EQ(table.RenameUser("three", "new name"), 1u);  // a name new to the shared pool
  EXPECT_EQ(picked.Name(0), "three");
  EXPECT_FALSE(picked.FindName("new name"));
  EXPECT_EQ(picked.RenameUser("one", "uno"), 1u);
  EXPECT_EQ(table.Name(0), "one");
  EXPECT_EQ(table.Name(2), "new name");
  EXPECT_THROW(table.SelectRows({3}), std::out_of_range);
}

}  // namespace
}  // namespace quorvane
