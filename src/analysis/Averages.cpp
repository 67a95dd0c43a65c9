#include "analysis/Averages.h"

#include <algorithm>
#include <cstdint>
#include <vector>

#include "analysis/RatioText.h"

namespace quorvane {

Averages ComputeAverages(const LogTable& downloads, const LogTable& uploads,
                         std::string_view decimalSeparator, const ProgressFn& progress) {
  return GrowingAverages(downloads, uploads, progress).Compute(decimalSeparator);
}

GrowingAverages::GrowingAverages(const LogTable& downloads, const LogTable& uploads,
                                 const ProgressFn& progress) {
  Take(kept_[0], downloads, progress);
  Take(kept_[1], uploads, OffsetProgress(progress, downloads.RowCount()));
}

void GrowingAverages::Grow(const LogTable& downloads, const LogTable& uploads) {
  Take(kept_[0], downloads, {});
  Take(kept_[1], uploads, {});
}

void GrowingAverages::Take(Kept& kept, const LogTable& table, const ProgressFn& progress) {
  kept.rowsPerAddress.resize(table.AddressIdCount(), 0);
  const ProgressTicker ticker(progress);
  const std::size_t rows = table.RowCount();
  for (std::size_t row = kept.rows; row < rows; ++row) {
    kept.sum += 2 * kept.rowsPerAddress[table.AddressId(row)]++ + 1;
    ticker.Step(row);
  }
  ticker.Finish(rows);
  kept.rows = std::max(kept.rows, rows);
}

Averages GrowingAverages::Compute(std::string_view decimalSeparator) const {
  Averages result;
  const auto average = [](const Kept& kept) {
    return kept.rows == 0 ? 0.0 : static_cast<double>(kept.sum) / static_cast<double>(kept.rows);
  };
  result.downloads = average(kept_[0]);
  result.uploads = average(kept_[1]);
  result.downloadsText = FormatHundredths(result.downloads, decimalSeparator);
  result.uploadsText = FormatHundredths(result.uploads, decimalSeparator);
  result.ratio =
      RatioText(DisplayedValue(result.downloads), DisplayedValue(result.uploads), decimalSeparator);
  return result;
}

}  // namespace quorvane
