#include <gtest/gtest.h>

#include <QApplication>
#include <QFileDialog>
#include <QLineEdit>
#include <QListView>
#include <QTest>
#include <QTimer>
#include <QWidget>
#include <functional>

#include "app/QtInteraction.h"
#include "support/TempLogs.h"

namespace {

// Runs `answer` on the file dialog once it is open; the dialog's own event loop calls it.
void WhenDialogOpens(QFileDialog& dialog, std::function<void()> answer) {
  QTimer::singleShot(0, &dialog, [&dialog, answer] {
    EXPECT_TRUE(QTest::qWaitFor([&] { return dialog.isVisible(); }));
    answer();
  });
}

// The names the dialog lists in its folder, once the folder has been read.
QStringList ListedNames(QFileDialog& dialog) {
  auto* view = dialog.findChild<QListView*>("listView");
  if (view == nullptr)
    return {};
  QStringList names;
  EXPECT_TRUE(QTest::qWaitFor([&] { return view->model()->rowCount(view->rootIndex()) > 0; }));
  QTest::qWait(50);  // let the folder finish loading
  for (int row = 0; row < view->model()->rowCount(view->rootIndex()); ++row) {
    names.push_back(view->model()->index(row, 0, view->rootIndex()).data().toString());
  }
  names.sort();
  return names;
}

class QtInteractionTest : public ::testing::Test {
 protected:
  QtInteractionTest() : interaction(&window) {}

  quorvane::testing::TempDir folder;
  QWidget window;
  QtInteraction interaction;
};

TEST_F(QtInteractionTest, OneDialogAsksUnderEachTitleAndStartsFromTheLastAnswer) {
  const QString download = QString::fromStdString(folder.Write("Download Log.txt", "h\n").string());
  QFileDialog& dialog = interaction.Dialog();
  EXPECT_EQ(dialog.objectName(), "Dialog");
  EXPECT_EQ(dialog.fileMode(), QFileDialog::ExistingFile);

  WhenDialogOpens(dialog, [&] {
    EXPECT_EQ(dialog.windowTitle(), "Choose a Download Log file...");
    dialog.selectFile(download);
    static_cast<QDialog&>(dialog).accept();
  });
  EXPECT_EQ(interaction.ChooseLogFile("Choose a Download Log file..."), download);

  QString presetFolder;
  QStringList presetFile;
  WhenDialogOpens(dialog, [&] {
    EXPECT_EQ(dialog.windowTitle(), "Choose an Upload Log file...");
    presetFolder = dialog.directory().absolutePath();
    presetFile = dialog.selectedFiles();
    dialog.reject();
  });
  EXPECT_EQ(interaction.ChooseLogFile("Choose an Upload Log file..."), std::nullopt);
  EXPECT_EQ(presetFolder, QString::fromStdString(folder.Path().string()));
  EXPECT_EQ(presetFile, QStringList{download});
}

TEST_F(QtInteractionTest, TheFilterListsOnlyTheTwoLogNames) {
  for (const char* name : {"Download Log.txt", "Upload Log.txt", "Download_Log.txt",
                           "download log.txt", "Upload Log.txt.bak", "notes.txt"}) {
    folder.Write(name, "h\n");
  }
  std::filesystem::create_directory(folder.Path() / "older logs");
  QFileDialog& dialog = interaction.Dialog();
  EXPECT_EQ(dialog.nameFilters().size(), 1);
  EXPECT_TRUE(dialog.nameFilters().first().startsWith("Hotline Log Files"));
  dialog.setDirectory(QString::fromStdString(folder.Path().string()));
  QStringList listed;
  WhenDialogOpens(dialog, [&] {
    listed = ListedNames(dialog);
    dialog.reject();
  });
  interaction.ChooseLogFile("Choose a Download Log file...");
  EXPECT_EQ(listed, QStringList({"Download Log.txt", "Upload Log.txt", "older logs"}));
}

TEST_F(QtInteractionTest, TheBusyPointerIsTheWindows) {
  interaction.SetBusy(true);
  EXPECT_EQ(window.cursor().shape(), Qt::WaitCursor);
  interaction.SetBusy(false);
  EXPECT_EQ(window.cursor().shape(), Qt::ArrowCursor);
}

}  // namespace
