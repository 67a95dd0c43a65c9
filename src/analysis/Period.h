#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "logs/DateTime.h"
#include "logs/LogLoader.h"

namespace quorvane {

// Whole days from `firstDay` to `lastDay`, both included; an open end reaches as far as the logs.
// Days are counted as DayOf counts them.
struct Period {
  std::optional<std::int64_t> firstDay;
  std::optional<std::int64_t> lastDay;

  bool AllTime() const { return !firstDay && !lastDay; }
  bool Contains(Timestamp time) const {
    if (time == kUndated)
      return false;
    const std::int64_t day = DayOf(time);
    return (!firstDay || day >= *firstDay) && (!lastDay || day <= *lastDay);
  }
};

// "FROM to TO", an open end written as "start" or "end".
std::string DescribePeriod(const Period& period);

// The rows of both logs dated inside the period, as if the logs held only those; undated rows
// are left out and counted.
struct PeriodLogs {
  LogPair logs;
  std::size_t undatedLeftOut = 0;
};
PeriodLogs SelectPeriod(const LogPair& logs, const Period& period);
PeriodLogs SelectPeriod(const LogTable& downloads, const LogTable& uploads, const Period& period);

// From the first to the last day on which either table has a dated row; nothing when none has.
std::optional<Period> DatedDays(const LogTable& downloads, const LogTable& uploads);

}  // namespace quorvane
