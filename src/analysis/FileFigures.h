#pragma once

#include <compare>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "logs/ByteArena.h"
#include "logs/LogTable.h"

namespace quorvane {

// A text the files table holds, as one pointer: to its length (32 bits, native order) and then
// its bytes. Half a million files with two texts each save 16 bytes a file over views.
class TextRef {
 public:
  TextRef() = default;
  explicit TextRef(const char* packed) : packed_(packed) {}

  std::size_t size() const {
    std::uint32_t length = 0;
    if (packed_ != nullptr)
      std::memcpy(&length, packed_, sizeof length);
    return length;
  }
  bool empty() const { return size() == 0; }
  const char* data() const { return packed_ != nullptr ? packed_ + sizeof(std::uint32_t) : ""; }
  operator std::string_view() const { return {data(), size()}; }

  friend bool operator==(TextRef a, std::string_view b) { return std::string_view(a) == b; }
  friend std::strong_ordering operator<=>(TextRef a, std::string_view b) {
    return std::string_view(a) <=> b;
  }

 private:
  const char* packed_ = nullptr;
};

// `text` as TextRef points to it: its length, then its bytes.
std::string PackText(std::string_view text);

// What the logs tell of one File Name text: how often and by how many it was fetched, who brought
// it first. The texts are held by the FilesTable the figures belong to.
struct FileFigures {
  // Its UTF-8 text, mostly where the tables' shared File Names hold it: fileLength bytes from
  // fileBytes.
  const char* fileBytes = "";
  std::uint32_t fileLength = 0;
  // Counts of rows, 32-bit as the counting keeps them (2^32 rows would take 64 GiB for the rows
  // alone): 48 bytes a file.
  std::uint32_t downloads = 0;
  std::uint32_t downloaders = 0;  // distinct Name texts among its download rows, the empty one too
  std::uint32_t uploads = 0;
  TextRef firstUploader;  // the Name of its first upload row in table order; empty: none
  // The earliest and latest dated download rows (kUndated: none dated).
  Timestamp firstDownload = kUndated;
  Timestamp lastDownload = kUndated;

  std::string_view File() const { return {fileBytes, fileLength}; }
};
static_assert(sizeof(FileFigures) <= 48);

// The files and what holds the texts they point into (the File Names the tables share, or, where
// they do not, one block of copies): half a million files are not a million small strings.
// Copies share them.
struct FilesTable {
  std::vector<FileFigures, LargeAllocator<FileFigures>> files;
  std::shared_ptr<const void> texts;
};

// Every distinct File Name text of either table, the empty one included, compared exactly (as
// the files' bytes decode). Ordered by downloads, most first, then by the bytes of the UTF-8
// text; only the first `limit` of them are kept. One pass over each table with interned ids.
FilesTable ComputeFileFigures(const LogTable& downloads, const LogTable& uploads,
                              std::size_t limit = SIZE_MAX);

}  // namespace quorvane
