#include "support/MainWindowFixture.h"

namespace quorvane {
namespace {

using quorvane::testing::Rows;

class Backspace : public MainWindowFixture {
 protected:
  void SetUp() override { Load(); }
  void Load() {
    LoadLogs(Rows({{"a", "ann"}, {"b", "bob"}, {"c", "cy"}}), Rows({{"d", "dee"}, {"e", "eve"}}));
  }
  QTableView* Select(const char* listName, int row) {
    auto* list = Control<QTableView>(listName);
    list->setFocus();
    list->setCurrentIndex(list->model()->index(row, 0));
    return list;
  }
};

TEST_F(Backspace, OnlyCharacterCodeEightRemovesTheSelectedRow) {
  // Each key with the text it types: Backspace and Ctrl+H type character code 8.
  const std::tuple<Qt::Key, const char*, Qt::KeyboardModifiers, bool> keys[] = {
      {Qt::Key_Backspace, "\b", {}, true}, {Qt::Key_H, "\b", Qt::ControlModifier, true},
      {Qt::Key_Backspace, "", {}, false},  {Qt::Key_Delete, "\x7f", {}, false},
      {Qt::Key_A, "a", {}, false},         {Qt::Key_Escape, "\x1b", {}, false}};
  for (const auto& [key, text, modifiers, removes] : keys) {
    SCOPED_TRACE(key);
    Load();
    QTest::sendKeyEvent(QTest::Click, Select("lvwDownloadLog", 1), key, text, modifiers);
    EXPECT_EQ(Names(window->DownloadLog()).join(' '), removes ? "ann cy" : "ann bob cy");
  }
}

TEST_F(Backspace, RemovesOneRowPerRepeatFromThatListOnly) {
  QTableView* downloads = Select("lvwDownloadLog", 0);
  QTest::keyPress(downloads, Qt::Key_Backspace);
  QTest::keyPress(downloads, Qt::Key_Backspace);  // held down: the next row took the selection
  QTest::keyRelease(downloads, Qt::Key_Backspace);
  QTest::keyClick(Select("lvwUploadLog", 0), Qt::Key_Backspace);
  EXPECT_EQ(Names(window->DownloadLog()), QStringList{"cy"});
  EXPECT_EQ(Names(window->UploadLog()), QStringList{"eve"});
  EXPECT_EQ(Users().join(' '), "ann bob cy dee eve") << "the user list is not rebuilt";
  Click("cmdAnalyzeLog");
  EXPECT_EQ(Text("lblTotalDownloads"), "1") << "the next Analyze counts the shortened table";
}

}  // namespace
}  // namespace quorvane
