#include "logs/StringPool.h"

#include <cstring>
#include <functional>

namespace quorvane {

namespace {

constexpr std::size_t kBlockSize = 64 * 1024;

std::uint32_t TagOf(std::uint64_t hash) {
  return static_cast<std::uint32_t>(hash >> 32);
}

}  // namespace

std::size_t StringPool::SlotOf(std::string_view text, std::uint64_t hash) const {
  const std::size_t mask = slots_.size() - 1;
  const std::uint32_t tag = TagOf(hash);
  for (std::size_t i = hash & mask;; i = (i + 1) & mask) {
    const Slot& slot = slots_[i];
    if (slot.entry == 0)
      return i;
    if (slot.tag == tag && texts_[slot.entry - 1] == text)
      return i;
  }
}

void StringPool::Grow() {
  std::vector<Slot> old = std::move(slots_);
  slots_.assign(old.empty() ? 64 : old.size() * 2, Slot{});
  const std::size_t mask = slots_.size() - 1;
  for (const Slot& slot : old) {
    if (slot.entry == 0)
      continue;
    std::size_t i = hashes_[slot.entry - 1] & mask;
    while (slots_[i].entry != 0)
      i = (i + 1) & mask;
    slots_[i] = slot;
  }
}

std::string_view StringPool::Store(std::string_view text) {
  if (text.empty())
    return {};
  if (text.size() > kBlockSize / 4) {
    // Long texts get a block of their own, so they waste no room in the shared ones.
    blocks_.push_back(std::make_unique<char[]>(text.size()));
    std::memcpy(blocks_.back().get(), text.data(), text.size());
    return {blocks_.back().get(), text.size()};
  }
  if (text.size() > blockLeft_) {
    blocks_.push_back(std::make_unique<char[]>(kBlockSize));
    blockNext_ = blocks_.back().get();
    blockLeft_ = kBlockSize;
  }
  std::memcpy(blockNext_, text.data(), text.size());
  const std::string_view stored(blockNext_, text.size());
  blockNext_ += text.size();
  blockLeft_ -= text.size();
  return stored;
}

std::uint32_t StringPool::Intern(std::string_view text) {
  // Keep the table at most half full so probes stay short.
  if ((texts_.size() + 1) * 2 > slots_.size())
    Grow();
  const std::uint64_t hash = std::hash<std::string_view>{}(text);
  const std::size_t slot = SlotOf(text, hash);
  if (slots_[slot].entry != 0)
    return slots_[slot].entry - 1;
  const auto id = static_cast<std::uint32_t>(texts_.size());
  texts_.push_back(Store(text));
  hashes_.push_back(hash);
  slots_[slot] = {id + 1, TagOf(hash)};
  return id;
}

std::optional<std::uint32_t> StringPool::Find(std::string_view text) const {
  if (slots_.empty())
    return std::nullopt;
  const std::uint32_t entry = slots_[SlotOf(text, std::hash<std::string_view>{}(text))].entry;
  if (entry == 0)
    return std::nullopt;
  return entry - 1;
}

}  // namespace quorvane
