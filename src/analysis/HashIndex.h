#pragma once
// Hash tables over the interned ids and the cell texts of two log tables, for the passes that
// count per user or per file. Internal to analysis/.

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstring>
#include <deque>
#include <limits>
#include <string>
#include <string_view>
#include <vector>

#include "logs/ByteArena.h"
#include "logs/LogTable.h"
#include "logs/StringPool.h"
#include "logs/TextEncoding.h"

namespace quorvane::detail {

inline constexpr std::uint32_t kNobody = std::numeric_limits<std::uint32_t>::max();
inline constexpr std::size_t kRowsWorthAThread = 100000;

// Big scratch arrays come from huge pages: fresh memory costs a fault per small page.
template <typename T>
using Array = std::vector<T, LargeAllocator<T>>;

inline std::size_t TableSizeFor(std::size_t entries) {
  return std::bit_ceil(std::max<std::size_t>(entries * 2, 1024));
}

inline std::uint64_t Pair(std::uint32_t high, std::uint32_t low) {
  return (std::uint64_t{high} << 32) | low;
}

// Whether n bytes at a and b are equal: file names are short, and a call to memcmp costs more
// than comparing them here.
inline bool SameBytes(const char* a, const char* b, std::size_t n) {
  for (; n >= 8; a += 8, b += 8, n -= 8) {
    std::uint64_t x, y;
    std::memcpy(&x, a, 8);
    std::memcpy(&y, b, 8);
    if (x != y)
      return false;
  }
  for (; n > 0; --n) {
    if (*a++ != *b++)
      return false;
  }
  return true;
}

// The free slot of a table of 64-bit keys (open addressing, linear probing).
inline constexpr std::uint64_t kNoKey = std::numeric_limits<std::uint64_t>::max();

// Where `key` is in `keys` (a power of two of them), or the free slot it would take.
// The finaliser of MurmurHash3: every key bit reaches the low bits a mask keeps.
inline std::uint64_t KeyHash(std::uint64_t key) {
  std::uint64_t h = key;
  h ^= h >> 33;
  h *= 0xff51afd7ed558ccdULL;
  h ^= h >> 33;
  h *= 0xc4ceb9fe1a85ec53ULL;
  return h ^ (h >> 33);
}

template <typename Keys>
std::size_t KeySlot(const Keys& keys, std::uint64_t key) {
  const std::size_t mask = keys.size() - 1;
  std::size_t i = KeyHash(key) & mask;
  while (keys[i] != kNoKey && keys[i] != key)
    i = (i + 1) & mask;
  return i;
}

// A set of 64-bit keys.
class KeySet {
 public:
  // True when the key was not in the set yet.
  bool Insert(std::uint64_t key) {
    if ((size_ + 1) * 2 > keys_.size())
      Rehash(TableSizeFor(size_ + 1));
    std::uint64_t& slot = keys_[SlotOf(key)];
    if (slot == key)
      return false;
    slot = key;
    ++size_;
    return true;
  }
  bool Contains(std::uint64_t key) const { return !keys_.empty() && keys_[SlotOf(key)] == key; }
  template <typename Visit>
  void ForEach(Visit visit) const {
    for (std::uint64_t key : keys_) {
      if (key != kEmpty)
        visit(key);
    }
  }

 private:
  static constexpr std::uint64_t kEmpty = kNoKey;

  std::size_t SlotOf(std::uint64_t key) const { return KeySlot(keys_, key); }
  void Rehash(std::size_t slots) {
    Array<std::uint64_t> old = std::move(keys_);
    keys_.assign(slots, kEmpty);
    for (std::uint64_t key : old) {
      if (key != kEmpty)
        keys_[SlotOf(key)] = key;
    }
  }

  Array<std::uint64_t> keys_;
  std::size_t size_ = 0;
};

// The distinct texts of one column, looked up many times over. A million lookups in a table of
// a few hundred thousand texts wait on memory, so lookups come in batches whose slots are fetched
// ahead.
class TextIndex {
 public:
  static constexpr std::size_t kBatch = 16;

  explicit TextIndex(std::size_t capacity) : slots_(TableSizeFor(capacity), 0) {
    texts_.reserve(capacity);
  }
  std::size_t Size() const { return texts_.size(); }
  static std::uint64_t Hash(std::string_view text) { return StringPool::Hash(text); }

  // Adds the `count` texts in order, each when it is new, what they are compared with fetched
  // ahead; added(i, id) for each, before the next is added. At most `capacity` texts in all.
  template <typename Added>
  void AddBatch(const std::string_view* texts, std::size_t count, Added added) {
    std::uint64_t hashes[kBatch];
    FetchAhead(texts, count, hashes);
    for (std::size_t i = 0; i < count; ++i)
      added(i, Add(texts[i], hashes[i]));
  }
  std::string_view Text(std::uint32_t id) const { return texts_[id]; }

  // Calls found(i, id) for each of the `count` texts that the index holds.
  template <typename Found>
  void FindBatch(const std::string_view* texts, std::size_t count, Found found) const {
    std::uint64_t hashes[kBatch];
    FetchAhead(texts, count, hashes);
    for (std::size_t i = 0; i < count; ++i) {
      const std::uint64_t slot = slots_[SlotOf(texts[i], hashes[i])];
      if (slot != 0)
        found(i, IdOf(slot));
    }
  }

 private:
  // A slot holds the hash's high half and the id + 1 (0: free).
  static constexpr std::uint64_t kTagMask = 0xFFFFFFFF00000000ULL;

  std::uint32_t Add(std::string_view text, std::uint64_t hash) {
    std::uint64_t& slot = slots_[SlotOf(text, hash)];
    if (slot == 0) {
      texts_.push_back(text);
      slot = (hash & kTagMask) | texts_.size();
    }
    return IdOf(slot);
  }

  // Hashes the texts and fetches, in three rounds so that the waits overlap, each one's first
  // slot, the text it names and that text's bytes: a lookup in a big index otherwise waits on
  // memory three times in a row.
  void FetchAhead(const std::string_view* texts, std::size_t count, std::uint64_t* hashes) const {
    const std::size_t mask = slots_.size() - 1;
    for (std::size_t i = 0; i < count; ++i) {
      hashes[i] = Hash(texts[i]);
      __builtin_prefetch(&slots_[hashes[i] & mask]);
    }
    std::uint64_t slots[kBatch];
    for (std::size_t i = 0; i < count; ++i) {
      slots[i] = slots_[hashes[i] & mask];
      if (slots[i] != 0)
        __builtin_prefetch(&texts_[IdOf(slots[i])]);
    }
    for (std::size_t i = 0; i < count; ++i) {
      if (slots[i] != 0 && (slots[i] & kTagMask) == (hashes[i] & kTagMask))
        __builtin_prefetch(texts_[IdOf(slots[i])].data());
    }
  }
  static std::uint32_t IdOf(std::uint64_t slot) {
    return static_cast<std::uint32_t>((slot & ~kTagMask) - 1);
  }
  std::size_t SlotOf(std::string_view text, std::uint64_t hash) const {
    const std::size_t mask = slots_.size() - 1;
    for (std::size_t i = hash & mask;; i = (i + 1) & mask) {
      const std::uint64_t slot = slots_[i];
      if (slot == 0)
        return i;
      if ((slot & kTagMask) == (hash & kTagMask)) {
        const std::string_view held = texts_[IdOf(slot)];
        if (held.size() == text.size() && SameBytes(held.data(), text.data(), text.size()))
          return i;
      }
    }
  }

  Array<std::uint64_t> slots_;
  Array<std::string_view> texts_;
};

// Texts of two tables compare as their files' bytes decode; with one encoding the bytes do.
class CellKeys {
 public:
  CellKeys(const LogTable& downloads, const LogTable& uploads)
      : decode_(downloads.TextEncoding() != uploads.TextEncoding()) {}
  // Whether keys are decoded texts; else they are the cells' bytes.
  bool Decodes() const { return decode_; }
  // The key of a cell, valid as long as this object.
  std::string_view Of(const LogTable& table, std::string_view bytes) {
    if (!decode_)
      return bytes;
    return kept_.emplace_back(DecodeToUtf8(bytes, table.TextEncoding()));
  }
  // The key of a cell, valid until the next call with the same `slot`.
  std::string_view Of(const LogTable& table, std::string_view bytes, std::string& slot) const {
    if (!decode_)
      return bytes;
    slot = DecodeToUtf8(bytes, table.TextEncoding());
    return slot;
  }

 private:
  bool decode_;
  std::deque<std::string> kept_;
};

}  // namespace quorvane::detail
