#ifdef QUORVANE_HISTORY
#include <QCheckBox>
#include <QDialog>
#include <QDir>
#include <QFile>
#include <QMimeData>
#include <QUrl>
#include <chrono>
#include <sstream>

#include "ReportCommand.h"
#include "app/DateText.h"
#include "app/LogDocument.h"
#include "app/frmUsersOverview.h"
#include "history/History.h"
#include "support/MainWindowFixture.h"

namespace quorvane {
namespace {

// A history made by the core from copies of the sample logs (40 download and 16 upload rows), as
// another process would make it, beside the window that opens it.
class HistoryInWindow : public MainWindowFixture {
 protected:
  QString Path(const char* name) { return QString::fromStdString((folder.Path() / name).string()); }
  QString Sample(const char* name) {
    std::filesystem::copy_file(std::filesystem::path(QUORVANE_EXAMPLES_DIR) / name,
                               folder.Path() / name);
    return Path(name);
  }
  static History::Result Update(const QString& path, const std::vector<LogSource>& sources) {
    std::string error;
    const auto history =
        History::Open(ToPath(path), History::Access::Write, std::chrono::seconds(5), error);
    EXPECT_NE(history, nullptr) << error;
    return history ? history->Update(sources, {}) : History::Result{};
  }
  static LogSource Log(const QString& path, SourceRole role = SourceRole::Download) {
    return {{ToPath(path), false}, role};
  }
  QString MakeHistory(const char* name) {
    Update(Path(name), {Log(downloads), Log(uploads, SourceRole::Upload)});
    return Path(name);
  }
  // The figures Analyze shows and the user list.
  std::string Shown() {
    Click("cmdAnalyzeLog");
    QStringList shown;
    for (const char* name : {"lblTotalDownloads", "lblTotalUploads", "lblTotalRatio",
                             "lblAvgDownloads", "lblAvgUploads", "lblAvgRatio"})
      shown << Text(name);
    return (shown.join(' ') + '|' + Users().join(' ')).toStdString();
  }
  static QByteArray Bytes(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("(none)");
  }
  template <typename Widget>
  static Widget* In(const QObject* window, const char* name) {
    auto* widget = window->findChild<Widget*>(name);
    EXPECT_NE(widget, nullptr) << name;
    return widget;
  }

  QString downloads = Sample("Download Log.txt");
  QString uploads = Sample("Upload Log.txt");
};

// Picked, dropped under any name or named on the command line, a history whose logs are gone
// shows what loading them showed; the lines under the lists, Sources and the HTML page say what
// it is, and an export never writes over it.
TEST_F(HistoryInWindow, OpensLikeItsLogsOnceTheyAreGone) {
  LoadFiles(downloads, uploads);
  const std::string logs = Shown();
  const QString history = MakeHistory("kept.db");
  std::filesystem::remove(ToPath(downloads));
  std::filesystem::remove(ToPath(uploads));
  std::filesystem::copy_file(ToPath(history), folder.Path() / "anything.log");
  for (const char* way : {"picked", "dropped", "named"}) {
    SCOPED_TRACE(way);
    LoadLogs(testing::Rows({{"a", "ann"}}), testing::Rows({{"b", "bob"}}));
    fake->questions.clear();
    if (way[0] == 'p') {
      fake->answers = {history};
      Click("cmdLoadLogs");
    } else if (way[0] == 'd') {
      QMimeData data;
      data.setUrls({QUrl::fromLocalFile(Path("anything.log"))});
      QDragEnterEvent enter({5, 5}, Qt::CopyAction, &data, Qt::LeftButton, {});
      QApplication::sendEvent(window.get(), &enter);
      QDropEvent drop(QPointF(5, 5), Qt::CopyAction, &data, Qt::LeftButton, {});
      QApplication::sendEvent(window.get(), &drop);
      QTest::qWait(0);
    } else {
      window->OpenLogs({history});
    }
    EXPECT_EQ(fake->questions.join('|'),
              way[0] == 'p' ? "Choose a Download Log file...+history" : "");
    EXPECT_EQ(fake->messages.join('|'), "");
    EXPECT_EQ(Shown(), logs);
  }
  const QString since = "History file kept.db, since " + ShortDate(DayNumber(QDate::currentDate()));
  EXPECT_TRUE(Text("lblDownloadSources").startsWith(since))
      << Text("lblDownloadSources").toStdString();
  EXPECT_TRUE(Text("lblDownloadSources").endsWith(", from Download Log.txt"));
  EXPECT_TRUE(Text("lblUploadSources").endsWith(", from Upload Log.txt"));
  Click("cmdSources");
  const auto* sources = window->findChild<QDialog*>("frmSources");
  ASSERT_NE(sources, nullptr);
  EXPECT_TRUE(In<QLabel>(sources, "lblHistory")
                  ->text()
                  .startsWith("History file " + QDir::toNativeSeparators(history) +
                              ", keeping transfers since "));
  const QAbstractItemModel* files = In<QTableView>(sources, "lvwSources")->model();
  QStringList rows;
  for (int row = 0; row < files->rowCount(); ++row)
    rows << files->index(row, 2).data().toString() + '+' + files->index(row, 3).data().toString();
  EXPECT_EQ(rows.join(' '), "40+0 0+16");
  EXPECT_FALSE(In<QPushButton>(sources, "cmdAddToHistory")->isEnabled()) << "nothing to add";

  Click("cmdUsersOverview");
  const auto* overview = window->findChild<frmUsersOverview*>();
  ASSERT_NE(overview, nullptr);
  std::ostringstream page, err;
  ASSERT_EQ(RunReportCommand({"--format", "html", "--history", history.toStdString()}, page, err),
            0);
  const QByteArray held = Bytes(history);
  for (const QString& path : {Path("page.html"), history}) {
    fake->saveAnswer = path;
    QTest::mouseClick(In<QPushButton>(overview, "cmdExportHtml"), Qt::LeftButton);
  }
  EXPECT_EQ(Bytes(Path("page.html")).toStdString(), page.str());
  EXPECT_EQ(Bytes(history), held);
  ASSERT_EQ(fake->messages.size(), 1);
  EXPECT_TRUE(fake->messages[0].startsWith("Export HTML|" + history + " is one of the loaded"));
}

// Another program's database, a history cut short, or a history among logs: a message, and what
// was loaded stays.
TEST_F(HistoryInWindow, RefusedFilesLeaveWhatWasLoaded) {
  LoadFiles(downloads, uploads);
  const std::string loaded = Shown();
  const QByteArray bytes = Bytes(MakeHistory("kept.db"));
  QByteArray other = bytes;
  other.replace(68, 4, QByteArray(4, '\0'));  // the application id
  folder.Write("other.db", other.toStdString());
  folder.Write("cut.db", bytes.left(bytes.size() / 2).toStdString());
  const std::vector<std::pair<QStringList, QString>> cases = {
      {{Path("other.db")},
       "The history file could not be loaded, so nothing was changed.\n\n" + Path("other.db") +
           ": is another program's SQLite database, not a history file"},
      {{Path("cut.db")},
       "The history file could not be loaded, so nothing was changed.\n\n" + Path("cut.db") + ": "},
      {{downloads, Path("kept.db")}, Path("kept.db") + " is a history file: it opens alone"}};
  for (const auto& [files, message] : cases) {
    SCOPED_TRACE(files.join(' ').toStdString());
    fake->messages.clear();
    window->OpenLogs(files);
    ASSERT_EQ(fake->messages.size(), 1);
    EXPECT_TRUE(fake->messages[0].startsWith("Load Logs|" + message))
        << fake->messages[0].toStdString();
    EXPECT_EQ(Shown(), loaded);
    EXPECT_EQ(Text("lblUploadSources"), "From Upload Log.txt");
  }
}

// Add to History writes the loaded logs into a new file, then adds nothing twice; a loaded log is
// never made one.
TEST_F(HistoryInWindow, AddToHistoryWritesTheLoadedLogs) {
  LoadFiles(downloads, uploads);
  Click("cmdSources");
  auto* add = In<QPushButton>(window.get(), "cmdAddToHistory");
  EXPECT_EQ(add->text(), "Add to &History...");
  const QString path = Path("new.db");
  for (const QString& answer : {path, path, uploads}) {
    fake->saveAnswer = answer;
    QTest::mouseClick(add, Qt::LeftButton);
  }
  EXPECT_EQ(fake->questions.last(),
            "Add to History|Quorvane history.db|History files (*.db *.sqlite *.sqlite3 "
            "*.quorvane)|adds");
  const QString native = QDir::toNativeSeparators(path);
  EXPECT_EQ(fake->notices.join('|'), "Add to History|40 downloads and 16 uploads were added to " +
                                         native +
                                         ".|Add to History|0 downloads and 0 uploads "
                                         "were added to " +
                                         native + ".");
  ASSERT_EQ(fake->messages.size(), 1);
  EXPECT_TRUE(fake->messages[0].startsWith("Add to History|" + uploads + " is one of the loaded"));
  EXPECT_FALSE(LooksLikeHistory(ToPath(uploads)));
  const History::Result held = Update(path, {});
  ASSERT_TRUE(held.logs);
  EXPECT_EQ(held.logs->downloads.RowCount(), window->DownloadLog().Table().RowCount());
  EXPECT_EQ(held.logs->uploads.RowCount(), window->UploadLog().Table().RowCount());
}

// Following an open history shows what another process adds to it within a second: rows behind
// those shown arrive and the person's changes hold; a file that sorts first loads it again.
TEST_F(HistoryInWindow, FollowShowsWhatAnotherProcessAdds) {
  window->OpenLogs({MakeHistory("kept.db")});
  ASSERT_EQ(window->DownloadLog().rowCount(), 40);
  window->Document().RemoveRow(LogKind::Download, 0);
  Control<QCheckBox>("chkFollow")->setChecked(true);
  EXPECT_TRUE(Text("lblFollow").startsWith("Following history file kept.db; newest transfer"));
  const auto rowsBecome = [&](int count) {
    return QTest::qWaitFor([&] { return window->DownloadLog().rowCount() == count; }, 5000);
  };
  const QString later = WriteLog("later.txt", {{"30/12/2026 10:00:00", "a", "g", "zed", "z"},
                                               {"31/12/2026 10:00:00", "a", "g", "zed", "z"}});
  Update(Path("kept.db"), {Log(later)});
  ASSERT_TRUE(rowsBecome(41)) << window->DownloadLog().rowCount();
  EXPECT_TRUE(QTest::qWaitFor([&] { return Users().contains("zed"); }));
  EXPECT_TRUE(Text("lblDownloadSources").endsWith("from 2 files: Download Log.txt, later.txt"))
      << Text("lblDownloadSources").toStdString();
  const QString earlier = WriteLog("earlier.txt", {{"01/01/2025 10:00:00", "b", "g", "amy", "y"}});
  Update(Path("kept.db"), {Log(earlier)});
  ASSERT_TRUE(rowsBecome(43)) << "loaded again whole: " << window->DownloadLog().rowCount();
  EXPECT_EQ(Names(window->DownloadLog()).first(), "amy");
}

}  // namespace
}  // namespace quorvane
#endif
