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

// How the rows of a generated log pick their File Names.
enum class Files {
  // Any of 960,000 names (240,000 for uploads) alike: the million-row pair has about 676,000
  // files, far more than any server holds; the files table's hardest case.
  Scattered,
  // A server's catalogue: 4,000 files, a few fetched far more often than the rest, and 2,000
  // more that uploads add (a fifth of the uploads; the rest send catalogue files again), fetched
  // too but less. About 6,000 files.
  Catalogue,
};

// The text of a transfer log: a header and `rows` CRLF lines. The same seed gives the same text.
std::string MakeLogText(std::size_t rows, unsigned seed, bool uploads, Users users = Users::Typical,
                        Files files = Files::Scattered);

// Writes "Download Log.txt" and "Upload Log.txt" into dir (reusing files already there with the
// right size) and returns their paths.
std::pair<std::filesystem::path, std::filesystem::path> WriteLogPair(
    const std::filesystem::path& dir, std::size_t downloadRows, std::size_t uploadRows,
    Users users = Users::Typical, Files files = Files::Scattered);

// The text of a Mobius server log of `lines` lines: every `transferEvery`th a transfer record
// (downloads and uploads, files and folders), the rest other traffic; names and paths quoted and
// escaped as Mobius writes them, some with Mac Roman bytes. Records numbered from `firstRecord` on,
// one second apart, so that a later part of the same history goes on where an earlier one stopped.
std::string MakeServerLogText(std::size_t lines, std::size_t firstRecord = 0,
                              std::size_t transferEvery = 4);

// Writes `path` with `text` unless a file of that size is there already.
std::filesystem::path WriteOnce(const std::filesystem::path& path, const std::string& text);

}  // namespace quorvane::bench
