#include "logs/ByteBuffer.h"

#include <cstdlib>
#include <cstring>
#include <new>

#if defined(__linux__)
#include <sys/mman.h>
#endif

namespace quorvane {

namespace {

constexpr std::size_t kHugePage = std::size_t{2} << 20;

}  // namespace

char* AllocateLarge(std::size_t capacity) {
  if (capacity == 0)
    capacity = 1;
#if defined(__linux__)
  if (capacity >= 4 * kHugePage) {
    const std::size_t rounded = (capacity + kHugePage - 1) / kHugePage * kHugePage;
    if (void* p = std::aligned_alloc(kHugePage, rounded)) {
      madvise(p, rounded, MADV_HUGEPAGE);  // only advice: ignored where huge pages are off
      return static_cast<char*>(p);
    }
    throw std::bad_alloc();
  }
#endif
  if (void* p = std::malloc(capacity))
    return static_cast<char*>(p);
  throw std::bad_alloc();
}

void FreeLarge(char* p) {
  std::free(p);
}

void ByteBuffer::Free::operator()(char* p) const {
  FreeLarge(p);
}

ByteBuffer::ByteBuffer(std::size_t capacity)
    : data_(AllocateLarge(capacity)), capacity_(capacity) {}

ByteBuffer::ByteBuffer(std::string_view bytes) : ByteBuffer(bytes.size()) {
  if (!bytes.empty())
    std::memcpy(data_.get(), bytes.data(), bytes.size());
  size_ = bytes.size();
}

void ByteBuffer::Grow(std::size_t capacity) {
  if (capacity <= capacity_)
    return;
  std::unique_ptr<char[], Free> bigger(AllocateLarge(capacity));
  if (size_ != 0)
    std::memcpy(bigger.get(), data_.get(), size_);
  data_ = std::move(bigger);
  capacity_ = capacity;
}

}  // namespace quorvane
