// The promises of the core kept through the real main window: the logs are only read, whatever a
// person does with them, and a file that is no log ends in a message with the tables as they were.
#include <poll.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <QTimer>

#include "app/frmRenameUsers.h"
#include "support/MainWindowFixture.h"

namespace quorvane {
namespace {

// Watches a file through inotify, which sees every open, read, write, change of times or mode, and
// close by anyone, whatever library did it.
class ReadOnlyWatch {
 public:
  explicit ReadOnlyWatch(const std::filesystem::path& file)
      : file_(file), fd_(inotify_init1(IN_NONBLOCK | IN_CLOEXEC)) {
    EXPECT_GE(inotify_add_watch(fd_, file.c_str(), IN_ALL_EVENTS), 0) << file;
  }
  ~ReadOnlyWatch() { close(fd_); }

  // Since then opened `opens` times, each time without write access and closed again, and not
  // changed.
  void ExpectOnlyRead(int opens) {
    int opened = 0, closedUnwritable = 0, changes = 0;
    alignas(inotify_event) char buffer[4096];
    pollfd wait{fd_, POLLIN, 0};
    poll(&wait, 1, 50);  // the events of a close are queued as it returns
    for (ssize_t got; (got = read(fd_, buffer, sizeof buffer)) > 0;) {
      for (ssize_t at = 0; at < got;) {
        const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
        opened += (event->mask & IN_OPEN) != 0;
        closedUnwritable += (event->mask & IN_CLOSE_NOWRITE) != 0;
        changes += (event->mask &
                    (IN_MODIFY | IN_ATTRIB | IN_CLOSE_WRITE | IN_MOVE_SELF | IN_DELETE_SELF)) != 0;
        at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
      }
    }
    EXPECT_EQ(opened, opens) << file_;
    EXPECT_EQ(closedUnwritable, opens) << file_ << ": opened for writing, or left open";
    EXPECT_EQ(changes, 0) << file_;
  }

 private:
  std::filesystem::path file_;
  int fd_;
};

class WindowHardening : public MainWindowFixture {
 protected:
  // Copies of the sample logs: 40 download and 16 upload rows.
  QString Sample(const char* name) {
    const std::filesystem::path copy = folder.Path() / name;
    std::filesystem::copy_file(std::filesystem::path(QUORVANE_EXAMPLES_DIR) / name, copy);
    return QString::fromStdString(copy.string());
  }
  QString downloads = Sample("Download Log.txt");
  QString uploads = Sample("Upload Log.txt");
};

TEST_F(WindowHardening, LoadingAnalysingRenamingAndRemovingRowsOnlyReadTheLogs) {
  ReadOnlyWatch downloadLog(downloads.toStdString());
  ReadOnlyWatch uploadLog(uploads.toStdString());
  LoadFiles(downloads, uploads);
  ChooseUser("Marla");
  Click("cmdAnalyzeLog");
  EXPECT_EQ(Text("lblUserDownloads"), "13");
  fake->answerYes = true;
  ClickModal("cmdRenameUser", [](QWidget* dialog) {
    ASSERT_NE(qobject_cast<frmRenameUsers*>(dialog), nullptr);
    for (const auto& [list, name] : {std::pair{"cboReplace", "Marla"}, {"cboWith", "Wren"}}) {
      auto* names = dialog->findChild<QComboBox*>(list);
      names->setCurrentIndex(names->findText(name));
    }
    QTest::mouseClick(dialog->findChild<QPushButton*>("cmdRename"), Qt::LeftButton);
    QTest::mouseClick(dialog->findChild<QPushButton*>("Command1"), Qt::LeftButton);
  });
  EXPECT_EQ(fake->notices.size(), 1);
  for (const char* name : {"lvwDownloadLog", "lvwUploadLog"}) {
    auto* list = Control<QTableView>(name);
    list->setFocus();
    list->setCurrentIndex(list->model()->index(0, 0));
    QTest::keyClick(list, Qt::Key_Backspace);
  }
  EXPECT_EQ(window->DownloadLog().rowCount() + window->UploadLog().rowCount(), 40 + 16 - 2);
  EXPECT_FALSE(Users().contains("Marla"));
  Click("cmdAnalyzeLog");
  // Only Load Logs opens them: the first question's file to tell whether it is a history file,
  // then a server log, then whether it is a log at all before the second question, then each to
  // read it.
  downloadLog.ExpectOnlyRead(4);
  uploadLog.ExpectOnlyRead(1);
}

// 2 GiB of zero bytes (sparse: no disk space) are one line too long, refused without reading it
// all.
TEST_F(WindowHardening, AHugeFileOfZerosEndsInAMessageAndChangesNothing) {
  LoadFiles(downloads, uploads);
  const std::filesystem::path zeros = folder.Write("Zero Upload Log.txt", "");
  std::filesystem::resize_file(zeros, std::uintmax_t{2} << 30);
  fake->busyChanges.clear();
  LoadFiles(downloads, QString::fromStdString(zeros.string()));
  ASSERT_EQ(fake->messages.size(), 1);
  EXPECT_TRUE(fake->messages[0].contains("upload log")) << fake->messages[0].toStdString();
  EXPECT_TRUE(fake->messages[0].contains("Line 1: the line is longer than 64 MiB"));
  EXPECT_EQ(window->DownloadLog().rowCount(), 40);
  EXPECT_EQ(window->UploadLog().rowCount(), 16);
  EXPECT_EQ(fake->busyChanges, std::vector<bool>({true, false}));
  bool handled = false;  // the window takes input again
  QTimer::singleShot(0, window.get(), [&] { handled = true; });
  EXPECT_TRUE(QTest::qWaitFor([&] { return handled; }));
}

}  // namespace
}  // namespace quorvane
