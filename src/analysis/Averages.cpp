#include "analysis/Averages.h"

#include <cstdint>
#include <vector>

#include "analysis/RatioText.h"

namespace quorvane {

namespace {

double AverageRowsPerAddress(const LogTable& table, const ProgressFn& progress) {
  const std::size_t rows = table.RowCount();
  std::vector<std::uint64_t> rowsPerAddress(table.AddressIdCount(), 0);
  for (std::size_t row = 0; row < rows; ++row)
    ++rowsPerAddress[table.AddressId(row)];

  // Each row adds the count of its own address.
  std::uint64_t sum = 0;
  const ProgressTicker ticker(progress);
  for (std::size_t row = 0; row < rows; ++row) {
    sum += rowsPerAddress[table.AddressId(row)];
    ticker.Step(row);
  }
  ticker.Finish(rows);
  if (rows == 0)
    return 0;
  return static_cast<double>(sum) / static_cast<double>(rows);
}

}  // namespace

Averages ComputeAverages(const LogTable& downloads, const LogTable& uploads,
                         std::string_view decimalSeparator, const ProgressFn& progress) {
  Averages result;
  result.downloads = AverageRowsPerAddress(downloads, progress);
  result.uploads = AverageRowsPerAddress(uploads, OffsetProgress(progress, downloads.RowCount()));
  result.downloadsText = FormatHundredths(result.downloads, decimalSeparator);
  result.uploadsText = FormatHundredths(result.uploads, decimalSeparator);
  result.ratio =
      RatioText(DisplayedValue(result.downloads), DisplayedValue(result.uploads), decimalSeparator);
  return result;
}

}  // namespace quorvane
