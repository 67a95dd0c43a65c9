#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "analysis/Period.h"
#include "logs/LogTable.h"

namespace quorvane {

// How many days a bar of the activity chart covers. Years only for spans beyond ten years (a stray
// date far back), which months would cut into too many bars.
enum class ActivityStep { Day, Week, Month, Year };

// Transfers of one day, week (Monday to Sunday), calendar month or year.
struct ActivityBar {
  std::int64_t firstDay = 0;  // as DayOf counts days
  std::size_t downloads = 0;
  std::size_t uploads = 0;
};

struct Activity {
  ActivityStep step = ActivityStep::Day;
  std::vector<ActivityBar> bars;  // one per step, without gaps, in time order
};

// About this many bars fit a chart: the finest step that needs no more is taken.
inline constexpr std::size_t kMaxActivityBars = 120;

// The dated transfers of the period (all of them, or those of `users` when it is not empty),
// counted per day, week, month or year from the period's first day (or the earliest transfer) to
// its last day (or the latest transfer). No dated transfer and no bounded period: no bars.
Activity CountActivity(const LogTable& downloads, const LogTable& uploads,
                       const std::vector<std::string>& users, const Period& period);

// Everyone's activity over a bounded span, kept as rows are appended to the tables (following):
// each new row adds one to its bar. The bars are kept while the span stays, or while both the span
// before and the one asked for hold every dated row taken (the logs' own span, grown).
class GrowingActivity {
 public:
  // Counts as CountActivity(downloads, uploads, {}, span) does; no bars for an open span.
  GrowingActivity(const LogTable& downloads, const LogTable& uploads, const Period& span);
  // Takes the rows appended since (the rows taken before must keep their dates), over `span`.
  // False, with nothing taken, when the rows taken would count otherwise over it or its bars take
  // another step: count anew then.
  bool Grow(const LogTable& downloads, const LogTable& uploads, const Period& span);
  std::size_t RowsTaken(bool uploads) const { return rows_[uploads ? 1 : 0]; }
  const Activity& Counted() const { return activity_; }

 private:
  void Take(const LogTable& table, std::size_t& taken, std::size_t ActivityBar::*count);
  Activity activity_;
  Period span_;
  std::int64_t firstBar_ = 0;
  // The first and last day of the dated rows taken.
  std::int64_t seenFirst_ = INT64_MAX, seenLast_ = INT64_MIN;
  std::size_t rows_[2] = {0, 0};
};

// The last day of the bar that starts on `firstDay` (a bar's own first day).
std::int64_t LastDayOfBar(ActivityStep step, std::int64_t firstDay);

}  // namespace quorvane
