#include "analysis/Period.h"

#include <algorithm>
#include <limits>
#include <vector>

namespace quorvane {

namespace {

LogTable SelectDated(const LogTable& table, const Period& period, std::size_t& undated) {
  // The period's first and last second: a day is 86,400 of them from 1970-01-01 on.
  constexpr Timestamp kDay = 86400;
  const Timestamp first =
      period.firstDay ? *period.firstDay * kDay : std::numeric_limits<Timestamp>::min();
  const Timestamp last =
      period.lastDay ? *period.lastDay * kDay + (kDay - 1) : std::numeric_limits<Timestamp>::max();
  const auto in = [&](std::size_t row) {
    const Timestamp time = table.Date(row);
    return time != kUndated && time >= first && time <= last;
  };
  // Counted first, so that the selection is made once at its size.
  std::size_t count = 0;
  for (std::size_t row = 0; row < table.RowCount(); ++row) {
    const Timestamp time = table.Date(row);
    undated += time == kUndated ? 1 : 0;
    count += in(row) ? 1 : 0;
  }
  return table.SelectIf(count, in);
}

}  // namespace

std::string DescribePeriod(const Period& period) {
  return (period.firstDay ? FormatDay(*period.firstDay) : "start") + " to " +
         (period.lastDay ? FormatDay(*period.lastDay) : "end");
}

PeriodLogs SelectPeriod(const LogPair& logs, const Period& period) {
  return SelectPeriod(logs.downloads, logs.uploads, period);
}

PeriodLogs SelectPeriod(const LogTable& downloads, const LogTable& uploads, const Period& period) {
  PeriodLogs selected;
  selected.logs.downloads = SelectDated(downloads, period, selected.undatedLeftOut);
  selected.logs.uploads = SelectDated(uploads, period, selected.undatedLeftOut);
  return selected;
}

std::optional<Period> DatedDays(const LogTable& downloads, const LogTable& uploads) {
  Timestamp first = std::numeric_limits<Timestamp>::max();
  Timestamp last = kUndated;
  for (const LogTable* table : {&downloads, &uploads}) {
    for (std::size_t row = 0; row < table->RowCount(); ++row) {
      const Timestamp time = table->Date(row);
      if (time != kUndated) {
        first = std::min(first, time);
        last = std::max(last, time);
      }
    }
  }
  if (last == kUndated)
    return std::nullopt;
  return Period{DayOf(first), DayOf(last)};
}

}  // namespace quorvane
