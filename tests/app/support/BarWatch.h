#pragma once

#include <QObject>
#include <QProgressBar>
#include <algorithm>
#include <vector>

// Records every value a progress bar takes and whether the bar was on screen at that moment.
class BarWatch {
 public:
  explicit BarWatch(QProgressBar* bar) {
    QObject::connect(bar, &QProgressBar::valueChanged, bar, [this, bar](int value) {
      changes_.push_back({value, bar->isVisible()});
    });
  }

  // The highest value taken; -1 when the bar never moved.
  int Peak() const {
    int peak = -1;
    for (const Change& change : changes_)
      peak = std::max(peak, change.value);
    return peak;
  }
  // Every advance happened while the bar was shown.
  bool ShownWhileMoving() const {
    for (const Change& change : changes_) {
      if (change.value > 0 && !change.visible)
        return false;
    }
    return true;
  }
  std::size_t Count() const { return changes_.size(); }
  int Last() const { return changes_.empty() ? -1 : changes_.back().value; }

 private:
  struct Change {
    int value;
    bool visible;
  };
  std::vector<Change> changes_;
};
