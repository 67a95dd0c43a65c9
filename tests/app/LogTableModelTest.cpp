#include <gtest/gtest.h>

#include <QAbstractItemModelTester>
#include <QSignalSpy>

#include "app/LogTableModel.h"
#include "support/TempLogs.h"

namespace quorvane {
namespace {

using quorvane::testing::TableOf;

TEST(LogTableModel, ShowsTheTableReadOnlyAndTellsTheViewsOfEveryChange) {
  LogTableModel model({"Date/Time", "Address", "Account", "Name", "File Name"});
  QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::Fatal);
  QSignalSpy resets(&model, &QAbstractItemModel::modelReset);
  QSignalSpy removed(&model, &QAbstractItemModel::rowsRemoved);
  QSignalSpy changed(&model, &QAbstractItemModel::dataChanged);
  model.SetTable(TableOf({{"t1", "a", "guest", "joe32", "a b.sit"}, {"t2", "", "", "Joe32", ""}}));
  EXPECT_EQ(resets.count(), 1);
  QStringList cells;
  for (int column = 0; column < model.columnCount(); ++column)
    cells << model.headerData(column, Qt::Horizontal).toString() + '=' +
                 model.index(0, column).data().toString();
  EXPECT_EQ(cells.join('|').toStdString(),
            "Date/Time=t1|Address=a|Account=guest|Name=joe32|File Name=a b.sit");
  EXPECT_FALSE(model.flags(model.index(0, 0)) & Qt::ItemIsEditable);
  EXPECT_EQ(model.RenameUser("nobody", "x"), 0u);
  EXPECT_EQ(changed.count(), 0) << "nothing renamed, nothing to tell";
  EXPECT_EQ(model.RenameUser("joe32", "joe2000"), 1u);
  EXPECT_EQ(changed.count(), 1);
  EXPECT_EQ(model.index(0, 3).data().toString(), "joe2000");
  for (int row : {2, -1, 0})  // out of range twice: nothing
    model.RemoveTableRow(row);
  ASSERT_EQ(removed.count(), 1);
  EXPECT_EQ(removed.at(0).at(1).toInt(), 0);
  EXPECT_EQ(model.index(0, 3).data().toString(), "Joe32");
}

}  // namespace
}  // namespace quorvane
