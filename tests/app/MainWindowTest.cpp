#include <QApplication>
#include <QClipboard>
#include <QDialog>
#include <QGroupBox>
#include <QLineEdit>

#include "support/MainWindowFixture.h"

namespace quorvane {
namespace {

using MainWindow = MainWindowFixture;

TEST_F(MainWindow, ControlsCarryTheirNamesAndCaptions) {
  using Captions = std::vector<std::pair<const char*, QString>>;
  const Captions buttonsAndFrames = {{"cmdLoadLogs", "&Load Logs"},
                                     {"cmdRenameUser", "&Rename Users"},
                                     {"cmdUsersOverview", "Users &Overview..."},
                                     {"cmdAbout", "A&bout"},
                                     {"cmdExit", "E&xit"},
                                     {"cmdAnalyzeLog", "&Analyze"},
                                     {"fraDownloadLog", "Download Log"},
                                     {"fraUploadLog", "Upload Log"},
                                     {"fraAnalyzeLog", "Log Analysis"}};
  for (const auto& [name, caption] : buttonsAndFrames) {
    const auto* frame = window->findChild<QGroupBox*>(name);
    EXPECT_EQ(frame ? frame->title() : Control<QPushButton>(name)->text(), caption) << name;
  }
  const Captions labels = {
      {"Label1", "Total Downloads:"}, {"Label2", "Total Uploads:"}, {"Label3", "Total Ratio:"},
      {"Label6", "Avg. Downloads:"},  {"Label5", "Avg. Uploads:"},  {"Label4", "Avg. Ratio:"},
      {"Label13", "User Name:"},      {"Label14", "Downloads:"},    {"Label15", "Uploads:"},
      {"Label16", "Ratio:"},          {"Label20", "Upload List:"}};
  for (const auto& [name, caption] : labels)
    EXPECT_EQ(Text(name), caption) << name;
  // Each report figure, empty until a report, is named for screen readers by its caption.
  const std::vector<std::pair<const char*, const char*>> figures = {
      {"lblTotalDownloads", "Label1"}, {"lblTotalUploads", "Label2"}, {"lblTotalRatio", "Label3"},
      {"lblAvgDownloads", "Label6"},   {"lblAvgUploads", "Label5"},   {"lblAvgRatio", "Label4"},
      {"lblUserDownloads", "Label14"}, {"lblUserUploads", "Label15"}, {"lblUserRatio", "Label16"}};
  for (const auto& [figure, caption] : figures) {
    EXPECT_EQ(Text(figure), "");
    EXPECT_EQ(Control<QLabel>(figure)->accessibleDescription() + ':', Text(caption)) << figure;
  }
  EXPECT_EQ(window->windowTitle(), "Quorvane");
  EXPECT_EQ(
      Text("Label21"),
      "Do you have an idea of what should go in this space? If so, please send your idea to:");
  for (const char* name : {"Line1", "Line2", "Line3", "Line4"})
    Control<QFrame>(name);
  // Right-aligned captions keep their designed right edge whatever room the font needs.
  EXPECT_EQ(Control<QLabel>("Label1")->geometry().right() + 1, 91);  // (120 + 1245) / 15
  EXPECT_EQ(Control<QLabel>("Label16")->geometry().right() + 1, 236);
  const auto headers = [](const LogTableModel& log) {
    QStringList captions;
    for (int column = 0; column < log.columnCount(); ++column)
      captions << log.headerData(column, Qt::Horizontal).toString();
    return captions.join(',');
  };
  EXPECT_EQ(headers(window->DownloadLog()), "Date/TIme,Address,Account,Name,File Name");
  EXPECT_EQ(headers(window->UploadLog()), "Date/Time,Address,Account,Name,File Name");
}

TEST_F(MainWindow, TabOrderRunsFromExitAndFocusStartsThere) {
  window->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
  QStringList visited;
  for (int step = 0; step < 11; ++step) {
    visited << QApplication::focusWidget()->objectName();
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
  }
  EXPECT_EQ(visited.join(' '),
            "cmdExit cmdAbout cmdAnalyzeLog cboUsers lstUploads txtEmail lvwDownloadLog "
            "lvwUploadLog cmdLoadLogs cmdRenameUser cmdExit");
}

TEST_F(MainWindow, AboutOpensTheAboutBoxRenameUsersWantsUsersExitQuits) {
  QString title;
  ClickModal("cmdAbout", [&](QWidget* dialog) {
    ASSERT_NE(dialog, nullptr);
    title = dialog->windowTitle();
    QTest::keyClick(dialog, Qt::Key_Escape);
  });
  EXPECT_EQ(title, "About Quorvane");
  EXPECT_EQ(window->findChild<QDialog*>(), nullptr) << "destroyed when closed";
  ClickModal("cmdRenameUser", [](QWidget* dialog) {
    EXPECT_EQ(dialog, nullptr) << "no dialog while the user list is empty";
    if (dialog != nullptr)
      dialog->close();
  });
  Click("cmdExit");
  EXPECT_EQ(fake->quits, 1);
}

TEST_F(MainWindow, ContactAddressCannotBeChangedButCanBeCopied) {
  auto* email = Control<QLineEdit>("txtEmail");
  const QString address = email->text();
  QApplication::clipboard()->setText("pasted");
  email->setFocus();
  for (const QKeySequence& keys :
       {QKeySequence("x"), QKeySequence(Qt::Key_Backspace), QKeySequence(QKeySequence::Paste),
        QKeySequence(QKeySequence::SelectAll), QKeySequence(QKeySequence::Copy)}) {
    QTest::keySequence(email, keys);
  }
  EXPECT_EQ(email->text(), address);
  EXPECT_EQ(QApplication::clipboard()->text(), address);
  EXPECT_TRUE(address.contains('@'));
}

}  // namespace
}  // namespace quorvane
