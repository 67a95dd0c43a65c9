#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "logs/ByteArena.h"
#include "logs/LogTable.h"

namespace quorvane {

// What the logs tell of one File Name text: how often and by how many it was fetched, who brought
// it first. The texts are held by the FilesTable the figures belong to.
struct FileFigures {
  std::string_view file;  // UTF-8
  // Counts of rows, 32-bit as the counting keeps them (2^32 rows would take 64 GiB for the rows
  // alone): 64 bytes a file, not 72.
  std::uint32_t downloads = 0;
  std::uint32_t downloaders = 0;  // distinct Name texts among its download rows, the empty one too
  std::uint32_t uploads = 0;
  std::string_view firstUploader;  // the Name of its first upload row in table order; empty: none
  // The earliest and latest dated download rows (kUndated: none dated).
  Timestamp firstDownload = kUndated;
  Timestamp lastDownload = kUndated;
};

// The files and, in one block, the texts their views point into: half a million files are not
// a million small strings. Copies share the block.
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
