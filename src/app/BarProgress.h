#pragma once

#include <QElapsedTimer>
#include <cstddef>
#include <cstdint>

class QProgressBar;

namespace quorvane {

// Moves a progress bar while a pass of the core reports how many rows it has done. Every command
// runs to its end without returning to the event loop, so the bar repaints itself as it advances;
// at most every few hundredths of a second, which keeps a million-row pass as fast as without it.
class BarProgress {
 public:
  // Advances count from the bar's value at this moment.
  explicit BarProgress(QProgressBar& bar);

  // Sets the maximum and shows the bar; nothing when it is already shown.
  void Show(std::size_t maximum);
  // Sets the value to start + done. An advance past the maximum stops at the maximum.
  void Advance(std::size_t done);
  // Shows the bar over kByteSteps steps and moves it to the share of `total` bytes done (a total
  // of 0, unknown, leaves it at the start).
  void AdvanceBytes(std::uint64_t done, std::uint64_t total);
  static constexpr int kByteSteps = 1000;
  // Value back to 0, bar hidden; nothing when Show() did not show it.
  void Hide();

 private:
  QProgressBar& bar_;
  int start_;
  bool shown_ = false;
  QElapsedTimer sinceRepaint_;
};

}  // namespace quorvane
