#include <gtest/gtest.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

#include "app/AppIdentity.h"
#include "app/LogTableModel.h"
#include "app/basMain.h"
#include "app/frmMain.h"
#include "app/frmSplash.h"
#include "support/TempLogs.h"

using namespace std::chrono_literals;

namespace quorvane {
namespace {

QWidget* TopLevel(const char* objectName) {
  for (QWidget* widget : QApplication::topLevelWidgets()) {
    if (widget->objectName() == QLatin1String(objectName))
      return widget;
  }
  return nullptr;
}

TEST(Splash, ACharacterKeyClosesItAtOnceOtherKeysLeaveItToTheTimer) {
  // Each key with the text it types.
  const std::tuple<Qt::Key, const char*, bool> keys[] = {
      {Qt::Key_Q, "q", true},       {Qt::Key_Eacute, "\u00e9", true},
      {Qt::Key_Return, "\r", true}, {Qt::Key_Escape, "\x1b", true},
      {Qt::Key_Escape, "", true},   {Qt::Key_Backspace, "\b", true},
      {Qt::Key_Tab, "\t", false},   {Qt::Key_Delete, "\x7f", false},
      {Qt::Key_Left, "", false},    {Qt::Key_Shift, "", false}};
  for (const auto& [key, text, closes] : keys) {
    SCOPED_TRACE(key);
    frmSplash splash(60ms);
    QSignalSpy finished(&splash, &QDialog::finished);
    splash.show();
    QTest::sendKeyEvent(QTest::Click, &splash, key, QString::fromUtf8(text), {});
    EXPECT_EQ(splash.isVisible(), !closes);
    // Whatever closed it, the splash closes once: a stopped timer cannot close it again.
    EXPECT_EQ(splash.findChild<QTimer*>("tmrSplash")->isActive(), !closes);
    EXPECT_TRUE(QTest::qWaitFor([&splash] { return !splash.isVisible(); }, 5000));
    EXPECT_EQ(finished.count(), 1);
  }
}

// Start-up as the program runs it: the splash alone, closed by a click or by the real two-second
// timer, then the main window, with the logs loaded when the command line names them.
TEST(StartUp, TheMainWindowOpensWhenTheSplashCloses) {
  EXPECT_EQ(SplashPicture().size(), QSize(450, 250));
  const testing::TempDir folder;
  QStringList logs;
  for (const char* name : {"Download Log.txt", "Upload Log.txt"}) {
    logs << QString::fromStdString(
        folder.Write(name, testing::LogText(testing::Rows({{"a", "ann"}}))).string());
  }
  for (const bool click : {false, true}) {
    SCOPED_TRACE(click ? "a click on the splash" : "no input");
    bool splashShown = false;
    bool mainExistedDuringSplash = true;
    QTimer::singleShot(click ? 50 : 1900, [&] {
      QWidget* splash = TopLevel("frmSplash");
      if (splash != nullptr && click)
        QTest::mouseClick(splash, Qt::RightButton);  // only the left button closes it
      splashShown = splash != nullptr && splash->isVisible();
      mainExistedDuringSplash = TopLevel("frmMain") != nullptr;
      if (splashShown && click)
        QTest::mouseClick(splash, Qt::LeftButton);
    });
    QElapsedTimer elapsed;
    elapsed.start();
    Main(click ? logs : QStringList());
    EXPECT_EQ(elapsed.elapsed() < 2000, click) << elapsed.elapsed() << " ms";
    EXPECT_TRUE(splashShown);
    EXPECT_FALSE(mainExistedDuringSplash);
    EXPECT_EQ(TopLevel("frmSplash"), nullptr) << "the splash is destroyed when it closes";
    QWidget* main = TopLevel("frmMain");
    ASSERT_NE(main, nullptr);
    EXPECT_TRUE(main->isVisible());
    EXPECT_FALSE(main->isModal());
    EXPECT_FALSE(main->windowIcon().isNull()) << "the program's icon";
    const auto* window = qobject_cast<frmMain*>(main);
    QTest::qWait(0);
    EXPECT_EQ(window->DownloadLog().rowCount() + window->UploadLog().rowCount(), click ? 2 : 0);
    delete main;  // Main leaves it open for the event loop
  }
}

// --help and --version need no display; a wrong command line gets the usage and status 2. One log
// opens the window, which asks for the other.
TEST(CommandLine, AnswersWithoutAWindow) {
  const CommandLine oneLog = ReadCommandLine({"one log.txt"});
  EXPECT_EQ(oneLog.action, CommandLine::Action::kRun);
  EXPECT_EQ(oneLog.logs, QStringList{"one log.txt"});
  EXPECT_EQ(ReadCommandLine({"-", "b"}).logs, (QStringList{"-", "b"}));  // "-" is a file name
  const std::string usage = "usage: quorvane [--help] [--version] [DOWNLOAD_LOG [UPLOAD_LOG]]\n";
  // The arguments, then the status, stdout's first line and stderr.
  const std::vector<std::tuple<std::string, int, std::string, std::string>> cases = {
      {"--help", 0, usage, ""},
      {"log.txt --version", 0, "Quorvane 1.1.3\n", ""},
      {"a b c", 2, "", usage},
      {"-platform offscreen --bogus a b", 2, "", usage},
      {"a.txt b.txt", 1, "",
       "quorvane: no display to open a window on (is DISPLAY set?); quorvane-report works "
       "without one\n"}};
  for (const auto& [arguments, status, out, err] : cases) {
    SCOPED_TRACE(arguments);
    const testing::ShellRun run =
        testing::RunShell(std::string("env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM '") +
                          QUORVANE_APP_BINARY + "' " + arguments);
    EXPECT_EQ(run.status, status);
    EXPECT_EQ(run.out.substr(0, run.out.find('\n') + 1), out);
    // Qt may warn before the usage; with no display, it is one line alone.
    EXPECT_TRUE(err.empty() ? run.err.empty() : run.err.ends_with(err)) << run.err;
    if (status == 1) {
      EXPECT_EQ(run.err, err);
    }
  }
}

}  // namespace
}  // namespace quorvane
