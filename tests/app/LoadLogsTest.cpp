#include <QFileInfo>
#include <QHeaderView>
#include <QListWidget>
#include <QMimeData>
#include <QScreen>
#include <QUrl>
#include <algorithm>

#include "support/MainWindowFixture.h"

namespace quorvane {
namespace {

using quorvane::testing::Rows;

// Every load here starts from two small tables, their users and a report on screen.
class LoadLogsCommand : public MainWindowFixture {
 protected:
  void SetUp() override {
    LoadLogs(Rows({{"a1", "ann"}, {"a2", "bob"}}), Rows({{"a3", "cy"}}));
    Click("cmdAnalyzeLog");
    fake->questions.clear();
  }
  void ExpectFirstPairStillShown() {
    EXPECT_EQ(Names(window->DownloadLog()).join(' ') + '|' + Names(window->UploadLog()).join(' ') +
                  '|' + Users().join(' ') + '|' + Text("lblTotalRatio"),
              "ann bob|cy|ann bob cy|2.00/1");
  }
};

TEST_F(LoadLogsCommand, GoodFilesReplaceBothTablesAndTheUserList) {
  // The logs, then the first name of each address in display order.
  const std::vector<std::tuple<const char*, LogRows, LogRows, QString>> cases = {
      {"both logs hold rows", Rows({{"1", "zed"}, {"1", "hid"}, {"2", "Ann"}, {"", "nowhere"}}),
       Rows({{"9", "ann"}, {"8", "bob"}}), "Ann ann bob zed"},
      {"an empty download log", {}, Rows({{"d", "w"}}), "w"}};
  for (const auto& [label, downloads, uploads, users] : cases) {
    SCOPED_TRACE(label);
    fake->questions.clear();
    fake->busyChanges.clear();
    const BarWatch downloadBar(Control<QProgressBar>("prgDownloadLog"));
    const BarWatch uploadBar(Control<QProgressBar>("prgUploadLog"));
    LoadLogs(downloads, uploads);
    EXPECT_EQ(fake->questions.join('|'),
              "Choose a Download Log file...+history|Choose an Upload Log file...");
    const QString lastFolder = QString::fromStdString(folder.Path().string());
    EXPECT_EQ(fake->folders.mid(fake->folders.size() - 2), QStringList({lastFolder, lastFolder}))
        << "the first question opens in the folder of the last pair, as remembered; the second "
           "in the download log's";
    EXPECT_EQ(fake->presets.mid(fake->presets.size() - 2), QStringList({"", "Upload Log.txt"}));
    EXPECT_TRUE(fake->messages.empty());
    EXPECT_EQ(fake->busyChanges, std::vector<bool>({true, false}));
    EXPECT_EQ(window->DownloadLog().rowCount() * 100 + window->UploadLog().rowCount(),
              static_cast<int>(downloads.size() * 100 + uploads.size()));
    EXPECT_EQ(Users().join(' '), users);
    EXPECT_EQ(Control<QComboBox>("cboUsers")->currentIndex(), -1) << "nobody chosen";
    // Each log's bar moves with the bytes read, then runs while the user list's pass over its
    // table runs; an empty table has no such pass.
    downloadBar.ExpectRanTo(static_cast<int>(downloads.size()), true);
    uploadBar.ExpectRanTo(static_cast<int>(uploads.size()), true);
    EXPECT_EQ(Text("lblTotalRatio"), "") << "the report on the old rows goes with them";
    EXPECT_EQ(Text("lblDownloadSources") + '|' + Text("lblUploadSources"),
              "From Download Log.txt|From Upload Log.txt");
  }
}

// One file chosen as both logs is loaded into both only when the person says so (No by default);
// the upload question presets nothing when its folder holds no "Upload Log.txt".
TEST_F(LoadLogsCommand, TheSameFileAsBothLogsIsAskedAbout) {
  std::filesystem::create_directories(folder.Path() / "one");
  const QString both = WriteLog("one/both.txt", Rows({{"a9", "solo"}}));
  for (const bool yes : {false, true}) {
    SCOPED_TRACE(yes ? "Yes" : "No");
    fake->yesNoQuestions.clear();
    fake->presets.clear();
    fake->answerYes = yes;
    LoadFiles(both, QFileInfo(both).absolutePath() + "/./both.txt");
    EXPECT_EQ(fake->presets, QStringList({"", ""}));
    EXPECT_EQ(fake->yesNoQuestions,
              QStringList{"Load Logs|" + both +
                          " is both the download log and the upload log. Load it into both?|No"});
    if (yes)
      EXPECT_EQ(Names(window->DownloadLog()).join(' ') + '|' + Names(window->UploadLog()).join(' '),
                "solo|solo");
    else
      ExpectFirstPairStillShown();
  }
}

// A Cancel ends the questions and a file that cannot be read ends the load; either way nothing
// changes, and a failed load says which log failed, where and why.
TEST_F(LoadLogsCommand, CancelOrABadFileChangesNothing) {
  const QString bad =
      WriteLog("Download Log.txt", {{"d", "a", "g", "n", "f"}, {"only", "three", "fields"}});
  const QString good = WriteLog("Upload Log.txt", Rows({{"x", "new"}}));
  const QString missing = QString::fromStdString((folder.Path() / "gone.txt").string());
  const QString binary = QString::fromStdString(
      folder.Write("picture.png", std::string("\x89PNG\r\n\x1a\n\0\0\0\rIHDR", 16)).string());
  const QString empty = QString::fromStdString(folder.Write("Empty Log.txt", "").string());
  // The files chosen before a Cancel or to the end, then what the message says (none: no message).
  const std::vector<std::tuple<const char*, QStringList, QStringList>> cases = {
      {"Cancel in the first question", {}, {}},
      {"Cancel in the second question", {good}, {}},
      {"a row of three fields", {bad, good}, {"download log", bad, "Line 3: "}},
      {"a missing upload log", {good, missing}, {"upload log", missing}},
      // A file that is no log is refused before the second question.
      {"a binary download log", {binary}, {"download log", binary, "Line 1: "}},
      {"an empty download log", {empty}, {"download log", empty, "Line 1: "}}};
  for (const auto& [label, answers, said] : cases) {
    SCOPED_TRACE(label);
    fake->questions.clear();
    fake->messages.clear();
    fake->busyChanges.clear();
    fake->answers = {answers.begin(), answers.end()};
    Click("cmdLoadLogs");
    EXPECT_EQ(fake->questions.size(),
              said.isEmpty() ? std::min<qsizetype>(answers.size() + 1, 2) : answers.size());
    ExpectFirstPairStillShown();
    EXPECT_EQ(fake->messages.size(), said.isEmpty() ? 0 : 1);
    for (const QString& message : fake->messages) {
      EXPECT_TRUE(message.startsWith("Load Logs|"));
      for (const QString& part : said)
        EXPECT_TRUE(message.contains(part)) << message.toStdString();
    }
    const std::vector<bool> busy =
        said.isEmpty() || answers.size() < 2 ? std::vector<bool>() : std::vector{true, false};
    EXPECT_EQ(fake->busyChanges, busy) << "the busy pointer only while a load runs";
  }
}

// F5 reads the pair again from disk: the new rows in, the report on the old ones out. A reload that
// fails changes nothing.
TEST_F(LoadLogsCommand, F5ReloadsThePairFromDisk) {
  window->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
  ChooseUser("cy");
  ASSERT_EQ(Control<QListWidget>("lstUploads")->count(), 1);
  WriteLog("Download Log.txt", Rows({{"a1", "ann"}, {"a2", "bob"}, {"a4", "dee"}}));
  QTest::keyClick(window.get(), Qt::Key_F5);
  EXPECT_EQ(Users().join(' '), "ann bob cy dee");
  EXPECT_EQ(Text("lblTotalRatio") + Text("lblUserUploads"), "");
  EXPECT_EQ(Control<QListWidget>("lstUploads")->count(), 0);
  Click("cmdAnalyzeLog");
  WriteLog("Upload Log.txt", {{"only", "three", "fields"}});
  QTest::keyClick(window.get(), Qt::Key_F5);
  EXPECT_EQ(fake->messages.size(), 1);
  EXPECT_EQ(Users().join(' '), "ann bob cy dee");
  EXPECT_EQ(Text("lblTotalRatio"), "3.00/1");
  EXPECT_TRUE(fake->questions.isEmpty());
}

// Server logs fill both tables with no second question; under each list, the files its rows came
// from and what was left out, and the Sources window tells each file's figures.
TEST_F(LoadLogsCommand, ServerLogsFillBothTablesAndTellTheirSources) {
  const std::string records =
      "time=2025-03-14T21:07:45-07:00 level=INFO msg=\"Download file\" remoteAddr=203.0.113.5:5 "
      "login=guest Name=Alice filePath=/a.sit\n"
      "time=2025-03-14T21:09:02-07:00 level=INFO msg=\"File upload complete\" "
      "remoteAddr=[2001:db8::5]:6 login=bob Name=Bob dstFile=/b.sit\n";
  const auto write = [&](const char* name, const std::string& text) {
    return QString::fromStdString(folder.Write(name, text).string());
  };
  const QString older = write("mobius-2025-03-14T04-07-45.000.log", records);
  const QString newer =
      write("mobius.log", records +
                              "time=2025-03-15T10:00:00Z level=INFO msg=\"Download "
                              "file\" remoteAddr=198.51.100.7:1 Name=Cy filePath=/c\n");
  fake->answers = {newer + '\n' + older};
  Click("cmdLoadLogs");
  EXPECT_EQ(fake->questions.join('|'), "Choose a Download Log file...+history");
  EXPECT_EQ(Names(window->DownloadLog()).join(' ') + '|' + Names(window->UploadLog()).join(' '),
            "Alice Cy|Bob");
  for (const char* line : {"lblDownloadSources", "lblUploadSources"}) {
    EXPECT_EQ(Text(line),
              "From 2 files, 2 rows already read left out: mobius.log, "
              "mobius-2025-03-14T04-07-45.000.log");
  }
  Click("cmdSources");
  auto* table = window->findChild<QTableView*>("lvwSources");
  ASSERT_NE(table, nullptr);
  QStringList rows;
  for (int row = 0; row < table->model()->rowCount(); ++row) {
    QStringList cells;
    for (int column = 1; column < table->model()->columnCount(); ++column)
      cells << table->model()->index(row, column).data().toString();
    rows << cells.join(',');
  }
  EXPECT_EQ(rows.join('|'), "Mobius server log,1,1,1,0|Mobius server log,1,0,1,0");
}

// The line under a list fits its width: its words whole, each file name shortened in its middle
// (its start and end kept), and with no room for names, none.
TEST_F(LoadLogsCommand, TheSourcesLineFitsItsWidthShorteningFileNamesInTheirMiddle) {
  QStringList files, names;
  for (const char* tag : {"first", "second", "third"}) {
    names << QString("mobius-2025-03-14T04-07-45.000-kept-by-the-operator-%1.log").arg(tag);
    files << QString::fromStdString(
        folder
            .Write(names.back().toStdString(),
                   "time=2025-03-14T21:07:45Z level=INFO msg=\"Download file\" "
                   "remoteAddr=10.0.0.1:5 Name=Cy filePath=/c\n")
            .string());
  }
  fake->answers = {files.join('\n')};
  Click("cmdLoadLogs");
  const QString whole = "From 3 files, 2 rows already read left out", lead = whole + ": ";
  ASSERT_EQ(Text("lblDownloadSources").toStdString(), (lead + names.join(", ")).toStdString());
  const auto* line = Control<QLabel>("lblDownloadSources");
  bool shortened = false;
  for (const int width : {1600, 900, 700, 400}) {
    window->resize(width, window->height());
    const QString shown = window->SourcesLineShown(false);
    SCOPED_TRACE(shown.toStdString());
    EXPECT_LE(line->fontMetrics().horizontalAdvance(shown), line->contentsRect().width());
    if (shown == whole)
      continue;  // no room for names
    ASSERT_TRUE(shown.startsWith(lead));
    const QStringList parts = shown.mid(lead.size()).split(", ");
    ASSERT_EQ(parts.size(), 3);
    for (int i = 0; i < 3; ++i) {
      const QStringList ends = parts[i].split(QChar(0x2026));
      shortened = shortened || ends.size() == 2;
      EXPECT_TRUE(ends.size() == 1
                      ? parts[i] == names[i]
                      : ends.size() == 2 && names[i].startsWith(ends[0]) &&
                            names[i].endsWith(ends[1]) && !ends[0].isEmpty() && !ends[1].isEmpty());
    }
  }
  EXPECT_TRUE(shortened) << "the narrower widths shorten names";
}

// Sources opens wide enough for every column, within the screen.
TEST_F(LoadLogsCommand, SourcesOpensWideEnoughForEveryColumn) {
  LoadFiles(WriteLog("Download Log week.txt", Rows({{"1", "ann"}})),
            WriteLog("Upload Log week.txt", Rows({{"2", "bob"}})));
  Click("cmdSources");
  auto* sources = window->findChild<QTableView*>("lvwSources");
  ASSERT_NE(sources, nullptr);
  ASSERT_TRUE(QTest::qWaitForWindowExposed(sources->window()));
  const QHeaderView* header = sources->horizontalHeader();
  EXPECT_LE(header->length(), sources->viewport()->width());
  EXPECT_LE(sources->window()->frameGeometry().width(),
            sources->screen()->availableGeometry().width());
  for (int column = 0; column < header->count(); ++column) {
    EXPECT_GE(header->sectionSize(column),
              static_cast<QAbstractItemView*>(sources)->sizeHintForColumn(column))
        << column;
  }
}

// The live log right after a rotation is empty: picked, dropped or named on the command line
// beside its backup, it is a server log too, and no upload log is asked for.
TEST_F(LoadLogsCommand, AnEmptyFileBesideServerLogsIsOneOfThem) {
  const QString empty = QString::fromStdString(folder.Write("mobius.log", "").string());
  for (const char* way : {"picked", "dropped", "named"}) {
    SCOPED_TRACE(way);
    const QString backup = QString::fromStdString(
        folder
            .Write(
                "mobius-2025-03-14T04-07-45.000.log",
                "time=2025-03-14T21:07:45Z level=INFO msg=\"Download file\" remoteAddr=10.0.0.1:5 "
                "login=guest Name=" +
                    std::string(way) + " filePath=/a.sit\n")
            .string());
    fake->questions.clear();
    if (way[0] == 'p') {
      fake->answers = {empty + '\n' + backup};
      Click("cmdLoadLogs");
    } else if (way[0] == 'd')
      window->OpenLogs({empty, backup});
    else
      window->LoadLog(empty, backup);
    EXPECT_EQ(fake->questions.join('|'),
              way[0] == 'p' ? "Choose a Download Log file...+history" : "");
    EXPECT_TRUE(fake->messages.isEmpty()) << fake->messages.join('|').toStdString();
    EXPECT_EQ(Names(window->DownloadLog()).join('|') + '|' + Names(window->UploadLog()).join('|'),
              QString(way) + '|');
  }
}

using OpenLogs = MainWindowFixture;

// Two files dropped are a pair: the one named "upload" is the upload log, or else the first is the
// download log. One file dropped asks for the other in its folder. More than two are refused.
// Before any of it, with nothing loaded, F5 does what Load Logs does.
TEST_F(OpenLogs, DroppedFilesLoadAsAPairOrAskForTheOther) {
  window->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
  QTest::keyClick(window.get(), Qt::Key_F5);
  EXPECT_EQ(fake->questions, QStringList{"Choose a Download Log file...+history"});
  // The files dropped, each holding one row of a user named as the file; the answer to the
  // question; then the download and upload logs' users and the question asked.
  const std::vector<std::tuple<QStringList, QString, QString, QString>> cases = {
      {{"a.txt", "b.txt", "x.txt"},
       "y.txt",
       "a.txt|b.txt|x.txt|y.txt",
       "Choose an Upload Log file..."},
      {{"Upload Log.txt", "Download Log.txt"}, "", "Download Log.txt|Upload Log.txt", ""},
      {{"a.txt", "b.txt"}, "", "a.txt|b.txt", ""},
      {{"UPLOADS.log", "upload-old.txt"}, "", "UPLOADS.log|upload-old.txt", ""},
      {{"sub/x.txt"}, "y.txt", "sub/x.txt|y.txt", "Choose an Upload Log file..."},
      {{"My Upload.txt"}, "z.txt", "z.txt|My Upload.txt", "Choose a Download Log file..."}};
  for (const auto& [dropped, answer, loaded, question] : cases) {
    SCOPED_TRACE(dropped.join(", ").toStdString());
    fake->questions.clear();
    fake->folders.clear();
    std::filesystem::create_directories(folder.Path() / "sub");
    QList<QUrl> urls;
    for (const QString& name : dropped)
      urls << QUrl::fromLocalFile(WriteLog(name.toStdString(), Rows({{"1", name.toStdString()}})));
    if (!answer.isEmpty())
      fake->answers = {WriteLog(answer.toStdString(), Rows({{"1", answer.toStdString()}}))};
    QMimeData data;
    data.setUrls(urls);
    QDragEnterEvent enter({5, 5}, Qt::CopyAction, &data, Qt::LeftButton, {});
    QApplication::sendEvent(window.get(), &enter);
    EXPECT_EQ(enter.isAccepted(), !loaded.isEmpty());
    QDropEvent drop(QPointF(5, 5), Qt::CopyAction, &data, Qt::LeftButton, {});
    QApplication::sendEvent(window.get(), &drop);
    QTest::qWait(0);
    EXPECT_EQ(Names(window->DownloadLog()).join('|') + '|' + Names(window->UploadLog()).join('|'),
              loaded.isEmpty() ? "|" : loaded);
    EXPECT_EQ(fake->questions.join('|'), question);
    // One file dropped: asked for in the dropped file's folder, not in the last pair's.
    EXPECT_EQ(fake->folders.join('|'),
              question.isEmpty() ? "" : QFileInfo(urls[0].toLocalFile()).absolutePath());
  }
}

}  // namespace
}  // namespace quorvane
