// The command's figures, each the least of interleaved runs of the built quorvane-report against
// its yardsticks, written as counters with the yardsticks' own times beside them:
//   PairVersusWc           --users on the 1,000,000 + 250,000-row classic pair / wc -l on it
//                          (target <= 4) and / a mawk per-name count piped to sort -f (<= 0.3);
//                          the all-distinct pair's time per byte / the typical pair's (<= 2);
//                          each pair's peak memory / its files' size (<= 1.5, <= 2.5)
//   ServerLogVersusWc      --log FILE --users on 2,000,000 lines / wc -l FILE (target <= 4), and
//                          the report's peak memory / the file's size (target <= 0.5)
//   HistoryVersusLargest   four files, each a copy of the one before plus 20,000 records (about
//                          1,000,000 transfer records each) / the largest alone (target <= 1.3)
//   GzipVersusGunzip       --log FILE.gz / gzip -dc FILE.gz > /dev/null (target <= 1.5)
// and for a history file (--history) holding the 1,000,000 + 250,000-row classic pair:
//   HistoryAddVersusReport     adding the pair to a new history file / --users on the pair
//                              (target <= 10); the file's size / the logs' (target <= 1)
//   HistoryReportVersusLogs    --users from the history alone / --users on the pair (<= 3)
//   HistoryGrownVersusReport   --users on the pair grown by 1,000 rows (800 downloads, 200
//                              uploads), adding them / --users from the history alone (<= 1.5)
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include "LogGenerator.h"

namespace quorvane::bench {
namespace {

namespace fs = std::filesystem;

const fs::path& Dir() {
  static const fs::path dir = fs::temp_directory_path() / "quorvane-bench-server";
  return dir;
}

std::string Quoted(const fs::path& path) {
  std::string quoted(1, '\'');
  quoted += path.string();
  quoted += '\'';
  return quoted;
}

const fs::path& ServerLog() {
  static const fs::path path = WriteOnce(Dir() / "mobius.log", MakeServerLogText(2000000));
  return path;
}

const fs::path& CompressedLog() {
  static const fs::path path = [] {
    const fs::path gz = Dir() / "mobius.log.gz";
    if (!fs::exists(gz) &&
        std::system(("gzip -c " + Quoted(ServerLog()) + " > " + Quoted(gz)).c_str()) != 0)
      std::abort();
    return gz;
  }();
  return path;
}

std::vector<fs::path> History() {
  std::vector<fs::path> files;
  for (std::size_t k = 0; k < 4; ++k) {
    files.push_back(WriteOnce(Dir() / ("history-" + std::to_string(k + 1) + ".log"),
                              MakeServerLogText(940000 + k * 20000, 0, 1)));
  }
  return files;
}

// Seconds one shell command takes, its output thrown away.
double Seconds(const std::string& command) {
  const auto start = std::chrono::steady_clock::now();
  if (std::system((command + " > /dev/null").c_str()) != 0)
    return -1;
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

const std::string kReport = Quoted(QUORVANE_REPORT_BINARY);

// Runs the commands by turns, so that a busy moment of the machine does not fall on one of them
// only; the least time of each, or nothing when one failed.
std::optional<std::vector<double>> Least(benchmark::State& state,
                                         const std::vector<std::string>& commands) {
  std::vector<double> least(commands.size(), 1e9);
  for (const std::string& command : commands)
    Seconds(command);  // the files in the cache
  for (auto _ : state) {
    for (std::size_t i = 0; i < commands.size(); ++i) {
      const double time = Seconds(commands[i]);
      if (time < 0) {
        state.SkipWithError("a command failed");
        return std::nullopt;
      }
      least[i] = std::min(least[i], time);
    }
  }
  return least;
}

// The least time of each of two commands, and their ratio.
void Compare(benchmark::State& state, const std::string& measured, const std::string& yardstick) {
  const auto least = Least(state, {measured, yardstick});
  if (!least)
    return;
  state.counters["measured_s"] = (*least)[0];
  state.counters["yardstick_s"] = (*least)[1];
  state.counters["ratio"] = (*least)[0] / (*least)[1];
}

// Bytes of the files, together.
double SizeOf(const std::vector<fs::path>& files) {
  double bytes = 0;
  for (const fs::path& file : files)
    bytes += static_cast<double>(fs::file_size(file));
  return bytes;
}

// The command's peak memory as GNU time tells it (a child's own figure includes what it shared at
// its fork); 0 when it failed.
double PeakBytes(const std::string& command) {
  const fs::path peak = Dir() / "peak.txt";
  double kib = 0;
  if (Seconds("/usr/bin/time -f %M -o " + Quoted(peak) + " " + command) >= 0)
    std::ifstream(peak) >> kib;
  return kib * 1024;
}

void BM_PairVersusWc(benchmark::State& state) {
  const auto typical = WriteLogPair(Dir() / "pair", 1000000, 250000);
  const auto distinct = WriteLogPair(Dir() / "distinct", 1000000, 250000, Users::Distinct);
  const std::string pair = Quoted(typical.first) + " " + Quoted(typical.second);
  const std::string distinctReport =
      kReport + " --users " + Quoted(distinct.first) + " " + Quoted(distinct.second);
  const auto least =
      Least(state, {kReport + " --users " + pair, "wc -l " + pair,
                    "mawk -F'\\t' 'FNR > 1 && NF >= 5 { n[$4]++ } END { for (k in n) print k "
                    "\"\\t\" n[k] }' " +
                        pair + " | sort -f",
                    distinctReport});
  if (!least)
    return;
  const double report = (*least)[0], wc = (*least)[1], mawk = (*least)[2];
  const double typicalBytes = SizeOf({typical.first, typical.second});
  const double distinctBytes = SizeOf({distinct.first, distinct.second});
  state.counters["report_s"] = report;
  state.counters["wc_s"] = wc;
  state.counters["wc_GBps"] = typicalBytes / wc / 1e9;
  state.counters["mawk_s"] = mawk;
  state.counters["distinct_s"] = (*least)[3];
  state.counters["vs_wc"] = report / wc;
  state.counters["vs_mawk"] = report / mawk;
  state.counters["distinct_per_byte"] = (*least)[3] / distinctBytes / (report / typicalBytes);
  state.counters["peak_per_file_byte"] = PeakBytes(kReport + " --users " + pair) / typicalBytes;
  state.counters["distinct_peak_per_file_byte"] = PeakBytes(distinctReport) / distinctBytes;
}
BENCHMARK(BM_PairVersusWc)->Iterations(9)->Unit(benchmark::kMillisecond);

void BM_ServerLogVersusWc(benchmark::State& state) {
  const std::string report = kReport + " --users --log " + Quoted(ServerLog());
  Compare(state, report, "wc -l " + Quoted(ServerLog()));
  if (state.counters["yardstick_s"] > 0)
    state.counters["wc_GBps"] = SizeOf({ServerLog()}) / state.counters["yardstick_s"] / 1e9;
  state.counters["peak_per_file_byte"] = PeakBytes(report) / SizeOf({ServerLog()});
}
BENCHMARK(BM_ServerLogVersusWc)->Iterations(9)->Unit(benchmark::kMillisecond);

void BM_HistoryVersusLargest(benchmark::State& state) {
  const std::vector<fs::path> files = History();
  std::string all = kReport + " --users";
  for (const fs::path& file : files)
    all += " --log " + Quoted(file);
  Compare(state, all, kReport + " --users --log " + Quoted(files.back()));
}
BENCHMARK(BM_HistoryVersusLargest)->Iterations(9)->Unit(benchmark::kMillisecond);

void BM_GzipVersusGunzip(benchmark::State& state) {
  Compare(state, kReport + " --users --log " + Quoted(CompressedLog()),
          "gzip -dc " + Quoted(CompressedLog()));
}
BENCHMARK(BM_GzipVersusGunzip)->Iterations(9)->Unit(benchmark::kMillisecond);

// The classic pair, and a history file that holds it.
struct HeldPair {
  fs::path downloads, uploads, history;
  std::string Logs() const { return Quoted(downloads) + " " + Quoted(uploads); }
};

const HeldPair& Held() {
  static const HeldPair held = [] {
    HeldPair made;
    std::tie(made.downloads, made.uploads) = WriteLogPair(Dir() / "pair", 1000000, 250000);
    made.history = Dir() / "pair" / "held.db";
    fs::remove(made.history);
    if (Seconds(kReport + " --history " + Quoted(made.history) + " " + made.Logs()) < 0)
      std::abort();
    return made;
  }();
  return held;
}

void BM_HistoryAddVersusReport(benchmark::State& state) {
  const HeldPair& held = Held();
  const fs::path fresh = Dir() / "pair" / "fresh.db";
  const std::string remove = "rm -f " + Quoted(fresh) + " " + Quoted(fresh.string() + "-wal") +
                             " " + Quoted(fresh.string() + "-shm") + " && ";
  Compare(state, remove + kReport + " --users --history " + Quoted(fresh) + " " + held.Logs(),
          kReport + " --users " + held.Logs());
  state.counters["size_per_log_byte"] =
      static_cast<double>(fs::file_size(fresh)) /
      static_cast<double>(fs::file_size(held.downloads) + fs::file_size(held.uploads));
}
BENCHMARK(BM_HistoryAddVersusReport)->Iterations(5)->Unit(benchmark::kMillisecond);

void BM_HistoryReportVersusLogs(benchmark::State& state) {
  const HeldPair& held = Held();
  Compare(state, kReport + " --users --history " + Quoted(held.history),
          kReport + " --users " + held.Logs());
}
BENCHMARK(BM_HistoryReportVersusLogs)->Iterations(9)->Unit(benchmark::kMillisecond);

void BM_HistoryGrownVersusReport(benchmark::State& state) {
  const HeldPair& held = Held();
  // Copies of the pair and its history, which grow by 1,000 rows before every measured run.
  const fs::path dir = Dir() / "grown";
  fs::create_directories(dir);
  for (const fs::path& file : {held.downloads, held.uploads, held.history})
    fs::copy_file(file, dir / file.filename(), fs::copy_options::overwrite_existing);
  const fs::path rows = dir / "rows", upRows = dir / "up-rows";
  {
    const std::string text = MakeLogText(800, 7, false), up = MakeLogText(200, 8, true);
    std::ofstream(rows, std::ios::binary) << text.substr(text.find('\n') + 1);
    std::ofstream(upRows, std::ios::binary) << up.substr(up.find('\n') + 1);
  }
  const fs::path downloads = dir / held.downloads.filename(),
                 uploads = dir / held.uploads.filename();
  const std::string grow = "cat " + Quoted(rows) + " >> " + Quoted(downloads) + " && cat " +
                           Quoted(upRows) + " >> " + Quoted(uploads) + " && ";
  const std::string history = " --history " + Quoted(dir / held.history.filename());
  Compare(state,
          grow + kReport + " --users" + history + " " + Quoted(downloads) + " " + Quoted(uploads),
          kReport + " --users" + history);
}
BENCHMARK(BM_HistoryGrownVersusReport)->Iterations(9)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace quorvane::bench
