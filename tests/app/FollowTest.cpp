#include <QAbstractItemModel>
#include <QCheckBox>
#include <QListWidget>
#include <QSettings>
#include <QSignalSpy>
#include <fstream>
#include <tuple>

#include "analysis/UserFigures.h"
#include "app/LogDocument.h"
#include "app/UserFiguresModel.h"
#include "app/frmUsersOverview.h"
#include "logs/LogReader.h"
#include "logs/UserList.h"
#include "support/MainWindowFixture.h"

namespace quorvane {
namespace {

using quorvane::testing::Rows;

class Follow : public MainWindowFixture {
 protected:
  void Append(const QString& log, const LogRows& rows) {
    std::string text = testing::LogText(rows);
    text.erase(0, text.find('\n') + 1);  // the rows without the header
    std::ofstream(log.toStdString(), std::ios::binary | std::ios::app) << text;
  }
  bool RowsBecome(int downloads, int uploads) {
    return QTest::qWaitFor(
        [&] {
          return window->DownloadLog().rowCount() == downloads &&
                 window->UploadLog().rowCount() == uploads;
        },
        5000);
  }
  void PressSpace(const char* name) {
    auto* box = Control<QCheckBox>(name);
    box->setFocus();
    QTest::keyClick(box, Qt::Key_Space);
  }
};

// Rows the server adds reach the lists, the user list, the figures Analyze showed and the
// overview; a removed row stays removed and a merged name stays merged for rows that arrive.
TEST_F(Follow, ArrivingRowsReachEveryViewAndThePersonsChangesHold) {
  LogRows first = Rows({{"a", "ann"}, {"b", "bob"}});
  first[1][0] = "12/26/2026 09:30:00";  // the newest transfer, and 12/06 reads as December
  const QString downloads = WriteLog("Download Log.txt", first);
  const QString uploads = WriteLog("Upload Log.txt", Rows({{"c", "cy"}}));
  LoadFiles(downloads, uploads);
  window->RenameUser("ann", "annie");
  ChooseUser("annie");
  Click("cmdAnalyzeLog");
  ASSERT_EQ(Text("lblUserDownloads"), "1");
  Click("cmdUsersOverview");
  auto* overview = window->findChild<QWidget*>("frmUsersOverview");
  ASSERT_NE(overview, nullptr);
  auto* list = Control<QTableView>("lvwDownloadLog");
  list->setFocus();
  list->setCurrentIndex(list->model()->index(1, 0));
  QTest::keyClick(list, Qt::Key_Backspace);  // bob's row

  PressSpace("chkFollow");
  EXPECT_TRUE(QSettings().value("Main/Follow").toBool()) << "remembered between runs";
  EXPECT_EQ(Text("lblFollow"), "Following 2 files; newest transfer 12/26/2026 9:30 AM");
  Append(downloads, Rows({{"d", "dan"}, {"a", "ann"}}));
  Append(uploads, Rows({{"a", "ann"}}));
  ASSERT_TRUE(RowsBecome(3, 2));
  EXPECT_EQ(Names(window->DownloadLog()).join(' '), "annie dan annie");
  EXPECT_EQ(Names(window->UploadLog()).join(' '), "cy annie");
  EXPECT_TRUE(QTest::qWaitFor([&] { return Users().join(' ') == "annie cy dan"; }))
      << Users().join(' ').toStdString();
  EXPECT_EQ(Control<QComboBox>("cboUsers")->currentText(), "annie") << "the chosen user stays";
  // The two logs' rows may come in two reads, each told once the window is free again.
  EXPECT_TRUE(QTest::qWaitFor([&] {
    return Text("lblTotalDownloads") == "3" && Text("lblTotalUploads") == "2";
  })) << Text("lblTotalDownloads").toStdString()
      << " " << Text("lblTotalUploads").toStdString();
  EXPECT_EQ(Text("lblUserDownloads"), "2");
  EXPECT_EQ(Text("lblUserUploads"), "1");
  auto* uploadList = Control<QListWidget>("lstUploads");
  ASSERT_EQ(uploadList->count(), 1);
  EXPECT_EQ(uploadList->item(0)->text(), "file1.zip");
  auto* status = overview->findChild<QLabel*>("lblStatus");
  EXPECT_TRUE(QTest::qWaitFor([&] { return status->text() == "Users shown: 3 of 3"; }))
      << status->text().toStdString();

  // Off: nothing is read; on again: reading goes on from where it stopped, nothing twice.
  PressSpace("chkFollow");
  EXPECT_EQ(Text("lblFollow"), "");
  EXPECT_FALSE(QSettings().value("Main/Follow").toBool());
  Append(downloads, Rows({{"e", "eve"}}));
  QTest::qWait(1500);
  EXPECT_EQ(window->DownloadLog().rowCount(), 3);
  PressSpace("chkFollow");
  ASSERT_TRUE(RowsBecome(4, 2));
  EXPECT_EQ(Names(window->DownloadLog()).join(' '), "annie dan annie eve");

  // A new load while following follows the new files from their ends.
  LoadFiles(downloads, uploads);
  ASSERT_EQ(window->DownloadLog().rowCount(), 5);
  Append(uploads, Rows({{"f", "fay"}}));
  ASSERT_TRUE(RowsBecome(5, 3));
  EXPECT_EQ(Names(window->UploadLog()).join(' '), "cy ann fay");

  // Days first from now on: the rows that arrive are read so too (12/26 no longer reads).
  overview->findChild<QComboBox*>("cboDates")->setCurrentIndex(2);
  Append(downloads, {{"11/12/2026 10:00:00", "g", "guest", "gil", "g.zip"}});
  ASSERT_TRUE(RowsBecome(6, 3));
  EXPECT_EQ(Text("lblFollow").toStdString(),
            "Following 2 files; newest transfer 12/11/2026 10:00 AM");
}

// Rows that arrive are dated in the order their file showed at the load.
TEST_F(Follow, ArrivingRowsAreDatedAsTheirFileWas) {
  LogRows days = Rows({{"a", "ann"}}), uploads = Rows({{"c", "cy"}});
  days[0][0] = "26/11/2026 10:00:00";  // day first
  uploads[0][0] = "01/01/2026 10:00:00";
  const QString downloads = WriteLog("Download Log.txt", days);
  LoadFiles(downloads, WriteLog("Upload Log.txt", uploads));
  PressSpace("chkFollow");
  Append(downloads, {{"05/12/2026 10:00:00", "b", "guest", "bob", "b.zip"}});
  ASSERT_TRUE(RowsBecome(2, 1));
  EXPECT_EQ(Text("lblFollow").toStdString(),
            "Following 2 files; newest transfer 12/5/2026 10:00 AM");
}

// The overview is a view of the document alone: it needs no main window.
TEST(UsersOverviewOfADocument, ShowsAndFollowsTheDocumentWithoutTheMainWindow) {
  FakeInteraction ui;
  QWidget owner;
  LogDocument document(DateOrder::Detect);
  LogPair tables{testing::TableOf(Rows({{"a", "ann"}, {"b", "bob"}})),
                 testing::TableOf(Rows({{"c", "cy"}}))};
  document.Replace({}, std::move(tables), {});
  frmUsersOverview overview(document, ui, owner);
  auto* status = overview.findChild<QLabel*>("lblStatus");
  EXPECT_EQ(status->text(), "Users shown: 3 of 3");
  document.RemoveRow(LogKind::Download, 0);
  document.RenameUser("bob", "cy");
  EXPECT_TRUE(QTest::qWaitFor([&] { return status->text() == "Users shown: 1 of 1"; }));
  QSignalSpy asked(&overview, &frmUsersOverview::ShowUserRequested);
  auto* users = overview.findChild<QTableView*>("lvwUsers");
  users->setFocus();
  users->setCurrentIndex(users->model()->index(0, 0));
  QTest::keyClick(users, Qt::Key_Return);
  ASSERT_EQ(asked.count(), 1);
  EXPECT_EQ(asked.front().front().toString(), "cy");
}

// Once the document keeps the figures, each change reaches the overview through them: its rows
// are, cell for cell, every user's figures computed again from the tables after the change.
TEST(UsersOverviewOfADocument, KeptFiguresAreTheFiguresOfTheTables) {
  FakeInteraction ui;
  QWidget owner;
  LogDocument document(DateOrder::Detect);
  auto rows = [](std::initializer_list<std::pair<std::string, std::string>> cells, int day) {
    MainWindowFixture::LogRows made = Rows(cells);
    for (std::size_t i = 0; i < made.size(); ++i)
      made[i][0] = "3/" + std::to_string(day + static_cast<int>(i)) + "/2026 10:00:00";
    ReadOptions dated;
    dated.dates = DateOrder::Detect;
    return std::move(*ParseLog(testing::LogText(made), dated).table);
  };
  MainWindowFixture::LogRows uploads = Rows({{"a", "ann"}, {"c", "cy"}});
  uploads[0][4] = uploads[1][4] = "file1.zip";  // what bob and dee fetch below
  document.Replace(
      {},
      {rows({{"a", "bob"}, {"b", "bob"}, {"d", "dee"}, {"e", ""}}, 13), testing::TableOf(uploads)},
      {});
  frmUsersOverview overview(document, ui, owner);
  ASSERT_TRUE(QTest::qWaitFor([&] { return document.LiveUsers() != nullptr; }));
  auto* model =
      static_cast<UserFiguresModel*>(overview.findChild<QTableView*>("lvwUsers")->model());
  // Sorted on a figure, so that a change moves rows: in the order a model given all the figures
  // anew sorts them.
  model->sort(UserFiguresModel::Ratio, Qt::AscendingOrder);
  const auto check = [&](const char* step) {
    QApplication::processEvents();
    const LogTable& d = document.Table(LogKind::Download);
    const LogTable& u = document.Table(LogKind::Upload);
    UserFiguresModel fresh;
    fresh.SetUsers(ComputeUserFigures(d, u, CollectEveryUserName(d, u)));
    fresh.sort(UserFiguresModel::Ratio, Qt::AscendingOrder);
    const std::vector<UserFigures> want = fresh.ShownUsers();
    const std::vector<UserFigures> shown = model->ShownUsers();
    ASSERT_EQ(shown.size(), want.size()) << step;
    for (std::size_t i = 0; i < want.size(); ++i) {
      EXPECT_EQ(std::tie(shown[i].name, shown[i].downloads, shown[i].uploads, shown[i].credit,
                         shown[i].addresses, shown[i].firstSeen, shown[i].lastSeen),
                std::tie(want[i].name, want[i].downloads, want[i].uploads, want[i].credit,
                         want[i].addresses, want[i].firstSeen, want[i].lastSeen))
          << step << ": " << want[i].name;
    }
  };
  document.RemoveRow(LogKind::Download, 0);  // bob's first fetch, his earliest day
  check("a row removed");
  document.RenameUser("dee", "ann");  // into an uploader of what dee fetched
  check("a name merged");
  document.RenameUser("bob", "Bz");  // a name new to the list, between others
  check("a name new");
  for (const char* name : {"cy", "zed"}) {  // an uploader's ratio changes; a user comes
    FollowUpdate update;
    update.rows.push_back({0, LogKind::Download, std::nullopt, rows({{"a", name}}, 1)});
    document.Apply(update);
    check(name);
  }
  EXPECT_NE(document.LiveUsers(), nullptr) << "the changes went through the kept figures";
}

}  // namespace
}  // namespace quorvane
