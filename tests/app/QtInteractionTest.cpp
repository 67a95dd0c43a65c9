#include <gtest/gtest.h>

#include <QApplication>
#include <QFileDialog>
#include <QListView>
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

// The first log question offers history files beside the logs, the upload question does not;
// a filter chosen stays chosen where it is still offered.
TEST_F(QtInteractionTest, HistoryFilesAreOfferedOnlyWhenAskedFor) {
  QStringList seen;
  for (const bool orHistory : {true, true, false}) {
    QTimer::singleShot(0, &dialog, [&] {
      seen << dialog.nameFilters().join(';') + " > " + dialog.selectedNameFilter();
      if (seen.size() == 1)
        dialog.selectNameFilter(dialog.nameFilters()[1]);
      dialog.reject();
    });
    interaction.ChooseLogFiles("Choose", Folder(), {}, orHistory);
  }
  const QString logs = "Hotline Log Files (Download?Log.txt Upload?Log.txt)";
  const QString history = "History files (*.db *.sqlite *.sqlite3 *.quorvane)";
  const QString all = "All Files (*)";
  EXPECT_EQ(seen.join('\n').toStdString(),
            QStringList({logs + ';' + history + ';' + all + " > Hotline Log Files",
                         logs + ';' + history + ';' + all + " > History files",
                         logs + ';' + all + " > Hotline Log Files"})
                .join('\n')
                .toStdString());
}

}  // namespace
}  // namespace quorvane
