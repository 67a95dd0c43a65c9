#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "logs/LogLoader.h"
#include "logs/LogReader.h"

namespace quorvane {

// What a file is given as. The classic roles refuse a server log and ServerLog refuses anything
// else; the "Or" roles tell a server log by its content and take anything else as that classic
// log (for files dropped on a window or named on its command line).
enum class SourceRole { Download, Upload, ServerLog, DownloadOrServerLog, UploadOrServerLog };

struct LogSource {
  InputName input;
  SourceRole role = SourceRole::Download;
};

// What a file given in a role is read as, and which table a classic log in it fills.
Expect ExpectOf(SourceRole role);
LogKind ClassicKindOf(SourceRole role);

// What one file gave.
struct SourceInfo {
  InputName input;
  LogFormat format = LogFormat::Classic;
  LogKind classicKind = LogKind::Download;  // for a classic log: which table it fills
  bool compressed = false;
  std::size_t downloads = 0;  // rows taken into each table, after overlap
  std::size_t uploads = 0;
  std::size_t overlapLeftOut = 0;  // rows left out as already read from another file
  std::vector<std::uint64_t> unreadableLines;
  // Where the read stopped, for following the file (see AnyReadResult), and the encoding a
  // classic log's own table was read in.
  std::uint64_t bytesUsed = 0;
  std::uint64_t openTail = 0;
  bool dataEnded = false;
  Encoding encoding = Encoding::Utf8;
  DateOrder datesOrder = DateOrder::Detect;  // what a classic log's dates showed
  // The file read, so that following it can tell another one put under its name since (0: not
  // known, as for a file read within another's read).
  std::uint64_t device = 0, inode = 0;

  // "classic-download", "classic-upload", "mobius" or "mobius-legacy".
  std::string FormatName() const;
};

// Which file failed, where and why.
struct SourceFailure {
  std::size_t source = 0;  // its index in the list given
  InputName input;
  ReadError error;

  // "<file>: line <n>: <reason>", without the line part when the failure is not about a line.
  std::string Describe() const;
};

struct SourcesResult {
  std::optional<LogPair> logs;
  std::vector<SourceInfo> sources;  // in the order given
  std::optional<SourceFailure> failure;

  bool Ok() const { return logs.has_value(); }
};

// Told how far the read of one file has got, always on the calling thread.
using SourceProgressFn =
    std::function<void(std::size_t source, std::uint64_t bytesRead, std::uint64_t totalBytes)>;

struct SourcesOptions {
  EncodingChoice encoding = EncodingChoice::Auto;  // classic logs only
  KeptCells kept;
  std::optional<DateOrder> dates;
  SourceProgressFn progress;
  // Read a plain server log whose text starts another one's only within that longer read; the
  // result is the same either way.
  bool readPrefixesOnce = true;
};

// Reads every file into one pair of tables, all or nothing: a failure names the first failing
// file in the order given. Each table takes the rows of every file that fills it, the files'
// parts ordered by their first dated row (as written), undated parts last, ties to the part with
// fewer rows, then to the order given. Where a part starts with rows already taken (the longest
// run equal, all five cells, to the last rows taken so far), that run is left out and counted.
// Files are read two at a time where the system gives a second thread.
SourcesResult LoadSources(const std::vector<LogSource>& sources,
                          const SourcesOptions& options = {});

// The rows one file gives one table: the first `rows` of `table` (fewer than all where the table
// is shared with another file). `source` orders ties.
struct TablePart {
  std::size_t source = 0;
  LogTable* table = nullptr;
  std::size_t rows = 0;
  Timestamp firstDated = kUndated;  // its first dated row's: filled in by CombineParts if not given
  // How many rows it counts as among parts of one first date (0: `rows`): a part whose start
  // was left out before still takes the place of the whole.
  std::size_t orderRows = 0;
  std::size_t overlap = 0;  // filled in: the rows of its start left out
};

// Whether part `a`'s rows are taken before `b`'s: by their first dated row (undated last), then
// fewer rows, then `source`.
bool TakenBefore(const TablePart& a, const TablePart& b);

// Puts the parts of one table in order (as LoadSources does), leaves out each part's overlap with
// the rows taken before it, and joins them, keeping `options.kept` (and the dates when
// `options.dates`). `parts` ends sorted, each with its overlap. Without `wholeRows` (parts read
// keeping only the cells asked for), nothing when an overlap would have to compare rows. A lone
// part's table is moved, not copied. Without `join`, only orders the parts and finds their
// overlaps, and gives back an empty table.
std::optional<LogTable> CombineParts(std::vector<TablePart>& parts, const SourcesOptions& options,
                                     bool wholeRows = true, bool join = true);

// The length of the longest start of a part that equals the end of the rows taken before it:
// `within(i, j)` tells whether part rows i and j are equal, `across(i, j)` whether part row i
// equals row j of the last `min(partRows, takenRows)` rows taken. Linear in the rows (Knuth,
// Morris and Pratt's matching of the part's start along the taken rows' end).
template <typename Within, typename Across>
std::size_t OverlapLength(std::size_t partRows, std::size_t takenRows, const Within& within,
                          const Across& across) {
  const std::size_t m = partRows < takenRows ? partRows : takenRows;
  if (m == 0)
    return 0;
  // border[i]: the longest proper start of part rows 0..i that is also their end.
  std::vector<std::size_t> border(m, 0);
  for (std::size_t i = 1, k = 0; i < m; ++i) {
    while (k > 0 && !within(i, k))
      k = border[k - 1];
    if (within(i, k))
      ++k;
    border[i] = k;
  }
  std::size_t matched = 0;
  for (std::size_t j = 0; j < m; ++j) {
    while (matched > 0 && (matched == m || !across(matched, j)))
      matched = border[matched - 1];
    if (across(matched, j))
      ++matched;
  }
  return matched;
}

}  // namespace quorvane
