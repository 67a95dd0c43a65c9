#include <gtest/gtest.h>

#include <QApplication>
#include <QSettings>
#include <QTemporaryDir>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>

namespace {

// A window busy in a loop it never leaves holds the thread every check runs on: a test that
// hangs so ends the run with its name, rather than at the test runner's time limit.
class Watchdog : public ::testing::EmptyTestEventListener {
 public:
  static constexpr std::chrono::seconds kLimit{120};
  Watchdog() : thread_([this] { Watch(); }) {}
  ~Watchdog() override {
    {
      const std::lock_guard lock(mutex_);
      done_ = true;
    }
    wake_.notify_all();
    thread_.join();
  }
  void OnTestStart(const ::testing::TestInfo& test) override {
    const std::lock_guard lock(mutex_);
    name_ = std::string(test.test_suite_name()) + '.' + test.name();
    started_ = std::chrono::steady_clock::now();
  }
  void OnTestEnd(const ::testing::TestInfo&) override {
    const std::lock_guard lock(mutex_);
    name_.clear();
  }

 private:
  void Watch() {
    std::unique_lock lock(mutex_);
    while (!wake_.wait_for(lock, std::chrono::seconds(1), [this] { return done_; })) {
      if (!name_.empty() && std::chrono::steady_clock::now() - started_ > kLimit) {
        std::fprintf(stderr, "%s still running after %lld s: stopped\n", name_.c_str(),
                     static_cast<long long>(kLimit.count()));
        std::_Exit(1);
      }
    }
  }

  std::mutex mutex_;
  std::condition_variable wake_;
  bool done_ = false;
  std::string name_;
  std::chrono::steady_clock::time_point started_;
  std::thread thread_;  // last: it starts once the rest is made
};

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
  Watchdog watchdog;
  ::testing::TestEventListeners& listeners = ::testing::UnitTest::GetInstance()->listeners();
  listeners.Append(&watchdog);
  const int result = RUN_ALL_TESTS();
  listeners.Release(&watchdog);
  return result;
}
