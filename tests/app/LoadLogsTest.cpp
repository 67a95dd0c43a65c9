#include <QComboBox>
#include <QLabel>
#include <QProgressBar>
#include <QTableView>

#include "app/LogTableModel.h"
#include "support/BarWatch.h"
#include "support/MainWindowFixture.h"

namespace {

using quorvane::testing::Rows;

class LoadLogsCommand : public MainWindowFixture {
 protected:
  QStringList Users() {
    QStringList names;
    auto* users = Control<QComboBox>("cboUsers");
    for (int i = 0; i < users->count(); ++i)
      names.push_back(users->itemText(i));
    return names;
  }
  int DownloadRows() { return window->DownloadLog().rowCount(); }
  int UploadRows() { return window->UploadLog().rowCount(); }

  // The state a failed or cancelled load must leave alone: two small tables, their users, and a
  // report on screen.
  void LoadFirstPairAndAnalyze() {
    LoadLogs(Rows({{"a1", "ann"}, {"a2", "bob"}}), Rows({{"a3", "cy"}}));
    Click("cmdAnalyzeLog");
    ASSERT_EQ(Text("lblTotalDownloads"), "2");
    fake->questions.clear();
  }
  void ExpectFirstPairStillShown() {
    EXPECT_EQ(DownloadRows(), 2);
    EXPECT_EQ(UploadRows(), 1);
    EXPECT_EQ(Users(), QStringList({"ann", "bob", "cy"}));
    EXPECT_EQ(Text("lblTotalDownloads"), "2");
    EXPECT_EQ(Text("lblTotalRatio"), "2.00/1");
  }
};

TEST_F(LoadLogsCommand, AsksForTheDownloadLogThenTheUploadLog) {
  LoadLogs(Rows({{"10.0.0.1", "ann"}}), Rows({{"10.0.0.2", "bob"}}));
  EXPECT_EQ(fake->questions,
            QStringList({"Choose a Download Log file...", "Choose an Upload Log file..."}));
  EXPECT_TRUE(fake->messages.empty());
}

TEST_F(LoadLogsCommand, FillsBothListsAndTheUserListWithNothingChosen) {
  LoadLogs(Rows({{"10.0.0.1", "zed"},
                 {"10.0.0.1", "hidden"},
                 {"10.0.0.2", "Ödön"},
                 {"", "noaddress"},
                 {"10.0.0.3", "ann"}}),
           Rows({{"10.0.0.9", "ann"}, {"10.0.0.8", "Bob"}, {"10.0.0.7", "bob"}}));
  EXPECT_EQ(DownloadRows(), 5);
  EXPECT_EQ(UploadRows(), 3);
  auto* list = Control<QTableView>("lvwDownloadLog");
  EXPECT_EQ(list->model()->index(2, 3).data().toString(), "Ödön");
  EXPECT_EQ(list->model()->index(0, 1).data().toString(), "10.0.0.1");
  // One entry per name, in display order, from the first row of each address only.
  EXPECT_EQ(Users(), QStringList({"ann", "Bob", "bob", "zed", "Ödön"}));
  EXPECT_EQ(Control<QComboBox>("cboUsers")->currentIndex(), -1);
  EXPECT_TRUE(Control<QComboBox>("cboUsers")->currentText().isEmpty());
  EXPECT_FALSE(Control<QProgressBar>("prgDownloadLog")->isVisible());
  EXPECT_FALSE(Control<QProgressBar>("prgUploadLog")->isVisible());
}

TEST_F(LoadLogsCommand, ShowsTheBusyPointerWhileLoading) {
  LoadLogs(Rows({{"a", "ann"}}), Rows({{"b", "bob"}}));
  EXPECT_EQ(fake->busyChanges, std::vector<bool>({true, false}));
}

TEST_F(LoadLogsCommand, EachTableBarRunsToItsRowCountAndIsHiddenAgain) {
  auto* downloadBar = Control<QProgressBar>("prgDownloadLog");
  auto* uploadBar = Control<QProgressBar>("prgUploadLog");
  BarWatch downloadValues(downloadBar);
  BarWatch uploadValues(uploadBar);
  LoadLogs(Rows({{"a", "x"}, {"b", "y"}, {"c", "z"}}), Rows({{"d", "w"}, {"e", "v"}}));
  EXPECT_EQ(downloadValues.Peak(), 3);
  EXPECT_EQ(downloadBar->maximum(), 3);
  EXPECT_TRUE(downloadValues.ShownWhileMoving());
  EXPECT_EQ(uploadValues.Peak(), 2);
  EXPECT_EQ(uploadBar->maximum(), 2);
  EXPECT_TRUE(uploadValues.ShownWhileMoving());
  EXPECT_EQ(downloadBar->value(), 0);
  EXPECT_EQ(uploadBar->value(), 0);
  EXPECT_FALSE(downloadBar->isVisible());
  EXPECT_FALSE(uploadBar->isVisible());
}

TEST_F(LoadLogsCommand, AnEmptyTableLeavesItsBarAlone) {
  auto* downloadBar = Control<QProgressBar>("prgDownloadLog");
  BarWatch downloadValues(downloadBar);
  LoadLogs({}, Rows({{"d", "w"}}));
  EXPECT_EQ(downloadValues.Count(), 0u);
  EXPECT_EQ(downloadBar->maximum(), 100);
  EXPECT_EQ(Users(), QStringList{"w"});
}

TEST_F(LoadLogsCommand, CancelInEitherQuestionChangesNothing) {
  LoadFirstPairAndAnalyze();
  Click("cmdLoadLogs");  // no answer: Cancel in the first question
  EXPECT_EQ(fake->questions.size(), 1);
  ExpectFirstPairStillShown();

  fake->questions.clear();
  fake->answers.push_back(WriteLog("Download Log.txt", Rows({{"x", "new"}})));
  Click("cmdLoadLogs");  // Cancel in the second
  EXPECT_EQ(fake->questions.size(), 2);
  ExpectFirstPairStillShown();
  EXPECT_TRUE(fake->messages.empty());
}

TEST_F(LoadLogsCommand, ABadDownloadLogChangesNothingAndSaysWhereAndWhy) {
  LoadFirstPairAndAnalyze();
  const QString bad =
      WriteLog("Download Log.txt", {{"d", "a", "g", "n", "f"}, {"only", "three", "fields"}});
  fake->answers.push_back(bad);
  fake->answers.push_back(WriteLog("Upload Log.txt", Rows({{"x", "new"}})));
  Click("cmdLoadLogs");
  ExpectFirstPairStillShown();
  ASSERT_EQ(fake->messages.size(), 1u);
  EXPECT_EQ(fake->messages[0].title, "Load Logs");
  const QString text = fake->messages[0].text;
  EXPECT_TRUE(text.contains("download log")) << text.toStdString();
  EXPECT_TRUE(text.contains(bad)) << text.toStdString();
  EXPECT_TRUE(text.contains("Line 3: ")) << text.toStdString();
  EXPECT_EQ(fake->busyChanges.back(), false);
}

TEST_F(LoadLogsCommand, AMissingUploadLogChangesNothingAndNamesIt) {
  LoadFirstPairAndAnalyze();
  fake->answers.push_back(WriteLog("Download Log.txt", Rows({{"x", "new"}})));
  const QString missing = QString::fromStdString((folder.Path() / "gone.txt").string());
  fake->answers.push_back(missing);
  Click("cmdLoadLogs");
  ExpectFirstPairStillShown();
  ASSERT_EQ(fake->messages.size(), 1u);
  const QString text = fake->messages[0].text;
  EXPECT_TRUE(text.contains("upload log")) << text.toStdString();
  EXPECT_TRUE(text.contains(missing)) << text.toStdString();
  EXPECT_FALSE(text.contains("Line ")) << text.toStdString();
}

TEST_F(LoadLogsCommand, ANewLoadReplacesTheTablesAndLeavesTheOldReportOnScreen) {
  LoadFirstPairAndAnalyze();
  LoadLogs(Rows({{"q", "quinn"}}), Rows({{"r", "rae"}, {"s", "sam"}, {"t", "tia"}}));
  EXPECT_EQ(DownloadRows(), 1);
  EXPECT_EQ(UploadRows(), 3);
  EXPECT_EQ(Users(), QStringList({"quinn", "rae", "sam", "tia"}));
  EXPECT_EQ(Text("lblTotalDownloads"), "2");
  EXPECT_EQ(Text("lblTotalRatio"), "2.00/1");
}

TEST_F(LoadLogsCommand, TheSameFileMayServeBothTables) {
  const QString path = WriteLog("Download Log.txt", Rows({{"a", "ann"}, {"b", "bob"}}));
  fake->answers = {path, path};
  Click("cmdLoadLogs");
  EXPECT_EQ(DownloadRows(), 2);
  EXPECT_EQ(UploadRows(), 2);
}

TEST_F(LoadLogsCommand, TheSampleLogsLoad) {
  fake->answers = {QStringLiteral(QUORVANE_EXAMPLES_DIR "/Download Log.txt"),
                   QStringLiteral(QUORVANE_EXAMPLES_DIR "/Upload Log.txt")};
  Click("cmdLoadLogs");
  EXPECT_TRUE(fake->messages.empty());
  EXPECT_GT(DownloadRows(), 0);
  EXPECT_GT(UploadRows(), 0);
  EXPECT_GT(Control<QComboBox>("cboUsers")->count(), 0);
}

}  // namespace
