#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "logs/LogReader.h"

namespace quorvane::fuzz {

// A deliberately plain second reading of the log format, kept apart from the real reader so the
// fuzzers can compare the two: byte by byte, no search functions, no shared helpers.
struct ReferenceLog {
  bool ok = false;
  std::uint64_t errorLine = 0;
  Encoding encoding = Encoding::Utf8;
  std::vector<std::array<std::string, 5>> rows;  // raw bytes of the five cells
};

ReferenceLog ReferenceRead(std::string_view bytes, EncodingChoice choice = EncodingChoice::Auto);

// UTF-8 validity by decoding each sequence to its code point and checking its range.
bool ReferenceValidUtf8(std::string_view bytes);

// The UTF-8 text of Windows-1252 or Mac Roman bytes (as they are for UTF-8).
std::string ReferenceDecode(std::string_view bytes, Encoding encoding);

}  // namespace quorvane::fuzz
