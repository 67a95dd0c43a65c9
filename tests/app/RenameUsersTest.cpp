#include "app/frmRenameUsers.h"
#include "support/MainWindowFixture.h"

namespace quorvane {
namespace {

// joe32 has 4 downloads and 3 uploads; Joe32 is somebody else. Each name logs on from an address
// of its own, so every name is a user.
const QString kDownloads = "joe32 joe2000 joe32 Joe32 joe32 marla joe32";
const QString kUploads = "joe32 joe2000 joe32 joe32 Joe32";
const QString kUsers = "joe2000 Joe32 joe32 marla";

class RenameUsers : public MainWindowFixture {
 protected:
  void LoadJoe() {
    const auto rows = [](const QString& names) {
      std::vector<std::pair<std::string, std::string>> addressAndName;
      for (const QString& name : names.split(' '))
        addressAndName.push_back({name.toStdString(), name.toStdString()});
      return quorvane::testing::Rows(addressAndName);
    };
    LoadLogs(rows(kDownloads), rows(kUploads));
    ASSERT_EQ(Users().join(' '), kUsers);
  }
  // The dialog as the main window makes it.
  std::unique_ptr<frmRenameUsers> Dialog() {
    return std::make_unique<frmRenameUsers>(
        window->UserNames(),
        [this](const QString& from, const QString& to) {
          return frmRenameUsers::Renamed{window->RenameUser(from, to), window->UserNames()};
        },
        *fake, window.get());
  }
  // Picks entries in the dialog's two lists (none when a name is not there) and presses Rename.
  static void Rename(frmRenameUsers& dialog, const QString& from, const QString& to) {
    for (const auto& [name, entry] : {std::pair{"cboReplace", from}, std::pair{"cboWith", to}}) {
      auto* list = dialog.findChild<QComboBox*>(name);
      list->setCurrentIndex(list->findText(entry, Qt::MatchExactly | Qt::MatchCaseSensitive));
    }
    QTest::mouseClick(dialog.findChild<QPushButton*>("cmdRename"), Qt::LeftButton);
  }
  // Both lists hold the users once each, with nothing chosen.
  static void ExpectFreshLists(const QDialog& dialog, const QStringList& users) {
    for (const char* name : {"cboReplace", "cboWith"}) {
      const auto* list = dialog.findChild<QComboBox*>(name);
      EXPECT_EQ(Entries(list), users) << name;
      EXPECT_EQ(list->currentIndex(), -1) << name;
    }
  }
};

TEST_F(RenameUsers, AnsweringNoChangesNothing) {
  LoadJoe();
  const auto dialog = Dialog();
  Rename(*dialog, "joe32", "joe2000");
  EXPECT_EQ(fake->yesNoQuestions,
            QStringList{"Confirm intent|Are you sure you want to replace all records with the name "
                        "joe32 with joe2000?"});
  EXPECT_TRUE(fake->notices.empty());
  EXPECT_EQ(Names(window->DownloadLog()).join(' '), kDownloads);
  EXPECT_EQ(Names(window->UploadLog()).join(' '), kUploads);
  EXPECT_EQ(Users().join(' '), kUsers);
  EXPECT_EQ(dialog->findChild<QComboBox*>("cboReplace")->currentText(), "joe32");
  EXPECT_EQ(dialog->findChild<QComboBox*>("cboWith")->currentText(), "joe2000");
}

TEST_F(RenameUsers, YesRenamesEveryMatchingNameOfBothLogsAndRefillsEveryList) {
  struct Case {
    const char* label;
    QString from, to, notice;
    QString downloads, uploads, users;
  };
  const std::vector<Case> cases = {
      {"joe32 with joe2000", "joe32", "joe2000", "7 records have been renamed.",
       "joe2000 joe2000 joe2000 Joe32 joe2000 marla joe2000",
       "joe2000 joe2000 joe2000 joe2000 Joe32", "joe2000 Joe32 marla"},
      {"a name by itself", "Joe32", "Joe32", "2 records have been renamed.", kDownloads, kUploads,
       kUsers},
      {"nothing chosen", "nobody", "nobody", "0 records have been renamed.", kDownloads, kUploads,
       kUsers},
      {"no new name chosen: the rows are blanked", "marla", "Marla Singer",
       "1 records have been renamed.", "joe32 joe2000 joe32 Joe32 joe32  joe32", kUploads,
       " joe2000 Joe32 joe32"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    LoadJoe();
    fake->notices.clear();
    fake->answerYes = true;
    const auto dialog = Dialog();
    Rename(*dialog, c.from, c.to);
    EXPECT_EQ(fake->notices, QStringList{"Replace complete|" + c.notice});
    EXPECT_EQ(Names(window->DownloadLog()).join(' '), c.downloads);
    EXPECT_EQ(Names(window->UploadLog()).join(' '), c.uploads);
    EXPECT_EQ(Users().join(' '), c.users);
    EXPECT_EQ(Control<QComboBox>("cboUsers")->currentIndex(), -1);
    ExpectFreshLists(*dialog, Users());
  }
}

TEST_F(RenameUsers, TheButtonOpensAFreshDialogEachTime) {
  LoadJoe();
  for (int opening = 1; opening <= 2; ++opening) {
    SCOPED_TRACE(opening);
    ClickModal("cmdRenameUser", [&](QWidget* open) {
      auto* dialog = qobject_cast<frmRenameUsers*>(open);
      ASSERT_NE(dialog, nullptr);
      ExpectFreshLists(*dialog, Users());
      // Pick something, so that a dialog kept over from before would show.
      dialog->findChild<QComboBox*>("cboReplace")->setCurrentIndex(1);
      QTest::mouseClick(dialog->findChild<QPushButton*>("Command1"), Qt::LeftButton);
    });
    EXPECT_EQ(window->findChild<frmRenameUsers*>(), nullptr) << "destroyed when closed";
  }
}

TEST_F(RenameUsers, FocusRunsFromTheListsToTheButtonsAndTheTextsFit) {
  LoadJoe();
  const auto owned = Dialog();
  frmRenameUsers& dialog = *owned;
  dialog.show();
  dialog.activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&dialog));
  QStringList order;
  for (int i = 0; i < 5; ++i) {
    order << dialog.focusWidget()->objectName();
    QTest::keyClick(dialog.focusWidget(), Qt::Key_Tab);
  }
  EXPECT_EQ(order.join(' '), "cboReplace cboWith cmdRename Command1 cboReplace");
  for (const char* name : {"Label3", "Label4"}) {
    const auto* label = dialog.findChild<QLabel*>(name);
    EXPECT_GE(label->height(), label->heightForWidth(label->width())) << name << " is cut off";
  }
}

}  // namespace
}  // namespace quorvane
