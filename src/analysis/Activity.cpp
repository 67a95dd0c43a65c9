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

// The bars of the days from `first` to `last`, none counted, and the number of the first.
Activity EmptyBars(std::int64_t first, std::int64_t last, std::int64_t& firstBar) {
  Activity activity;
  if (first > last)
    return activity;
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
  return activity;
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
  std::int64_t firstBar = 0;
  Activity activity = EmptyBars(first, last, firstBar);
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

GrowingActivity::GrowingActivity(const LogTable& downloads, const LogTable& uploads,
                                 const Period& span)
    : span_(span) {
  if (span.firstDay && span.lastDay)
    activity_ = EmptyBars(*span.firstDay, *span.lastDay, firstBar_);
  Take(downloads, rows_[0], &ActivityBar::downloads);
  Take(uploads, rows_[1], &ActivityBar::uploads);
}

bool GrowingActivity::Grow(const LogTable& downloads, const LogTable& uploads, const Period& span) {
  if (!span.firstDay || !span.lastDay)
    return false;
  if (span.firstDay != span_.firstDay || span.lastDay != span_.lastDay) {
    const auto holdsTaken = [&](const Period& period) {
      return seenFirst_ > seenLast_ ||
             (period.firstDay && period.lastDay && *period.firstDay <= seenFirst_ &&
              seenLast_ <= *period.lastDay);
    };
    if (!holdsTaken(span_) || !holdsTaken(span))
      return false;
    std::int64_t firstBar = 0;
    Activity moved = EmptyBars(*span.firstDay, *span.lastDay, firstBar);
    if (moved.step != activity_.step && seenFirst_ <= seenLast_)
      return false;
    // Each counted bar goes where its days are now; their rows lie in the new span.
    for (std::size_t bar = 0; bar < activity_.bars.size(); ++bar) {
      const ActivityBar& old = activity_.bars[bar];
      if (old.downloads == 0 && old.uploads == 0)
        continue;
      const std::int64_t at = firstBar_ + static_cast<std::int64_t>(bar) - firstBar;
      if (at < 0 || at >= static_cast<std::int64_t>(moved.bars.size()))
        return false;
      moved.bars[static_cast<std::size_t>(at)].downloads = old.downloads;
      moved.bars[static_cast<std::size_t>(at)].uploads = old.uploads;
    }
    activity_ = std::move(moved);
    firstBar_ = firstBar;
    span_ = span;
  }
  Take(downloads, rows_[0], &ActivityBar::downloads);
  Take(uploads, rows_[1], &ActivityBar::uploads);
  return true;
}

void GrowingActivity::Take(const LogTable& table, std::size_t& taken,
                           std::size_t ActivityBar::*count) {
  for (std::size_t row = taken; row < table.RowCount(); ++row) {
    const Timestamp date = table.Date(row);
    if (date == kUndated)
      continue;
    const std::int64_t day = DayOf(date);
    seenFirst_ = std::min(seenFirst_, day);
    seenLast_ = std::max(seenLast_, day);
    if (!activity_.bars.empty() && span_.Contains(date))
      ++(activity_.bars[static_cast<std::size_t>(BarNumber(activity_.step, day) - firstBar_)].*
         count);
  }
  taken = std::max(taken, table.RowCount());
}

}  // namespace quorvane
