#pragma once

#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quorvane {

// Interns texts into small integer ids, so that counting, matching and renaming become integer
// work. Ids are dense, starting at 0, in order of first appearance. Lookups are exact: same
// length, same bytes.
class StringPool {
 public:
  StringPool() = default;
  StringPool(StringPool&&) noexcept = default;
  StringPool& operator=(StringPool&&) noexcept = default;
  StringPool(const StringPool&) = delete;
  StringPool& operator=(const StringPool&) = delete;

  // Adds a text the pool only refers to: the caller keeps its bytes alive and unmoved for the
  // pool's lifetime.
  std::uint32_t InternView(std::string_view text);
  // Adds a text the pool keeps a copy of (when it is new).
  std::uint32_t Intern(std::string_view text);

  std::optional<std::uint32_t> Find(std::string_view text) const;
  std::string_view Text(std::uint32_t id) const { return texts_[id]; }
  std::size_t Size() const { return texts_.size(); }

 private:
  std::size_t SlotOf(std::string_view text, std::size_t hash) const;
  void Grow();

  std::vector<std::string_view> texts_;
  std::vector<std::size_t> hashes_;   // by id, so growing never hashes again
  std::vector<std::uint32_t> slots_;  // open addressing: id + 1, 0 for a free slot
  std::deque<std::string> owned_;     // deque: its elements never move
};

}  // namespace quorvane
