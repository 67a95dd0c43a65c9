#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "logs/LogTable.h"

namespace quorvane {

// The two row counts and their ratio text.
struct Totals {
  std::size_t downloads = 0;
  std::size_t uploads = 0;
  std::string ratio;
};

Totals ComputeTotals(const LogTable& downloads, const LogTable& uploads,
                     std::string_view decimalSeparator = ".");

}  // namespace quorvane
