#pragma once

#include <string>
#include <string_view>

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

}  // namespace quorvane
