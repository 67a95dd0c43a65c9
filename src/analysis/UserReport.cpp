#include "analysis/UserReport.h"

#include <cstdint>
#include <optional>

#include "analysis/RatioText.h"

namespace quorvane {

namespace {

// Walks every row of a table, calling onMatch for the rows of the given name id.
template <typename OnMatch>
void ScanNames(const LogTable& table, std::optional<std::uint32_t> nameId,
               const ProgressFn& progress, OnMatch onMatch) {
  const std::size_t rows = table.RowCount();
  const ProgressTicker ticker(progress);
  for (std::size_t row = 0; row < rows; ++row) {
    if (nameId && table.NameId(row) == *nameId)
      onMatch(row);
    ticker.Step(row);
  }
  ticker.Finish(rows);
}

}  // namespace

UserReport BuildUserReport(const LogTable& downloads, const LogTable& uploads,
                           std::string_view name, std::string_view decimalSeparator,
                           const ProgressFn& progress) {
  UserReport report;
  ScanNames(downloads, downloads.FindName(name), progress,
            [&](std::size_t) { ++report.downloads; });
  ScanNames(uploads, uploads.FindName(name), OffsetProgress(progress, downloads.RowCount()),
            [&](std::size_t row) {
              ++report.uploads;
              report.uploadRows.push_back(row);
            });
  report.ratio = RatioText(static_cast<double>(report.downloads),
                           static_cast<double>(report.uploads), decimalSeparator);
  return report;
}

}  // namespace quorvane
