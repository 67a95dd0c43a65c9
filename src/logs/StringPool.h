#pragma once

#include <bit>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <string_view>
#include <vector>

#include "logs/ByteArena.h"
#include "logs/LargeMemory.h"

namespace quorvane {

// The first min(size, 8) bytes of [text, text + size) as they lie in memory, zero-padded: read in
// a load or three without touching a byte past the end, and without the byte-wise copy whose
// reload in one word stalls the processor.
inline std::uint64_t TextHead(const char* text, std::size_t size) {
  const auto load = [](const char* at, auto word) {
    std::memcpy(&word, at, sizeof word);
    return static_cast<std::uint64_t>(word);
  };
  if constexpr (std::endian::native == std::endian::little) {
    if (size >= 4) {
      // Two four-byte loads, overlapping below 8 bytes: one path for every size from 4 on, as
      // names of 7 and 8 bytes, mixed, would foil a branch on the size.
      const std::size_t used = size < 8 ? size : 8;
      return load(text, std::uint32_t{}) | load(text + used - 4, std::uint32_t{}) << (used - 4) * 8;
    }
    if (size == 0)
      return 0;
    return load(text, std::uint8_t{}) | load(text + size / 2, std::uint8_t{}) << size / 2 * 8 |
           load(text + size - 1, std::uint8_t{}) << (size - 1) * 8;
  } else {
    std::uint64_t head = 0;
    if (size != 0)
      std::memcpy(&head, text, size < 8 ? size : 8);
    return head;
  }
}

// Interns texts into small integer ids, so that counting, matching and renaming become integer
// work. Ids are dense, starting at 0, in order of first appearance. Lookups are exact: same
// length, same bytes. The pool keeps its own copy of each distinct text, packed together in an
// arena after its length, and per id only where it lies (4 bytes): a pool of a million file
// names holds little more than their bytes, and a lookup reads the hash table, one entry and the
// text, not wherever the text first stood in a big file.
class StringPool {
 public:
  StringPool();
  StringPool(StringPool&&) noexcept = default;
  StringPool& operator=(StringPool&&) noexcept = default;
  StringPool(const StringPool& other);
  StringPool& operator=(const StringPool&) = delete;

  // The id of the text, adding it when it is new. Throws std::length_error past 4 GiB of text.
  std::uint32_t Intern(std::string_view text) { return Intern(text, Hash(text)); }
  static std::uint64_t Hash(std::string_view text);
  std::uint32_t Intern(std::string_view text, std::uint64_t hash);
  // Interns texts[0..count) in order, their ids into `ids`: as many Intern calls, but each text's
  // slot and entry are fetched for a few dozen texts before any is compared, so that the cache
  // misses of a big pool's lookups overlap instead of coming one after the other.
  void InternBatch(const std::string_view* texts, std::size_t count, std::uint32_t* ids);
  // Interns every text of `from` in its id order, as InternBatch does; the ids they have here, by
  // their ids there. The table grows once.
  std::vector<std::uint32_t> InternAll(const StringPool& from);
  // The same for a pool whose lookup table is dropped next (DropIndex): texts new here are only
  // added, not placed in the table, which is dropped already when any was new.
  std::vector<std::uint32_t> AppendAll(const StringPool& from);

  std::optional<std::uint32_t> Find(std::string_view text) const;
  // By id of `from`: the id its text has here, or `none`; a few dozen looked up at once, as
  // InternAll does. `twoCores`: many texts are looked up half on a second core, for a caller
  // that has no other work on it meanwhile.
  std::vector<std::uint32_t> FindAll(const StringPool& from, std::uint32_t none,
                                     bool twoCores = false) const;
  // The same for the given ids of `from` only, by their place in `fromIds`.
  std::vector<std::uint32_t> FindEach(const StringPool& from,
                                      const std::vector<std::uint32_t>& fromIds, std::uint32_t none,
                                      bool twoCores = false) const;
  // Fetches the id's entry ahead of a Text call soon after.
  void Prefetch(std::uint32_t id) const { __builtin_prefetch(&EntryOf(id)); }
  // Whether the id's text is exactly `text`.
  bool Holds(std::uint32_t id, std::string_view text) const;
  // Views stay valid for the pool's lifetime.
  std::string_view Text(std::uint32_t id) const {
    const char* at = bytes_.View(EntryOf(id), 1).data();
    const std::size_t length = TakeLength(at);
    return {at, length};
  }
  std::size_t Size() const { return size_; }
  // Frees the lookup table, for a pool that only gives texts by id from now on; a later Find
  // finds nothing and a later Intern builds the table again.
  void DropIndex() { Slots().swap(slots_); }
  // Whether adding `more` texts would grow the lookup table.
  bool Outgrows(std::size_t more) const { return TooFull(size_ + more); }
  // Makes room for `texts` texts in all, so that the table grows once instead of step by step.
  void Reserve(std::size_t texts) {
    if (TooFull(texts))
      Grow(texts);
  }
  // Makes the lookup table again after DropIndex, ahead of the Intern calls that would.
  void Index() {
    if (slots_.empty() && size_ != 0)
      Grow(size_);
  }

 private:
  static constexpr unsigned kEntryShift = 10;  // entries live in blocks of 1024 that never move
  static constexpr std::size_t kBlockEntries = std::size_t{1} << kEntryShift;

  using Entry = std::uint32_t;  // where the text lies in bytes_: its length, then its bytes
  struct Slot {
    std::uint32_t entry = 0;  // id + 1; 0 for a free slot
    std::uint32_t tag = 0;    // the hash's low half
  };
  const Entry& EntryOf(std::uint32_t id) const {
    return entries_[id >> kEntryShift][id & (kBlockEntries - 1)];
  }
  bool Matches(const Entry& entry, std::string_view text) const;
  // By id of `from`: its text's hash as far as a table of up to 2^32 slots looks at it (the tag).
  static std::vector<std::uint32_t> TagsOf(const StringPool& from);
  std::size_t SlotOf(std::string_view text, std::uint64_t hash) const;
  // Whether the table holding `texts` would be more than three quarters full: probes stay short.
  bool TooFull(std::size_t texts) const { return texts * 4 > slots_.size() * 3; }
  // Makes room for `wanted` texts (the table at most three quarters full).
  void Grow(std::size_t wanted);
  // The entry of the next id, in a new block when the last is full.
  Entry& NewEntry();
  // Adds the text as the next id, in no slot yet.
  std::uint32_t Add(std::string_view text);

  // Entry blocks are carved from chunks of twice as many blocks as the chunk before, up to a few
  // megabytes: a small pool stays small, a big one takes few allocations.
  struct ChunkFree {
    void operator()(Entry* chunk) const noexcept { std::free(chunk); }
  };
  // The table is given back at once when outgrown: the room is wanted by what comes next.
  using Slots = std::vector<Slot, ScratchAllocator<Slot>>;

  ByteArena bytes_;
  std::vector<std::unique_ptr<Entry[], ChunkFree>> chunks_;
  std::size_t chunkBlocks_ = 0;  // the last chunk's
  std::size_t blocksLeft_ = 0;   // in the last chunk
  std::vector<Entry*> entries_;
  std::size_t size_ = 0;
  Slots slots_;  // open addressing, linear probing
};

}  // namespace quorvane
