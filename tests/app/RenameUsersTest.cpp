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

// Yes renames every row of the name, exactly as written, in both logs, and refills every list; No
// changes nothing and leaves the picks.
TEST_F(RenameUsers, YesRenamesEveryMatchingNameOfBothLogsAndRefillsEveryList) {
  struct Case {
    const char* label;
    QString from, to, notice;
    QString downloads, uploads, users;
  };
  const std::vector<Case> cases = {
      {"No", "joe32", "joe2000", "", kDownloads, kUploads, kUsers},
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
    ChooseUser("marla");
    ASSERT_EQ(Text("lblUserDownloads"), "1");
    fake->notices.clear();
    fake->yesNoQuestions.clear();
    fake->answerYes = !c.notice.isEmpty();
    const auto dialog = Dialog();
    Rename(*dialog, c.from, c.to);
    EXPECT_EQ(fake->yesNoQuestions.size(), 1);
    EXPECT_EQ(fake->notices.join(""), c.notice.isEmpty() ? "" : "Replace complete|" + c.notice);
    EXPECT_EQ(Names(window->DownloadLog()).join(' '), c.downloads);
    EXPECT_EQ(Names(window->UploadLog()).join(' '), c.uploads);
    EXPECT_EQ(Users().join(' '), c.users);
    EXPECT_EQ(Control<QComboBox>("cboUsers")->currentIndex(), c.notice.isEmpty() ? 3 : -1);
    EXPECT_EQ(Text("lblUserDownloads"), c.notice.isEmpty() ? "1" : "")
        << "a rename leaves nobody chosen, and no report of anybody";
    if (c.notice.isEmpty()) {
      EXPECT_EQ(fake->yesNoQuestions[0],
                "Confirm intent|Are you sure you want to replace all "
                "records with the name joe32 with joe2000?|Yes");
      EXPECT_EQ(dialog->findChild<QComboBox*>("cboReplace")->currentText(), c.from);
      EXPECT_EQ(dialog->findChild<QComboBox*>("cboWith")->currentText(), c.to);
    } else {
      ExpectFreshLists(*dialog, Users());
    }
  }
}

// Enter on a focused button presses it, as Space does.
TEST_F(RenameUsers, EnterPressesTheFocusedButton) {
  LoadJoe();
  const auto dialog = Dialog();
  dialog->show();
  for (const char* name : {"cmdRename", "Command1"}) {
    auto* button = dialog->findChild<QPushButton*>(name);
    button->setFocus();
    QTest::keyClick(button, Qt::Key_Return);
  }
  EXPECT_EQ(fake->yesNoQuestions.size(), 1) << "Rename User asked";
  EXPECT_EQ(dialog->result(), QDialog::Accepted) << "Done closed the dialog";
}

}  // namespace
}  // namespace quorvane
