// Following: a follow of many small appends against loading the final file at once, and the
// user figures kept up to date against computing them again, on the 1,000,000 + 250,000 pair.
#include <benchmark/benchmark.h>

#include <ctime>
#include <filesystem>
#include <fstream>
#include <memory>
#ifdef __GLIBC__
#include <malloc.h>
#endif

#include "LogGenerator.h"
#include "analysis/LiveUserFigures.h"
#include "logs/LogFollower.h"
#include "logs/UserList.h"

namespace quorvane::bench {
namespace {

std::string Cells(const LogTable& table) {
  std::string text;
  for (std::size_t row = 0; row < table.RowCount(); ++row) {
    for (int c = 0; c < kColumnCount; ++c)
      text += table.CellText(row, static_cast<Column>(c)) + '\t';
    text += '\n';
  }
  return text;
}

std::string Figures(const std::vector<UserFigures>& figures) {
  std::string text;
  for (const UserFigures& f : figures)
    text += f.name + ' ' + std::to_string(f.downloads) + ' ' + std::to_string(f.uploads) + ' ' +
            std::to_string(f.credit) + ' ' + std::to_string(f.addresses) + ' ' +
            std::to_string(f.firstSeen) + ' ' + std::to_string(f.lastSeen) + '\n';
  return text;
}

// Bytes the heap holds now (glibc), mapped blocks included; 0 where it cannot tell.
std::size_t HeapInUse() {
#ifdef __GLIBC__
  const struct mallinfo2 info = mallinfo2();
  return info.uordblks + info.hblkhd;
#else
  return 0;
#endif
}

// A download log loaded with its first thousand rows (which settle its day/month order), then
// written one record at a time, polled after each: the tables and figures it ends with must be
// those of loading the final file, and the table must hold about as much memory.
void BM_FollowSmallAppends(benchmark::State& state) {
  const auto appends = static_cast<std::size_t>(state.range(0));
  const std::string text = MakeLogText(1000 + appends, 7, false);
  std::size_t headerEnd = 0;
  for (int line = 0; line <= 1000; ++line)
    headerEnd = text.find("\r\n", headerEnd) + 2;
  const std::filesystem::path path =
      std::filesystem::temp_directory_path() / "quorvane-bench-follow.txt";
  double followedBytes = 0, loadedBytes = 0;
  for (auto _ : state) {
    state.PauseTiming();
    std::ofstream(path, std::ios::binary | std::ios::trunc) << text.substr(0, headerEnd);
    const std::size_t heapBefore = HeapInUse();
    const std::vector<LogSource> sources{{{path, false}, SourceRole::Download}};
    SourcesResult loaded = LoadSources(sources, {{}, {}, DateOrder::Detect, {}});
    LogPair tables = std::move(*loaded.logs);
    auto follower = std::make_unique<LogFollower>(
        sources, loaded.sources, tables.downloads.RowCount(), 0,
        FollowOptions{{}, {}, DateOrder::Detect, std::chrono::seconds(1)});
    auto live = std::make_unique<LiveUserFigures>(tables.downloads, tables.uploads);
    std::ofstream out(path, std::ios::binary | std::ios::app);
    state.ResumeTiming();
    for (std::size_t at = headerEnd; at < text.size();) {
      const std::size_t end = text.find("\r\n", at) + 2;
      out.write(text.data() + at, static_cast<std::streamsize>(end - at));
      out.flush();
      at = end;
      const FollowUpdate update = follower->Poll();
      const std::size_t before = tables.downloads.RowCount();
      ApplyFollowUpdate(update, tables);
      live->AddRows(LogKind::Download, tables.downloads, before, tables.downloads.RowCount());
    }
    state.PauseTiming();
    const std::string figures = Figures(live->Figures());
    follower.reset();
    live.reset();
    loaded = {};
    followedBytes = static_cast<double>(HeapInUse() - heapBefore);
    const std::size_t heapLoaded = HeapInUse();
    ReadOptions options;
    options.dates = DateOrder::Detect;
    const ReadResult fresh = ReadLogFile(path, options);
    loadedBytes = static_cast<double>(HeapInUse() - heapLoaded);
    if (!fresh.Ok() || Cells(fresh.table.value()) != Cells(tables.downloads) ||
        figures != Figures(ComputeUserFigures(*fresh.table, LogTable(),
                                              CollectEveryUserName(*fresh.table, LogTable()))))
      return state.SkipWithError("the follow does not end with the final file's rows and figures");
    state.ResumeTiming();
  }
  state.counters["appends"] = static_cast<double>(appends);
  state.counters["followed_MB"] = followedBytes / 1e6;
  state.counters["loaded_MB"] = loadedBytes / 1e6;
  state.counters["memory_ratio"] = loadedBytes > 0 ? followedBytes / loadedBytes : 0;
  std::filesystem::remove(path);
}
BENCHMARK(BM_FollowSmallAppends)->Arg(100000)->Unit(benchmark::kMillisecond)->Iterations(1);

// 1,000 download rows appended to the 1,000,000 + 250,000 pair: their figures kept up to date
// (compare BM_UserFigures, which computes every user's from scratch).
void BM_LiveFigures1000Rows(benchmark::State& state) {
  const auto [downloadPath, uploadPath] =
      WriteLogPair(std::filesystem::temp_directory_path() / "quorvane-bench", 1000000, 250000);
  ReadOptions options;
  options.dates = DateOrder::Detect;
  LogTable downloads = *ReadLogFile(downloadPath, options).table;
  LogTable uploads = *ReadLogFile(uploadPath, options).table;
  LogTable::ShareFileNames(downloads, uploads);  // as a load gives them
  LiveUserFigures live(downloads, uploads);
  ReadResult more = ParseLog(MakeLogText(1000, 99, false), options);
  const std::size_t first = downloads.RowCount();
  downloads.AppendRows(*more.table);
  for (auto _ : state) {
    live.AddRows(LogKind::Download, downloads, first, downloads.RowCount());
    state.PauseTiming();
    for (std::size_t row = first; row < downloads.RowCount(); ++row)
      live.RemoveRow(LogKind::Download, downloads, uploads, row);
    state.ResumeTiming();
  }
  live.AddRows(LogKind::Download, downloads, first, downloads.RowCount());
  if (Figures(live.Figures()) !=
      Figures(ComputeUserFigures(downloads, uploads, CollectEveryUserName(downloads, uploads))))
    state.SkipWithError("the kept figures differ from computing them again");
}
BENCHMARK(BM_LiveFigures1000Rows)->Unit(benchmark::kMillisecond);

// CPU time of the whole process (every thread) spent in `work`, in milliseconds.
template <typename Work>
double ProcessCpuMs(Work work) {
  const auto now = [] {
    timespec time{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &time);
    return static_cast<double>(time.tv_sec) * 1e3 + static_cast<double>(time.tv_nsec) / 1e6;
  };
  const double start = now();
  work();
  return now() - start;
}

// The kept figures made from both tables, as a load makes them on a second thread, against
// counting every figure once (ComputeUserFigures, on both cores): CPU of all threads, the least
// of the runs. Target: cpu_ratio <= 3. kept_MB: the heap they hold.
void BM_LiveFiguresMade(benchmark::State& state) {
  const auto [downloadPath, uploadPath] =
      WriteLogPair(std::filesystem::temp_directory_path() / "quorvane-bench", 1000000, 250000);
  ReadOptions options;
  options.dates = DateOrder::Detect;
  LogTable downloads = *ReadLogFile(downloadPath, options).table;
  LogTable uploads = *ReadLogFile(uploadPath, options).table;
  LogTable::ShareFileNames(downloads, uploads);  // as a load gives them
  const std::vector<std::string> names = CollectEveryUserName(downloads, uploads);
  double kept = 1e300, counted = 1e300, heldBytes = 0;
  std::vector<UserFigures> figures;
  for (auto _ : state) {
    std::unique_ptr<LiveUserFigures> live;
    const std::size_t heapBefore = HeapInUse();
    kept = std::min(kept, ProcessCpuMs([&] {
                      live = std::make_unique<LiveUserFigures>(downloads, uploads);
                      figures = live->Figures();
                    }));
    heldBytes = static_cast<double>(HeapInUse() - heapBefore);
    state.PauseTiming();
    std::vector<UserFigures> fresh;
    counted = std::min(
        counted, ProcessCpuMs([&] { fresh = ComputeUserFigures(downloads, uploads, names); }));
    if (Figures(figures) != Figures(fresh))
      return state.SkipWithError("the kept figures differ from computing them again");
    state.ResumeTiming();
  }
  state.counters["kept_cpu_ms"] = kept;
  state.counters["counted_cpu_ms"] = counted;
  state.counters["cpu_ratio"] = kept / counted;
  state.counters["kept_MB"] = heldBytes / 1e6;
}
BENCHMARK(BM_LiveFiguresMade)->Unit(benchmark::kMillisecond)->Iterations(5);

}  // namespace
}  // namespace quorvane::bench
