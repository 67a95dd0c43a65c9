#include <gtest/gtest.h>

#include <map>
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

// Tables long enough to be counted on two cores, taken whole, grown by as many rows again (whose
// addresses had rows before) and by a few: the averages and the rows of each name are what
// counting the texts row by row gives.
TEST(ArrivingRows, ManyAtOnceCountAsTheirTexts) {
  std::mt19937 random(7);
  std::vector<std::vector<std::string>> made;
  const auto rows = [&](std::size_t count) {
    std::vector<std::vector<std::string>> batch;
    for (std::size_t i = 0; i < count; ++i) {
      // Skewed, so that counts differ widely: low numbers come far more often.
      const auto skewed = [&](char letter, unsigned range) {
        std::string text(1, letter);
        return text.append(std::to_string(random() % (1 + random() % range)));
      };
      batch.push_back({"", skewed('a', 3001), "", skewed('n', 1999), ""});
    }
    made.insert(made.end(), batch.begin(), batch.end());
    return testing::TableOf(batch);
  };
  LogTable table = rows(70001);
  const LogTable none = testing::TableOf({});
  GrowingAverages averages(table, none);
  for (const std::size_t more : {std::size_t{0}, std::size_t{140000}, std::size_t{3}}) {
    const std::size_t firstNew = table.RowCount();
    if (more != 0) {
      table.AppendRows(rows(more));
      averages.Grow(table, none);
    }
    std::map<std::string, std::uint64_t> perAddress;
    std::map<std::string, std::uint32_t> perName, perNewName;
    for (std::size_t row = 0; row < made.size(); ++row) {
      ++perAddress[made[row][1]];
      ++perName[made[row][3]];
      if (row >= firstNew)
        ++perNewName[made[row][3]];
    }
    std::uint64_t squares = 0;
    for (const auto& [address, count] : perAddress)
      squares += count * count;
    const double expected = static_cast<double>(squares) / static_cast<double>(made.size());
    EXPECT_EQ(averages.Compute(".").downloads, expected) << more;
    EXPECT_EQ(ComputeAverages(table, none).downloads, expected) << more;
    EXPECT_EQ(ComputeAverages(table, none, ".", [](std::size_t) {}).downloads, expected) << more;
    for (const std::size_t from : {std::size_t{0}, firstNew}) {
      const std::map<std::string, std::uint32_t>& counted = from == 0 ? perName : perNewName;
      const std::vector<std::uint32_t> byId = table.RowsPerNameId(from);
      ASSERT_EQ(byId.size(), table.NameIdCount());
      for (std::uint32_t id = 0; id < byId.size(); ++id) {
        const auto text = counted.find(std::string(table.NameText(id)));
        EXPECT_EQ(byId[id], text == counted.end() ? 0 : text->second) << table.NameText(id);
      }
    }
  }
}

}  // namespace
}  // namespace quorvane
