#include "analysis/RatioText.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace quorvane {

namespace {

// Adds one to a string of decimal digits.
void Increment(std::string& digits) {
  for (auto it = digits.rbegin(); it != digits.rend(); ++it) {
    if (*it != '9') {
      ++*it;
      return;
    }
    *it = '0';
  }
  // All nines: 99 becomes 100.
  digits.assign(digits.size() + 1, '0');
  digits[0] = '1';
}

// The number in hundredths as a digit string, rounded as described in the header.
std::string HundredthsDigits(double magnitude) {
  // A whole number of up to 15 digits is exact already: its hundredths are its digits and "00".
  // Counts and most ratios of a user list are such numbers.
  if (magnitude < 1e15 && magnitude == std::floor(magnitude))
    return std::to_string(static_cast<std::uint64_t>(magnitude)) + "00";
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%.14e", magnitude);  // d.dddddddddddddde±x
  std::string mantissa;
  mantissa.push_back(buffer[0]);
  mantissa.append(buffer + 2, 14);
  const int exponent = std::atoi(buffer + 17);

  // The digit string is worth mantissa * 10^(exponent - 14). Shift it to units of a thousandth.
  const int shift = exponent - 14 + 3;
  std::string thousandths;
  if (shift >= 0) {
    thousandths = mantissa + std::string(static_cast<std::size_t>(shift), '0');
  } else if (static_cast<std::size_t>(-shift) < mantissa.size()) {
    thousandths = mantissa.substr(0, mantissa.size() - static_cast<std::size_t>(-shift));
  } else {
    thousandths.push_back('0');
  }
  const bool roundUp = thousandths.back() >= '5';
  std::string hundredths = thousandths.substr(0, thousandths.size() - 1);
  if (hundredths.empty())
    hundredths.push_back('0');
  if (roundUp)
    Increment(hundredths);
  return hundredths;
}

}  // namespace

std::string FormatHundredths(double value, std::string_view decimalSeparator) {
  if (!std::isfinite(value))
    return value > 0 ? "inf" : (value < 0 ? "-inf" : "nan");
  const std::string digits = HundredthsDigits(std::fabs(value));
  // The last two digits are the hundredths; what stands before them, without leading zeros,
  // is the integer part.
  const std::size_t integerLength = digits.size() > 2 ? digits.size() - 2 : 0;
  std::size_t skip = 0;
  while (skip < integerLength && digits[skip] == '0')
    ++skip;
  std::string cents(2 - std::min<std::size_t>(digits.size(), 2), '0');
  cents.append(digits, integerLength, std::string::npos);
  std::string text;
  if (value < 0 && (skip < integerLength || cents != "00"))
    text.push_back('-');
  text.append(digits, skip, integerLength - skip);
  text.append(decimalSeparator);
  text.append(cents);
  return text;
}

double DisplayedValue(double value) {
  if (!std::isfinite(value))
    return value;
  const std::string digits = HundredthsDigits(std::fabs(value));
  double hundredths = 0;
  std::from_chars(digits.data(), digits.data() + digits.size(), hundredths);
  return std::copysign(hundredths / 100, value);
}

std::string RatioText(double downloads, double uploads, std::string_view decimalSeparator) {
  if (downloads == 0)
    return "0/" + FormatHundredths(uploads, decimalSeparator);
  if (uploads == 0)
    return FormatHundredths(downloads, decimalSeparator) + "/0";
  if (uploads < downloads)
    return FormatHundredths(downloads / uploads, decimalSeparator) + "/1";
  if (uploads == downloads)
    return "1/1";
  return "1/" + FormatHundredths(uploads / downloads, decimalSeparator);
}

char* WriteRatioText(char* at, std::uint64_t downloads, std::uint64_t uploads) {
  const auto text = [&at](std::string_view part) {
    return at = std::copy(part.begin(), part.end(), at);
  };
  // A whole number below 10^15 shows as its digits and ".00", zero as ".00" alone.
  const auto whole = [&](std::uint64_t value) {
    if (value != 0)
      at = std::to_chars(at, at + 20, value).ptr;
    text(".00");
  };
  constexpr std::uint64_t kExact = 1000000000000000;  // 10^15: whole and exact as a double
  if (downloads >= kExact || uploads >= kExact) {
    text(RatioText(static_cast<double>(downloads), static_cast<double>(uploads)));
  } else if (downloads == 0) {
    text("0/");
    whole(uploads);
  } else if (uploads == 0) {
    whole(downloads);
    text("/0");
  } else if (uploads == downloads) {
    text("1/1");
  } else if (uploads < downloads && downloads % uploads == 0) {
    whole(downloads / uploads);
    text("/1");
  } else if (downloads < uploads && uploads % downloads == 0) {
    text("1/");
    whole(uploads / downloads);
  } else {
    text(RatioText(static_cast<double>(downloads), static_cast<double>(uploads)));
  }
  return at;
}

void AppendRatioText(std::string& out, std::uint64_t downloads, std::uint64_t uploads) {
  char text[kMostRatioText];
  out.append(text, WriteRatioText(text, downloads, uploads));
}

}  // namespace quorvane
