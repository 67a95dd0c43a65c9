#include <QComboBox>
#include <QTableView>
#include <QTest>

#include "app/LogTableModel.h"
#include "support/MainWindowFixture.h"

namespace {

using quorvane::testing::Rows;

class Backspace : public MainWindowFixture {
 protected:
  void SetUp() override {
    LoadLogs(Rows({{"a", "ann"}, {"b", "bob"}, {"c", "cy"}}), Rows({{"d", "dee"}, {"e", "eve"}}));
    downloads = Control<QTableView>("lvwDownloadLog");
    uploads = Control<QTableView>("lvwUploadLog");
  }
  static QStringList Names(QTableView* list) {
    QStringList names;
    for (int row = 0; row < list->model()->rowCount(); ++row) {
      names.push_back(list->model()->index(row, 3).data().toString());
    }
    return names;
  }
  static void Select(QTableView* list, int row) {
    list->setFocus();
    list->setCurrentIndex(list->model()->index(row, 0));
  }

  QTableView* downloads = nullptr;
  QTableView* uploads = nullptr;
};

TEST_F(Backspace, RemovesTheSelectedRowOfThatListOnly) {
  Select(downloads, 1);
  QTest::keyClick(downloads, Qt::Key_Backspace);
  EXPECT_EQ(Names(downloads), QStringList({"ann", "cy"}));
  EXPECT_EQ(Names(uploads), QStringList({"dee", "eve"}));
  // Nothing else follows: the user list keeps the removed row's name.
  EXPECT_NE(Control<QComboBox>("cboUsers")->findText("bob"), -1);

  Select(uploads, 0);
  QTest::keyClick(uploads, Qt::Key_Backspace);
  EXPECT_EQ(Names(uploads), QStringList({"eve"}));
  EXPECT_EQ(Names(downloads), QStringList({"ann", "cy"}));
}

TEST_F(Backspace, HeldDownRemovesOneRowPerRepeat) {
  Select(downloads, 0);
  QTest::keyPress(downloads, Qt::Key_Backspace);
  QTest::sendKeyEvent(QTest::Press, downloads, Qt::Key_Backspace, QChar(8), Qt::NoModifier);
  EXPECT_EQ(Names(downloads), QStringList({"cy"}));
  QTest::keyRelease(downloads, Qt::Key_Backspace);
}

TEST_F(Backspace, AnyOtherKeyRemovesNothing) {
  Select(downloads, 1);
  for (Qt::Key key : {Qt::Key_Delete, Qt::Key_A, Qt::Key_Space, Qt::Key_Escape, Qt::Key_Return}) {
    QTest::keyClick(downloads, key);
    EXPECT_EQ(downloads->model()->rowCount(), 3) << key;
  }
}

TEST_F(Backspace, WithNoRowSelectedRemovesNothing) {
  downloads->setFocus();
  downloads->clearSelection();
  QTest::keyClick(downloads, Qt::Key_Backspace);
  EXPECT_EQ(Names(downloads), QStringList({"ann", "bob", "cy"}));
}

TEST_F(Backspace, OnAnEmptyTableDoesNothing) {
  LoadLogs({}, Rows({{"d", "dee"}}));
  downloads->setFocus();
  QTest::keyClick(downloads, Qt::Key_Backspace);
  EXPECT_EQ(downloads->model()->rowCount(), 0);
}

TEST_F(Backspace, TheNextAnalyzeCountsTheShortenedTable) {
  Select(downloads, 2);
  QTest::keyClick(downloads, Qt::Key_Backspace);
  EXPECT_EQ(Names(downloads), QStringList({"ann", "bob"}));
  Click("cmdAnalyzeLog");
  EXPECT_EQ(Text("lblTotalDownloads"), "2");
}

}  // namespace
