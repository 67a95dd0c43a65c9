// The core on a generated pair of 1,000,000 download rows and 250,000 upload rows.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <filesystem>
#include <sstream>

#include "LogGenerator.h"
#include "ReportCommand.h"
#include "analysis/Averages.h"
#include "analysis/FileFigures.h"
#include "analysis/Totals.h"
#include "analysis/UserFigures.h"
#include "analysis/UserReport.h"
#include "logs/DateTime.h"
#include "logs/LargeMemory.h"
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

// The pair whose every row has a name and an address of its own.
const LogPair& DistinctLogs() {
  static const LogPair logs = [] {
    ReadResult downloads = ParseLog(MakeLogText(kDownloadRows, 1, false, Users::Distinct));
    ReadResult uploads = ParseLog(MakeLogText(kUploadRows, 2, true, Users::Distinct));
    return LogPair{std::move(*downloads.table), std::move(*uploads.table)};
  }();
  return logs;
}

// The report's user list (/0) and the window's, which rows arriving add to (/1), on the typical
// pair (/0) and the all-distinct one (/1).
void BM_UserList(benchmark::State& state) {
  const LogPair& logs = state.range(1) ? DistinctLogs() : Logs();
  for (auto _ : state) {
    if (state.range(0))
      benchmark::DoNotOptimize(GrowingUserList(logs.downloads, logs.uploads).Names().size());
    else
      benchmark::DoNotOptimize(CollectUserNames(logs.downloads, logs.uploads));
  }
}
BENCHMARK(BM_UserList)->ArgsProduct({{0, 1}, {0, 1}})->Unit(benchmark::kMillisecond);

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

// The files table: every File Name of both logs with its figures, sorted; the scattered pair's
// 676,000 files are its hardest case. Target: 100 ms. Read without dates (0), or with them, as
// the Files page and the page read them (1): each file's first and last download then count.
void BM_FileFigures(benchmark::State& state) {
  static const LogPair dated = [] {
    LoadOptions options;
    options.dates = DateOrder::Detect;
    LoadResult loaded = LoadLogPair(Files().first, Files().second, options);
    if (!loaded.Ok())
      std::abort();
    return std::move(*loaded.logs);
  }();
  const LogPair& logs = state.range(0) == 0 ? Logs() : dated;  // loaded outside the timed loop
  // fresh:1 hands every kept block back first, so each run pays for its memory as the first run
  // after a load does.
  const bool fresh = state.range(1) != 0;
  std::size_t files = 0;
  for (auto _ : state) {
    if (fresh) {
      state.PauseTiming();
      ReleaseIdleMemory(0);
      state.ResumeTiming();
    }
    files = ComputeFileFigures(logs.downloads, logs.uploads).files.size();
  }
  state.counters["files"] = static_cast<double>(files);
}
BENCHMARK(BM_FileFigures)
    ->ArgNames({"dated", "fresh"})
    ->Args({0, 0})
    ->Args({1, 0})
    ->Args({0, 1})
    ->Unit(benchmark::kMillisecond);

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

// The Date/Time columns of both generated logs, read as a load would: one parse per file.
void BM_ParseDates(benchmark::State& state) {
  static const std::array<std::string, 2> texts = {MakeLogText(kDownloadRows, 1, false),
                                                   MakeLogText(kUploadRows, 2, true)};
  static const std::array<std::vector<std::string_view>, 2> columns = [] {
    std::array<std::vector<std::string_view>, 2> cells;
    for (std::size_t file = 0; file < 2; ++file) {
      const std::string& text = texts[file];
      for (std::size_t line = text.find('\n') + 1, end; line < text.size(); line = end + 1) {
        cells[file].push_back(std::string_view(text).substr(line, text.find('\t', line) - line));
        if ((end = text.find('\n', line)) == std::string::npos)
          break;
      }
    }
    return cells;
  }();
  std::size_t dated = 0;
  for (auto _ : state) {
    dated = 0;
    for (const std::vector<std::string_view>& cells : columns) {
      const std::vector<Timestamp> stamps =
          ParseDateColumn(cells.size(), [&](std::size_t row) { return cells[row]; });
      for (Timestamp t : stamps)
        dated += t != kUndated ? 1 : 0;
    }
  }
  if (dated != kDownloadRows + kUploadRows)
    state.SkipWithError("some generated dates were not read");
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()) *
                          static_cast<std::int64_t>(kDownloadRows + kUploadRows));
}
BENCHMARK(BM_ParseDates)->Unit(benchmark::kMillisecond);

std::size_t Occurrences(std::string_view text, std::string_view what) {
  std::size_t count = 0;
  for (std::size_t at = text.find(what); at != std::string_view::npos; at = text.find(what, at + 1))
    ++count;
  return count;
}

// Everything `quorvane-report --users --format F` does: both reads, the user list, totals,
// averages and every user's figures, written as text, CSV, JSON or HTML (0 to 3); the page also
// holds the files table and the activity chart. On the scattered pair the page lists 676,000
// files; the page's targets are measured on the catalogue pair (BM_CatalogueUsersPage).
// Runs the report command with these arguments each iteration; its output's size as "bytes".
void RunReport(benchmark::State& state, const std::vector<std::string>& args) {
  std::size_t bytes = 0;
  for (auto _ : state) {
    std::ostringstream out, err;
    if (RunReportCommand(args, out, err) != 0)
      state.SkipWithError("report failed");
    bytes = out.str().size();
  }
  state.counters["bytes"] = static_cast<double>(bytes);
}

void BM_FullUsersReport(benchmark::State& state) {
  static const char* const kFormats[] = {"text", "csv", "json", "html"};
  RunReport(state, {"--users", "--format", kFormats[state.range(0)], Files().first.string(),
                    Files().second.string()});
}
BENCHMARK(BM_FullUsersReport)->DenseRange(0, 3)->Unit(benchmark::kMillisecond);

// `--users` as CSV and as the page, one after the other each iteration, on a pair whose rows
// fetch and send the files of a catalogue of a few thousand, as a real server's do (the
// scattered pair's 676,000 files make a 125 MB page no server's logs would). Targets: the page
// at most 3 MB ("page_bytes") and written within 1.5 times the CSV's time ("page_vs_csv").
void BM_CatalogueUsersPage(benchmark::State& state) {
  static const auto logs =
      WriteLogPair(std::filesystem::temp_directory_path() / "quorvane-bench-catalogue",
                   kDownloadRows, kUploadRows, Users::Typical, Files::Catalogue);
  double seconds[2] = {};
  std::string out[2];
  for (auto _ : state) {
    for (int page = 0; page < 2; ++page) {
      std::ostringstream text, err;
      const auto start = std::chrono::steady_clock::now();
      if (RunReportCommand({"--users", "--format", page == 0 ? "csv" : "html", logs.first.string(),
                            logs.second.string()},
                           text, err) != 0)
        state.SkipWithError("report failed");
      seconds[page] +=
          std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
      out[page] = text.str();
    }
  }
  const auto iterations = static_cast<double>(state.iterations());
  state.counters["csv_ms"] = seconds[0] * 1000 / iterations;
  state.counters["page_ms"] = seconds[1] * 1000 / iterations;
  state.counters["page_vs_csv"] = seconds[1] / seconds[0];
  state.counters["page_bytes"] = static_cast<double>(out[1].size());
  // Every user is a CSV line; every file a row of the page's second table.
  state.counters["users"] = static_cast<double>(std::count(out[0].begin(), out[0].end(), '\n') - 1);
  const std::size_t filesTable = out[1].find("id=\"files-table\"");
  state.counters["files"] = static_cast<double>(
      filesTable == std::string::npos
          ? 0
          : Occurrences(std::string_view(out[1]).substr(filesTable), "<tr>") - 1);
}
BENCHMARK(BM_CatalogueUsersPage)->MinTime(2.0)->Unit(benchmark::kMillisecond);

// The page with both tables cut to their first N lines (`--top N`).
void BM_HtmlReportTop(benchmark::State& state) {
  RunReport(state, {"--format", "html", "--top", std::to_string(state.range(0)),
                    Files().first.string(), Files().second.string()});
}
BENCHMARK(BM_HtmlReportTop)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace quorvane::bench

BENCHMARK_MAIN();
