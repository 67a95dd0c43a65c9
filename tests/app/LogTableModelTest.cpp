#include <gtest/gtest.h>

#include <QAbstractItemModelTester>
#include <QSignalSpy>

#include "app/LogTableModel.h"
#include "support/TempLogs.h"

namespace {

using quorvane::testing::Rows;
using quorvane::testing::TableOf;

const QStringList kHeaders = {"Date/Time", "Address", "Account", "Name", "File Name"};

class LogTableModelTest : public ::testing::Test {
 protected:
  LogTableModelTest() : model(kHeaders), tester(&model) {}

  QStringList Column(int column) {
    QStringList cells;
    for (int row = 0; row < model.rowCount(); ++row) {
      cells.push_back(model.index(row, column).data().toString());
    }
    return cells;
  }

  LogTableModel model;
  QAbstractItemModelTester tester;
};

TEST_F(LogTableModelTest, ShowsEveryCellOfTheTableUnderItsHeaders) {
  model.SetTable(TableOf({{"01/11/2026 08:00:00", "198.51.100.40", "guest", "Ödön", "a b.sit"},
                          {"t2", "", "", "", ""}}));
  ASSERT_EQ(model.rowCount(), 2);
  ASSERT_EQ(model.columnCount(), 5);
  for (int column = 0; column < 5; ++column) {
    EXPECT_EQ(model.headerData(column, Qt::Horizontal).toString(), kHeaders[column]);
  }
  EXPECT_EQ(model.index(0, 0).data().toString(), "01/11/2026 08:00:00");
  EXPECT_EQ(model.index(0, 1).data().toString(), "198.51.100.40");
  EXPECT_EQ(model.index(0, 2).data().toString(), "guest");
  EXPECT_EQ(model.index(0, 3).data().toString(), "Ödön");
  EXPECT_EQ(model.index(0, 4).data().toString(), "a b.sit");
  EXPECT_EQ(model.index(1, 1).data().toString(), "");
  EXPECT_FALSE(model.flags(model.index(0, 0)) & Qt::ItemIsEditable);
}

TEST_F(LogTableModelTest, ANewTableReplacesTheOldOneWhole) {
  model.SetTable(TableOf(Rows({{"a", "ann"}, {"b", "bob"}})));
  QSignalSpy resets(&model, &QAbstractItemModel::modelReset);
  model.SetTable(TableOf(Rows({{"c", "cy"}})));
  EXPECT_EQ(resets.count(), 1);
  EXPECT_EQ(Column(3), QStringList{"cy"});
}

TEST_F(LogTableModelTest, RemovingARowMovesTheRowsBehindItUp) {
  model.SetTable(TableOf(Rows({{"a", "ann"}, {"b", "bob"}, {"c", "cy"}})));
  QSignalSpy removed(&model, &QAbstractItemModel::rowsRemoved);
  model.RemoveTableRow(1);
  EXPECT_EQ(Column(3), QStringList({"ann", "cy"}));
  ASSERT_EQ(removed.count(), 1);
  EXPECT_EQ(removed.at(0).at(1).toInt(), 1);
  model.RemoveTableRow(5);
  model.RemoveTableRow(-1);
  EXPECT_EQ(removed.count(), 1);
}

TEST_F(LogTableModelTest, RenamingRewritesMatchingNamesAndTellsTheViews) {
  model.SetTable(TableOf(Rows({{"a", "joe32"}, {"b", "Joe32"}, {"c", "joe32"}})));
  QSignalSpy changed(&model, &QAbstractItemModel::dataChanged);
  EXPECT_EQ(model.RenameUser("joe32", "joe2000"), 2u);
  EXPECT_EQ(Column(3), QStringList({"joe2000", "Joe32", "joe2000"}));
  ASSERT_EQ(changed.count(), 1);
  EXPECT_EQ(model.RenameUser("nobody", "x"), 0u);
  EXPECT_EQ(changed.count(), 1);
}

}  // namespace
