#include "analysis/Period.h"

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
  PeriodLogs selected;
  selected.logs.downloads = SelectDated(logs.downloads, period, selected.undatedLeftOut);
  selected.logs.uploads = SelectDated(logs.uploads, period, selected.undatedLeftOut);
  return selected;
}

}  // namespace quorvane
