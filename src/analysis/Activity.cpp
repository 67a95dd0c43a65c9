#include "analysis/Activity.h"

#include <algorithm>
#include <limits>

namespace quorvane {

namespace {

// Day 0, 1970-01-01, was a Thursday.
std::int64_t MondayOf(std::int64_t day) {
  const std::int64_t sinceMonday = ((day + 3) % 7 + 7) % 7;
  return day - sinceMonday;
}

std::int64_t MonthNumber(std::int64_t day) {
  const CivilDate date = CivilFromDay(day);
  return std::int64_t{date.year} * 12 + (date.month - 1);
}

std::int64_t YearNumber(std::int64_t day) {
  return CivilFromDay(day).year;
}

std::int64_t FirstDayOfMonth(std::int64_t monthNumber) {
  const std::int64_t year = monthNumber >= 0 ? monthNumber / 12 : (monthNumber - 11) / 12;
  return DayFromCivil({static_cast<int>(year), static_cast<int>(monthNumber - year * 12) + 1, 1});
}

// A number for the bar a day falls in: the bars of consecutive weeks, months or years have
// consecutive numbers.
std::int64_t BarNumber(ActivityStep step, std::int64_t day) {
  switch (step) {
    case ActivityStep::Day:
      return day;
    case ActivityStep::Week:
      return (MondayOf(day) - MondayOf(0)) / 7;  // exact: both are Mondays
    case ActivityStep::Month:
      return MonthNumber(day);
    case ActivityStep::Year:
      break;
  }
  return YearNumber(day);
}

std::int64_t FirstDayOfBar(ActivityStep step, std::int64_t firstDay, std::size_t bar) {
  const auto n = static_cast<std::int64_t>(bar);
  switch (step) {
    case ActivityStep::Day:
      return firstDay + n;
    case ActivityStep::Week:
      return MondayOf(firstDay) + 7 * n;
    case ActivityStep::Month:
      return FirstDayOfMonth(MonthNumber(firstDay) + n);
    case ActivityStep::Year:
      break;
  }
  return FirstDayOfMonth((YearNumber(firstDay) + n) * 12);
}

// Which rows of a table count: those of the users asked for, or all when none is asked for.
std::vector<bool> CountedNames(const LogTable& table, const std::vector<std::string>& users) {
  std::vector<bool> counted(table.NameIdCount(), users.empty());
  for (const std::string& user : users) {
    if (const auto id = table.FindName(user))
      counted[*id] = true;
  }
  return counted;
}

}  // namespace

Activity CountActivity(const LogTable& downloads, const LogTable& uploads,
                       const std::vector<std::string>& users, const Period& period) {
  const std::vector<bool> countedDownloads = CountedNames(downloads, users);
  const std::vector<bool> countedUploads = CountedNames(uploads, users);
  const auto counts = [&](const LogTable& table, const std::vector<bool>& counted,
                          std::size_t row) {
    return counted[table.NameId(row)] && period.Contains(table.Date(row));
  };

  // The span: the period's ends, else the earliest and latest counted transfer.
  std::int64_t first = std::numeric_limits<std::int64_t>::max();
  std::int64_t last = std::numeric_limits<std::int64_t>::min();
  if (!period.firstDay || !period.lastDay) {
    for (const auto& [table, counted] :
         {std::pair{&downloads, &countedDownloads}, std::pair{&uploads, &countedUploads}}) {
      for (std::size_t row = 0; row < table->RowCount(); ++row) {
        if (counts(*table, *counted, row)) {
          const std::int64_t day = DayOf(table->Date(row));
          first = std::min(first, day);
          last = std::max(last, day);
        }
      }
    }
  }
  first = period.firstDay.value_or(first);
  last = period.lastDay.value_or(last);
  Activity activity;
  if (first > last)
    return activity;

  std::int64_t firstBar = 0;
  for (ActivityStep step :
       {ActivityStep::Day, ActivityStep::Week, ActivityStep::Month, ActivityStep::Year}) {
    activity.step = step;
    firstBar = BarNumber(step, first);
    if (BarNumber(step, last) - firstBar < static_cast<std::int64_t>(kMaxActivityBars))
      break;
  }
  activity.bars.resize(static_cast<std::size_t>(BarNumber(activity.step, last) - firstBar + 1));
  for (std::size_t bar = 0; bar < activity.bars.size(); ++bar)
    activity.bars[bar].firstDay = FirstDayOfBar(activity.step, first, bar);
  for (const auto& [table, counted, count] :
       {std::tuple{&downloads, &countedDownloads, &ActivityBar::downloads},
        std::tuple{&uploads, &countedUploads, &ActivityBar::uploads}}) {
    for (std::size_t row = 0; row < table->RowCount(); ++row) {
      if (counts(*table, *counted, row)) {
        const std::int64_t bar = BarNumber(activity.step, DayOf(table->Date(row))) - firstBar;
        ++(activity.bars[static_cast<std::size_t>(bar)].*count);
      }
    }
  }
  return activity;
}

std::int64_t LastDayOfBar(ActivityStep step, std::int64_t firstDay) {
  return FirstDayOfBar(step, firstDay, 1) - 1;
}

}  // namespace quorvane
