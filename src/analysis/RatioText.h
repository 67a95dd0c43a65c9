#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace quorvane {

// The "#.00" format: rounded to hundredths, half away from zero, after taking the number to 15
// significant decimal digits (so 1.005, stored as 1.00499999..., still shows as 1.01). No sign
// for non-negative numbers, no grouping, no leading zero: 0.5 gives ".50", 0 gives ".00".
std::string FormatHundredths(double value, std::string_view decimalSeparator = ".");

// The value a number shows as in the "#.00" format (2.499 -> 2.5).
double DisplayedValue(double value);

// How downloads compare with uploads: "0/<U>", "<D>/0", "<D/U>/1", "1/1" or "1/<U/D>".
std::string RatioText(double downloads, double uploads, std::string_view decimalSeparator = ".");
// RatioText of two counts with "." appended to `out`: a whole ratio, as most of a long user
// list's are, is written from its digits without a string of its own.
void AppendRatioText(std::string& out, std::uint64_t downloads, std::uint64_t uploads);
// The same written at `at`, which has room for kMostRatioText bytes; returns where it ends.
inline constexpr std::size_t kMostRatioText = 48;
char* WriteRatioText(char* at, std::uint64_t downloads, std::uint64_t uploads);

}  // namespace quorvane
