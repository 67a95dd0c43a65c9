#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace quorvane::fuzz {

// A deliberately plain second reading of the log format, kept apart from the real reader so the
// fuzzers can compare the two: byte by byte, no search functions, no shared helpers.
struct ReferenceLog {
  bool ok = false;
  std::uint64_t errorLine = 0;
  bool utf8 = true;
  std::vector<std::array<std::string, 5>> rows;  // raw bytes of the five cells
};

ReferenceLog ReferenceRead(std::string_view bytes);

// UTF-8 validity by decoding each sequence to its code point and checking its range.
bool ReferenceValidUtf8(std::string_view bytes);

// The UTF-8 text of Windows-1252 bytes.
std::string ReferenceFrom1252(std::string_view bytes);

}  // namespace quorvane::fuzz
