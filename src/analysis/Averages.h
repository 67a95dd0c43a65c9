#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "logs/LogTable.h"
#include "logs/Progress.h"

namespace quorvane {

// The average of a table is the mean, over its rows, of how many rows of the table share that
// row's Address: with addresses occurring p, q, r... times it is
// (p*p + q*q + r*r + ...) / (p + q + r + ...). A table with no rows averages 0.
struct Averages {
  double downloads = 0;  // as computed
  double uploads = 0;
  std::string downloadsText;  // "#.00"
  std::string uploadsText;
  std::string ratio;  // made from the averages as displayed
};

// Both averages and their ratio. `progress` counts rows over both tables together, one step per
// row.
Averages ComputeAverages(const LogTable& downloads, const LogTable& uploads,
                         std::string_view decimalSeparator = ".", const ProgressFn& progress = {});

// Both averages kept as rows are appended to the tables (following): a row adds 2c + 1 to the sum
// of its table, c being the rows of its Address before it, so it costs one step, not a pass.
class GrowingAverages {
 public:
  // One pass over each table; `progress` counts as ComputeAverages' does.
  GrowingAverages(const LogTable& downloads, const LogTable& uploads,
                  const ProgressFn& progress = {});
  // Takes the rows appended since: the rows taken before must not have changed.
  void Grow(const LogTable& downloads, const LogTable& uploads);
  // The rows of each table taken so far.
  std::size_t RowsTaken(bool uploads) const { return kept_[uploads ? 1 : 0].rows; }
  // What ComputeAverages gives for the tables taken.
  Averages Compute(std::string_view decimalSeparator) const;
  // The averages of tables of these rows whose addresses' counts squared add up to these sums.
  static Averages Of(std::uint64_t downloadSquares, std::size_t downloads,
                     std::uint64_t uploadSquares, std::size_t uploads,
                     std::string_view decimalSeparator);

 private:
  struct Kept {
    std::vector<std::uint64_t> rowsPerAddress;
    std::uint64_t sum = 0;  // of each row's address count: the sum of their squares
    std::size_t rows = 0;
  };
  static void Take(Kept& kept, const LogTable& table, const ProgressFn& progress);
  Kept kept_[2];
};

}  // namespace quorvane
