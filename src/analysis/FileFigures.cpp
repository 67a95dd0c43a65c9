#include "analysis/FileFigures.h"

#include <algorithm>
#include <cstring>
#include <future>
#include <numeric>
#include <optional>

#include "analysis/HashIndex.h"

namespace quorvane {

namespace {

using namespace detail;

// The download table's files: each row's file id, and per file its count and dated ends.
struct DownloadedFiles {
  explicit DownloadedFiles(std::size_t rows) : index(rows), fileOfRow(rows) {}
  TextIndex index;
  Array<std::uint32_t> fileOfRow;
  Array<std::uint32_t> downloads;
  Array<Timestamp> first;
  Array<Timestamp> last;
};

// The upload table's files: per file its count and the Name id of its first row.
struct UploadedFiles {
  explicit UploadedFiles(std::size_t rows) : index(rows) {}
  TextIndex index;
  Array<std::uint32_t> uploads;
  Array<std::uint32_t> firstUploader;
};

// Calls each(row, id) for every row of the table in order, its file interned into `index`.
template <typename Each>
void InternFiles(const LogTable& table, CellKeys& keys, TextIndex& index, Each each) {
  std::string_view batch[TextIndex::kBatch];
  for (std::size_t first = 0; first < table.RowCount(); first += TextIndex::kBatch) {
    const std::size_t count = std::min(TextIndex::kBatch, table.RowCount() - first);
    for (std::size_t i = 0; i < count; ++i)
      batch[i] = keys.Of(table, table.FileNameBytes(first + i));
    index.AddBatch(batch, count, [&](std::size_t i, std::uint32_t id) { each(first + i, id); });
  }
}

DownloadedFiles IndexDownloads(const LogTable& table, CellKeys& keys) {
  DownloadedFiles files(table.RowCount());
  // Room for a file per row: pages are only touched as files come, and nothing is copied.
  files.downloads.reserve(table.RowCount());
  files.first.reserve(table.RowCount());
  files.last.reserve(table.RowCount());
  InternFiles(table, keys, files.index, [&](std::size_t row, std::uint32_t id) {
    files.fileOfRow[row] = id;
    if (id == files.downloads.size()) {
      files.downloads.push_back(0);
      files.first.push_back(kUndated);
      files.last.push_back(kUndated);
    }
    ++files.downloads[id];
    const Timestamp date = table.Date(row);
    if (date != kUndated) {
      if (files.first[id] == kUndated || date < files.first[id])
        files.first[id] = date;
      if (date > files.last[id])  // kUndated is below every date
        files.last[id] = date;
    }
  });
  return files;
}

UploadedFiles IndexUploads(const LogTable& table, CellKeys& keys) {
  UploadedFiles files(table.RowCount());
  files.uploads.reserve(table.RowCount());
  files.firstUploader.reserve(table.RowCount());
  InternFiles(table, keys, files.index, [&](std::size_t row, std::uint32_t id) {
    if (id == files.uploads.size()) {
      files.uploads.push_back(0);
      files.firstUploader.push_back(table.NameId(row));
    }
    ++files.uploads[id];
  });
  return files;
}

// The distinct Name ids among each file's download rows: the rows' names grouped by file (the
// counts give each file's range), then each group walked with a mark per name.
Array<std::uint32_t> CountDownloaders(const LogTable& table, const DownloadedFiles& files) {
  const std::size_t fileCount = files.downloads.size();
  Array<std::uint32_t> start(fileCount + 1, 0);
  std::partial_sum(files.downloads.begin(), files.downloads.end(), start.begin() + 1);
  Array<std::uint32_t> names(table.RowCount());
  {
    Array<std::uint32_t> next(start.begin(), start.end() - 1);
    for (std::size_t row = 0; row < table.RowCount(); ++row)
      names[next[files.fileOfRow[row]]++] = table.NameId(row);
  }
  Array<std::uint32_t> downloaders(fileCount, 0);
  Array<std::uint32_t> markedFor(table.NameIdCount(), kNobody);
  for (std::uint32_t file = 0; file < fileCount; ++file) {
    for (std::uint32_t i = start[file]; i < start[file + 1]; ++i) {
      if (markedFor[names[i]] != file) {
        markedFor[names[i]] = file;
        ++downloaders[file];
      }
    }
  }
  return downloaders;
}

}  // namespace

FilesTable ComputeFileFigures(const LogTable& downloads, const LogTable& uploads,
                              std::size_t limit) {
  // Each table has keys of its own: the two passes may run at once.
  CellKeys downloadKeys(downloads, uploads);
  CellKeys uploadKeys(downloads, uploads);
  std::optional<DownloadedFiles> downloaded;
  std::optional<UploadedFiles> uploaded;
  Array<std::uint32_t> downloaders;
  const auto downloadPass = [&] {
    downloaded.emplace(IndexDownloads(downloads, downloadKeys));
    downloaders = CountDownloaders(downloads, *downloaded);
  };
  const auto uploadPass = [&] { uploaded.emplace(IndexUploads(uploads, uploadKeys)); };
  if (downloads.RowCount() + uploads.RowCount() >= kRowsWorthAThread) {
    auto other = std::async(std::launch::async, uploadPass);
    downloadPass();
    other.get();
  } else {
    downloadPass();
    uploadPass();
  }

  // One entry per downloaded file (its id), then the files only uploaded.
  const std::size_t downloadedCount = downloaded->downloads.size();
  Array<std::string_view> keys(downloadedCount);
  for (std::uint32_t id = 0; id < downloadedCount; ++id)
    keys[id] = downloaded->index.Text(id);
  Array<std::uint32_t> entryOfUpload(uploaded->uploads.size(), kNobody);
  for (std::size_t first = 0; first < entryOfUpload.size(); first += TextIndex::kBatch) {
    std::string_view batch[TextIndex::kBatch];
    const std::size_t count = std::min(TextIndex::kBatch, entryOfUpload.size() - first);
    for (std::size_t i = 0; i < count; ++i)
      batch[i] = uploaded->index.Text(static_cast<std::uint32_t>(first + i));
    downloaded->index.FindBatch(
        batch, count, [&](std::size_t i, std::uint32_t id) { entryOfUpload[first + i] = id; });
  }
  for (std::uint32_t id = 0; id < entryOfUpload.size(); ++id) {
    if (entryOfUpload[id] == kNobody) {
      entryOfUpload[id] = static_cast<std::uint32_t>(keys.size());
      keys.push_back(uploaded->index.Text(id));
    }
  }

  // Keys are UTF-8 when the tables' encodings differ or both are UTF-8, else the bytes of their
  // one encoding, decoded here once per file.
  std::string decodedTexts;
  if (!downloadKeys.Decodes() && downloads.TextEncoding() != Encoding::Utf8) {
    std::vector<std::size_t> ends;
    for (std::string_view key : keys)
      ends.push_back(decodedTexts.append(DecodeToUtf8(key, downloads.TextEncoding())).size());
    for (std::size_t entry = 0, begin = 0; entry < keys.size(); begin = ends[entry++])
      keys[entry] = std::string_view(decodedTexts).substr(begin, ends[entry] - begin);
  }

  // Sorted by integers while they tell: downloads, then the text's first 24 bytes big-endian
  // (file names share their folder's start: the first eight bytes rarely tell).
  struct SortKey {
    std::uint64_t fewerDownloads, head, next, rest;
    std::uint32_t entry;
  };
  const auto bigEndian = [](std::string_view text, std::size_t from) {
    unsigned char bytes[8] = {};
    if (from < text.size())
      std::memcpy(bytes, text.data() + from, std::min<std::size_t>(8, text.size() - from));
    std::uint64_t value = 0;
    for (unsigned char byte : bytes)
      value = value << 8 | byte;
    return value;
  };
  Array<SortKey> order(keys.size());
  for (std::uint32_t entry = 0; entry < keys.size(); ++entry) {
    const std::uint64_t count = entry < downloadedCount ? downloaded->downloads[entry] : 0;
    order[entry] = {~count, bigEndian(keys[entry], 0), bigEndian(keys[entry], 8),
                    bigEndian(keys[entry], 16), entry};
  }
  const auto before = [&](const SortKey& a, const SortKey& b) {
    if (a.fewerDownloads != b.fewerDownloads)
      return a.fewerDownloads < b.fewerDownloads;
    if (a.head != b.head)
      return a.head < b.head;
    if (a.next != b.next)
      return a.next < b.next;
    if (a.rest != b.rest)
      return a.rest < b.rest;
    return keys[a.entry] < keys[b.entry];
  };
  // The first few only, when that is all that is kept; else half a million files sort in halves
  // on two cores, then merge.
  const auto middle = order.begin() + static_cast<std::ptrdiff_t>(order.size() / 2);
  if (limit < order.size()) {
    std::partial_sort(order.begin(), order.begin() + static_cast<std::ptrdiff_t>(limit),
                      order.end(), before);
    order.resize(limit);
  } else if (order.size() >= kRowsWorthAThread) {
    auto firstHalf =
        std::async(std::launch::async, [&] { std::sort(order.begin(), middle, before); });
    std::sort(middle, order.end(), before);
    firstHalf.get();
    Array<SortKey> merged(order.size());
    std::merge(order.begin(), middle, middle, order.end(), merged.begin(), before);
    order = std::move(merged);
  } else {
    std::sort(order.begin(), order.end(), before);
  }

  Array<std::uint32_t> uploadOfEntry(keys.size(), kNobody);
  for (std::uint32_t id = 0; id < entryOfUpload.size(); ++id)
    uploadOfEntry[entryOfUpload[id]] = id;
  const auto uploaderOf = [&](std::uint32_t upload) {
    return uploads.NameText(uploaded->firstUploader[upload]);
  };
  // One block for every text, its size known first: the views into it never move.
  std::size_t size = 0;
  for (const SortKey& key : order) {
    const std::uint32_t entry = key.entry;
    size += keys[entry].size();
    if (uploadOfEntry[entry] != kNobody)
      size += uploaderOf(uploadOfEntry[entry]).size();
  }
  auto texts = std::make_shared<Array<char>>(size);
  char* end = texts->data();
  const auto keep = [&end](std::string_view text) {
    std::copy(text.begin(), text.end(), end);
    end += text.size();
    return std::string_view(end - text.size(), text.size());
  };
  FilesTable table;
  table.files.resize(order.size());
  constexpr std::size_t kAhead = 8;  // the entries come in text order: fetch theirs ahead
  for (std::size_t i = 0; i < order.size(); ++i) {
    if (i + kAhead < order.size()) {
      const std::uint32_t ahead = order[i + kAhead].entry;
      __builtin_prefetch(keys[ahead].data());
      __builtin_prefetch(&uploadOfEntry[ahead]);
      if (ahead < downloadedCount) {
        __builtin_prefetch(&downloaded->downloads[ahead]);
        __builtin_prefetch(&downloaded->first[ahead]);
        __builtin_prefetch(&downloaded->last[ahead]);
        __builtin_prefetch(&downloaders[ahead]);
      }
    }
    const std::uint32_t entry = order[i].entry;
    FileFigures& file = table.files[i];
    file.file = keep(keys[entry]);
    if (entry < downloadedCount) {
      file.downloads = downloaded->downloads[entry];
      file.downloaders = downloaders[entry];
      file.firstDownload = downloaded->first[entry];
      file.lastDownload = downloaded->last[entry];
    }
    if (const std::uint32_t upload = uploadOfEntry[entry]; upload != kNobody) {
      file.uploads = uploaded->uploads[upload];
      file.firstUploader = keep(uploaderOf(upload));
    }
  }
  table.texts = std::move(texts);
  return table;
}

}  // namespace quorvane
