// The core on a generated pair of 1,000,000 download rows and 250,000 upload rows.
#include <benchmark/benchmark.h>

#include <filesystem>
#include <sstream>

#include "LogGenerator.h"
#include "ReportCommand.h"
#include "analysis/Averages.h"
#include "analysis/Totals.h"
#include "analysis/UserFigures.h"
#include "analysis/UserReport.h"
#include "logs/LogLoader.h"
#include "logs/UserList.h"

namespace quorvane::bench {
namespace {

constexpr std::size_t kDownloadRows = 1000000;
constexpr std::size_t kUploadRows = 250000;

const std::pair<std::filesystem::path, std::filesystem::path>& Files() {
  static const auto files = WriteLogPair(std::filesystem::temp_directory_path() / "quorvane-bench",
                                         kDownloadRows, kUploadRows);
  return files;
}

const LogPair& Logs() {
  static const LogPair logs = [] {
    LoadResult loaded = LoadLogPair(Files().first, Files().second);
    if (!loaded.Ok())
      std::abort();
    return std::move(*loaded.logs);
  }();
  return logs;
}

void BM_ReadDownloadLog(benchmark::State& state) {
  const auto& path = Files().first;
  for (auto _ : state) {
    ReadResult result = ReadLogFile(path);
    benchmark::DoNotOptimize(result.table->RowCount());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                          static_cast<std::int64_t>(std::filesystem::file_size(path)));
}
BENCHMARK(BM_ReadDownloadLog)->Unit(benchmark::kMillisecond);

void BM_UserList(benchmark::State& state) {
  Logs();  // load outside the timed loop
  for (auto _ : state)
    benchmark::DoNotOptimize(CollectUserNames(Logs().downloads, Logs().uploads));
}
BENCHMARK(BM_UserList)->Unit(benchmark::kMillisecond);

void BM_Averages(benchmark::State& state) {
  Logs();  // load outside the timed loop
  for (auto _ : state)
    benchmark::DoNotOptimize(ComputeAverages(Logs().downloads, Logs().uploads));
}
BENCHMARK(BM_Averages)->Unit(benchmark::kMillisecond);

void BM_UserReport(benchmark::State& state) {
  Logs();  // load outside the timed loop
  for (auto _ : state) {
    benchmark::DoNotOptimize(BuildUserReport(Logs().downloads, Logs().uploads, "user7"));
  }
}
BENCHMARK(BM_UserReport)->Unit(benchmark::kMillisecond);

// The users overview: every user of the user list with credit and addresses.
void BM_UserFigures(benchmark::State& state) {
  const std::vector<std::string> names = CollectUserNames(Logs().downloads, Logs().uploads);
  for (auto _ : state)
    benchmark::DoNotOptimize(ComputeUserFigures(Logs().downloads, Logs().uploads, names));
  state.counters["users"] = static_cast<double>(names.size());
}
BENCHMARK(BM_UserFigures)->Unit(benchmark::kMillisecond);

void BM_Rename(benchmark::State& state) {
  LoadResult loaded = LoadLogPair(Files().first, Files().second);
  LogPair& logs = *loaded.logs;
  bool forth = true;
  for (auto _ : state) {
    const char* from = forth ? "user7" : "user8";
    const char* to = forth ? "user8" : "user7";
    benchmark::DoNotOptimize(logs.downloads.RenameUser(from, to) +
                             logs.uploads.RenameUser(from, to));
    forth = !forth;
  }
}
BENCHMARK(BM_Rename)->Unit(benchmark::kMillisecond);

// Everything `quorvane-report --users` does: both reads, the user list, totals, averages and
// every user's counts.
void BM_FullUsersReport(benchmark::State& state) {
  const std::vector<std::string> args = {"--users", Files().first.string(),
                                         Files().second.string()};
  for (auto _ : state) {
    std::ostringstream out, err;
    if (RunReportCommand(args, out, err) != 0)
      state.SkipWithError("report failed");
    benchmark::DoNotOptimize(out.str().size());
  }
}
BENCHMARK(BM_FullUsersReport)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace quorvane::bench

BENCHMARK_MAIN();
