#include "analysis/Period.h"

#include <algorithm>
#include <limits>
#include <vector>

namespace quorvane {

namespace {

LogTable SelectDated(const LogTable& table, const Period& period, std::size_t& undated) {
  std::vector<std::size_t> rows;
  for (std::size_t row = 0; row < table.RowCount(); ++row) {
    const Timestamp time = table.Date(row);
    if (time == kUndated) {
      ++undated;
    } else if (period.Contains(time)) {
      rows.push_back(row);
    }
  }
  return table.SelectRows(rows);
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
