#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QTableView>
#include <QTest>

#include "app/LogTableModel.h"
#include "support/MainWindowFixture.h"

namespace {

using MainWindow = MainWindowFixture;

// Designed places in pixels (15 twips each), relative to the control's frame.
struct Placed {
  const char* name;
  QString caption;
  QRect geometry;
};

TEST_F(MainWindow, HasItsTitleAndClientSize) {
  EXPECT_EQ(window->windowTitle(), "Quorvane");
  EXPECT_EQ(window->size(), QSize(825, 579));  // 12375 x 8685 twips
  EXPECT_TRUE(window->windowFlags() & Qt::WindowMaximizeButtonHint);
  EXPECT_TRUE(window->windowFlags() & Qt::WindowMinimizeButtonHint);
}

TEST_F(MainWindow, ButtonsAndFramesCarryTheirCaptions) {
  const std::vector<std::pair<const char*, QString>> buttons = {{"cmdLoadLogs", "&Load Logs"},
                                                                {"cmdRenameUser", "&Rename Users"},
                                                                {"cmdAbout", "A&bout"},
                                                                {"cmdExit", "E&xit"},
                                                                {"cmdAnalyzeLog", "&Analyze"}};
  for (const auto& [name, caption] : buttons) {
    if (auto* button = Control<QPushButton>(name)) {
      EXPECT_EQ(button->text(), caption) << name;
    }
  }
  const std::vector<std::pair<const char*, QString>> frames = {{"fraDownloadLog", "Download Log"},
                                                               {"fraUploadLog", "Upload Log"},
                                                               {"fraAnalyzeLog", "Log Analysis"}};
  for (const auto& [name, caption] : frames) {
    if (auto* frame = Control<QGroupBox>(name)) {
      EXPECT_EQ(frame->title(), caption) << name;
    }
  }
}

TEST_F(MainWindow, AnalysisPanelControlsSitWhereDesigned) {
  const std::vector<Placed> values = {
      {"lblTotalDownloads", "Total Downloads", {96, 14, 65, 17}},
      {"lblTotalUploads", "Total Uploads", {96, 38, 65, 17}},
      {"lblTotalRatio", "Total Ratio", {96, 62, 65, 17}},
      {"lblAvgDownloads", "Avg. Downloads", {96, 102, 65, 17}},
      {"lblAvgUploads", "Avg. Uploads", {96, 126, 65, 17}},
      {"lblAvgRatio", "Avg. Ratio", {96, 150, 65, 17}},
      {"lblUserDownloads", "Downloads", {240, 40, 65, 17}},
      {"lblUserUploads", "Uploads", {360, 40, 65, 17}},
      {"lblUserRatio", "Ratio", {240, 64, 65, 17}},
  };
  for (const Placed& value : values) {
    auto* label = Control<QLabel>(value.name);
    if (label == nullptr)
      continue;
    EXPECT_EQ(label->parentWidget()->objectName(), "fraAnalyzeLog");
    EXPECT_EQ(label->geometry(), value.geometry) << value.name;
    EXPECT_TRUE(label->text().isEmpty()) << value.name;
    EXPECT_EQ(label->accessibleDescription(), value.caption) << value.name;
    EXPECT_TRUE(label->alignment() & Qt::AlignRight) << value.name;
  }
  const std::vector<Placed> others = {
      {"cboUsers", "", {240, 12, 185, 21}},
      {"lstUploads", "", {176, 104, 249, 56}},
      {"prgAnalyzeUser", "", {432, 12, 17, 145}},
      {"txtEmail", "", {472, 128, 201, 24}},
      {"prgAnalyze", "", {8, 188, 577, 17}},
      {"cmdAnalyzeLog", "", {592, 184, 89, 25}},
      {"Line3", "", {8, 176, 672, 1}},
  };
  for (const Placed& control : others) {
    if (auto* widget = Control<QWidget>(control.name)) {
      EXPECT_EQ(widget->geometry(), control.geometry) << control.name;
    }
  }
}

TEST_F(MainWindow, CaptionLabelsReadAsDesignedAndStayBesideTheirValues) {
  const std::vector<std::pair<const char*, QString>> captions = {
      {"Label1", "Total Downloads:"}, {"Label2", "Total Uploads:"}, {"Label3", "Total Ratio:"},
      {"Label6", "Avg. Downloads:"},  {"Label5", "Avg. Uploads:"},  {"Label4", "Avg. Ratio:"},
      {"Label13", "User Name:"},      {"Label14", "Downloads:"},    {"Label15", "Uploads:"},
      {"Label16", "Ratio:"}};
  for (const auto& [name, caption] : captions) {
    auto* label = Control<QLabel>(name);
    if (label == nullptr)
      continue;
    EXPECT_EQ(label->text(), caption);
    EXPECT_TRUE(label->alignment() & Qt::AlignRight) << name;
  }
  // Right-aligned captions keep their right edge whatever room the font needs.
  EXPECT_EQ(Control<QLabel>("Label1")->geometry().right() + 1, 91);  // (120 + 1245) / 15
  EXPECT_EQ(Control<QLabel>("Label16")->geometry().right() + 1, 236);
  auto* uploadList = Control<QLabel>("Label20");
  EXPECT_EQ(uploadList->text(), "Upload List:");
  EXPECT_TRUE(uploadList->alignment() & Qt::AlignLeft);
  EXPECT_EQ(uploadList->geometry().topLeft(), QPoint(176, 88));
  EXPECT_EQ(Control<QLabel>("Label21")->text(),
            "Do you have an idea of what should go in this space? If so, please send your idea "
            "to:");
}

TEST_F(MainWindow, StartsEmptyWithEveryBarHidden) {
  for (const char* name : {"prgDownloadLog", "prgUploadLog", "prgAnalyze", "prgAnalyzeUser"}) {
    auto* bar = Control<QProgressBar>(name);
    EXPECT_FALSE(bar->isVisible()) << name;
    EXPECT_EQ(bar->value(), 0) << name;
    EXPECT_EQ(bar->maximum(), 100) << name;
  }
  EXPECT_EQ(Control<QProgressBar>("prgAnalyzeUser")->orientation(), Qt::Vertical);
  EXPECT_EQ(Control<QComboBox>("cboUsers")->count(), 0);
  EXPECT_FALSE(Control<QComboBox>("cboUsers")->isEditable());
  EXPECT_EQ(Control<QListWidget>("lstUploads")->count(), 0);
  EXPECT_EQ(Control<QTableView>("lvwDownloadLog")->model()->rowCount(), 0);
  EXPECT_EQ(Control<QTableView>("lvwUploadLog")->model()->rowCount(), 0);
  EXPECT_TRUE(fake->questions.isEmpty());
}

TEST_F(MainWindow, LogListsShowFiveLeftAlignedColumnsOfOneInch) {
  const std::vector<std::pair<const char*, QString>> lists = {{"lvwDownloadLog", "Date/TIme"},
                                                              {"lvwUploadLog", "Date/Time"}};
  for (const auto& [name, first] : lists) {
    auto* list = Control<QTableView>(name);
    if (list == nullptr)
      continue;
    const QStringList expected = {first, "Address", "Account", "Name", "File Name"};
    ASSERT_EQ(list->model()->columnCount(), 5);
    for (int column = 0; column < 5; ++column) {
      EXPECT_EQ(list->model()->headerData(column, Qt::Horizontal).toString(), expected[column]);
      EXPECT_EQ(list->horizontalHeader()->sectionSize(column), 96) << name << " column " << column;
    }
    EXPECT_EQ(list->selectionMode(), QAbstractItemView::SingleSelection);
    EXPECT_EQ(list->selectionBehavior(), QAbstractItemView::SelectRows);
    EXPECT_FALSE(list->tabKeyNavigation());
  }
}

TEST_F(MainWindow, TabOrderRunsFromExitAndFocusStartsThere) {
  const QStringList expected = {"cmdExit",     "cmdAbout",      "cmdAnalyzeLog",  "cboUsers",
                                "lstUploads",  "txtEmail",      "lvwDownloadLog", "lvwUploadLog",
                                "cmdLoadLogs", "cmdRenameUser", "cmdExit"};
  window->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
  QStringList visited;
  for (int step = 0; step < expected.size(); ++step) {
    QWidget* focus = QApplication::focusWidget();
    ASSERT_NE(focus, nullptr);
    visited.push_back(focus->objectName());
    QTest::keyClick(focus, Qt::Key_Tab);
  }
  EXPECT_EQ(visited, expected);
}

TEST_F(MainWindow, AccessKeysPressTheirButtons) {
  window->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
  // A button's access key presses it the way a click does, a moment later.
  QTest::keyClick(window.get(), Qt::Key_L, Qt::AltModifier);
  EXPECT_TRUE(QTest::qWaitFor([&] { return !fake->questions.isEmpty(); }));
  EXPECT_EQ(fake->questions, QStringList{"Choose a Download Log file..."});
  QTest::keyClick(window.get(), Qt::Key_X, Qt::AltModifier);
  EXPECT_TRUE(QTest::qWaitFor([&] { return fake->quits == 1; }));
}

TEST_F(MainWindow, ExitEndsTheProgram) {
  Click("cmdExit");
  EXPECT_EQ(fake->quits, 1);
}

TEST_F(MainWindow, ContactAddressCannotBeChangedButCanBeCopied) {
  auto* email = Control<QLineEdit>("txtEmail");
  const QString address = email->text();
  EXPECT_FALSE(address.isEmpty());
  EXPECT_TRUE(address.contains('@'));
  email->setFocus();
  QTest::keyClicks(email, "typed");
  QTest::keyClick(email, Qt::Key_End);
  QTest::keyClick(email, Qt::Key_Backspace);
  QTest::keyClick(email, Qt::Key_Home);
  QTest::keyClick(email, Qt::Key_Delete);
  QApplication::clipboard()->setText("pasted");
  QTest::keyClick(email, Qt::Key_V, Qt::ControlModifier);
  EXPECT_EQ(email->text(), address);

  QTest::keyClick(email, Qt::Key_A, Qt::ControlModifier);
  QTest::keyClick(email, Qt::Key_C, Qt::ControlModifier);
  EXPECT_EQ(QApplication::clipboard()->text(), address);
}

}  // namespace
