#include "logs/StringPool.h"

#include <algorithm>
#include <bit>
#include <cstring>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

#ifdef QUORVANE_HAVE_XXHASH
#define XXH_INLINE_ALL  // short texts: inlined, the hash is a handful of instructions
#include <xxhash.h>
#endif

namespace quorvane {

namespace {

constexpr unsigned kBlockShift = 16;

constexpr std::size_t kGroup = 16;
constexpr std::uint8_t kFree = 0x80;

// Of the hash's low half: the low bits choose the group, seven high bits are the control byte.
std::uint8_t TagOf(std::uint32_t hash) {
  return static_cast<std::uint8_t>(hash >> 25);
}

// The slots of a group whose control byte is `byte`, as bits.
unsigned SlotsWith(const std::uint8_t* control, std::uint8_t byte) {
#ifdef __SSE2__
  const __m128i group = _mm_loadu_si128(reinterpret_cast<const __m128i*>(control));
  return static_cast<unsigned>(
      _mm_movemask_epi8(_mm_cmpeq_epi8(group, _mm_set1_epi8(static_cast<char>(byte)))));
#else
  unsigned bits = 0;
  for (std::size_t i = 0; i < kGroup; ++i)
    bits |= static_cast<unsigned>(control[i] == byte) << i;
  return bits;
#endif
}

#ifndef QUORVANE_HAVE_XXHASH
// 64-bit FNV-1a over eight bytes at a time, finished with a strong mix so that similar texts
// still land far apart.
std::uint64_t Mix(std::uint64_t h) {
  h ^= h >> 33;
  h *= 0xff51afd7ed558ccdULL;
  h ^= h >> 33;
  h *= 0xc4ceb9fe1a85ec53ULL;
  h ^= h >> 33;
  return h;
}
#endif

// The pool's hash: texts that differ in a single byte land far apart.
std::uint64_t HashText(std::string_view text) {
#ifdef QUORVANE_HAVE_XXHASH
  return XXH3_64bits(text.data(), text.size());
#else
  std::uint64_t h = 0xcbf29ce484222325ULL ^ text.size();
  std::size_t i = 0;
  for (; i + 8 <= text.size(); i += 8) {
    std::uint64_t word;
    std::memcpy(&word, text.data() + i, 8);
    h = (h ^ word) * 0x100000001b3ULL;
    h ^= h >> 29;
  }
  for (; i < text.size(); ++i)
    h = (h ^ static_cast<unsigned char>(text[i])) * 0x100000001b3ULL;
  return Mix(h);
#endif
}

}  // namespace

StringPool::Key::Key(std::string_view t) : text(t) {
  if (!t.empty())
    std::memcpy(head, t.data(), std::min(t.size(), kInline));
}

StringPool::StringPool() : bytes_(kBlockShift) {}

StringPool::StringPool(const StringPool& other)
    : bytes_(other.bytes_), size_(other.size_), control_(other.control_), ids_(other.ids_) {
  entries_.reserve(other.entries_.size());
  for (const auto& block : other.entries_) {
    entries_.push_back(std::make_unique<Entry[]>(std::size_t{1} << kEntryShift));
    std::memcpy(entries_.back().get(), block.get(), sizeof(Entry) << kEntryShift);
  }
}

bool StringPool::Matches(const Entry& entry, const Key& key) const {
  if (entry.length != key.text.size())
    return false;
  if (entry.length <= kInline) {
    std::uint64_t stored[2];
    std::memcpy(stored, entry.text, sizeof stored);
    return stored[0] == key.head[0] && stored[1] == key.head[1];
  }
  return std::memcmp(bytes_.View(entry.offsetOrHash, entry.length).data(), key.text.data(),
                     entry.length) == 0;
}

std::size_t StringPool::SlotOf(const Key& key, std::uint32_t hash, bool& found) const {
  const std::size_t groups = control_.size() / kGroup;
  const std::uint8_t tag = TagOf(hash);
  for (std::size_t group = hash & (groups - 1);; group = (group + 1) & (groups - 1)) {
    const std::size_t first = group * kGroup;
    for (unsigned match = SlotsWith(&control_[first], tag); match != 0; match &= match - 1) {
      const std::size_t slot = first + static_cast<std::size_t>(std::countr_zero(match));
      if (Matches(EntryOf(ids_[slot]), key)) {
        found = true;
        return slot;
      }
    }
    // Texts are never taken out: a text is in the first group with a free slot or before it.
    if (const unsigned free = SlotsWith(&control_[first], kFree); free != 0) {
      found = false;
      return first + static_cast<std::size_t>(std::countr_zero(free));
    }
  }
}

void StringPool::Place(std::uint32_t id, std::uint32_t hash) {
  const std::size_t groups = control_.size() / kGroup;
  for (std::size_t group = hash & (groups - 1);; group = (group + 1) & (groups - 1)) {
    const std::size_t first = group * kGroup;
    if (const unsigned free = SlotsWith(&control_[first], kFree); free != 0) {
      const std::size_t slot = first + static_cast<std::size_t>(std::countr_zero(free));
      control_[slot] = TagOf(hash);
      ids_[slot] = id;
      return;
    }
  }
}

void StringPool::Grow() {
  std::size_t slots = 4 * kGroup;
  while ((size_ + 1) * 4 > slots * 3)
    slots *= 2;
  DropIndex();  // the old table goes first: no peak of both
  control_.assign(slots, kFree);
  ids_.assign(slots, 0);
  // Entries in id order lie one after another and short ones keep their hashes.
  for (std::uint32_t id = 0; id < size_; ++id) {
    const Entry& entry = EntryOf(id);
    Place(id, entry.length <= kInline ? entry.offsetOrHash
                                      : static_cast<std::uint32_t>(HashText(Text(id))));
  }
}

std::uint64_t StringPool::Hash(std::string_view text) {
  return HashText(text);
}

std::uint32_t StringPool::Intern(std::string_view text, std::uint64_t fullHash) {
  // Keep the table at most three quarters full so probes stay short.
  if ((size_ + 1) * 4 > control_.size() * 3)
    Grow();
  const Key key(text);
  const auto hash = static_cast<std::uint32_t>(fullHash);
  bool found = false;
  const std::size_t slot = SlotOf(key, hash, found);
  if (found)
    return ids_[slot];
  const auto id = static_cast<std::uint32_t>(size_);
  Entry entry{static_cast<std::uint32_t>(text.size()), hash, {}};
  if (text.size() <= kInline)
    std::memcpy(entry.text, key.head, kInline);
  else
    entry.offsetOrHash = bytes_.Append(text);
  if ((id & ((1u << kEntryShift) - 1)) == 0)
    entries_.push_back(std::make_unique<Entry[]>(std::size_t{1} << kEntryShift));
  entries_.back()[id & ((1u << kEntryShift) - 1)] = entry;
  ++size_;
  control_[slot] = TagOf(hash);
  ids_[slot] = id;
  return id;
}

bool StringPool::Holds(std::uint32_t id, std::string_view text) const {
  return Matches(EntryOf(id), Key(text));
}

std::optional<std::uint32_t> StringPool::Find(std::string_view text) const {
  if (control_.empty())
    return std::nullopt;
  bool found = false;
  const std::size_t slot = SlotOf(Key(text), static_cast<std::uint32_t>(HashText(text)), found);
  if (!found)
    return std::nullopt;
  return ids_[slot];
}

}  // namespace quorvane
