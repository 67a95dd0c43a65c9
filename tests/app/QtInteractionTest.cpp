#include <gtest/gtest.h>

#include <QApplication>
#include <QFileDialog>
#include <QListView>
#include <QSettings>
#include <QTest>
#include <QTimer>

#include "app/QtInteraction.h"
#include "support/TempLogs.h"

namespace quorvane {
namespace {

class QtInteractionTest : public ::testing::Test {
 protected:
  QtInteractionTest() : interaction(&window), dialog(interaction.Dialog()) {}

  // Asks under this title; `answer` runs on the open dialog and must close it.
  std::optional<QStringList> Ask(const QString& title, const std::function<void()>& answer) {
    QTimer::singleShot(0, &dialog, [this, title, answer] {
      EXPECT_TRUE(QTest::qWaitFor([&] { return dialog.isVisible(); }));
      EXPECT_EQ(dialog.windowTitle(), title);
      answer();
    });
    return interaction.ChooseLogFiles(title, {});
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
  int all = 0;
  Ask("Choose a Download Log file...", [&] {
    auto* view = dialog.findChild<QListView*>("listView");
    ASSERT_NE(view, nullptr);
    const auto rows = [view] { return view->model()->rowCount(view->rootIndex()); };
    EXPECT_TRUE(QTest::qWaitFor([&] { return rows() > 0; }));
    QTest::qWait(50);  // let the folder finish loading
    for (int row = 0; row < rows(); ++row)
      listed << view->model()->index(row, 0, view->rootIndex()).data().toString();
    // Then every file, for a server's log or a rotated copy.
    dialog.selectNameFilter(dialog.nameFilters().last());
    (void)QTest::qWaitFor([&] { return rows() == 7; });
    all = rows();
    dialog.reject();
  });
  listed.sort();
  EXPECT_EQ(listed.join('|').toStdString(), "Download Log.txt|Upload Log.txt|older logs");
  EXPECT_EQ(all, 7);
}

// The first log question offers history files beside the logs, the upload question does not. The
// filter chosen last stays chosen where it is still offered, in the next run too; a folder of
// server logs alone opens on theirs, unless another filter than the classic one was chosen.
TEST_F(QtInteractionTest, FiltersForEachKindTheLastOneChosenOrTheOneTheFolderNeeds) {
  QSettings().clear();
  for (const char* sub : {"server", "both", "classic"})
    std::filesystem::create_directory(folder.Path() / sub);
  for (const char* name : {"server/mobius.log.1.gz", "server/notes.txt", "both/mobius.log",
                           "both/Upload Log.txt", "classic/Upload Log.txt", "notes.txt"})
    folder.Write(name, "");
  const auto in = [&](const char* sub) { return folder.Path() / sub; };
  const QString logs = "Hotline Log Files (Download?Log.txt Upload?Log.txt)";
  const QString servers = "Server Log Files (*.log *.log.* *.gz)";
  const QString history = "History files (*.db *.sqlite *.sqlite3 *.quorvane)";
  const QString all = "All Files (*)";
  // Asks in `in` and answers with the filter of index `choose` (-1: as it opened); what it offered.
  const auto ask = [&](QtInteraction& asker, const std::filesystem::path& where, bool orHistory,
                       int choose) {
    QFileDialog& files = asker.Dialog();
    QString seen;
    QTimer::singleShot(0, &files, [&] {
      seen = files.nameFilters().join(';') + " > " + files.selectedNameFilter();
      if (choose >= 0)
        files.selectNameFilter(files.nameFilters()[choose]);
      files.reject();
    });
    asker.ChooseLogFiles("Choose", QString::fromStdString(where.string()), {}, orHistory);
    return seen.toStdString();
  };
  const std::string offered = (logs + ';' + servers + ';' + all).toStdString();
  const std::string offeredFirst = (logs + ';' + servers + ';' + history + ';' + all).toStdString();
  EXPECT_EQ(ask(interaction, folder.Path(), true, 2), offeredFirst + " > Hotline Log Files");
  EXPECT_EQ(ask(interaction, folder.Path(), true, -1), offeredFirst + " > History files");
  EXPECT_EQ(ask(interaction, folder.Path(), false, 1), offered + " > Hotline Log Files");
  EXPECT_EQ(ask(interaction, folder.Path(), false, 2), offered + " > Server Log Files");
  QWidget nextRun;
  QtInteraction next(&nextRun);
  EXPECT_EQ(ask(next, folder.Path(), false, 0), offered + " > All Files");
  EXPECT_EQ(ask(next, in("server"), false, -1), offered + " > Server Log Files");
  EXPECT_EQ(ask(next, in("both"), false, -1), offered + " > Server Log Files");
  EXPECT_EQ(ask(next, in("classic"), false, 2), offered + " > Hotline Log Files");
  EXPECT_EQ(ask(next, in("server"), false, -1), offered + " > All Files");
}

}  // namespace
}  // namespace quorvane
