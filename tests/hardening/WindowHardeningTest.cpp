// The same promises kept by the real main window: the logs are only read whatever a person does
// with them, and a file that is not a plain readable log ends in a message, with the window's
// tables as they were and the window still answering.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QTableView>
#include <QTest>
#include <QTimer>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <functional>
#include <string>
#include <thread>

#include "FileAccess.h"
#include "FileWatch.h"
#include "app/LogTableModel.h"
#include "support/MainWindowFixture.h"

namespace {

namespace fs = std::filesystem;
using quorvane::testing::FileState;
using quorvane::testing::UnprivilegedFileAccess;

constexpr int kSampleDownloads = 40;
constexpr int kSampleUploads = 16;

class WindowHardening : public MainWindowFixture {
 protected:
  // Presses Load Logs and answers the two questions with these files.
  void LoadThroughWindow(const fs::path& download, const fs::path& upload) {
    fake->answers.push_back(QString::fromStdString(download.string()));
    fake->answers.push_back(QString::fromStdString(upload.string()));
    Click("cmdLoadLogs");
  }

  int DownloadRows() { return window->DownloadLog().rowCount(); }
  int UploadRows() { return window->UploadLog().rowCount(); }

  // The window takes input again: an event posted now is handled, the busy pointer is off.
  void ExpectWindowAnswers() {
    bool handled = false;
    QTimer::singleShot(0, window.get(), [&] { handled = true; });
    QTRY_VERIFY_WITH_TIMEOUT(handled, 5000);
    ASSERT_FALSE(fake->busyChanges.empty());
    EXPECT_FALSE(fake->busyChanges.back()) << "the busy pointer stayed on";
    EXPECT_TRUE(Control<QPushButton>("cmdLoadLogs")->isEnabled());
  }

  // Loads the samples, then loads again with `upload` as the upload log; that load must fail
  // with one message naming the upload log and leave the sample tables in place.
  void ExpectUploadLogRefused(const fs::path& upload, const std::string& reason,
                              const std::function<void()>& during = {}) {
    LoadThroughWindow(downloads, uploads);
    ASSERT_EQ(UploadRows(), kSampleUploads);
    fake->messages.clear();
    if (during) {
      during();
    } else {
      LoadThroughWindow(downloads, upload);
    }
    ASSERT_EQ(fake->messages.size(), 1u);
    const QString text = fake->messages[0].text;
    EXPECT_TRUE(text.contains("upload log")) << text.toStdString();
    EXPECT_TRUE(text.contains(QString::fromStdString(reason), Qt::CaseInsensitive))
        << text.toStdString();
    EXPECT_EQ(DownloadRows(), kSampleDownloads);
    EXPECT_EQ(UploadRows(), kSampleUploads);
    ExpectWindowAnswers();
  }

  quorvane::testing::SampleLogs samples{folder.Path()};
  const fs::path& downloads = samples.downloads;
  const fs::path& uploads = samples.uploads;
};

TEST_F(WindowHardening, LoadingAnalysingRenamingAndRemovingRowsLeaveBothLogsAsTheyWere) {
  quorvane::testing::WatchedFile downloadLog(downloads);
  quorvane::testing::WatchedFile uploadLog(uploads);

  LoadThroughWindow(downloads, uploads);
  ASSERT_EQ(DownloadRows(), kSampleDownloads);
  ChooseUser("Marla");
  Click("cmdAnalyzeLog");
  EXPECT_EQ(Text("lblUserDownloads"), "13");

  // Rename Users, as a person does it: pick both names, confirm, then Done.
  fake->yesNoAnswers.push_back(true);
  bool renamed = false;
  QTimer::singleShot(0, [&] {
    QWidget* dialog = QApplication::activeModalWidget();
    ASSERT_NE(dialog, nullptr);
    auto* replace = dialog->findChild<QComboBox*>("cboReplace");
    auto* with = dialog->findChild<QComboBox*>("cboWith");
    replace->setCurrentIndex(replace->findText("Marla", Qt::MatchExactly | Qt::MatchCaseSensitive));
    with->setCurrentIndex(with->findText("Wren", Qt::MatchExactly | Qt::MatchCaseSensitive));
    QTest::mouseClick(dialog->findChild<QPushButton*>("cmdRename"), Qt::LeftButton);
    QTest::mouseClick(dialog->findChild<QPushButton*>("Command1"), Qt::LeftButton);
    renamed = true;
  });
  Click("cmdRenameUser");
  ASSERT_TRUE(renamed);
  ASSERT_EQ(fake->notices.size(), 1u) << "the rename reports its count";

  // Backspace on a selected row of each list.
  for (const char* name : {"lvwDownloadLog", "lvwUploadLog"}) {
    auto* list = Control<QTableView>(name);
    list->setFocus();
    list->setCurrentIndex(list->model()->index(0, 0));
    QTest::keyClick(list, Qt::Key_Backspace);
  }
  EXPECT_EQ(DownloadRows(), kSampleDownloads - 1);
  EXPECT_EQ(UploadRows(), kSampleUploads - 1);
  EXPECT_EQ(Control<QComboBox>("cboUsers")->findText("Marla"), -1) << "Marla is Wren now";
  ChooseUser("Wren");
  Click("cmdAnalyzeLog");

  // Only Load Logs opens a log, once.
  downloadLog.ExpectOnlyRead(1);
  uploadLog.ExpectOnlyRead(1);
}

TEST_F(WindowHardening, AnUnreadableLogEndsInAMessageAndChangesNothing) {
  const fs::path locked = folder.Path() / "Locked Upload Log.txt";
  fs::copy_file(uploads, locked);
  fs::permissions(locked, fs::perms::none);
  UnprivilegedFileAccess access;
  if (const std::string why = access.WhyNotDenied(locked, O_RDONLY); !why.empty()) {
    GTEST_SKIP() << "cannot take read permission away here: " << why;
  }
  ExpectUploadLogRefused(locked, std::strerror(EACCES));
}

TEST_F(WindowHardening, ADirectoryGivenAsALogEndsInAMessageAndChangesNothing) {
  const fs::path directory = folder.Path() / "Logs";
  fs::create_directory(directory);
  ExpectUploadLogRefused(directory, std::strerror(EISDIR));
}

TEST_F(WindowHardening, A2GiBLogOfZeroBytesEndsInAMessageAndChangesNothing) {
  const fs::path sparse = folder.Write("Sparse Upload Log.txt", "");
  fs::resize_file(sparse, std::uintmax_t{2} << 30);
  ExpectUploadLogRefused(sparse, "line 1");
}

TEST_F(WindowHardening, A2GiBLogWhoseDataEndsEarlyLoads) {
  // The samples, then an empty line (the data ends there), then zeros up to 2 GiB.
  const fs::path sparse =
      folder.Write("Sparse Upload Log.txt", FileState::Of(uploads).bytes + "\r\n");
  fs::resize_file(sparse, std::uintmax_t{2} << 30);
  LoadThroughWindow(downloads, sparse);
  EXPECT_TRUE(fake->messages.empty());
  EXPECT_EQ(UploadRows(), kSampleUploads);
  ExpectWindowAnswers();
}

TEST_F(WindowHardening, ALogThatGrowsWhileLoadingLoadsOrEndsInAMessage) {
  const fs::path growing = folder.Path() / "Growing Upload Log.txt";
  fs::copy_file(uploads, growing);
  std::atomic<bool> stop{false};
  std::thread writer([&] {
    const int fd = open(growing.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
    const std::string line = "06/12/2026 12:00:00\t203.0.113.9\tguest\tGrower\tmore.zip\r\n";
    for (int n = 0; n < 200000 && !stop && fd >= 0; ++n) {
      if (write(fd, line.data(), line.size()) < 0)
        break;
    }
    close(fd);
  });
  LoadThroughWindow(downloads, growing);
  stop = true;
  writer.join();
  if (fake->messages.empty()) {
    EXPECT_GE(UploadRows(), kSampleUploads);
  } else {
    // Only a line cut by the end of the read can be wrong, and the message says which.
    EXPECT_TRUE(fake->messages[0].text.contains("upload log"));
    EXPECT_TRUE(fake->messages[0].text.contains("Line ")) << fake->messages[0].text.toStdString();
  }
  ExpectWindowAnswers();
}

}  // namespace
