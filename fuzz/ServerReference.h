#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace quorvane::fuzz {

// A plain second reading of Mobius logs, byte by byte, apart from the real reader: whether the
// text is a server log (and of which layout), and if so its rows (UTF-8 cells) and the numbers
// of its unreadable transfer lines.
struct ReferenceServerLog {
  int layout = 0;  // 0 not a server log, 1 key=value, 2 the older layout
  std::vector<std::array<std::string, 5>> downloads, uploads;
  std::vector<std::uint64_t> unreadable;
};

ReferenceServerLog ReferenceServerRead(std::string_view bytes);

}  // namespace quorvane::fuzz
