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

// The text of a Mobius server log of `lines` lines: every `transferEvery`th a transfer record
// (downloads and uploads, files and folders), the rest other traffic; names and paths quoted and
// escaped as Mobius writes them, some with Mac Roman bytes. Records numbered from `firstRecord` on,
// one second apart, so that a later part of the same history goes on where an earlier one stopped.
std::string MakeServerLogText(std::size_t lines, std::size_t firstRecord = 0,
                              std::size_t transferEvery = 4);

// Writes `path` with `text` unless a file of that size is there already.
std::filesystem::path WriteOnce(const std::filesystem::path& path, const std::string& text);

}  // namespace quorvane::bench
