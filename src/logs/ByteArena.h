#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

#include "logs/LargeMemory.h"

namespace quorvane {

// A length written before the bytes it counts: seven bits a byte, low first, the last byte below
// 0x80, so a text shorter than 128 bytes takes one byte more.
inline void PutLength(char*& at, std::size_t length) {
  for (; length >= 0x80; length >>= 7)
    *at++ = static_cast<char>(0x80 | (length & 0x7F));
  *at++ = static_cast<char>(length);
}
inline std::size_t LengthSize(std::size_t length) {
  std::size_t size = 1;
  for (; length >= 0x80; length >>= 7)
    ++size;
  return size;
}
// Reads a length PutLength wrote and moves `at` past it.
inline std::size_t TakeLength(const char*& at) {
  std::size_t length = 0;
  for (unsigned shift = 0;; shift += 7) {
    const auto byte = static_cast<unsigned char>(*at++);
    length |= static_cast<std::size_t>(byte & 0x7F) << shift;
    if (byte < 0x80)
      return length;
  }
}

// Append-only bytes found again by a 32-bit offset. The bytes live in blocks that are never
// copied once full, so growing never holds the old and the new storage at once the way a single
// doubling buffer does; each text lies whole in one block. The offsets span at most 4 GiB.
class ByteArena {
 public:
  // Blocks cover 2^blockShift offsets each; a text longer than a quarter block gets a block of
  // its own.
  explicit ByteArena(unsigned blockShift);
  ByteArena(ByteArena&& other) noexcept;
  ByteArena& operator=(ByteArena&& other) noexcept;
  ByteArena(const ByteArena& other);
  ByteArena& operator=(const ByteArena&) = delete;
  ~ByteArena();

  // Stores a copy of the bytes and returns its offset; throws std::length_error when the offsets
  // would pass 4 GiB.
  std::uint32_t Append(std::string_view bytes);
  // Room for `size` (> 0) bytes that the caller fills at once; sets their offset.
  char* Extend(std::size_t size, std::uint32_t& offset);

  // Whether nothing was ever stored.
  bool Empty() const { return blocks_.empty(); }

  std::string_view View(std::uint32_t offset, std::uint32_t length) const {
    if (length == 0)
      return {};
    return {blocks_[offset >> shift_].data + (offset & mask_), length};
  }

 private:
  struct Block {
    char* data = nullptr;  // null for the further offsets a long text's block covers
    std::size_t capacity = 0;
    std::size_t used = 0;
  };

  std::size_t AddBlock(std::size_t capacity, std::size_t offsetsCovered);
  void Release() noexcept;

  unsigned shift_;
  std::uint32_t mask_;
  std::vector<Block> blocks_;
  std::size_t current_ = SIZE_MAX;  // the block short texts go into
  std::size_t nextCapacity_;        // small first blocks, so small tables stay small
};

}  // namespace quorvane
