#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <string>
#include <vector>

#include "app/LogTableModel.h"
#include "app/frmRenameUsers.h"
#include "support/MainWindowFixture.h"

using quorvane::testing::Rows;

namespace {

QStringList Entries(const QComboBox& list) {
  QStringList entries;
  for (int i = 0; i < list.count(); ++i)
    entries << list.itemText(i);
  return entries;
}

QStringList Names(const LogTableModel& log) {
  QStringList names;
  for (int row = 0; row < log.rowCount(); ++row) {
    names << log.data(log.index(row, 3)).toString();
  }
  return names;
}

class RenameUsersTest : public MainWindowFixture {
 protected:
  // joe32 has 4 downloads and 3 uploads; Joe32 is somebody else.
  void LoadJoe() {
    LoadLogs(Rows({{"1.1.1.1", "joe32"},
                   {"1.1.1.2", "joe2000"},
                   {"1.1.1.1", "joe32"},
                   {"1.1.1.3", "Joe32"},
                   {"1.1.1.1", "joe32"},
                   {"1.1.1.4", "marla"},
                   {"1.1.1.1", "joe32"}}),
             Rows({{"1.1.1.1", "joe32"},
                   {"1.1.1.2", "joe2000"},
                   {"1.1.1.1", "joe32"},
                   {"1.1.1.1", "joe32"},
                   {"1.1.1.3", "Joe32"}}));
    ASSERT_EQ(Entries(*Users()).size(), 4);
  }

  QComboBox* Users() { return Control<QComboBox>("cboUsers"); }

  // Picks entries in the dialog's two lists and presses Rename User.
  void Rename(frmRenameUsers& dialog, const QString& from, const QString& to) {
    auto* replace = dialog.findChild<QComboBox*>("cboReplace");
    auto* with = dialog.findChild<QComboBox*>("cboWith");
    replace->setCurrentIndex(replace->findText(from, Qt::MatchExactly | Qt::MatchCaseSensitive));
    with->setCurrentIndex(with->findText(to, Qt::MatchExactly | Qt::MatchCaseSensitive));
    QTest::mouseClick(dialog.findChild<QPushButton*>("cmdRename"), Qt::LeftButton);
  }

  static void ExpectFilledOnceWithNothingChosen(const frmRenameUsers& dialog,
                                                const QStringList& users) {
    for (const char* name : {"cboReplace", "cboWith"}) {
      const auto* list = dialog.findChild<QComboBox*>(name);
      EXPECT_EQ(Entries(*list), users) << name;
      EXPECT_EQ(list->currentIndex(), -1) << name;
      EXPECT_EQ(list->currentText(), "") << name;
    }
  }
};

TEST_F(RenameUsersTest, ShowsItsTextsAndTheUserListWithNothingChosen) {
  LoadJoe();
  frmRenameUsers dialog(*window, *fake);
  EXPECT_EQ(dialog.objectName(), "frmRenameUsers");
  EXPECT_EQ(dialog.windowTitle(), "Rename Users");
  EXPECT_FALSE(dialog.windowIcon().isNull());
  const auto text = [&](const char* name) { return dialog.findChild<QLabel*>(name)->text(); };
  EXPECT_EQ(text("Label3"),
            "This form allows you to manage User Names.  For instance, say the user \"joe32\" "
            "logs on, download, uploads, and such, but then he changes his name to "
            "\"joe20000.\"  Now when you try to get information on \"joe32\" or \"joe2000\" you "
            "will not get information about the other name that they used! ");
  EXPECT_EQ(text("Label4"),
            "Simply select the name you want to change, then select the name you want to change "
            "it to.  Example: if I wanted to change all records with the User Name \"joe32,\" I "
            "would select \"joe32\" from the \"Replace\" combo box, and select \"joe2000\" from "
            "the \"With\" list, since both \"joe32\" and \"joe2000\" are actually the same user.");
  EXPECT_EQ(text("Label1"), "Replace:");
  EXPECT_EQ(text("Label2"), "with:");
  EXPECT_EQ(dialog.findChild<QPushButton*>("cmdRename")->text(), "&Rename User");
  EXPECT_EQ(dialog.findChild<QPushButton*>("Command1")->text(), "&Done");
  for (const char* name : {"cboReplace", "cboWith"}) {
    EXPECT_FALSE(dialog.findChild<QComboBox*>(name)->isEditable()) << name;
  }
  ExpectFilledOnceWithNothingChosen(dialog, Entries(*Users()));
}

TEST_F(RenameUsersTest, FocusGoesFromTheListsToTheButtons) {
  LoadJoe();
  frmRenameUsers dialog(*window, *fake);
  dialog.show();
  dialog.activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&dialog));
  QStringList order{dialog.focusWidget()->objectName()};
  for (int i = 0; i < 4; ++i) {
    QTest::keyClick(dialog.focusWidget(), Qt::Key_Tab);
    order << dialog.focusWidget()->objectName();
  }
  EXPECT_EQ(order.join(' ').toStdString(), "cboReplace cboWith cmdRename Command1 cboReplace");
}

TEST_F(RenameUsersTest, ControlsKeepTheirPlacesAndTextsFitWhenResized) {
  LoadJoe();
  frmRenameUsers dialog(*window, *fake);
  dialog.show();
  auto* rename = dialog.findChild<QPushButton*>("cmdRename");
  const QPoint before = rename->mapTo(&dialog, QPoint(0, 0));
  dialog.resize(dialog.width() + 200, dialog.height() + 150);
  QApplication::processEvents();
  EXPECT_EQ(rename->mapTo(&dialog, QPoint(0, 0)), before);
  for (const char* name : {"Label3", "Label4"}) {
    const auto* label = dialog.findChild<QLabel*>(name);
    EXPECT_GE(label->height(), label->heightForWidth(label->width())) << name << " is cut off";
  }
}

TEST_F(RenameUsersTest, AnsweringNoChangesNothing) {
  LoadJoe();
  const QStringList downloads = Names(window->DownloadLog());
  const QStringList uploads = Names(window->UploadLog());
  const QStringList users = Entries(*Users());
  frmRenameUsers dialog(*window, *fake);
  fake->yesNoAnswers = {false};
  Rename(dialog, "joe32", "joe2000");
  ASSERT_EQ(fake->yesNoQuestions.size(), 1u);
  EXPECT_EQ(fake->yesNoQuestions[0].title, "Confirm intent");
  EXPECT_EQ(fake->yesNoQuestions[0].text,
            "Are you sure you want to replace all records with the name joe32 with joe2000?");
  EXPECT_TRUE(fake->notices.empty());
  EXPECT_EQ(Names(window->DownloadLog()), downloads);
  EXPECT_EQ(Names(window->UploadLog()), uploads);
  EXPECT_EQ(Entries(*Users()), users);
  EXPECT_EQ(dialog.findChild<QComboBox*>("cboReplace")->currentText(), "joe32");
  EXPECT_EQ(dialog.findChild<QComboBox*>("cboWith")->currentText(), "joe2000");
}

TEST_F(RenameUsersTest, MergesJoe32IntoJoe2000AcrossBothLogs) {
  LoadJoe();
  frmRenameUsers dialog(*window, *fake);
  fake->yesNoAnswers = {true};
  Rename(dialog, "joe32", "joe2000");
  ASSERT_EQ(fake->notices.size(), 1u);
  EXPECT_EQ(fake->notices[0].title, "Replace complete");
  EXPECT_EQ(fake->notices[0].text, "7 records have been renamed.");
  EXPECT_EQ(Names(window->DownloadLog()),
            QStringList({"joe2000", "joe2000", "joe2000", "Joe32", "joe2000", "marla", "joe2000"}));
  EXPECT_EQ(Names(window->UploadLog()),
            QStringList({"joe2000", "joe2000", "joe2000", "joe2000", "Joe32"}));
  const QStringList users = Entries(*Users());
  EXPECT_FALSE(users.contains("joe32"));
  EXPECT_TRUE(users.contains("Joe32")) << "letter case counts";
  EXPECT_EQ(users.size(), 3);
  EXPECT_EQ(Users()->currentIndex(), -1);
  ExpectFilledOnceWithNothingChosen(dialog, users);
}

TEST_F(RenameUsersTest, ReportsEveryCountInTheSameWords) {
  LoadJoe();
  frmRenameUsers dialog(*window, *fake);
  fake->yesNoAnswers = {true, true, true};
  Rename(dialog, "nobody", "nobody");       // nothing chosen: the empty name matches no row
  Rename(dialog, "marla", "Marla Singer");  // not in the list: "with" stays empty
  Rename(dialog, "Joe32", "Joe32");         // a name replaced by itself
  ASSERT_EQ(fake->notices.size(), 3u);
  EXPECT_EQ(fake->notices[0].text, "0 records have been renamed.");
  EXPECT_EQ(fake->notices[1].text, "1 records have been renamed.");
  EXPECT_EQ(fake->notices[2].text, "2 records have been renamed.");
  EXPECT_EQ(fake->yesNoQuestions[1].text,
            "Are you sure you want to replace all records with the name marla with ?");
  EXPECT_EQ(Names(window->DownloadLog())[5], "") << "an empty new name blanks the rows";
  EXPECT_EQ(Names(window->DownloadLog())[3], "Joe32");
  EXPECT_EQ(Names(window->UploadLog())[4], "Joe32");
}

// The main window's buttons, with the dialogs run modally as the program runs them.
TEST_F(RenameUsersTest, RenameUsersButtonDoesNothingWithoutUsers) {
  bool dialogOpened = false;
  QTimer::singleShot(0, [&] {
    if (QWidget* dialog = QApplication::activeModalWidget()) {
      dialogOpened = true;
      dialog->close();
    }
  });
  Click("cmdRenameUser");
  QApplication::processEvents();
  EXPECT_FALSE(dialogOpened);
  EXPECT_TRUE(fake->yesNoQuestions.empty());
  EXPECT_TRUE(fake->notices.empty());
}

TEST_F(RenameUsersTest, RenameUsersButtonOpensAFreshDialogEachTime) {
  LoadJoe();
  const QStringList users = Entries(*Users());
  for (int opening = 0; opening < 2; ++opening) {
    SCOPED_TRACE(opening);
    bool checked = false;
    QTimer::singleShot(0, [&] {
      auto* dialog = qobject_cast<frmRenameUsers*>(QApplication::activeModalWidget());
      ASSERT_NE(dialog, nullptr);
      checked = true;
      ExpectFilledOnceWithNothingChosen(*dialog, users);
      // Pick something, so that a dialog kept over from before would show.
      dialog->findChild<QComboBox*>("cboReplace")->setCurrentIndex(1);
      QTest::mouseClick(dialog->findChild<QPushButton*>("Command1"), Qt::LeftButton);
    });
    Click("cmdRenameUser");
    EXPECT_TRUE(checked);
    EXPECT_EQ(window->findChild<frmRenameUsers*>(), nullptr) << "destroyed when closed";
  }
}

TEST_F(RenameUsersTest, TitleBarCloseEndsTheDialogLikeDone) {
  LoadJoe();
  frmRenameUsers dialog(*window, *fake);
  QSignalSpy finished(&dialog, &QDialog::finished);
  dialog.show();
  dialog.close();
  EXPECT_FALSE(dialog.isVisible());
  EXPECT_EQ(finished.count(), 1);
  EXPECT_TRUE(fake->yesNoQuestions.empty());
}

TEST_F(RenameUsersTest, AboutButtonOpensTheAboutBoxModally) {
  QString title;
  QTimer::singleShot(0, [&] {
    QWidget* about = QApplication::activeModalWidget();
    ASSERT_NE(about, nullptr);
    title = about->windowTitle();
    QTest::keyClick(about, Qt::Key_Escape);
  });
  Click("cmdAbout");
  EXPECT_EQ(title, "About Quorvane");
  EXPECT_EQ(window->findChild<QDialog*>("frmAbout"), nullptr) << "destroyed when closed";
}

}  // namespace
