#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>

#ifdef QUORVANE_HARDENING_WINDOW
#include <QApplication>
#include <QSettings>
#include <QTemporaryDir>
#endif

int main(int argc, char** argv) {
  // A pipe whose reader stopped early must fail a write, not end the test program.
  std::signal(SIGPIPE, SIG_IGN);
#ifdef QUORVANE_HARDENING_WINDOW
  // Test discovery runs this binary without the test environment: default to no display.
  if (std::getenv("QT_QPA_PLATFORM") == nullptr)
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
  QApplication app(argc, argv);
  // The program's settings go to a folder of the run's own.
  const QTemporaryDir settings;
  QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, settings.path());
#endif
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
