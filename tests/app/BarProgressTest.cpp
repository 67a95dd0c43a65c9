#include <gtest/gtest.h>

#include <QProgressBar>

#include "app/BarProgress.h"

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

TEST(BarProgressTest, ShowsWithItsMaximumAndHidesBackToZero) {
  QWidget window;
  auto* bar = new QProgressBar(&window);
  bar->setVisible(false);
  window.show();
  BarProgress progress(*bar);
  progress.Hide();  // not shown by it: left alone
  EXPECT_FALSE(bar->isVisible());
  progress.Show(7);
  EXPECT_TRUE(bar->isVisible());
  EXPECT_EQ(bar->maximum(), 7);
  progress.Advance(7);
  EXPECT_EQ(bar->value(), 7);
  progress.Hide();
  EXPECT_FALSE(bar->isVisible());
  EXPECT_EQ(bar->value(), 0);
}

}  // namespace
