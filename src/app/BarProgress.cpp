#include "app/BarProgress.h"

#include <QProgressBar>
#include <algorithm>
#include <limits>

namespace quorvane {

namespace {
constexpr qint64 kRepaintMilliseconds = 30;
}

BarProgress::BarProgress(QProgressBar& bar) : bar_(bar), start_(std::max(bar.value(), 0)) {
  sinceRepaint_.start();
}

void BarProgress::Show(std::size_t maximum) {
  if (shown_)
    return;
  constexpr std::size_t kLargest = std::numeric_limits<int>::max();
  bar_.setMaximum(static_cast<int>(std::min(maximum, kLargest)));
  bar_.setVisible(true);
  shown_ = true;
}

void BarProgress::Advance(std::size_t done) {
  const std::size_t room = static_cast<std::size_t>(std::max(bar_.maximum() - start_, 0));
  bar_.setValue(start_ + static_cast<int>(std::min(done, room)));
  if (bar_.isVisible() && sinceRepaint_.elapsed() >= kRepaintMilliseconds) {
    bar_.repaint();
    sinceRepaint_.restart();
  }
}

void BarProgress::AdvanceBytes(std::uint64_t done, std::uint64_t total) {
  Show(kByteSteps);
  if (total != 0)
    Advance(static_cast<std::size_t>(std::min(done, total) * kByteSteps / total));
}

void BarProgress::Hide() {
  if (!shown_)
    return;
  bar_.setValue(0);
  bar_.setVisible(false);
  shown_ = false;
}

}  // namespace quorvane
