#pragma once

#include <algorithm>
#include <cstddef>
#include <utility>
#include <vector>

namespace quorvane {

// A vector of one item per row whose removals move the fewer rows: removing a row in the front
// half moves the rows before it back by one, over a slot at the head left unused, instead of
// every row behind it forward (Backspace on a log's first rows moves a few, not millions).
template <typename T, typename Allocator = std::allocator<T>>
class ShiftedRows {
 public:
  using Items = std::vector<T, Allocator>;

  ShiftedRows() = default;
  ShiftedRows(const ShiftedRows& other) : items_(other.begin(), other.end()) {}
  ShiftedRows(ShiftedRows&& other) noexcept
      : items_(std::move(other.items_)), head_(std::exchange(other.head_, 0)) {
    other.items_.clear();
  }
  ShiftedRows& operator=(const ShiftedRows& other) {
    if (this != &other) {
      items_.assign(other.begin(), other.end());
      head_ = 0;
    }
    return *this;
  }
  ShiftedRows& operator=(ShiftedRows&& other) noexcept {
    if (this != &other) {
      items_ = std::move(other.items_);
      head_ = std::exchange(other.head_, 0);
      other.items_.clear();
    }
    return *this;
  }
  ShiftedRows& operator=(Items&& items) noexcept {
    items_ = std::move(items);
    head_ = 0;
    return *this;
  }

  std::size_t size() const { return items_.size() - head_; }
  bool empty() const { return size() == 0; }
  T& operator[](std::size_t row) { return items_[head_ + row]; }
  const T& operator[](std::size_t row) const { return items_[head_ + row]; }
  T& back() { return items_.back(); }
  const T& back() const { return items_.back(); }
  T* begin() { return items_.data() + head_; }
  T* end() { return items_.data() + items_.size(); }
  const T* begin() const { return items_.data() + head_; }
  const T* end() const { return items_.data() + items_.size(); }

  void reserve(std::size_t rows) { items_.reserve(head_ + rows); }
  void push_back(const T& item) { items_.push_back(item); }
  void pop_back() { items_.pop_back(); }
  void clear() {
    items_.clear();
    head_ = 0;
  }
  // Removes a row; the rows behind it move up by one.
  void erase(std::size_t row) {
    if (row < size() - 1 - row) {
      std::move_backward(begin(), begin() + row, begin() + row + 1);
      ++head_;
    } else {
      items_.erase(items_.begin() + static_cast<std::ptrdiff_t>(head_ + row));
    }
  }

 private:
  Items items_;
  std::size_t head_ = 0;  // slots at the front that removals left unused
};

}  // namespace quorvane
