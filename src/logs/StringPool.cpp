#include "logs/StringPool.h"

#include <functional>

namespace quorvane {

std::size_t StringPool::SlotOf(std::string_view text, std::size_t hash) const {
  const std::size_t mask = slots_.size() - 1;
  for (std::size_t i = hash & mask;; i = (i + 1) & mask) {
    const std::uint32_t entry = slots_[i];
    if (entry == 0) return i;
    if (hashes_[entry - 1] == hash && texts_[entry - 1] == text) return i;
  }
}

void StringPool::Grow() {
  std::vector<std::uint32_t> old = std::move(slots_);
  slots_.assign(old.empty() ? 64 : old.size() * 2, 0);
  const std::size_t mask = slots_.size() - 1;
  for (std::uint32_t entry : old) {
    if (entry == 0) continue;
    std::size_t i = hashes_[entry - 1] & mask;
    while (slots_[i] != 0) i = (i + 1) & mask;
    slots_[i] = entry;
  }
}

std::uint32_t StringPool::InternView(std::string_view text) {
  // Keep the table at most half full so probes stay short.
  if ((texts_.size() + 1) * 2 > slots_.size()) Grow();
  const std::size_t hash = std::hash<std::string_view>{}(text);
  const std::size_t slot = SlotOf(text, hash);
  if (slots_[slot] != 0) return slots_[slot] - 1;
  const auto id = static_cast<std::uint32_t>(texts_.size());
  texts_.push_back(text);
  hashes_.push_back(hash);
  slots_[slot] = id + 1;
  return id;
}

std::uint32_t StringPool::Intern(std::string_view text) {
  if (auto id = Find(text)) return *id;
  return InternView(owned_.emplace_back(text));
}

std::optional<std::uint32_t> StringPool::Find(std::string_view text) const {
  if (slots_.empty()) return std::nullopt;
  const std::uint32_t entry = slots_[SlotOf(text, std::hash<std::string_view>{}(text))];
  if (entry == 0) return std::nullopt;
  return entry - 1;
}

}  // namespace quorvane
