#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

#include "logs/DateTime.h"
#include "logs/ShiftedRows.h"

namespace quorvane {

// A table's date of each row, in 4 bytes where logs' dates fall (1970 to early 2106); a rare
// date outside them, a far one, is kept apart by its row. Reads as a vector of Timestamps.
class RowDates {
 public:
  RowDates() = default;
  explicit RowDates(const std::vector<Timestamp>& dates) {
    near_.reserve(dates.size());
    for (const Timestamp date : dates)
      push_back(date);
  }

  bool empty() const { return near_.empty(); }
  std::size_t size() const { return near_.size(); }
  void reserve(std::size_t rows) { near_.reserve(rows); }
  Timestamp operator[](std::size_t row) const {
    const std::uint32_t near = near_[row];
    if (near < kFar)
      return near;
    return near == kNoDate ? kUndated : FarOf(row)->date;
  }
  void push_back(Timestamp date) {
    near_.push_back(NearOf(date));
    if (near_.back() == kFar)
      far_.push_back({near_.size() - 1, date});
  }
  void pop_back() {
    if (near_.back() == kFar)
      far_.pop_back();
    near_.pop_back();
  }
  void Set(std::size_t row, Timestamp date) {
    if (near_[row] == kFar)
      far_.erase(FarOf(row));
    near_[row] = NearOf(date);
    if (near_[row] == kFar)
      far_.insert(FarAfter(row), {row, date});
  }
  // Removes a row; the rows behind it move up by one.
  void erase(std::size_t row) {
    auto behind = FarAfter(row);
    if (near_[row] == kFar)
      behind = far_.erase(FarOf(row));
    for (; behind != far_.end(); ++behind)
      --behind->row;
    near_.erase(row);
  }

 private:
  static constexpr std::uint32_t kFar = UINT32_MAX - 1;  // the date is in far_
  static constexpr std::uint32_t kNoDate = UINT32_MAX;   // kUndated
  struct Far {
    std::size_t row;
    Timestamp date;
  };
  static std::uint32_t NearOf(Timestamp date) {
    if (date == kUndated)
      return kNoDate;
    return date >= 0 && date < kFar ? static_cast<std::uint32_t>(date) : kFar;
  }
  // The first far date of a row past `row`.
  std::vector<Far>::iterator FarAfter(std::size_t row) {
    return std::upper_bound(far_.begin(), far_.end(), row,
                            [](std::size_t r, const Far& far) { return r < far.row; });
  }
  std::vector<Far>::const_iterator FarOf(std::size_t row) const {
    return std::lower_bound(far_.begin(), far_.end(), row,
                            [](const Far& far, std::size_t r) { return far.row < r; });
  }
  std::vector<Far>::iterator FarOf(std::size_t row) {
    return far_.begin() + (std::as_const(*this).FarOf(row) - far_.cbegin());
  }

  ShiftedRows<std::uint32_t> near_;
  std::vector<Far> far_;  // by row
};

}  // namespace quorvane
