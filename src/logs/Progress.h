#pragma once

#include <cstddef>
#include <functional>

namespace quorvane {

// Told how many rows of the current pass are done. Passes call it every kProgressStride rows and
// once at their end, so a window can move its progress bar without slowing a million-row pass.
using ProgressFn = std::function<void(std::size_t rowsDone)>;

inline constexpr std::size_t kProgressStride = 8192;

// The same reports shifted by `offset` rows: for a second table counted on after a first one.
inline ProgressFn OffsetProgress(const ProgressFn& progress, std::size_t offset) {
  if (!progress)
    return {};
  return [progress, offset](std::size_t rowsDone) { progress(offset + rowsDone); };
}

// Reports progress from inside a row loop: call Step(i) after row i (0-based) and Finish() at the
// end.
class ProgressTicker {
 public:
  explicit ProgressTicker(const ProgressFn& fn) : fn_(fn) {}
  void Step(std::size_t row) const {
    if (fn_ && (row + 1) % kProgressStride == 0)
      fn_(row + 1);
  }
  void Finish(std::size_t rows) const {
    if (fn_ && (rows == 0 || rows % kProgressStride != 0))
      fn_(rows);
  }

 private:
  const ProgressFn& fn_;
};

}  // namespace quorvane
