#pragma once

#include <cstddef>
#include <filesystem>
#include <string>
#include <utility>

namespace quorvane::bench {

// How the rows of a generated log pick their users.
enum class Users {
  Typical,   // a few heavy users and a long tail of a few thousand, each on a few addresses
  Distinct,  // every row its own name and address, in both logs: the user list's worst case
};

// The text of a transfer log: a header and `rows` CRLF lines. The same seed gives the same text.
std::string MakeLogText(std::size_t rows, unsigned seed, bool uploads,
                        Users users = Users::Typical);

// Writes "Download Log.txt" and "Upload Log.txt" into dir (reusing files already there with the
// right size) and returns their paths.
std::pair<std::filesystem::path, std::filesystem::path> WriteLogPair(
    const std::filesystem::path& dir, std::size_t downloadRows, std::size_t uploadRows,
    Users users = Users::Typical);

}  // namespace quorvane::bench
