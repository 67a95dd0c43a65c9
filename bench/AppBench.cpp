// The main window on a generated pair of 1,000,000 download rows and 250,000 upload rows, under
// the offscreen platform: what a person waits for after each command.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QComboBox>
#include <QKeyEvent>
#include <QPushButton>
#include <QScrollBar>
#include <QTableView>
#include <cstdlib>
#include <filesystem>

#include "LogGenerator.h"
#include "app/LogTableModel.h"
#include "app/frmMain.h"

namespace {

using quorvane::frmMain;

constexpr std::size_t kDownloadRows = 1000000;
constexpr std::size_t kUploadRows = 250000;

// The generated pair, written once and reused.
const QStringList& Files() {
  static const QStringList files = [] {
    const auto [downloads, uploads] = quorvane::bench::WriteLogPair(
        std::filesystem::temp_directory_path() / "quorvane-bench", kDownloadRows, kUploadRows);
    return QStringList{QString::fromStdString(downloads.string()),
                       QString::fromStdString(uploads.string())};
  }();
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
  bool Load() { return main.LoadLog(Files().at(0), Files().at(1)); }
  // Both lists drawn as a person would see them.
  void Paint() {
    Control<QTableView>("lvwDownloadLog")->viewport()->repaint();
    Control<QTableView>("lvwUploadLog")->viewport()->repaint();
  }
  frmMain main;
};

Window& Loaded() {
  static Window window;
  static const bool loaded = [] {
    return window.Load() && window.main.DownloadLog().rowCount() == static_cast<int>(kDownloadRows);
  }();
  if (!loaded)
    std::abort();
  return window;
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

}  // namespace

int main(int argc, char** argv) {
  if (std::getenv("QT_QPA_PLATFORM") == nullptr)
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
  QApplication app(argc, argv);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  return 0;
}
