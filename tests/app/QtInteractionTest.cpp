#include <gtest/gtest.h>

#include <QApplication>
#include <QFileDialog>
#include <QListView>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <functional>

#include "app/LogTableModel.h"
#include "app/QtInteraction.h"
#include "app/frmMain.h"
#include "support/TempLogs.h"

namespace quorvane {
namespace {

class QtInteractionTest : public ::testing::Test {
 protected:
  QtInteractionTest() : interaction(&window), dialog(interaction.Dialog()) {}

  // Asks under this title; `answer` runs on the open dialog and must close it.
  std::optional<QString> Ask(const QString& title, const std::function<void()>& answer) {
    QTimer::singleShot(0, &dialog, [this, title, answer] {
      EXPECT_TRUE(QTest::qWaitFor([&] { return dialog.isVisible(); }));
      EXPECT_EQ(dialog.windowTitle(), title);
      answer();
    });
    return interaction.ChooseLogFile(title, {});
  }
  QString Folder() const { return QString::fromStdString(folder.Path().string()); }

  quorvane::testing::TempDir folder;
  QWidget window;
  QtInteraction interaction;
  QFileDialog& dialog;
};

TEST_F(QtInteractionTest, TheFilterListsOnlyTheTwoLogNamesAndFolders) {
  for (const char* name : {"Download Log.txt", "Upload Log.txt", "Download_Log.txt",
                           "download log.txt", "Upload Log.txt.bak", "notes.txt"}) {
    folder.Write(name, "h\n");
  }
  std::filesystem::create_directory(folder.Path() / "older logs");
  dialog.setDirectory(Folder());
  QStringList listed;
  Ask("Choose a Download Log file...", [&] {
    if (auto* view = dialog.findChild<QListView*>("listView")) {
      const auto rows = [view] { return view->model()->rowCount(view->rootIndex()); };
      EXPECT_TRUE(QTest::qWaitFor([&] { return rows() > 0; }));
      QTest::qWait(50);  // let the folder finish loading
      for (int row = 0; row < rows(); ++row)
        listed << view->model()->index(row, 0, view->rootIndex()).data().toString();
    }
    dialog.reject();
  });
  listed.sort();
  EXPECT_EQ(listed.join('|').toStdString(), "Download Log.txt|Upload Log.txt|older logs");
}

// Alt+L, a typed path and Enter for each question, as a person does it by keyboard alone. One
// dialog asks under each title, the second question on the first answer. After the load nothing
// of the dialog is left on screen or takes input, the focus ring is back on Load Logs, and the
// next window's first question opens in the folder of this pair.
TEST_F(QtInteractionTest, TypedPathsLeaveNothingBehindAndTheFocusComesBack) {
  const auto log = [&](const char* name) {
    return QString::fromStdString(
        folder.Write(name, testing::LogText(testing::Rows({{"a", "ann"}}))).string());
  };
  const QStringList answers = {log("Download Log.txt"), log("Upload Log.txt")};
  QString openedIn;
  QStringList asked;  // each question's title and the file it started on
  QTimer person;      // answers each file question that opens
  QObject::connect(&person, &QTimer::timeout, [&] {
    auto* asking = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
    if (asking == nullptr || !asking->isVisible())
      return;
    const bool upload = asking->windowTitle().contains("Upload");
    if (asked.size() == int(upload))  // once each: an Enter may only close the completion list
      asked << asking->windowTitle() + '|' + asking->selectedFiles().value(0);
    const QString answer = answers.value(int(upload));
    // Keys go where the window system sends them: to an open completion list, else the dialog.
    const auto target = [asking] {
      QWidget* popup = QApplication::activePopupWidget();
      return popup != nullptr ? popup : asking->focusWidget();
    };
    QTest::keySequence(target(), QKeySequence::SelectAll);
    for (const QChar character : answer)
      QTest::keyClick(target(), character.toLatin1());
    QTest::keyClick(target(), Qt::Key_Return);
  });
  person.start(20);
  frmMain main;
  main.show();
  main.activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&main));
  QTest::keyClick(&main, Qt::Key_L, Qt::AltModifier);
  ASSERT_TRUE(QTest::qWaitFor([&] { return main.UploadLog().rowCount() == 1; }, 10000));
  ASSERT_EQ(asked.size(), 2);
  EXPECT_TRUE(asked[0].startsWith("Choose a Download Log file...|"));
  EXPECT_EQ(asked[1], "Choose an Upload Log file...|" + answers[0]);
  QTest::qWait(500);  // for the folders typed in to finish loading
  EXPECT_EQ(QApplication::activePopupWidget(), nullptr);
  for (QWidget* top : QApplication::topLevelWidgets())
    EXPECT_TRUE(top == &main || !top->isVisible()) << top->metaObject()->className();
  EXPECT_EQ(QApplication::focusWidget(), main.findChild<QPushButton*>("cmdLoadLogs"));
  EXPECT_TRUE(main.testAttribute(Qt::WA_KeyboardFocusChange)) << "the focus ring is drawn";

  frmMain next;
  next.show();
  person.stop();
  QTimer::singleShot(0, [&] {
    auto* asking = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
    ASSERT_NE(asking, nullptr);
    openedIn = asking->directory().absolutePath();
    asking->reject();
  });
  QTest::mouseClick(next.findChild<QPushButton*>("cmdLoadLogs"), Qt::LeftButton);
  EXPECT_EQ(openedIn, Folder());
}

}  // namespace
}  // namespace quorvane
