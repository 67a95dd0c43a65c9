#pragma once

#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

#include "logs/ByteArena.h"

namespace quorvane {

// Interns texts into small integer ids, so that counting, matching and renaming become integer
// work. Ids are dense, starting at 0, in order of first appearance. Lookups are exact: same
// length, same bytes. The pool keeps its own copy of each distinct text, packed together, so a
// lookup touches a few cache lines instead of wherever the text first stood in a big file.
class StringPool {
 public:
  StringPool();
  StringPool(StringPool&&) noexcept = default;
  StringPool& operator=(StringPool&&) noexcept = default;
  StringPool(const StringPool&) = default;
  StringPool& operator=(const StringPool&) = delete;

  // The id of the text, adding it when it is new. Throws std::length_error past 4 GiB of text.
  std::uint32_t Intern(std::string_view text) { return Intern(text, Hash(text)); }

  // Interning many texts at once goes faster in steps over all of them: hash each, then bring
  // what its lookup will read into the cache in stages 0, 1 and 2, then intern each with its
  // hash. The lookups of a batch then wait for memory together instead of one after another.
  static std::uint64_t Hash(std::string_view text);
  void Prefetch(std::uint64_t hash, int stage) const;
  std::uint32_t Intern(std::string_view text, std::uint64_t hash);
  std::optional<std::uint32_t> Find(std::string_view text) const;
  // Views stay valid for the pool's lifetime.
  std::string_view Text(std::uint32_t id) const {
    const Entry& entry = entries_[id];
    return bytes_.View(entry.offset, entry.length);
  }
  std::size_t Size() const { return entries_.size(); }
  // Frees the lookup table, for a pool that only gives texts by id from now on; a later Find
  // finds nothing and a later Intern builds the table again.
  void DropIndex() { std::vector<Slot>().swap(slots_); }

 private:
  struct Entry {
    std::uint32_t offset;
    std::uint32_t length;
  };
  struct Slot {
    std::uint32_t entry = 0;  // id + 1; 0 for a free slot
    std::uint32_t tag = 0;    // high bits of the hash, to skip most unequal texts unread
  };

  std::size_t SlotOf(std::string_view text, std::uint64_t hash) const;
  void Grow();

  ByteArena bytes_;
  std::vector<Entry> entries_;
  std::vector<Slot> slots_;  // open addressing, linear probing
};

}  // namespace quorvane
