#include <gtest/gtest.h>

#include <QProgressBar>

#include "app/BarProgress.h"

namespace quorvane {
namespace {

TEST(BarProgressTest, AdvancesFromTheBarsValueAndStopsAtItsMaximum) {
  QProgressBar bar;
  bar.setRange(0, 100);
  bar.setValue(40);
  BarProgress progress(bar);
  progress.Advance(25);
  EXPECT_EQ(bar.value(), 65);
  progress.Advance(90);  // past the maximum: stays there
  EXPECT_EQ(bar.value(), 100);
}

}  // namespace
}  // namespace quorvane
