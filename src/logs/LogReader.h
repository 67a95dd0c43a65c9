#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

#include "logs/ByteBuffer.h"
#include "logs/LogTable.h"

namespace quorvane {

// Why a log could not be read. `line` is 1-based, 0 when the failure is not about one line.
struct ReadError {
  std::uint64_t line = 0;
  std::string reason;
};

// A read is all or nothing: the whole table, or an error and no table.
struct ReadResult {
  std::optional<LogTable> table;
  ReadError error;

  bool Ok() const { return table.has_value(); }
};

// Offsets into a table are 32-bit; a transfer log of this size is far beyond any real server's.
inline constexpr std::uint64_t kMaxLogBytes = 0xFFFFFFFFull;

// Parses the bytes of a log file. Line 1 is the header and is dropped; every line up to the first
// empty line is a transfer of at least five tab-separated fields. The first line end in the file
// decides the convention: a line feed with no carriage return before it means lines end at line
// feeds (a carriage return right before one belongs to the line end), otherwise lines end at
// carriage returns (a line feed right behind one belongs to the line end).
ReadResult ParseLog(ByteBuffer bytes);
ReadResult ParseLog(std::string_view bytes);

// Opens the file read-only, reads it in one pass, closes it, and parses it.
ReadResult ReadLogFile(const std::filesystem::path& path);

}  // namespace quorvane
