#pragma once

#include <cstddef>
#include <memory>
#include <string_view>

namespace quorvane {

// Memory for big tables. Fresh memory costs a page fault per page on first touch; for blocks of
// many megabytes these ask the system for huge pages, which cuts those faults five-hundredfold.
char* AllocateLarge(std::size_t bytes);
void FreeLarge(char* p);

template <typename T>
struct LargeAllocator {
  using value_type = T;
  LargeAllocator() = default;
  template <typename U>
  LargeAllocator(const LargeAllocator<U>&) noexcept {}
  T* allocate(std::size_t n) { return reinterpret_cast<T*>(AllocateLarge(n * sizeof(T))); }
  void deallocate(T* p, std::size_t) noexcept { FreeLarge(reinterpret_cast<char*>(p)); }
  template <typename U>
  bool operator==(const LargeAllocator<U>&) const noexcept {
    return true;
  }
};

// A file's bytes in one heap block that never moves, so views into it survive moving the
// buffer. Its room is left uninitialised (the file read fills it) and comes from AllocateLarge.
class ByteBuffer {
 public:
  ByteBuffer() = default;
  explicit ByteBuffer(std::size_t capacity);
  explicit ByteBuffer(std::string_view bytes);

  char* Data() { return data_.get(); }
  const char* Data() const { return data_.get(); }
  std::size_t Size() const { return size_; }
  std::size_t Capacity() const { return capacity_; }
  std::string_view View() const { return {data_.get(), size_}; }

  // Size within the capacity.
  void SetSize(std::size_t size) { size_ = size; }
  // Moves the bytes into a block of the given, larger capacity.
  void Grow(std::size_t capacity);

 private:
  struct Free {
    void operator()(char* p) const;
  };
  std::unique_ptr<char[], Free> data_;
  std::size_t size_ = 0;
  std::size_t capacity_ = 0;
};

}  // namespace quorvane
