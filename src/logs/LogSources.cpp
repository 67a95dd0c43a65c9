#include "logs/LogSources.h"

#include <algorithm>
#include <atomic>
#include <new>
#include <tuple>

// Where the standard library has no threads (MinGW's win32 thread model), files are read one
// after the other.
#if defined(_GLIBCXX_HAS_GTHREADS) || !defined(__GLIBCXX__)
#include <chrono>
#include <future>
#include <mutex>
#include <system_error>
#define QUORVANE_READ_IN_PARALLEL 1
#endif

namespace quorvane {

namespace {

Expect ExpectOf(SourceRole role) {
  switch (role) {
    case SourceRole::Download:
    case SourceRole::Upload:
      return Expect::Classic;
    case SourceRole::ServerLog:
      return Expect::ServerLog;
    case SourceRole::DownloadOrServerLog:
    case SourceRole::UploadOrServerLog:
      break;
  }
  return Expect::Either;
}

LogKind ClassicKindOf(SourceRole role) {
  return role == SourceRole::Upload || role == SourceRole::UploadOrServerLog ? LogKind::Upload
                                                                             : LogKind::Download;
}

// Reads the files, two at a time where it can; every file's result, in the order given.
std::vector<AnyReadResult> ReadAll(const std::vector<LogSource>& sources,
                                   const ReadOptions& readOptions,
                                   const SourceProgressFn& progress) {
  std::vector<AnyReadResult> results(sources.size());
  const auto readOne = [&](std::size_t i, ByteProgressFn told) {
    ReadOptions options = readOptions;
    options.progress = std::move(told);
    results[i] = ReadAnyLog(sources[i].input, ExpectOf(sources[i].role), options);
  };
  const auto direct = [&](std::size_t i) -> ByteProgressFn {
    if (!progress)
      return {};
    return [&progress, i](std::uint64_t done, std::uint64_t total) { progress(i, done, total); };
  };
  std::atomic<std::size_t> next{0};
#ifdef QUORVANE_READ_IN_PARALLEL
  // The second thread's progress waits here until this thread passes it on: the latest of each
  // file, so that no file's last word (its end) is lost behind the next file's.
  std::mutex mutex;
  struct Told {
    std::size_t count = 0;
    std::uint64_t done = 0, total = 0;
  };
  std::vector<Told> told(sources.size());
  std::vector<std::size_t> relayed(sources.size(), 0);
  const auto relay = [&] {
    if (!progress)
      return;
    std::vector<Told> latest;
    {
      const std::lock_guard<std::mutex> lock(mutex);
      latest = told;
    }
    for (std::size_t i = 0; i < latest.size(); ++i) {
      if (latest[i].count != relayed[i]) {
        relayed[i] = latest[i].count;
        progress(i, latest[i].done, latest[i].total);
      }
    }
  };
  std::future<void> second;
  if (sources.size() > 1) {
    try {
      second = std::async(std::launch::async, [&] {
        for (std::size_t i; (i = next++) < sources.size();) {
          readOne(i, progress ? ByteProgressFn([&, i](std::uint64_t done, std::uint64_t total) {
                    const std::lock_guard<std::mutex> lock(mutex);
                    told[i] = {told[i].count + 1, done, total};
                  })
                              : ByteProgressFn());
        }
      });
    } catch (const std::system_error&) {
      // No second thread to be had: this one reads every file.
    }
  }
  try {
    for (std::size_t i; (i = next++) < sources.size();) {
      ByteProgressFn mine = direct(i);
      readOne(i, !second.valid() || !progress
                     ? mine
                     : ByteProgressFn([&, mine](std::uint64_t done, std::uint64_t total) {
                         mine(done, total);
                         relay();
                       }));
    }
  } catch (...) {
    if (second.valid())
      second.wait();  // the other thread uses this frame
    throw;
  }
  if (second.valid()) {
    while (second.wait_for(std::chrono::milliseconds(20)) != std::future_status::ready)
      relay();
    relay();
    second.get();
  }
#else
  for (std::size_t i; (i = next++) < sources.size();)
    readOne(i, direct(i));
#endif
  return results;
}

// The rows one file gives one table.
struct Part {
  std::size_t source;
  LogTable* table;
  Timestamp firstDated = kUndated;
  std::size_t overlap = 0;
};

// Puts the parts of one table in order, leaves out each part's overlap with the rows taken
// before it, and joins them.
LogTable Combine(std::vector<Part>& parts, const SourcesOptions& options) {
  if (parts.empty())
    return LogTable();
  if (parts.size() == 1)
    return std::move(*parts.front().table);
  for (Part& part : parts) {
    for (std::size_t row = 0; row < part.table->RowCount(); ++row) {
      if (part.table->Date(row) != kUndated) {
        part.firstDated = part.table->Date(row);
        break;
      }
    }
  }
  std::stable_sort(parts.begin(), parts.end(), [](const Part& a, const Part& b) {
    const auto key = [](const Part& p) {
      return std::make_tuple(p.firstDated == kUndated, p.firstDated, p.table->RowCount(), p.source);
    };
    return key(a) < key(b);
  });

  // The rows taken so far, as parts and their first rows taken.
  std::vector<LogTable::Part> taken;
  std::size_t takenRows = 0;
  std::vector<std::pair<const LogTable*, std::size_t>> tail;
  for (Part& part : parts) {
    const LogTable& table = *part.table;
    const std::size_t m = std::min(table.RowCount(), takenRows);
    // The last m rows taken, oldest first.
    tail.clear();
    for (auto it = taken.rbegin(); it != taken.rend() && tail.size() < m; ++it) {
      for (std::size_t row = it->table->RowCount(); row > it->firstRow && tail.size() < m; --row)
        tail.emplace_back(it->table, row - 1);
    }
    std::reverse(tail.begin(), tail.end());
    part.overlap = OverlapLength(
        table.RowCount(), takenRows,
        [&](std::size_t i, std::size_t j) { return LogTable::SameRow(table, i, table, j); },
        [&](std::size_t i, std::size_t j) {
          return LogTable::SameRow(table, i, *tail[j].first, tail[j].second);
        });
    taken.push_back({part.table, part.overlap});
    takenRows += table.RowCount() - part.overlap;
  }
  return LogTable::Join(taken, options.kept, options.dates.has_value());
}

}  // namespace

std::string SourceInfo::FormatName() const {
  switch (format) {
    case LogFormat::Classic:
      break;
    case LogFormat::Mobius:
      return "mobius";
    case LogFormat::MobiusLegacy:
      return "mobius-legacy";
  }
  return classicKind == LogKind::Download ? "classic-download" : "classic-upload";
}

std::string SourceFailure::Describe() const {
  std::string text = input.Text() + ": ";
  if (error.line != 0)
    text += "line " + std::to_string(error.line) + ": ";
  return text + error.reason;
}

SourcesResult LoadSources(const std::vector<LogSource>& sources, const SourcesOptions& options) {
  SourcesResult result;
  try {
    // A table fed by two files or more compares whole rows and orders them by date, so those
    // reads keep every cell and the dates; the joined table keeps what was asked for.
    std::size_t feeding[2] = {0, 0};
    for (const LogSource& source : sources) {
      if (source.role != SourceRole::Upload)
        ++feeding[0];
      if (source.role != SourceRole::Download)
        ++feeding[1];
    }
    ReadOptions readOptions{options.encoding, {}, options.kept, options.dates};
    if (feeding[0] > 1 || feeding[1] > 1) {
      readOptions.kept = KeptCells{};
      readOptions.dates = options.dates.value_or(DateOrder::Detect);
    }
    std::vector<AnyReadResult> reads = ReadAll(sources, readOptions, options.progress);
    for (std::size_t i = 0; i < reads.size(); ++i) {
      if (!reads[i].Ok()) {
        result.failure = SourceFailure{i, sources[i].input, std::move(*reads[i].error)};
        return result;
      }
    }

    std::vector<Part> downloads, uploads;
    for (std::size_t i = 0; i < reads.size(); ++i) {
      SourceInfo info;
      info.input = sources[i].input;
      info.format = reads[i].format;
      info.classicKind = ClassicKindOf(sources[i].role);
      info.compressed = reads[i].compressed;
      info.unreadableLines = std::move(reads[i].unreadableLines);
      info.bytesUsed = reads[i].bytesUsed;
      info.openTail = reads[i].openTail;
      info.dataEnded = reads[i].dataEnded;
      info.encoding = reads[i].table.TextEncoding();
      info.datesOrder = reads[i].table.DatesOrder();
      result.sources.push_back(std::move(info));
      if (reads[i].format != LogFormat::Classic) {
        downloads.push_back({i, &reads[i].downloads});
        uploads.push_back({i, &reads[i].uploads});
      } else {
        (ClassicKindOf(sources[i].role) == LogKind::Download ? downloads : uploads)
            .push_back({i, &reads[i].table});
      }
    }
    // Counted before the parts' tables are moved into the joined ones.
    const auto count = [&](const std::vector<Part>& parts, std::size_t SourceInfo::*rows) {
      for (const Part& part : parts)
        result.sources[part.source].*rows += part.table->RowCount();
    };
    count(downloads, &SourceInfo::downloads);
    count(uploads, &SourceInfo::uploads);
    LogPair pair;
    pair.downloads = Combine(downloads, options);
    pair.uploads = Combine(uploads, options);
    for (const std::vector<Part>* parts : {&downloads, &uploads}) {
      for (const Part& part : *parts) {
        SourceInfo& info = result.sources[part.source];
        (parts == &downloads ? info.downloads : info.uploads) -= part.overlap;
        info.overlapLeftOut += part.overlap;
      }
    }
    result.logs = std::move(pair);
  } catch (const std::bad_alloc&) {
    result = SourcesResult();
    result.failure = SourceFailure{0, sources.empty() ? InputName{} : sources.front().input,
                                   ReadError{0, "there is not enough memory to read the logs"}};
  }
  return result;
}

}  // namespace quorvane
