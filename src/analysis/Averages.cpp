#include "analysis/Averages.h"

#include <algorithm>
#include <cstdint>
#include <vector>

#include "analysis/RatioText.h"

namespace quorvane {

Averages ComputeAverages(const LogTable& downloads, const LogTable& uploads,
                         std::string_view decimalSeparator, const ProgressFn& progress) {
  if (progress)
    return GrowingAverages(downloads, uploads, progress).Compute(decimalSeparator);
  // Unwatched, the counts of each address are all it takes: nothing is kept for rows to come.
  const auto squares = [](const LogTable& table) {
    std::uint64_t sum = 0;
    for (const std::uint64_t count : table.RowsPerAddressId())
      sum += count * count;
    return sum;
  };
  return GrowingAverages::Of(squares(downloads), downloads.RowCount(), squares(uploads),
                             uploads.RowCount(), decimalSeparator);
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
  const std::size_t rows = table.RowCount();
  // Many rows unwatched are counted at once (on two cores): n more rows of an address that had c
  // add (c + n)^2 - c^2 = (2c + n) n, what n steps of 2c + 1 add.
  constexpr std::size_t kCountedAtOnce = std::size_t{1} << 16;
  if (!progress && rows >= kept.rows + kCountedAtOnce) {
    const std::vector<std::uint32_t> added = table.RowsPerAddressId(kept.rows);
    for (std::size_t id = 0; id < added.size(); ++id) {
      const std::uint64_t before = kept.rowsPerAddress[id], more = added[id];
      kept.sum += (2 * before + more) * more;
      kept.rowsPerAddress[id] = before + more;
    }
    kept.rows = rows;
    return;
  }
  const ProgressTicker ticker(progress);
  for (std::size_t row = kept.rows; row < rows; ++row) {
    kept.sum += 2 * kept.rowsPerAddress[table.AddressId(row)]++ + 1;
    ticker.Step(row);
  }
  ticker.Finish(rows);
  kept.rows = std::max(kept.rows, rows);
}

Averages GrowingAverages::Compute(std::string_view decimalSeparator) const {
  return Of(kept_[0].sum, kept_[0].rows, kept_[1].sum, kept_[1].rows, decimalSeparator);
}

Averages GrowingAverages::Of(std::uint64_t downloadSquares, std::size_t downloads,
                             std::uint64_t uploadSquares, std::size_t uploads,
                             std::string_view decimalSeparator) {
  Averages result;
  const auto average = [](std::uint64_t squares, std::size_t rows) {
    return rows == 0 ? 0.0 : static_cast<double>(squares) / static_cast<double>(rows);
  };
  result.downloads = average(downloadSquares, downloads);
  result.uploads = average(uploadSquares, uploads);
  result.downloadsText = FormatHundredths(result.downloads, decimalSeparator);
  result.uploadsText = FormatHundredths(result.uploads, decimalSeparator);
  result.ratio =
      RatioText(DisplayedValue(result.downloads), DisplayedValue(result.uploads), decimalSeparator);
  return result;
}

}  // namespace quorvane
