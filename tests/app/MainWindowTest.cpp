#include <QAccessible>
#include <QApplication>
#include <QDialog>
#include <QGroupBox>
#include <QTimer>

#include "app/frmAbout.h"
#include "app/frmRenameUsers.h"
#include "support/MainWindowFixture.h"

namespace quorvane {
namespace {

using MainWindow = MainWindowFixture;

// The captions a person reads, each figure named for screen readers by its caption and empty
// until a report, and the log lists' column headers.
TEST_F(MainWindow, ControlsCarryTheirCaptions) {
  QStringList captions;
  for (const char* name :
       {"cmdLoadLogs", "cmdRenameUser", "cmdUsersOverview", "cmdAbout", "cmdExit", "cmdAnalyzeLog"})
    captions << Control<QPushButton>(name)->text();
  for (const char* name : {"fraDownloadLog", "fraUploadLog", "fraAnalyzeLog"})
    captions << Control<QGroupBox>(name)->title();
  for (int label = 1; label <= 21; ++label) {
    if (const auto* caption = window->findChild<QLabel*>("Label" + QString::number(label)))
      captions << caption->text();
  }
  EXPECT_EQ(captions.join('|'),
            "&Load Logs|&Rename Users|Users &Overview...|A&bout|E&xit|&Analyze|Download Log|Upload "
            "Log|Log Analysis|Total Downloads:|Total Uploads:|Total Ratio:|Avg. Ratio:|Avg. "
            "Uploads:|Avg. Downloads:|User Name:|Downloads:|Uploads:|Ratio:|Upload List:|Do you "
            "have an idea of what should go in this space? If so, please send your idea to:");
  for (const char* figure :
       {"lblTotalDownloads", "lblTotalUploads", "lblTotalRatio", "lblAvgDownloads", "lblAvgUploads",
        "lblAvgRatio", "lblUserDownloads", "lblUserUploads", "lblUserRatio"}) {
    EXPECT_EQ(Text(figure), "");
    EXPECT_TRUE(captions.contains(Control<QLabel>(figure)->accessibleDescription() + ':'))
        << figure;
  }
  EXPECT_EQ(window->windowTitle(), "Quorvane");
  // Right-aligned captions keep their designed right edge whatever room the font needs.
  EXPECT_EQ(Control<QLabel>("Label1")->geometry().right() + 1, 91);  // (120 + 1245) / 15
  EXPECT_EQ(Control<QLabel>("Label16")->geometry().right() + 1, 236);
  const auto headers = [](const LogTableModel& log) {
    QStringList texts;
    for (int column = 0; column < log.columnCount(); ++column)
      texts << log.headerData(column, Qt::Horizontal).toString();
    return texts.join(',');
  };
  EXPECT_EQ(headers(window->DownloadLog()), "Date/TIme,Address,Account,Name,File Name");
  EXPECT_EQ(headers(window->UploadLog()), "Date/Time,Address,Account,Name,File Name");
}

TEST_F(MainWindow, TabOrderRunsFromExitAndFocusStartsThere) {
  window->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
  QStringList visited;
  for (int step = 0; step < 12; ++step) {
    visited << QApplication::focusWidget()->objectName();
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
  }
  EXPECT_EQ(visited.join(' '),
            "cmdExit cmdAbout cmdAnalyzeLog cboUsers lstUploads txtEmail lvwDownloadLog "
            "lvwUploadLog cmdLoadLogs cmdRenameUser chkFollow cmdExit");
}

// About opens the About box, Rename Users a dialog once there are users, Exit quits. Closing a
// dialog, however it was opened, gives the focus back to its button, drawn as keyboard focus.
TEST_F(MainWindow, ButtonsOpenTheirDialogsWhichGiveTheFocusBack) {
  QStringList closed;
  QTimer person;  // Escape in each dialog that opens
  QObject::connect(&person, &QTimer::timeout, [&] {
    if (QWidget* dialog = QApplication::activeModalWidget(); dialog && dialog->isVisible()) {
      closed << dialog->windowTitle();
      QTest::keyClick(dialog, Qt::Key_Escape);
    }
  });
  person.start(20);
  Click("cmdRenameUser");
  QTest::qWait(100);
  EXPECT_EQ(closed, QStringList()) << "no dialog while the user list is empty";
  LoadLogs(testing::Rows({{"a", "ann"}}), {});
  window->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
  for (const auto& [button, key] :
       {std::pair{"cmdAbout", Qt::Key_B}, {"cmdRenameUser", Qt::Key_R}}) {
    SCOPED_TRACE(button);
    Control<QPushButton>("cmdExit")->setFocus();
    window->setAttribute(Qt::WA_KeyboardFocusChange, false);
    const qsizetype before = closed.size();
    QTest::keyClick(window.get(), key, Qt::AltModifier);
    ASSERT_TRUE(QTest::qWaitFor([&] { return closed.size() > before; }));
    QTest::qWait(50);
    EXPECT_EQ(QApplication::focusWidget(), Control<QPushButton>(button));
    EXPECT_TRUE(window->testAttribute(Qt::WA_KeyboardFocusChange));
  }
  EXPECT_EQ(closed, QStringList({"About Quorvane", "Rename Users"}));
  EXPECT_EQ(window->findChild<QDialog*>(), nullptr) << "destroyed when closed";
  Click("cmdExit");
  EXPECT_EQ(fake->quits, 1);
}

// What a screen reader is told in each window: every control by a name of its own, every label by
// its text (an empty figure by nothing), the drop-down lists tied to their captions, no lines.
TEST_F(MainWindow, ScreenReadersHearEachControlByItsOwnName) {
  LoadLogs(testing::Rows({{"a", "ann"}}), testing::Rows({{"b", "bob"}}));
  frmAbout about(*fake, window.get());
  frmRenameUsers rename(window->UserNames(), {}, *fake, window.get());
  for (QWidget* top : {static_cast<QWidget*>(window.get()), static_cast<QWidget*>(&about),
                       static_cast<QWidget*>(&rename)}) {
    SCOPED_TRACE(top->objectName().toStdString());
    QStringList names;
    std::function<void(QAccessibleInterface*)> visit = [&](QAccessibleInterface* node) {
      for (int i = 0; i < node->childCount(); ++i) {
        QAccessibleInterface* child = node->child(i);
        QObject* object = child->object();
        const QString name = child->text(QAccessible::Name);
        SCOPED_TRACE(object->objectName().toStdString());
        EXPECT_STRNE(object->metaObject()->className(), "QFrame") << "a line";
        if (const auto* label = qobject_cast<QLabel*>(object)) {
          EXPECT_EQ(name,
                    label->accessibleName().isEmpty() ? label->text() : label->accessibleName());
        } else if (qobject_cast<QComboBox*>(object) != nullptr) {
          EXPECT_FALSE(child->relations(QAccessible::Label).isEmpty()) << "no caption";
          continue;  // its entries are no controls
        } else if (child->role() != QAccessible::Grouping && child->role() != QAccessible::Client) {
          EXPECT_FALSE(name.isEmpty() || names.contains(name)) << name.toStdString();
          names << name;
        }
        if (qobject_cast<QAbstractItemView*>(object) == nullptr)
          visit(child);
      }
    };
    visit(QAccessible::queryAccessibleInterface(top));
  }
  Click("cmdAnalyzeLog");
  EXPECT_EQ(QAccessible::queryAccessibleInterface(Control<QLabel>("lblTotalRatio"))
                ->text(QAccessible::Name),
            "1/1");
}

}  // namespace
}  // namespace quorvane
