#include "logs/LogSources.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <filesystem>
#include <functional>
#include <memory>
#include <new>
#include <tuple>

#include "logs/SharedWork.h"
#ifdef QUORVANE_READ_IN_PARALLEL
#include <chrono>
#include <future>
#include <mutex>
#include <system_error>
#endif

namespace quorvane {

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

namespace {

// A piece of reading work, told how to pass on the progress of each file it reads, and where a
// log it reads in two pieces may leave its second piece for the other thread (none: a thread of
// the piece's own).
using ProgressFor = std::function<ByteProgressFn(std::size_t source)>;
using Task = std::function<void(const ProgressFor&, WorkQueue* pieces)>;

// Runs the tasks, two at a time where it can.
void RunAll(const std::vector<Task>& tasks, std::size_t sourceCount,
            const SourceProgressFn& progress) {
  const ProgressFor direct = [&progress](std::size_t i) -> ByteProgressFn {
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
  std::vector<Told> told(sourceCount);
  std::vector<std::size_t> relayed(sourceCount, 0);
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
  // Once every task is done no piece can come: the thread waiting for pieces goes.
  WorkQueue pieces;
  std::atomic<std::size_t> finished{0};
  if (tasks.empty())
    pieces.Close();
  const auto work = [&](const ProgressFor& progressFor, const std::function<void()>& meanwhile) {
    for (std::size_t t; (t = next++) < tasks.size();) {
      struct Count {
        std::atomic<std::size_t>& finished;
        std::size_t of;
        WorkQueue& pieces;
        ~Count() {
          if (++finished == of)
            pieces.Close();
        }
      } count{finished, tasks.size(), pieces};
      tasks[t](progressFor, &pieces);
    }
    while (std::shared_ptr<SharedWork> piece = pieces.Take(meanwhile))
      piece->RunIfFree(meanwhile);
  };
  // A second thread even for one task: a log it reads in two pieces leaves it the second.
  std::future<void> second;
  if (!tasks.empty()) {
    try {
      second = std::async(std::launch::async, [&] {
        const ProgressFor held = [&](std::size_t i) -> ByteProgressFn {
          if (!progress)
            return {};
          return [&, i](std::uint64_t done, std::uint64_t total) {
            const std::lock_guard<std::mutex> lock(mutex);
            told[i] = {told[i].count + 1, done, total};
          };
        };
        work(held, {});
      });
    } catch (const std::system_error&) {
      // No second thread to be had: this one does every task.
    }
  }
  const ProgressFor passedOn = [&](std::size_t i) -> ByteProgressFn {
    ByteProgressFn mine = direct(i);
    if (!second.valid() || !progress)
      return mine;
    return [&relay, mine](std::uint64_t done, std::uint64_t total) {
      mine(done, total);
      relay();
    };
  };
  try {
    work(passedOn, relay);
  } catch (...) {
    pieces.Close();
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
  (void)sourceCount;
  for (std::size_t t; (t = next++) < tasks.size();)
    tasks[t](direct, nullptr);
#endif
}

// Files whose text is the start of another file's text are read once, in the longest of them
// (the host): its read tells, at each shorter file's end, the rows that file's own read would
// give. Only plain server logs (regular files, not packed) of at least two take part; a file
// whose bytes turn out not to be such a start, or whose cut is not usable, is read on its own.
struct Sharing {
  std::size_t host = 0;
  std::vector<std::size_t> members;  // by size, shortest first
  std::vector<std::uint64_t> sizes;  // each member's
  std::vector<PrefixCut> cuts;       // each member's
  std::vector<char> same;            // each member's bytes are the host's start
};

// Reads up to `size` bytes, fewer only at the end; nothing on a read error.
std::optional<std::size_t> ReadFull(LogInput& input, char* to, std::size_t size) {
  std::size_t got = 0;
  std::string error;
  while (got < size) {
    const std::optional<std::size_t> more = input.Read(to + got, size - got, error);
    if (!more)
      return std::nullopt;
    if (*more == 0)
      break;
    got += *more;
  }
  return got;
}

std::optional<Sharing> PlanSharing(const std::vector<LogSource>& sources) {
  std::vector<std::size_t> possible;
  for (std::size_t i = 0; i < sources.size(); ++i) {
    const LogSource& source = sources[i];
    if (source.role == SourceRole::Download || source.role == SourceRole::Upload ||
        source.input.standardInput)
      continue;
    // A pipe or a device could not be read again: regular files only.
    std::error_code error;
    if (std::filesystem::is_regular_file(source.input.path, error))
      possible.push_back(i);
  }
  // Nothing is opened unless two files could share a read: a plain pair of logs opens each once.
  if (possible.size() < 2)
    return std::nullopt;
  std::vector<std::pair<std::uint64_t, std::size_t>> candidates;  // size, source
  for (std::size_t i : possible) {
    LogInput input(sources[i].input);
    if (input.OpenError().empty() && !input.Compressed() && input.Size() > 0)
      candidates.emplace_back(input.Size(), i);
  }
  if (candidates.size() < 2)
    return std::nullopt;
  // The largest is the host, the first given of equal ones.
  std::stable_sort(candidates.begin(), candidates.end(),
                   [](const auto& a, const auto& b) { return a.first < b.first; });
  const auto host = std::find_if(candidates.begin(), candidates.end(),
                                 [&](const auto& c) { return c.first == candidates.back().first; });
  Sharing sharing;
  sharing.host = host->second;
  candidates.erase(host);
  // A quick look leaves out files that plainly are no such start (another part of a rotated log,
  // a copy taken in the middle of a line), so that the shared read seldom has to be done again.
  constexpr std::size_t kHead = std::size_t{64} << 10;
  std::string hostHead(kHead, '\0'), head(kHead, '\0');
  LogInput hostInput(sources[sharing.host].input);
  const std::optional<std::size_t> hostGot = ReadFull(hostInput, hostHead.data(), kHead);
  if (!hostGot)
    return std::nullopt;
  for (const auto& [size, source] : candidates) {
    const std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(size, kHead));
    LogInput input(sources[source].input);
    if (LastByteOf(sources[source].input) != '\n' || want > *hostGot ||
        ReadFull(input, head.data(), want) != want ||
        std::memcmp(head.data(), hostHead.data(), want) != 0)
      continue;
    sharing.members.push_back(source);
    sharing.sizes.push_back(size);
    sharing.cuts.push_back({size});
  }
  if (sharing.members.empty())
    return std::nullopt;
  sharing.same.assign(sharing.members.size(), 0);
  return sharing;
}

// Compares each member's bytes with the host's start, reading the host once.
void CompareWithHost(const std::vector<LogSource>& sources, Sharing& sharing,
                     const ProgressFor& progressFor) {
  constexpr std::size_t kChunk = std::size_t{128} << 10;  // both chunks stay in the cache
  LogInput host(sources[sharing.host].input);
  if (!host.OpenError().empty() || host.Compressed())
    return;
  std::vector<std::unique_ptr<LogInput>> members;
  std::vector<char> open(sharing.members.size(), 0);
  for (std::size_t m = 0; m < sharing.members.size(); ++m) {
    members.push_back(std::make_unique<LogInput>(sources[sharing.members[m]].input));
    open[m] = members[m]->OpenError().empty() && !members[m]->Compressed();
  }
  std::unique_ptr<char[]> hostBytes(new char[kChunk]);
  std::unique_ptr<char[]> memberBytes(new char[kChunk + 1]);
  for (std::uint64_t at = 0; std::find(open.begin(), open.end(), 1) != open.end(); at += kChunk) {
    const std::optional<std::size_t> got = ReadFull(host, hostBytes.get(), kChunk);
    if (!got)
      return;
    for (std::size_t m = 0; m < members.size(); ++m) {
      if (!open[m])
        continue;
      // The member's bytes in this chunk, and one more at its end to see that it ends there.
      const std::uint64_t left = sharing.sizes[m] - at;
      const std::size_t part = left < kChunk ? static_cast<std::size_t>(left) : kChunk;
      const std::size_t want = part + (left <= kChunk ? 1 : 0);
      const std::optional<std::size_t> mine = ReadFull(*members[m], memberBytes.get(), want);
      if (!mine || *mine < part || *got < part ||
          std::memcmp(memberBytes.get(), hostBytes.get(), part) != 0) {
        open[m] = 0;
      } else if (left <= kChunk) {
        open[m] = 0;
        sharing.same[m] = *mine == part;  // no byte behind its size
        if (sharing.same[m]) {
          if (const ByteProgressFn told = progressFor(sharing.members[m]))
            told(sharing.sizes[m], sharing.sizes[m]);
        }
      }
    }
    if (*got < kChunk)
      break;
  }
}

}  // namespace

bool TakenBefore(const TablePart& a, const TablePart& b) {
  const auto key = [](const TablePart& p) {
    return std::make_tuple(p.firstDated == kUndated, p.firstDated,
                           p.orderRows != 0 ? p.orderRows : p.rows, p.source);
  };
  return key(a) < key(b);
}

std::optional<LogTable> CombineParts(std::vector<TablePart>& parts, const SourcesOptions& options,
                                     bool wholeRows, bool join) {
  if (parts.empty())
    return LogTable();
  if (parts.size() == 1 && join && parts.front().rows == parts.front().table->RowCount())
    return std::move(*parts.front().table);  // a file's whole table: shared ones come in twos
  for (TablePart& part : parts) {
    for (std::size_t row = 0; row < part.rows && part.firstDated == kUndated; ++row) {
      if (part.table->Date(row) != kUndated) {
        part.firstDated = part.table->Date(row);
        break;
      }
    }
  }
  std::stable_sort(parts.begin(), parts.end(), TakenBefore);

  // The rows taken so far, as parts and their rows taken.
  std::vector<LogTable::Part> taken;
  std::size_t takenRows = 0;
  // A table whose first takenRows rows are all the rows taken, if one is.
  LogTable* takenStart = nullptr;
  std::vector<std::pair<const LogTable*, std::size_t>> tail;
  for (TablePart& part : parts) {
    const LogTable& table = *part.table;
    if (takenStart == &table && part.rows >= takenRows) {
      // The part starts with every row taken, so its longest start equal to their end is all.
      part.overlap = takenRows;
    } else {
      const std::size_t m = std::min(part.rows, takenRows);
      if (m != 0 && !wholeRows)
        return std::nullopt;
      // The last m rows taken, oldest first.
      tail.clear();
      for (auto it = taken.rbegin(); it != taken.rend() && tail.size() < m; ++it) {
        for (std::size_t row = it->endRow; row > it->firstRow && tail.size() < m; --row)
          tail.emplace_back(it->table, row - 1);
      }
      std::reverse(tail.begin(), tail.end());
      part.overlap = OverlapLength(
          part.rows, takenRows,
          [&](std::size_t i, std::size_t j) { return LogTable::SameRow(table, i, table, j); },
          [&](std::size_t i, std::size_t j) {
            return (tail[j].first == &table && tail[j].second == i) ||
                   LogTable::SameRow(table, i, *tail[j].first, tail[j].second);
          });
    }
    // A part that adds no rows leaves the rows taken as they were.
    if (part.rows != part.overlap) {
      const bool continues = takenRows == 0 || (takenStart == &table && part.overlap == takenRows);
      takenStart = continues ? part.table : nullptr;
    }
    taken.push_back({part.table, part.overlap, part.rows});
    takenRows += part.rows - part.overlap;
  }
  if (!join)
    return LogTable();
  if (!wholeRows && takenStart && takenRows == takenStart->RowCount()) {
    // All of one table, read keeping just the cells asked for: joining would copy it as it is.
    LogTable& all = *takenStart;
    if (!options.dates)
      all.DropDates();
    return std::move(all);
  }
  return LogTable::Join(taken, options.kept, options.dates.has_value());
}

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

namespace {

// The bytes of a file (0 when unknown: standard input, a file that cannot be asked).
std::uint64_t SizeOf(const InputName& input) {
  if (input.standardInput)
    return 0;
  std::error_code unknown;
  const std::uintmax_t bytes = std::filesystem::file_size(input.path, unknown);
  return unknown ? 0 : bytes;
}

// The share of a log's bytes its first piece takes when it is read in two: one thread reads that
// piece while the other reads every other file and then the second piece, so both end together
// when the first piece is half of all the bytes read. At 1 or more the log is read whole.
double FirstPieceShare(std::uint64_t bytes, std::uint64_t allBytes) {
  return bytes == 0 ? 0.5 : static_cast<double>(allBytes) / (2.0 * static_cast<double>(bytes));
}

// One load; nothing when reading the files that share their start once turned out not to do
// (the caller then loads again, each file read on its own).
std::optional<SourcesResult> LoadOnce(const std::vector<LogSource>& sources,
                                      const SourcesOptions& options, bool share) {
  SourcesResult result;
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
  std::optional<Sharing> sharing;
  if (share)
    sharing = PlanSharing(sources);
  // When one read stands for every file and the parts turn out to follow each other's starts,
  // no rows are compared: the read keeps only the cells asked for (and the dates, for order).
  const bool onlyShared = sharing && sharing->members.size() + 1 == sources.size();
  std::vector<AnyReadResult> reads(sources.size());
  // The bytes of the files the tasks read, for the share of a log read in two pieces.
  std::uint64_t allBytes = 0;
  const auto reader = [&](std::size_t i, std::vector<PrefixCut>* cuts) -> Task {
    const std::uint64_t bytes = SizeOf(sources[i].input);
    allBytes += bytes;
    return [&, i, cuts, bytes](const ProgressFor& progressFor, WorkQueue* pieces) {
      ReadOptions own = readOptions;
      if (onlyShared) {
        own.kept = options.kept;
        own.firstDateOnly = !options.dates;  // only the parts' order needs them
      }
      own.progress = progressFor(i);
      own.pieces = pieces;
      own.firstPieceShare = FirstPieceShare(bytes, allBytes);
      std::vector<PrefixCut> none;
      reads[i] = ReadAnyLog(sources[i].input, ExpectOf(sources[i].role), own, cuts ? *cuts : none);
    };
  };
  std::vector<Task> tasks;
  std::vector<char> shared(sources.size(), 0);  // given by the host's read
  if (sharing) {
    tasks.push_back(reader(sharing->host, &sharing->cuts));
    tasks.push_back([&](const ProgressFor& progressFor, WorkQueue*) {
      CompareWithHost(sources, *sharing, progressFor);
    });
    for (std::size_t m : sharing->members)
      shared[m] = 1;
  }
  for (std::size_t i = 0; i < sources.size(); ++i) {
    if (!shared[i] && !(sharing && i == sharing->host))
      tasks.push_back(reader(i, nullptr));
  }
  RunAll(tasks, sources.size(), options.progress);
  if (sharing) {
    // A member the host's read cannot stand for is read on its own.
    tasks.clear();
    allBytes = 0;
    const AnyReadResult& host = reads[sharing->host];
    for (std::size_t m = 0; m < sharing->members.size(); ++m) {
      const PrefixCut& cut = sharing->cuts[m];
      AnyReadResult& read = reads[sharing->members[m]];
      if (host.Ok() && sharing->same[m] && cut.usable) {
        read.format = host.format;
        read.unreadableLines.assign(
            host.unreadableLines.begin(),
            host.unreadableLines.begin() + static_cast<std::ptrdiff_t>(cut.unreadable));
      } else {
        if (onlyShared)
          return std::nullopt;
        shared[sharing->members[m]] = 0;
        tasks.push_back(reader(sharing->members[m], nullptr));
      }
    }
    RunAll(tasks, sources.size(), options.progress);
  }
  for (std::size_t i = 0; i < reads.size(); ++i) {
    if (!reads[i].Ok()) {
      result.failure = SourceFailure{i, sources[i].input, std::move(*reads[i].error)};
      return result;
    }
  }

  // Each member's cut, by source.
  std::vector<const PrefixCut*> cutOf(sources.size(), nullptr);
  for (std::size_t m = 0; sharing && m < sharing->members.size(); ++m) {
    if (shared[sharing->members[m]])
      cutOf[sharing->members[m]] = &sharing->cuts[m];
  }
  std::vector<TablePart> downloads, uploads;
  for (std::size_t i = 0; i < reads.size(); ++i) {
    SourceInfo info;
    info.input = sources[i].input;
    info.format = reads[i].format;
    info.classicKind = ClassicKindOf(sources[i].role);
    info.compressed = reads[i].compressed;
    info.unreadableLines = std::move(reads[i].unreadableLines);
    // Where each read stopped, for following: a member given by the host's read ended whole.
    const AnyReadResult& own = cutOf[i] ? reads[sharing->host] : reads[i];
    info.bytesUsed = cutOf[i] ? cutOf[i]->bytes : own.bytesUsed;
    info.openTail = cutOf[i] ? 0 : own.openTail;
    info.dataEnded = cutOf[i] ? true : own.dataEnded;
    info.encoding = own.table.TextEncoding();
    info.datesOrder = own.table.DatesOrder();
    if (!cutOf[i]) {
      info.device = own.device;
      info.inode = own.inode;
    }
    result.sources.push_back(std::move(info));
    if (const PrefixCut* cut = cutOf[i]) {
      AnyReadResult& host = reads[sharing->host];
      downloads.push_back({i, &host.downloads, cut->downloads});
      uploads.push_back({i, &host.uploads, cut->uploads});
    } else if (reads[i].format != LogFormat::Classic) {
      downloads.push_back({i, &reads[i].downloads, reads[i].downloads.RowCount()});
      uploads.push_back({i, &reads[i].uploads, reads[i].uploads.RowCount()});
    } else {
      LogTable& table = reads[i].table;
      (ClassicKindOf(sources[i].role) == LogKind::Download ? downloads : uploads)
          .push_back({i, &table, table.RowCount()});
    }
  }
  // Counted before the parts' tables are moved into the joined ones.
  const auto count = [&](const std::vector<TablePart>& parts, std::size_t SourceInfo::*rows) {
    for (const TablePart& part : parts)
      result.sources[part.source].*rows += part.rows;
  };
  count(downloads, &SourceInfo::downloads);
  count(uploads, &SourceInfo::uploads);
  std::optional<LogTable> joined[2] = {CombineParts(downloads, options, !onlyShared), std::nullopt};
  if (joined[0])
    joined[1] = CombineParts(uploads, options, !onlyShared);
  if (!joined[1])
    return std::nullopt;
  LogPair pair;
  pair.downloads = std::move(*joined[0]);
  pair.uploads = std::move(*joined[1]);
  LogTable::ShareFileNames(pair.downloads, pair.uploads);
  for (const std::vector<TablePart>* parts : {&downloads, &uploads}) {
    for (const TablePart& part : *parts) {
      SourceInfo& info = result.sources[part.source];
      (parts == &downloads ? info.downloads : info.uploads) -= part.overlap;
      info.overlapLeftOut += part.overlap;
    }
  }
  result.logs = std::move(pair);
  return result;
}

}  // namespace

SourcesResult LoadSources(const std::vector<LogSource>& sources, const SourcesOptions& options) {
  SourcesResult result;
  try {
    std::optional<SourcesResult> once;
    if (options.readPrefixesOnce)
      once = LoadOnce(sources, options, true);
    result = once ? std::move(*once) : std::move(*LoadOnce(sources, options, false));
  } catch (const std::bad_alloc&) {
    result = SourcesResult();
    result.failure = SourceFailure{0, sources.empty() ? InputName{} : sources.front().input,
                                   ReadError{0, "there is not enough memory to read the logs"}};
  }
  return result;
}

}  // namespace quorvane
