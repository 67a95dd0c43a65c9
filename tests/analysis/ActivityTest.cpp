#include <gtest/gtest.h>

#include "analysis/Activity.h"
#include "support/TempLogs.h"

namespace quorvane {
namespace {

// A table of rows dated as given, each by the given name.
LogTable Dated(const std::vector<std::pair<std::string, std::string>>& dateAndName) {
  std::vector<std::vector<std::string>> rows;
  for (const auto& [date, name] : dateAndName)
    rows.push_back({date, "1.1.1.1", "acct", name, "f"});
  LogTable table = testing::TableOf(rows);
  table.ReadDates(DateOrder::Detect);
  return table;
}

std::string Bars(const Activity& activity) {
  std::string text;
  for (const ActivityBar& bar : activity.bars) {
    text += FormatDay(bar.firstDay) + ":" + std::to_string(bar.downloads) + "/" +
            std::to_string(bar.uploads) + " ";
  }
  return text;
}

std::int64_t Day(const char* iso) {
  return *ParseIsoDay(iso);
}

TEST(Activity, TheFinestStepThatFitsAboutAHundredAndTwentyBars) {
  const LogTable downloads =
      Dated({{"2026-03-02 10:00", "ann"}, {"2026-03-04", "bob"}, {"undated", "ann"}});
  const LogTable uploads = Dated({{"2026-03-04 23:59:59", "ann"}});
  // Days, gaps included; undated rows count nowhere.
  EXPECT_EQ(Bars(CountActivity(downloads, uploads, {}, {})),
            "2026-03-02:1/0 2026-03-03:0/0 2026-03-04:1/1 ");
  // Only the users asked for.
  EXPECT_EQ(Bars(CountActivity(downloads, uploads, {"ann"}, {})),
            "2026-03-02:1/0 2026-03-03:0/0 2026-03-04:0/1 ");
  // A period reaches as far as it says, and keeps out what lies outside.
  const Period march{Day("2026-03-03"), Day("2026-03-05")};
  EXPECT_EQ(Bars(CountActivity(downloads, uploads, {}, march)),
            "2026-03-03:0/0 2026-03-04:1/1 2026-03-05:0/0 ");

  // 120 days fit as days; 121 need weeks, which start on Mondays; a longer span takes months,
  // and a span of more than ten years years.
  struct Case {
    const char* from;
    const char* to;
    ActivityStep step;
    std::size_t bars;
    const char* firstBar;
    const char* firstBarEnds;
  };
  const Case cases[] = {
      {"2026-01-01", "2026-04-30", ActivityStep::Day, 120, "2026-01-01", "2026-01-01"},
      {"2026-01-01", "2026-05-01", ActivityStep::Week, 18, "2025-12-29", "2026-01-04"},
      {"2024-02-15", "2027-03-01", ActivityStep::Month, 38, "2024-02-01", "2024-02-29"},
      {"1990-06-01", "2026-03-01", ActivityStep::Year, 37, "1990-01-01", "1990-12-31"}};
  for (const Case& c : cases) {
    const Activity activity = CountActivity(LogTable(), LogTable(), {}, {Day(c.from), Day(c.to)});
    EXPECT_EQ(activity.step, c.step) << c.from;
    EXPECT_EQ(activity.bars.size(), c.bars) << c.from;
    EXPECT_EQ(FormatDay(activity.bars.front().firstDay), c.firstBar) << c.from;
    EXPECT_EQ(FormatDay(LastDayOfBar(c.step, activity.bars.front().firstDay)), c.firstBarEnds);
  }
  EXPECT_TRUE(CountActivity(LogTable(), LogTable(), {}, {}).bars.empty());
}

TEST(Activity, DatedDaysReachFromTheFirstToTheLastDatedRowOfEitherTable) {
  const LogTable downloads = Dated({{"2026-03-04 23:59:59", "ann"}, {"undated", "bob"}});
  const LogTable uploads = Dated({{"2026-03-03", "ann"}, {"2026-03-02 00:00:01", "ann"}});
  const std::optional<Period> days = DatedDays(downloads, uploads);
  ASSERT_TRUE(days);
  EXPECT_EQ(DescribePeriod(*days), "2026-03-02 to 2026-03-04");
  EXPECT_FALSE(DatedDays(Dated({{"undated", "ann"}}), LogTable()));
}

}  // namespace
}  // namespace quorvane
