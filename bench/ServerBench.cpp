// The figures for Mobius logs, each the least of 9 interleaved runs of the built quorvane-report
// against its yardstick, written as counters:
//   ServerLogVersusWc      --log FILE --users on 2,000,000 lines / wc -l FILE (target <= 4), and
//                          the report's peak memory / the file's size (target <= 0.5)
//   HistoryVersusLargest   four files, each a copy of the one before plus 20,000 records (about
//                          1,000,000 transfer records each) / the largest alone (target <= 1.3)
//   GzipVersusGunzip       --log FILE.gz / gzip -dc FILE.gz > /dev/null (target <= 1.5)
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

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

// Runs the two commands by turns, keeps the least time of each, and writes their ratio.
void Compare(benchmark::State& state, const std::string& measured, const std::string& yardstick) {
  double least[2] = {1e9, 1e9};
  Seconds(measured);  // the files in the cache
  Seconds(yardstick);
  for (auto _ : state) {
    const double times[2] = {Seconds(measured), Seconds(yardstick)};
    if (times[0] < 0 || times[1] < 0) {
      state.SkipWithError("a command failed");
      return;
    }
    for (int i = 0; i < 2; ++i)
      least[i] = std::min(least[i], times[i]);
  }
  state.counters["measured_s"] = least[0];
  state.counters["yardstick_s"] = least[1];
  state.counters["ratio"] = least[0] / least[1];
}

void BM_ServerLogVersusWc(benchmark::State& state) {
  const std::string report = kReport + " --users --log " + Quoted(ServerLog());
  Compare(state, report, "wc -l " + Quoted(ServerLog()));
  // Peak memory as GNU time tells it (a child's own figure includes what it shared at its fork).
  const fs::path peak = Dir() / "peak.txt";
  if (Seconds("/usr/bin/time -f %M -o " + Quoted(peak) + " " + report) >= 0) {
    std::ifstream in(peak);
    double kib = 0;
    in >> kib;
    state.counters["peak_per_file_byte"] =
        kib * 1024 / static_cast<double>(fs::file_size(ServerLog()));
  }
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

}  // namespace
}  // namespace quorvane::bench
