#include <gtest/gtest.h>

#include <QApplication>
#include <QSettings>
#include <QTemporaryDir>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>

namespace {

// A window busy in a loop it never leaves holds the thread every check runs on: a test that
// hangs so ends the run with its name, rather than at the test runner's time limit.
constexpr std::chrono::seconds kLimit{120};
std::atomic<const ::testing::TestInfo*> running{nullptr};
std::atomic<std::chrono::steady_clock::time_point> started{};

struct Watchdog : ::testing::EmptyTestEventListener {
  void OnTestStart(const ::testing::TestInfo& test) override {
    started = std::chrono::steady_clock::now();
    running = &test;
  }
  void OnTestEnd(const ::testing::TestInfo&) override { running = nullptr; }
};

void Watch() {
  for (;; std::this_thread::sleep_for(std::chrono::seconds(1))) {
    const ::testing::TestInfo* test = running;
    if (test != nullptr && std::chrono::steady_clock::now() - started.load() > kLimit) {
      std::fprintf(stderr, "%s.%s still running after %lld s: stopped\n", test->test_suite_name(),
                   test->name(), static_cast<long long>(kLimit.count()));
      std::_Exit(1);
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  // Test discovery runs this binary without the test environment: default to no display.
  if (std::getenv("QT_QPA_PLATFORM") == nullptr)
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
  QApplication app(argc, argv);
  // Settings the windows remember go to a folder of this run, never the user's.
  const QTemporaryDir settings;
  QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, settings.path());
  ::testing::InitGoogleTest(&argc, argv);
  ::testing::UnitTest::GetInstance()->listeners().Append(new Watchdog);
  std::thread(Watch).detach();
  return RUN_ALL_TESTS();
}
