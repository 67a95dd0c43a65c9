#pragma once

#include <cstddef>
#include <filesystem>
#include <string>
#include <utility>

namespace quorvane::bench {

// The text of a realistic transfer log: a header and `rows` CRLF lines drawn from a few thousand
// users on many addresses. The same seed gives the same text.
std::string MakeLogText(std::size_t rows, unsigned seed, bool uploads);

// Writes "Download Log.txt" and "Upload Log.txt" into dir (reusing files already there with the
// right size) and returns their paths.
std::pair<std::filesystem::path, std::filesystem::path> WriteLogPair(
    const std::filesystem::path& dir, std::size_t downloadRows, std::size_t uploadRows);

}  // namespace quorvane::bench
