#include <gtest/gtest.h>

#include <random>
#include <sstream>

#include "analysis/Activity.h"
#include "analysis/Averages.h"
#include "logs/UserList.h"
#include "support/TempLogs.h"

namespace quorvane {
namespace {

std::string Bars(const Activity& activity) {
  std::ostringstream text;
  text << static_cast<int>(activity.step);
  for (const ActivityBar& bar : activity.bars)
    text << ' ' << bar.firstDay << ':' << bar.downloads << '/' << bar.uploads;
  return text.str();
}

// Batches of rows appended to either table, their dates reaching further on (the step of the bars
// grows from days to weeks), some undated, some without an Address, names and addresses shared:
// after each batch the list, the averages and everyone's activity taken from the new rows alone
// equal the full passes over the tables.
TEST(ArrivingRows, TakenAloneTheyGiveWhatFullPassesGive) {
  const char* names[] = {"ann", "Bob", "", "M\xC3\xBCller", "bob", "cy"};
  const char* addresses[] = {"1.1.1.1", "2.2.2.2", "", "3.3.3.3", "4.4.4.4"};
  int grown = 0, spanMoved = 0;
  for (unsigned seed = 1; seed <= 20; ++seed) {
    std::mt19937 random(seed);
    int month = 1;
    const auto rows = [&](std::size_t count) {
      std::vector<std::vector<std::string>> made;
      for (std::size_t i = 0; i < count; ++i) {
        const std::string day = random() % 6 == 0 ? "soon" : std::to_string(random() % 28 + 1);
        std::ostringstream date;
        date << 1 + random() % month << '/' << day << "/2025";
        made.push_back({date.str(), addresses[random() % std::size(addresses)], "acct",
                        names[random() % std::size(names)], "file"});
      }
      LogTable table = testing::TableOf(made);
      table.ReadDates(DateOrder::MonthFirst);
      return table;
    };
    LogPair tables{rows(2), rows(2)};
    GrowingUserList list(tables.downloads, tables.uploads);
    GrowingAverages averages(tables.downloads, tables.uploads);
    std::optional<Period> span = DatedDays(tables.downloads, tables.uploads);
    std::optional<GrowingActivity> activity;
    if (span)
      activity.emplace(tables.downloads, tables.uploads, *span);
    for (int step = 0; step < 24; ++step) {
      month = std::min(12, 1 + step / 3);
      (random() % 3 == 0 ? tables.uploads : tables.downloads).AppendRows(rows(random() % 4 + 1));
      const LogTable& downloads = tables.downloads;
      const LogTable& uploads = tables.uploads;
      list.Grow(downloads, uploads);
      EXPECT_EQ(list.Names(), CollectUserNames(downloads, uploads)) << seed << " " << step;

      averages.Grow(downloads, uploads);
      const Averages kept = averages.Compute(",");
      const Averages full = ComputeAverages(downloads, uploads, ",");
      EXPECT_EQ(kept.downloads, full.downloads);
      EXPECT_EQ(kept.uploads, full.uploads);
      EXPECT_EQ(kept.downloadsText + kept.uploadsText + kept.ratio,
                full.downloadsText + full.uploadsText + full.ratio);

      const std::optional<Period> before = span;
      span = DatedDays(downloads, uploads);
      if (!span)
        continue;
      if (activity && activity->Grow(downloads, uploads, *span)) {
        ++grown;
        spanMoved += before->lastDay != span->lastDay;
      } else {
        activity.emplace(downloads, uploads, *span);
      }
      EXPECT_EQ(Bars(activity->Counted()), Bars(CountActivity(downloads, uploads, {}, *span)))
          << seed << " " << step;
    }
  }
  EXPECT_GT(grown, 300);      // most batches were added to the bars counted before
  EXPECT_GT(spanMoved, 100);  // many of them after the span grew
}

}  // namespace
}  // namespace quorvane
