#include "logs/StringPool.h"

#include <cstring>

#ifdef QUORVANE_HAVE_XXHASH
#define XXH_INLINE_ALL  // short texts: inlined, the hash is a handful of instructions
#include <xxhash.h>
#endif

namespace quorvane {

namespace {

constexpr unsigned kBlockShift = 16;

std::uint32_t TagOf(std::uint64_t hash) {
  return static_cast<std::uint32_t>(hash >> 32);
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

template <typename Word>
Word Load(const char* p) {
  Word word;
  std::memcpy(&word, p, sizeof word);
  return word;
}

// Equality of two texts of the same length; most names and addresses are under 16 bytes, where
// two overlapping loads beat a call to memcmp.
bool SameBytes(const char* a, const char* b, std::size_t size) {
  if (size >= 8 && size <= 16) {
    return Load<std::uint64_t>(a) == Load<std::uint64_t>(b) &&
           Load<std::uint64_t>(a + size - 8) == Load<std::uint64_t>(b + size - 8);
  }
  if (size >= 4 && size < 8) {
    return Load<std::uint32_t>(a) == Load<std::uint32_t>(b) &&
           Load<std::uint32_t>(a + size - 4) == Load<std::uint32_t>(b + size - 4);
  }
  return size == 0 || std::memcmp(a, b, size) == 0;
}

}  // namespace

StringPool::StringPool() : bytes_(kBlockShift) {}

std::size_t StringPool::SlotOf(std::string_view text, std::uint64_t hash) const {
  const std::size_t mask = slots_.size() - 1;
  const std::uint32_t tag = TagOf(hash);
  for (std::size_t i = hash & mask;; i = (i + 1) & mask) {
    const Slot& slot = slots_[i];
    if (slot.entry == 0)
      return i;
    if (slot.tag == tag) {
      const Entry& entry = entries_[slot.entry - 1];
      if (entry.length == text.size() &&
          SameBytes(bytes_.View(entry.offset, entry.length).data(), text.data(), text.size()))
        return i;
    }
  }
}

void StringPool::Grow() {
  const std::size_t size = slots_.empty() ? 64 : slots_.size() * 2;
  std::vector<Slot>().swap(slots_);  // the old table goes first: no peak of both
  slots_.assign(size, Slot{});
  const std::size_t mask = size - 1;
  // Texts in id order lie one after another: hashing them again reads memory in order.
  for (std::uint32_t id = 0; id < entries_.size(); ++id) {
    const std::uint64_t hash = HashText(Text(id));
    std::size_t i = hash & mask;
    while (slots_[i].entry != 0)
      i = (i + 1) & mask;
    slots_[i] = {id + 1, TagOf(hash)};
  }
}

std::uint64_t StringPool::Hash(std::string_view text) {
  return HashText(text);
}

void StringPool::Prefetch(std::uint64_t hash, int stage) const {
#if defined(__GNUC__)
  if (slots_.empty())
    return;
  const Slot& slot = slots_[hash & (slots_.size() - 1)];
  if (stage == 0) {
    __builtin_prefetch(&slot);
  } else if (slot.entry != 0 && slot.tag == TagOf(hash)) {
    const Entry& entry = entries_[slot.entry - 1];
    if (stage == 1)
      __builtin_prefetch(&entry);
    else
      __builtin_prefetch(bytes_.View(entry.offset, entry.length).data());
  }
#else
  (void)hash;
  (void)stage;
#endif
}

std::uint32_t StringPool::Intern(std::string_view text, std::uint64_t hash) {
  // Keep the table at most three quarters full so probes stay short.
  if ((entries_.size() + 1) * 4 > slots_.size() * 3)
    Grow();
  const std::size_t slot = SlotOf(text, hash);
  if (slots_[slot].entry != 0)
    return slots_[slot].entry - 1;
  const auto id = static_cast<std::uint32_t>(entries_.size());
  const std::uint32_t offset = bytes_.Append(text);
  entries_.push_back({offset, static_cast<std::uint32_t>(text.size())});
  slots_[slot] = {id + 1, TagOf(hash)};
  return id;
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
