#include "logs/StringPool.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "logs/SharedWork.h"

#ifdef QUORVANE_HAVE_XXHASH
#define XXH_INLINE_ALL  // short texts: inlined, the hash is a handful of instructions
#include <xxhash.h>
#endif

namespace quorvane {

namespace {

constexpr unsigned kBlockShift = 16;
constexpr std::uint32_t kNone = UINT32_MAX;

// The hash's low half: a slot's home in any table of up to 2^32 slots, and a filter that skips
// most unequal texts unread (texts that share a home mostly differ in its higher bits).
std::uint32_t TagOf(std::uint64_t hash) {
  return static_cast<std::uint32_t>(hash);
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

StringPool::StringPool() : bytes_(kBlockShift) {}

StringPool::StringPool(const StringPool& other) : bytes_(other.bytes_), slots_(other.slots_) {
  for (; size_ < other.size_; size_ += kBlockEntries)
    std::memcpy(&NewEntry(), other.entries_[size_ >> kEntryShift], sizeof(Entry) * kBlockEntries);
  size_ = other.size_;
}

StringPool::Entry& StringPool::NewEntry() {
  const std::size_t at = size_ & (kBlockEntries - 1);
  if (at != 0)
    return entries_.back()[at];
  if (blocksLeft_ == 0 || chunks_.empty()) {
    constexpr std::size_t kMostBlocks = 256;  // 1 MiB
    chunkBlocks_ = chunks_.empty() ? 1 : std::min(chunkBlocks_ * 2, kMostBlocks);
    auto* chunk = static_cast<Entry*>(std::malloc(sizeof(Entry) * kBlockEntries * chunkBlocks_));
    if (chunk == nullptr)
      throw std::bad_alloc();
    chunks_.emplace_back(chunk);
    blocksLeft_ = chunkBlocks_;
  }
  entries_.push_back(chunks_.back().get() + (chunkBlocks_ - blocksLeft_--) * kBlockEntries);
  return entries_.back()[0];
}

bool StringPool::Matches(const Entry& entry, std::string_view text) const {
  const char* at = bytes_.View(entry, 1).data();
  // An empty text may point nowhere, and memcmp may not be given a null pointer.
  return TakeLength(at) == text.size() &&
         (text.empty() || std::memcmp(at, text.data(), text.size()) == 0);
}

std::size_t StringPool::SlotOf(std::string_view text, std::uint64_t hash) const {
  const std::size_t mask = slots_.size() - 1;
  const std::uint32_t tag = TagOf(hash);
  for (std::size_t i = hash & mask;; i = (i + 1) & mask) {
    const Slot& slot = slots_[i];
    if (slot.entry == 0 || (slot.tag == tag && Matches(EntryOf(slot.entry - 1), text)))
      return i;
  }
}

void StringPool::Grow(std::size_t wanted) {
  std::size_t size = 64;
  while (wanted * 4 > size * 3)
    size *= 2;
  Slots old(size, Slot{});
  old.swap(slots_);
  const std::size_t mask = size - 1;
  const auto place = [&](Slot slot) {
    std::size_t i = slot.tag & mask;
    while (slots_[i].entry != 0)
      i = (i + 1) & mask;
    slots_[i] = slot;
  };
  if (!old.empty()) {
    // The tags hold the slots' homes: the old table in order fills the new one almost in order.
    for (const Slot& slot : old) {
      if (slot.entry != 0)
        place(slot);
    }
    return;
  }
  // After DropIndex: hash the texts again, in id order (entries lie one after another).
  for (std::uint32_t id = 0; id < size_; ++id)
    place({id + 1, TagOf(HashText(Text(id)))});
}

std::uint64_t StringPool::Hash(std::string_view text) {
  return HashText(text);
}

std::uint32_t StringPool::Intern(std::string_view text, std::uint64_t hash) {
  Reserve(size_ + 1);
  const std::size_t slot = SlotOf(text, hash);
  if (slots_[slot].entry != 0)
    return slots_[slot].entry - 1;
  const std::uint32_t id = Add(text);
  slots_[slot] = {id + 1, TagOf(hash)};
  return id;
}

std::uint32_t StringPool::Add(std::string_view text) {
  const auto id = static_cast<std::uint32_t>(size_);
  Entry offset = 0;
  char* at = bytes_.Extend(LengthSize(text.size()) + text.size(), offset);
  PutLength(at, text.size());
  if (!text.empty())
    std::memcpy(at, text.data(), text.size());
  NewEntry() = offset;
  ++size_;
  return id;
}

std::vector<std::uint32_t> StringPool::TagsOf(const StringPool& from) {
  std::vector<std::uint32_t> tags(from.size_);
  for (std::uint32_t id = 0; id < from.size_; ++id)
    tags[id] = TagOf(HashText(from.Text(id)));
  return tags;
}

std::vector<std::uint32_t> StringPool::FindAll(const StringPool& from, std::uint32_t none,
                                               bool twoCores) const {
  std::vector<std::uint32_t> every(from.size_);
  for (std::uint32_t id = 0; id < every.size(); ++id)
    every[id] = id;
  return FindEach(from, every, none, twoCores);
}

std::vector<std::uint32_t> StringPool::FindEach(const StringPool& from,
                                                const std::vector<std::uint32_t>& fromIds,
                                                std::uint32_t none, bool twoCores) const {
  std::vector<std::uint32_t> ids(fromIds.size(), none);
  if (slots_.empty())
    return ids;
  // Hashing short texts read in order costs less than finding them in a table of millions.
  std::vector<std::uint32_t> tags(fromIds.size());
  const std::size_t mask = slots_.size() - 1;
  const auto find = [&](std::size_t first, std::size_t last) {
    for (std::size_t k = first; k < last; ++k)
      tags[k] = TagOf(HashText(from.Text(fromIds[k])));
    constexpr std::size_t kAhead = 16;
    for (std::size_t k = first; k < last; ++k) {
      if (k + kAhead < last)
        __builtin_prefetch(&slots_[tags[k + kAhead] & mask]);
      const std::uint32_t entry = slots_[SlotOf(from.Text(fromIds[k]), tags[k])].entry;
      if (entry != 0)
        ids[k] = entry - 1;
    }
  };
  InTwoHalves(fromIds.size(), find, twoCores);
  return ids;
}

std::vector<std::uint32_t> StringPool::AppendAll(const StringPool& from) {
  Index();  // the texts here are looked up by the table
  std::vector<std::uint32_t> ids = FindAll(from, kNone);
  for (std::uint32_t id = 0; id < ids.size(); ++id) {
    if (ids[id] != kNone)
      continue;
    DropIndex();  // the texts from here on are in no table
    ids[id] = Add(from.Text(id));
  }
  return ids;
}

std::vector<std::uint32_t> StringPool::InternAll(const StringPool& from) {
  const std::vector<std::uint32_t> tags = TagsOf(from);
  Reserve(size_ + from.size_);
  const std::size_t mask = slots_.size() - 1;
  constexpr std::size_t kAhead = 16;
  std::vector<std::uint32_t> ids(from.size_);
  for (std::uint32_t id = 0; id < from.size_; ++id) {
    if (id + kAhead < from.size_)
      __builtin_prefetch(&slots_[tags[id + kAhead] & mask]);
    ids[id] = Intern(from.Text(id), tags[id]);
  }
  return ids;
}

void StringPool::InternBatch(const std::string_view* texts, std::size_t count, std::uint32_t* ids) {
  constexpr std::size_t kAhead = 64;
  std::uint64_t hashes[kAhead];
  for (std::size_t first = 0; first < count; first += kAhead) {
    const std::size_t n = std::min(kAhead, count - first);
    // Grown first, so that the slots fetched are the ones compared.
    Reserve(size_ + n);
    const std::size_t mask = slots_.size() - 1;
    for (std::size_t i = 0; i < n; ++i) {
      hashes[i] = HashText(texts[first + i]);
      __builtin_prefetch(&slots_[hashes[i] & mask]);
    }
    // A text met before mostly stands in its home slot or a few slots on, which the fetch of
    // the home slot brought along: its slot is found, and its entry fetched, before any compare.
    constexpr std::size_t kNear = 4;
    std::uint32_t near[kAhead];
    for (std::size_t i = 0; i < n; ++i) {
      near[i] = 0;  // none: left to Intern
      const std::uint32_t tag = TagOf(hashes[i]);
      for (std::size_t k = 0; k < kNear; ++k) {
        const Slot& slot = slots_[(hashes[i] + k) & mask];
        if (slot.entry == 0)
          break;
        if (slot.tag == tag) {
          near[i] = slot.entry;
          __builtin_prefetch(&EntryOf(slot.entry - 1));
          break;
        }
      }
    }
    for (std::size_t i = 0; i < n; ++i) {
      if (near[i] != 0 && Matches(EntryOf(near[i] - 1), texts[first + i]))
        ids[first + i] = near[i] - 1;
      else
        ids[first + i] = Intern(texts[first + i], hashes[i]);
    }
  }
}

bool StringPool::Holds(std::uint32_t id, std::string_view text) const {
  return Matches(EntryOf(id), text);
}

std::optional<std::uint32_t> StringPool::Find(std::string_view text) const {
  if (slots_.empty())
    return std::nullopt;
  const std::uint32_t entry = slots_[SlotOf(text, HashText(text))].entry;
  if (entry == 0)
    return std::nullopt;
  return entry - 1;
}

}  // namespace quorvane
