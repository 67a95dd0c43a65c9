#include "logs/ByteArena.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>
#include <stdexcept>
#include <utility>

namespace quorvane {

namespace {

constexpr std::uint64_t kOffsetSpace = std::uint64_t{1} << 32;
constexpr std::size_t kFirstBlock = 4096;

}  // namespace

ByteArena::ByteArena(unsigned blockShift)
    : shift_(blockShift),
      mask_(static_cast<std::uint32_t>((std::uint64_t{1} << blockShift) - 1)),
      nextCapacity_(std::min<std::size_t>(kFirstBlock, std::size_t{1} << blockShift)) {}

ByteArena::ByteArena(const ByteArena& other)
    : shift_(other.shift_),
      mask_(other.mask_),
      current_(other.current_),
      nextCapacity_(other.nextCapacity_) {
  blocks_.reserve(other.blocks_.size());
  try {
    for (const Block& block : other.blocks_) {
      Block& copy = blocks_.emplace_back(block);
      if (block.data != nullptr) {
        copy.data = nullptr;
        copy.data = AllocateLarge(block.capacity);
        if (block.used != 0)
          std::memcpy(copy.data, block.data, block.used);
      }
    }
  } catch (...) {
    Release();
    throw;
  }
}

ByteArena::ByteArena(ByteArena&& other) noexcept
    : shift_(other.shift_),
      mask_(other.mask_),
      blocks_(std::move(other.blocks_)),
      current_(std::exchange(other.current_, SIZE_MAX)),
      nextCapacity_(other.nextCapacity_) {
  other.blocks_.clear();
}

ByteArena& ByteArena::operator=(ByteArena&& other) noexcept {
  if (this != &other) {
    Release();
    shift_ = other.shift_;
    mask_ = other.mask_;
    blocks_ = std::move(other.blocks_);
    other.blocks_.clear();
    current_ = std::exchange(other.current_, SIZE_MAX);
    nextCapacity_ = other.nextCapacity_;
  }
  return *this;
}

ByteArena::~ByteArena() {
  Release();
}

void ByteArena::Release() noexcept {
  for (const Block& block : blocks_)
    FreeLarge(block.data, block.capacity);
  blocks_.clear();
  current_ = SIZE_MAX;
}

std::size_t ByteArena::AddBlock(std::size_t capacity, std::size_t offsetsCovered) {
  const std::size_t index = blocks_.size();
  if ((static_cast<std::uint64_t>(index + offsetsCovered) << shift_) > kOffsetSpace)
    throw std::length_error("more than 4 GiB of text");
  // Room first (doubling, so that adding blocks stays linear): once the block is allocated,
  // nothing may throw and leak it.
  if (blocks_.capacity() < index + offsetsCovered)
    blocks_.reserve(std::max(index + offsetsCovered, 2 * blocks_.capacity()));
  blocks_.push_back({AllocateLarge(capacity), capacity, 0});
  blocks_.resize(index + offsetsCovered);
  return index;
}

char* ByteArena::Extend(std::size_t size, std::uint32_t& offset) {
  const std::size_t extent = std::size_t{1} << shift_;
  if (current_ == SIZE_MAX || blocks_[current_].capacity - blocks_[current_].used < size) {
    if (size > extent / 4) {
      // A long text: a block of its own, covering as many offsets as it needs. Short texts go
      // on filling the current block.
      const std::size_t index = AddBlock(size, (size + extent - 1) / extent);
      blocks_[index].used = size;
      offset = static_cast<std::uint32_t>(index << shift_);
      return blocks_[index].data;
    }
    current_ = AddBlock(std::max(nextCapacity_, size), 1);
    nextCapacity_ = std::min(extent, nextCapacity_ * 2);
  }
  Block& block = blocks_[current_];
  offset = static_cast<std::uint32_t>((current_ << shift_) + block.used);
  char* at = block.data + block.used;
  block.used += size;
  return at;
}

std::uint32_t ByteArena::Append(std::string_view bytes) {
  if (bytes.empty())
    return 0;
  std::uint32_t offset = 0;
  std::memcpy(Extend(bytes.size(), offset), bytes.data(), bytes.size());
  return offset;
}

}  // namespace quorvane
