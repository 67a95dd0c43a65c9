#include <gtest/gtest.h>

#include "analysis/RatioText.h"

namespace quorvane {
namespace {

struct RatioCase {
  double downloads;
  double uploads;
  const char* text;
  friend void PrintTo(const RatioCase& c, std::ostream* os) {
    *os << c.downloads << " to " << c.uploads;
  }
};

class RatioTextTable : public ::testing::TestWithParam<RatioCase> {};

TEST_P(RatioTextTable, GivesTheWorkedText) {
  EXPECT_EQ(RatioText(GetParam().downloads, GetParam().uploads), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(
    WorkedValues, RatioTextTable,
    ::testing::Values(RatioCase{0, 0, "0/.00"}, RatioCase{0, 7, "0/7.00"},
                      RatioCase{12, 0, "12.00/0"}, RatioCase{10, 4, "2.50/1"},
                      RatioCase{4, 10, "1/2.50"}, RatioCase{5, 5, "1/1"}, RatioCase{7, 3, "2.33/1"},
                      RatioCase{2, 3, "1/1.50"}, RatioCase{9, 8, "1.13/1"},
                      RatioCase{1001, 1000, "1.00/1"}, RatioCase{123456, 1, "123456.00/1"},
                      RatioCase{2.5, 1.25, "2.00/1"}, RatioCase{0.5, 0, ".50/0"},
                      RatioCase{0, 0.5, "0/.50"}, RatioCase{201, 200, "1.01/1"},
                      RatioCase{200, 201, "1/1.01"}, RatioCase{2.5, 1.67, "1.50/1"}));

TEST(FormatHundredths, RoundsHalfAwayFromZeroAtFifteenDigits) {
  struct Case {
    double value;
    const char* text;
  };
  const Case cases[] = {
      {0, ".00"},
      {0.5, ".50"},
      {1.125, "1.13"},
      {0.125, ".13"},
      {1.005, "1.01"},
      {2.675, "2.68"},
      {1.0049999, "1.00"},
      {0.004, ".00"},
      {0.005, ".01"},
      {9.995, "10.00"},
      {99.999, "100.00"},
      {1e-300, ".00"},
      {1e20, "100000000000000000000.00"},
      {123456, "123456.00"},
      {5.0 / 3.0, "1.67"},
      {-1.125, "-1.13"},
      {-0.001, ".00"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(FormatHundredths(c.value), c.text) << c.value;
}

TEST(FormatHundredths, UsesTheGivenDecimalSeparator) {
  EXPECT_EQ(FormatHundredths(2.5, ","), "2,50");
  EXPECT_EQ(RatioText(10, 4, ","), "2,50/1");
  EXPECT_EQ(RatioText(0, 0, ","), "0/,00");
  EXPECT_EQ(RatioText(5, 5, ","), "1/1");
}

TEST(DisplayedValue, IsTheNumberAsShown) {
  EXPECT_DOUBLE_EQ(DisplayedValue(5.0 / 3.0), 1.67);
  EXPECT_DOUBLE_EQ(DisplayedValue(2.499), 2.5);
  EXPECT_DOUBLE_EQ(DisplayedValue(0.001), 0);
  EXPECT_DOUBLE_EQ(DisplayedValue(1.005), 1.01);
}

}  // namespace
}  // namespace quorvane
