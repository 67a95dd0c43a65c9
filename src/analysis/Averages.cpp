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
