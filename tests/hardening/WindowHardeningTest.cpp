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
#include "ScriptedWindow.h"
#include "app/LogTableModel.h"
#include "support/TempLogs.h"

namespace {

namespace fs = std::filesystem;
using quorvane::testing::FileState;
using quorvane::testing::UnprivilegedFileAccess;

constexpr int kSampleDownloads = 40;
constexpr int kSampleUploads = 16;

class WindowHardening : public quorvane::testing::ScriptedWindow {
 protected:
  // The user list entry `name` chosen, as the Analyze command reads it.
  void ChooseUser(const QString& name) {
    auto* users = Control<QComboBox>("cboUsers");
    users->setCurrentIndex(users->findText(name, Qt::MatchExactly | Qt::MatchCaseSensitive));
    ASSERT_EQ(users->currentText(), name);
  }

  int DownloadRows() { return window->DownloadLog().rowCount(); }
  int UploadRows() { return window->UploadLog().rowCount(); }

  // The window takes input again: an event posted now is handled, the busy pointer is off.
  void ExpectWindowAnswers() {
    bool handled = false;
    QTimer::singleShot(0, window.get(), [&] { handled = true; });
    QTRY_VERIFY_WITH_TIMEOUT(handled, 5000);
    ASSERT_FALSE(person->busyChanges.empty());
    EXPECT_FALSE(person->busyChanges.back()) << "the busy pointer stayed on";
    EXPECT_TRUE(Control<QPushButton>("cmdLoadLogs")->isEnabled());
  }

  // Loads the samples, then loads again with `upload` as the upload log; that load must fail
  // with one message naming the upload log and leave the sample tables in place.
  void ExpectUploadLogRefused(const fs::path& upload, const std::string& reason,
                              const std::function<void()>& during = {}) {
    LoadLogs(downloads, uploads);
    ASSERT_EQ(UploadRows(), kSampleUploads);
    person->messages.clear();
    if (during) {
      during();
    } else {
      LoadLogs(downloads, upload);
    }
    ASSERT_EQ(person->messages.size(), 1u);
    const QString text = person->messages[0];
    EXPECT_TRUE(text.contains("upload log")) << text.toStdString();
    EXPECT_TRUE(text.contains(QString::fromStdString(reason), Qt::CaseInsensitive))
        << text.toStdString();
    EXPECT_EQ(DownloadRows(), kSampleDownloads);
    EXPECT_EQ(UploadRows(), kSampleUploads);
    ExpectWindowAnswers();
  }

  quorvane::testing::TempDir folder;
  quorvane::testing::SampleLogs samples{folder.Path()};
  const fs::path& downloads = samples.downloads;
  const fs::path& uploads = samples.uploads;
};

TEST_F(WindowHardening, LoadingAnalysingRenamingAndRemovingRowsLeaveBothLogsAsTheyWere) {
  quorvane::testing::WatchedFile downloadLog(downloads);
  quorvane::testing::WatchedFile uploadLog(uploads);

  LoadLogs(downloads, uploads);
  ASSERT_EQ(DownloadRows(), kSampleDownloads);
  ChooseUser("Marla");
  Click("cmdAnalyzeLog");
  EXPECT_EQ(Control<QLabel>("lblUserDownloads")->text(), "13");

  // Rename Users, as a person does it: pick both names, confirm, then Done.
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
  ASSERT_EQ(person->notices.size(), 1u) << "the rename reports its count";

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
  LoadLogs(downloads, sparse);
  EXPECT_TRUE(person->messages.empty());
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
  LoadLogs(downloads, growing);
  stop = true;
  writer.join();
  if (person->messages.empty()) {
    EXPECT_GE(UploadRows(), kSampleUploads);
  } else {
    // Only a line cut by the end of the read can be wrong, and the message says which.
    EXPECT_TRUE(person->messages[0].contains("upload log"));
    EXPECT_TRUE(person->messages[0].contains("Line ")) << person->messages[0].toStdString();
  }
  ExpectWindowAnswers();
}

}  // namespace
