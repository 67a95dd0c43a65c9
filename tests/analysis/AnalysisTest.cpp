#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "analysis/Averages.h"
#include "analysis/Totals.h"
#include "analysis/UserReport.h"
#include "logs/UserList.h"
#include "support/TempLogs.h"

namespace quorvane {
namespace {

using testing::Rows;
using testing::TableOf;

LogTable AddressTable(const std::vector<std::string>& addresses) {
  std::vector<std::pair<std::string, std::string>> rows;
  for (const auto& a : addresses)
    rows.push_back({a, "u"});
  return TableOf(Rows(rows));
}

TEST(Averages, WorkedExampleUsesDisplayedAverages) {
  const LogTable downloads = AddressTable({"A", "A", "A", "B"});
  const LogTable uploads = AddressTable({"A", "A", "B"});
  const Averages averages = ComputeAverages(downloads, uploads);
  EXPECT_EQ(averages.downloadsText, "2.50");
  EXPECT_EQ(averages.uploadsText, "1.67");
  EXPECT_EQ(averages.ratio, "1.50/1");  // 2.50 / 1.67, not 2.5 / (5/3) = 1.5 exactly
}

TEST(Averages, AddressRules) {
  struct Case {
    std::vector<std::string> addresses;
    const char* average;
  };
  const Case cases[] = {
      {{"1", "2", "3"}, "1.00"},
      {{"x", "x", "x", "x", "x"}, "5.00"},
      {{"a", "A", "a "}, "1.00"},  // case and a trailing blank make other addresses
      {{"", "", "b"}, "1.67"},     // an empty address is an address here
      {{}, ".00"},                 // no rows: taken as zero
  };
  const LogTable none;
  for (const Case& c : cases) {
    EXPECT_EQ(ComputeAverages(AddressTable(c.addresses), none).downloadsText, c.average);
  }
}

TEST(Averages, EmptyTableAveragesZeroSoTheRatioIsDefined) {
  const LogTable none;
  const LogTable some = AddressTable({"a", "a"});
  EXPECT_EQ(ComputeAverages(none, some).ratio, "0/2.00");
  EXPECT_EQ(ComputeAverages(some, none).ratio, "2.00/0");
  EXPECT_EQ(ComputeAverages(none, none).ratio, "0/.00");
}

TEST(Averages, ProgressEndsAtTheSumOfBothRowCounts) {
  const LogTable downloads = AddressTable(std::vector<std::string>(10000, "a"));
  const LogTable uploads = AddressTable({"b", "c", "d"});
  std::size_t last = 0;
  ComputeAverages(downloads, uploads, ".", [&](std::size_t done) {
    EXPECT_GE(done, last);
    last = done;
  });
  EXPECT_EQ(last, 10003u);
}

TEST(Totals, CountRowsAndRatio) {
  std::vector<std::string> many(120, "a"), few(30, "b");
  const Totals totals = ComputeTotals(AddressTable(many), AddressTable(few));
  EXPECT_EQ(totals.downloads, 120u);
  EXPECT_EQ(totals.uploads, 30u);
  EXPECT_EQ(totals.ratio, "4.00/1");
  const LogTable none;
  EXPECT_EQ(ComputeTotals(none, none).ratio, "0/.00");
}

TEST(UserReport, CountsExactMatchesAndListsUploadsInOrder) {
  const LogTable downloads =
      TableOf(Rows({{"1", "ann"}, {"1", "Ann"}, {"2", "ann"}, {"3", " ann"}, {"4", "bob"}}));
  const LogTable uploads = TableOf({{"d", "1", "c", "ann", "same.zip"},
                                    {"d", "1", "c", "bob", "bob.zip"},
                                    {"d", "1", "c", "ann", "same.zip"},
                                    {"d", "1", "c", "ann ", "blank.zip"},
                                    {"d", "1", "c", "ann", "same.zip"}});
  const UserReport ann = BuildUserReport(downloads, uploads, "ann");
  EXPECT_EQ(ann.downloads, 2u);
  EXPECT_EQ(ann.uploads, 3u);
  EXPECT_EQ(ann.ratio, "1/1.50");
  ASSERT_EQ(ann.uploadRows, (std::vector<std::size_t>{0, 2, 4}));
  for (std::size_t row : ann.uploadRows)
    EXPECT_EQ(uploads.CellText(row, Column::FileName), "same.zip");

  // Choosing another user afterwards carries nothing over.
  const UserReport bob = BuildUserReport(downloads, uploads, "bob");
  EXPECT_EQ(bob.downloads, 1u);
  EXPECT_EQ(bob.uploads, 1u);
  EXPECT_EQ(bob.ratio, "1/1");

  const UserReport nobody = BuildUserReport(downloads, uploads, "carol");
  EXPECT_EQ(nobody.downloads, 0u);
  EXPECT_EQ(nobody.uploads, 0u);
  EXPECT_EQ(nobody.ratio, "0/.00");
  EXPECT_TRUE(nobody.uploadRows.empty());
}

TEST(LargeTables, SeventyThousandRowsThroughUserListAveragesReportAndRename) {
  // Well past the 32,767 rows a 16-bit counter could hold.
  const std::size_t rows = 75000;
  std::vector<std::pair<std::string, std::string>> d, u;
  for (std::size_t i = 0; i < rows; ++i) {
    d.push_back({"10.0." + std::to_string(i % 500), "user" + std::to_string(i % 5000)});
  }
  for (std::size_t i = 0; i < rows / 2; ++i)
    d[i].second = "big";
  u.push_back({"1.1.1.1", "big"});
  LogTable downloads = TableOf(Rows(d));
  LogTable uploads = TableOf(Rows(u));

  const auto names = CollectUserNames(downloads, uploads);
  // The first row of each of the 500 addresses is in the first half, all named "big".
  EXPECT_EQ(names, std::vector<std::string>{"big"});

  const Averages averages = ComputeAverages(downloads, uploads);
  EXPECT_EQ(averages.downloadsText, "150.00");  // 500 addresses of 150 rows each
  EXPECT_EQ(averages.uploadsText, "1.00");
  EXPECT_EQ(averages.ratio, "150.00/1");

  EXPECT_EQ(BuildUserReport(downloads, uploads, "big").downloads, rows / 2);
  EXPECT_EQ((downloads.RenameUser("big", "huge") + uploads.RenameUser("big", "huge")),
            rows / 2 + 1);
  EXPECT_EQ(BuildUserReport(downloads, uploads, "huge").downloads, rows / 2);
  EXPECT_EQ(CollectUserNames(downloads, uploads), std::vector<std::string>{"huge"});
}

}  // namespace
}  // namespace quorvane
