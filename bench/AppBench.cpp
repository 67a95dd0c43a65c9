// The main window on a generated pair of 1,000,000 download rows and 250,000 upload rows, under
// the offscreen platform: what a person waits for after each command.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QSignalBlocker>
#include <QTabWidget>
#include <QTableView>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "LogGenerator.h"
#include "app/ActivityChart.h"
#include "app/HistoryFile.h"
#include "app/LogDocument.h"
#include "app/LogTableModel.h"
#include "app/basMain.h"
#include "app/frmMain.h"
#include "app/frmUsersOverview.h"
#include "logs/LargeMemory.h"
#include "logs/LogFollower.h"
#include "logs/LogLoader.h"
#include "logs/LogReader.h"

namespace {

using quorvane::frmMain;

constexpr std::size_t kDownloadRows = 1000000;
constexpr std::size_t kUploadRows = 250000;

// A generated pair of `millions` x (1,000,000 download + 250,000 upload) rows, written once and
// reused (the ten-million pair is about 0.9 GB; never committed).
QStringList PairFiles(int millions) {
  const auto [downloads, uploads] = quorvane::bench::WriteLogPair(
      std::filesystem::temp_directory_path() /
          (millions == 1 ? std::string("quorvane-bench")
                         : "quorvane-bench-" + std::to_string(millions) + "m"),
      kDownloadRows * millions, kUploadRows * millions);
  return {QString::fromStdString(downloads.string()), QString::fromStdString(uploads.string())};
}

const QStringList& Files() {
  static const QStringList files = PairFiles(1);
  return files;
}

struct Window {
  Window() {
    main.show();
    QApplication::processEvents();
  }
  template <typename Widget>
  Widget* Control(const char* name) {
    return main.findChild<Widget*>(QString::fromLatin1(name));
  }
  // What Load Logs does once both files are chosen.
  bool Load(const QStringList& files = Files()) { return main.LoadLog(files.at(0), files.at(1)); }
  // Both lists drawn as a person would see them.
  void Paint() {
    Control<QTableView>("lvwDownloadLog")->viewport()->repaint();
    Control<QTableView>("lvwUploadLog")->viewport()->repaint();
  }
  frmMain main;
};

Window& Loaded() {
  // Never destroyed: at exit the application object is gone, and a window cannot outlive it.
  static Window& window = *new Window;
  static const bool loaded = [] {
    return window.Load() && window.main.DownloadLog().rowCount() == static_cast<int>(kDownloadRows);
  }();
  if (!loaded)
    std::abort();
  return window;
}

// The document's kept figures are made on a second thread once changes pause (a person pauses
// between commands); the figures each change then costs are measured from there.
void WaitForKeptFigures(quorvane::LogDocument& document) {
  while (document.LiveUsers() == nullptr) {
    QApplication::processEvents();
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
}

// From the chosen files to both lists drawn and the user list filled.
void BM_LoadLogs(benchmark::State& state) {
  Files();  // written outside the timed loop
  Window window;
  for (auto _ : state) {
    if (!window.Load())
      state.SkipWithError("load failed");
    window.Paint();
  }
}
BENCHMARK(BM_LoadLogs)->Unit(benchmark::kMillisecond)->Iterations(3);

#ifdef QUORVANE_HISTORY
// A history file holding the pair opened in the window, lists drawn, against loading the logs
// themselves the same way (target: ratio <= 2). The least time of each is compared.
void BM_OpenHistoryVersusLoadLogs(benchmark::State& state) {
  const std::filesystem::path history =
      std::filesystem::temp_directory_path() / "quorvane-bench" / "pair.history";
  static const bool made = [&] {
    std::filesystem::remove(history);
    const std::vector<quorvane::LogSource> sources = {
        {{Files().at(0).toStdString(), false}, quorvane::SourceRole::Download},
        {{Files().at(1).toStdString(), false}, quorvane::SourceRole::Upload}};
    return quorvane::AddToHistory(history, sources, {}).failure.isEmpty();
  }();
  if (!made) {
    state.SkipWithError("the history could not be made");
    return;
  }
  Window window;
  window.main.Document().SetFollowing(false);  // whatever the settings say: no poll meanwhile
  using Clock = std::chrono::steady_clock;
  const auto timed = [&](const auto& open) {
    // What the last load set going on the other core is done, as when a person opens a file.
    if (window.main.DownloadLog().rowCount() > 0)
      WaitForKeptFigures(window.main.Document());
    const Clock::time_point start = Clock::now();
    if (!open())
      state.SkipWithError("open failed");
    window.Paint();
    return std::chrono::duration<double>(Clock::now() - start).count();
  };
  double opened = 1e9, loaded = 1e9;
  for (auto _ : state) {
    opened =
        std::min(opened, timed([&] {
                   return window.main.LoadHistory(QString::fromStdString(history.string())) &&
                          window.main.DownloadLog().rowCount() == static_cast<int>(kDownloadRows);
                 }));
    loaded = std::min(loaded, timed([&] { return window.Load(); }));
  }
  state.counters["history_s"] = opened;
  state.counters["logs_s"] = loaded;
  state.counters["ratio"] = opened / loaded;
}
BENCHMARK(BM_OpenHistoryVersusLoadLogs)->Unit(benchmark::kMillisecond)->Iterations(5);
#endif

// Both logs read as Load Logs reads them, with their dates (dates:1) or without: what reading
// the dates adds to a load.
void BM_ReadLogPair(benchmark::State& state) {
  quorvane::LoadOptions options;
  if (state.range(0) != 0)
    options.dates = quorvane::DateOrder::Detect;
  for (auto _ : state) {
    if (!quorvane::LoadLogPair(Files().at(0).toStdString(), Files().at(1).toStdString(), options)
             .Ok())
      state.SkipWithError("load failed");
  }
}
BENCHMARK(BM_ReadLogPair)->ArgName("dates")->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

void BM_AnalyzeWithUserChosen(benchmark::State& state) {
  Window& window = Loaded();
  auto* users = window.Control<QComboBox>("cboUsers");
  users->setCurrentIndex(users->findText("user7"));
  for (auto _ : state)
    window.Control<QPushButton>("cmdAnalyzeLog")->click();
  users->setCurrentIndex(-1);
}
BENCHMARK(BM_AnalyzeWithUserChosen)->Unit(benchmark::kMillisecond);

void BM_BackspaceOnTheMillionRowList(benchmark::State& state) {
  Window& window = Loaded();
  auto* list = window.Control<QTableView>("lvwDownloadLog");
  list->setCurrentIndex(list->model()->index(10, 0));
  for (auto _ : state) {
    QKeyEvent backspace(QEvent::KeyPress, Qt::Key_Backspace, Qt::NoModifier, QStringLiteral("\b"));
    QApplication::sendEvent(list, &backspace);
    list->viewport()->repaint();
  }
}
BENCHMARK(BM_BackspaceOnTheMillionRowList)->Unit(benchmark::kMillisecond);

// One page down the million-row list, drawn.
void BM_ScrollAPage(benchmark::State& state) {
  Window& window = Loaded();
  auto* list = window.Control<QTableView>("lvwDownloadLog");
  QScrollBar* bar = list->verticalScrollBar();
  for (auto _ : state) {
    bar->setValue(
        bar->value() + bar->pageStep() >= bar->maximum() ? 0 : bar->value() + bar->pageStep());
    list->viewport()->repaint();
  }
}
BENCHMARK(BM_ScrollAPage)->Unit(benchmark::kMicrosecond);

// From the button to the overview of every user drawn: the figures of ~6,000 users over both
// tables, counted (kept:0, right after a load, while the kept figures are still being made on
// the other core) or taken from the kept figures (kept:1, seconds after a load).
void BM_OpenUsersOverview(benchmark::State& state) {
  Window& window = Loaded();
  if (state.range(0) != 0)
    WaitForKeptFigures(window.main.Document());
  for (auto _ : state) {
    window.Control<QPushButton>("cmdUsersOverview")->click();
    auto* overview = window.Control<quorvane::frmUsersOverview>("frmUsersOverview");
    overview->findChild<QTableView*>("lvwUsers")->viewport()->repaint();
    state.PauseTiming();
    delete overview;
    state.ResumeTiming();
  }
}
BENCHMARK(BM_OpenUsersOverview)->ArgName("kept")->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

// The open overview sorted again (by ratio, then back to names) or narrowed again (to the names
// containing "user1", then all), drawn each time.
void BM_UsersOverviewResortAndRefilter(benchmark::State& state) {
  Window& window = Loaded();
  window.Control<QPushButton>("cmdUsersOverview")->click();
  auto* overview = window.Control<quorvane::frmUsersOverview>("frmUsersOverview");
  auto* table = overview->findChild<QTableView*>("lvwUsers");
  auto* sortBy = overview->findChild<QComboBox*>("cboSortBy");
  auto* find = overview->findChild<QLineEdit*>("txtFind");
  bool again = false;
  for (auto _ : state) {
    again = !again;
    if (state.range(0) == 0) {
      sortBy->setCurrentIndex(again ? 3 : 0);
    } else {
      find->setText(again ? QStringLiteral("user1") : QString());
    }
    table->viewport()->repaint();
  }
  delete overview;
}
BENCHMARK(BM_UsersOverviewResortAndRefilter)
    ->ArgName("refilter")
    ->Arg(0)
    ->Arg(1)
    ->Unit(benchmark::kMicrosecond);

// A row removed from the million-row list while the overview is open, the overview brought up to
// date: keys that arrive together share one pass (`keys` at once).
void BM_BackspaceWithUsersOverviewOpen(benchmark::State& state) {
  Window& window = Loaded();
  window.Control<QPushButton>("cmdUsersOverview")->click();
  auto* overview = window.Control<quorvane::frmUsersOverview>("frmUsersOverview");
  auto* list = window.Control<QTableView>("lvwDownloadLog");
  list->setCurrentIndex(list->model()->index(10, 0));
  WaitForKeptFigures(window.main.Document());
  for (auto _ : state) {
    for (int64_t key = 0; key < state.range(0); ++key) {
      QKeyEvent backspace(QEvent::KeyPress, Qt::Key_Backspace, Qt::NoModifier,
                          QStringLiteral("\b"));
      QApplication::sendEvent(list, &backspace);
    }
    QApplication::processEvents();
    list->viewport()->repaint();
  }
  delete overview;
}
BENCHMARK(BM_BackspaceWithUsersOverviewOpen)
    ->ArgName("keys")
    ->Arg(1)
    ->Arg(5)
    ->Unit(benchmark::kMillisecond);

// A name renamed with the overview open, and back, the overview brought up to date.
void BM_RenameWithUsersOverviewOpen(benchmark::State& state) {
  Window& window = Loaded();
  window.Control<QPushButton>("cmdUsersOverview")->click();
  auto* overview = window.Control<quorvane::frmUsersOverview>("frmUsersOverview");
  auto* table = overview->findChild<QTableView*>("lvwUsers");
  QApplication::processEvents();
  WaitForKeptFigures(window.main.Document());
  bool back = false;
  for (auto _ : state) {
    back = !back;
    window.main.RenameUser(back ? "user7" : "user7 renamed", back ? "user7 renamed" : "user7");
    QApplication::processEvents();
    table->viewport()->repaint();
  }
  delete overview;
}
BENCHMARK(BM_RenameWithUsersOverviewOpen)->Unit(benchmark::kMillisecond);

// A thousand rows a follow read, from the read to every view brought up to date and drawn: both
// lists, the user list, the figures Analyze showed (a user chosen), the overview and its chart.
void BM_ThousandRowsArrive(benchmark::State& state) {
  Window& window = Loaded();
  auto* users = window.Control<QComboBox>("cboUsers");
  users->setCurrentIndex(users->findText("user7"));
  window.Control<QPushButton>("cmdAnalyzeLog")->click();
  window.Control<QPushButton>("cmdUsersOverview")->click();
  auto* overview = window.Control<quorvane::frmUsersOverview>("frmUsersOverview");
  overview->findChild<QTabWidget*>("tabViews")->setCurrentIndex(1);
  auto* chart = overview->findChild<quorvane::ActivityChart*>("chtActivity");
  quorvane::LogDocument& document = window.main.Document();
  WaitForKeptFigures(document);
  const std::string text = quorvane::bench::MakeLogText(1000, 99, false);
  const int before = window.main.DownloadLog().rowCount();
  int round = 0;
  for (auto _ : state) {
    state.PauseTiming();
    quorvane::FollowUpdate update;
    update.rows.push_back(
        {0, quorvane::LogKind::Download, std::nullopt, std::move(*quorvane::ParseLog(text).table)});
    ++round;
    state.ResumeTiming();
    document.Apply(update);
    QApplication::processEvents();
    QApplication::processEvents();  // what the first pass scheduled for once events are handled
    window.Paint();
    chart->viewport()->repaint();
  }
  users->setCurrentIndex(-1);
  if (window.main.DownloadLog().rowCount() != before + 1000 * round)
    state.SkipWithError("the rows did not arrive");
  delete overview;
}
BENCHMARK(BM_ThousandRowsArrive)->Unit(benchmark::kMillisecond)->Iterations(10);

// The open overview over a new period of `months` months: from the start of the year, then up to
// its end, in turn, the other field set first without a recompute as if it had been set before.
// The figures of the users with transfers in the period are computed and the table is drawn; with
// `chart`, the Activity page shows and its chart is counted and drawn too.
void BM_UsersOverviewNewPeriod(benchmark::State& state) {
  Window& window = Loaded();
  window.Control<QPushButton>("cmdUsersOverview")->click();
  auto* overview = window.Control<quorvane::frmUsersOverview>("frmUsersOverview");
  const bool chart = state.range(1) != 0;
  overview->findChild<QTabWidget*>("tabViews")->setCurrentIndex(chart ? 1 : 0);
  QWidget* drawn = chart ? overview->findChild<quorvane::ActivityChart*>("chtActivity")->viewport()
                         : overview->findChild<QTableView*>("lvwUsers")->viewport();
  auto* from = overview->findChild<QDateEdit*>("dtpFrom");
  auto* to = overview->findChild<QDateEdit*>("dtpTo");
  overview->findChild<QCheckBox*>("chkAllTime")->setChecked(false);
  const auto months = static_cast<int>(state.range(0));
  const QDate start(2026, 1, 1);
  const QDate end(2026, 12, 31);
  bool early = false;
  for (auto _ : state) {
    early = !early;
    QDateEdit* first = early ? to : from;
    {
      const QSignalBlocker quiet(first);
      first->setDate(early ? start.addMonths(months).addDays(-1)
                           : end.addMonths(-months).addDays(1));
    }
    (early ? from : to)->setDate(early ? start : end);
    drawn->repaint();
  }
  delete overview;
}
BENCHMARK(BM_UsersOverviewNewPeriod)
    ->ArgNames({"months", "chart"})
    ->Args({1, 0})
    ->Args({3, 0})
    ->Args({11, 0})
    ->Args({3, 1})
    ->Unit(benchmark::kMillisecond);

// The chart on its page for other users: everyone, then the fifty users of the first rows selected,
// in turn, over all time: counted and drawn.
void BM_ActivityChartRedraw(benchmark::State& state) {
  Window& window = Loaded();
  window.Control<QPushButton>("cmdUsersOverview")->click();
  auto* overview = window.Control<quorvane::frmUsersOverview>("frmUsersOverview");
  overview->findChild<QTabWidget*>("tabViews")->setCurrentIndex(1);
  auto* table = overview->findChild<QTableView*>("lvwUsers");
  auto* chart = overview->findChild<quorvane::ActivityChart*>("chtActivity");
  const QItemSelection first50(table->model()->index(0, 0), table->model()->index(49, 0));
  bool some = false;
  for (auto _ : state) {
    some = !some;
    if (some) {
      table->selectionModel()->select(
          first50, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    } else {
      table->selectionModel()->clearSelection();
    }
    chart->viewport()->repaint();
  }
  if (chart->Shown().bars.empty())
    state.SkipWithError("no bars");
  delete overview;
}
BENCHMARK(BM_ActivityChartRedraw)->Unit(benchmark::kMillisecond);

// A field of /proc/self/status (VmRSS, VmHWM) in MB; 0 where there is none.
double StatusMB(const char* field) {
  std::ifstream status("/proc/self/status");
  const std::string key = std::string(field) + ':';
  for (std::string line; std::getline(status, line);) {
    if (line.rfind(key, 0) == 0)
      return std::strtod(line.c_str() + key.size(), nullptr) / 1024.0 * 1.048576;
  }
  return 0;
}

double ProcessCpuSeconds() {
  timespec time{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &time);
  return static_cast<double>(time.tv_sec) + static_cast<double>(time.tv_nsec) / 1e9;
}

// Events handled as a person who leaves the window alone would see them, for `seconds`.
void Idle(double seconds) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
  while (std::chrono::steady_clock::now() < end) {
    QApplication::processEvents();
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

// A whole session on the pair (millions:1) or on the ten-million pair (millions:10), in a process
// of its own (run one alone: --benchmark_filter=BM_SessionMemory/millions:1): load, 15 s
// untouched, Analyze, the overview on each page, a period and All time again, 10 s idle. Prints
// after each step the milliseconds it took, resident memory (VmRSS) and its peak (VmHWM), and the
// CPU spent while untouched. Targets: peak <= 2.5x the logs' size, rest <= 1.5x; the ten-million
// pair within 12x the million pair's times and memory.
void BM_SessionMemory(benchmark::State& state) {
  const QStringList files = PairFiles(static_cast<int>(state.range(0)));
  const double logsMB = static_cast<double>(std::filesystem::file_size(files.at(0).toStdString()) +
                                            std::filesystem::file_size(files.at(1).toStdString())) /
                        1e6;
  // Both files read once beforehand, as the command and the million pair find them: the
  // session measures the program, not the disk (the ten-million pair is often cold).
  for (const QString& file : files) {
    std::ifstream in(file.toStdString(), std::ios::binary);
    std::vector<char> buffer(std::size_t{1} << 20);
    while (in.read(buffer.data(), static_cast<std::streamsize>(buffer.size())) || in.gcount() > 0) {
    }
  }
  // The program's own: what it keeps for a next count goes back once idle.
  quorvane::StartReleasingIdleMemory();
  // The peak from here on: writing the logs above is no part of the session.
  std::ofstream("/proc/self/clear_refs") << "5";
  double peak = 0, rest = 0, idleCpu = 0;
  for (auto _ : state) {
    std::printf("%-36s %9s %9s %9s\n", "step", "ms", "VmRSS MB", "VmHWM MB");
    auto start = std::chrono::steady_clock::now();
    const auto step = [&](const char* what) {
      const auto now = std::chrono::steady_clock::now();
      std::printf("%-36s %9.0f %9.0f %9.0f\n", what,
                  std::chrono::duration<double, std::milli>(now - start).count(), StatusMB("VmRSS"),
                  StatusMB("VmHWM"));
      std::fflush(stdout);
      start = std::chrono::steady_clock::now();
    };
    Window window;
    // Not following, whatever the settings say: files other runs write beside the pair would
    // wake the follower and count in the idle CPU.
    window.main.Document().SetFollowing(false);
    step("started");
    if (!window.Load(files))
      return state.SkipWithError("load failed");
    window.Paint();
    step("logs loaded");
    const double cpu = ProcessCpuSeconds();
    Idle(15);
    idleCpu = ProcessCpuSeconds() - cpu;
    step("15 s later, nothing touched");
    window.Control<QPushButton>("cmdAnalyzeLog")->click();
    QApplication::processEvents();
    step("Analyze");
    window.Control<QPushButton>("cmdUsersOverview")->click();
    auto* overview = window.Control<quorvane::frmUsersOverview>("frmUsersOverview");
    auto* pages = overview->findChild<QTabWidget*>("tabViews");
    overview->repaint();
    step("Users Overview");
    pages->setCurrentIndex(1);
    QApplication::processEvents();
    overview->repaint();
    step("Activity page");
    pages->setCurrentIndex(2);
    QApplication::processEvents();
    overview->repaint();
    step("Files page");
    pages->setCurrentIndex(0);
    QApplication::processEvents();
    overview->repaint();
    step("Users page");
    {
      // All time off and both ends set before the period is counted, as a person's typing
      // settles on them. (With All time on, setting a date counts all time and shows the logs'
      // whole span in both fields again: the period counted would be every dated row.)
      const QSignalBlocker quietFrom(overview->findChild<QDateEdit*>("dtpFrom"));
      const QSignalBlocker quietAllTime(overview->findChild<QCheckBox*>("chkAllTime"));
      overview->findChild<QCheckBox*>("chkAllTime")->setChecked(false);
      overview->findChild<QDateEdit*>("dtpFrom")->setDate(QDate(2026, 3, 1));
    }
    overview->findChild<QDateEdit*>("dtpTo")->setDate(QDate(2026, 5, 31));
    QApplication::processEvents();
    overview->repaint();
    if (overview->findChild<QDateEdit*>("dtpFrom")->date() != QDate(2026, 3, 1))
      return state.SkipWithError("the period counted is not the one set");
    step("a period (three months)");
    overview->findChild<QCheckBox*>("chkAllTime")->setChecked(true);
    QApplication::processEvents();
    overview->repaint();
    step("All time again");
    Idle(10);
    step("10 s idle");
    peak = StatusMB("VmHWM");
    rest = StatusMB("VmRSS");
    delete overview;
  }
  state.counters["logs_MB"] = logsMB;
  state.counters["idle_cpu_s"] = idleCpu;
  state.counters["peak_ratio"] = peak / logsMB;
  state.counters["rest_ratio"] = rest / logsMB;
}
BENCHMARK(BM_SessionMemory)
    ->ArgName("millions")
    ->Arg(1)
    ->Arg(10)
    ->Unit(benchmark::kSecond)
    ->Iterations(1);

}  // namespace

int main(int argc, char** argv) {
  quorvane::UseMemoryForAWindow();  // as the program does
  if (std::getenv("QT_QPA_PLATFORM") == nullptr)
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
  QApplication app(argc, argv);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  return 0;
}
