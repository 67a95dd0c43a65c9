#include <QAccessible>
#include <QApplication>
#include <QClipboard>
#include <QDialog>
#include <QGroupBox>
#include <QLineEdit>
#include <QTimer>

#include "app/frmAbout.h"
#include "app/frmRenameUsers.h"
#include "support/MainWindowFixture.h"

namespace quorvane {
namespace {

using MainWindow = MainWindowFixture;

TEST_F(MainWindow, ControlsCarryTheirNamesAndCaptions) {
  using Captions = std::vector<std::pair<const char*, QString>>;
  const Captions buttonsAndFrames = {{"cmdLoadLogs", "&Load Logs"},
                                     {"cmdRenameUser", "&Rename Users"},
                                     {"cmdUsersOverview", "Users &Overview..."},
                                     {"cmdAbout", "A&bout"},
                                     {"cmdExit", "E&xit"},
                                     {"cmdAnalyzeLog", "&Analyze"},
                                     {"fraDownloadLog", "Download Log"},
                                     {"fraUploadLog", "Upload Log"},
                                     {"fraAnalyzeLog", "Log Analysis"}};
  for (const auto& [name, caption] : buttonsAndFrames) {
    const auto* frame = window->findChild<QGroupBox*>(name);
    EXPECT_EQ(frame ? frame->title() : Control<QPushButton>(name)->text(), caption) << name;
  }
  const Captions labels = {
      {"Label1", "Total Downloads:"}, {"Label2", "Total Uploads:"}, {"Label3", "Total Ratio:"},
      {"Label6", "Avg. Downloads:"},  {"Label5", "Avg. Uploads:"},  {"Label4", "Avg. Ratio:"},
      {"Label13", "User Name:"},      {"Label14", "Downloads:"},    {"Label15", "Uploads:"},
      {"Label16", "Ratio:"},          {"Label20", "Upload List:"}};
  for (const auto& [name, caption] : labels)
    EXPECT_EQ(Text(name), caption) << name;
  // Each report figure, empty until a report, is named for screen readers by its caption.
  const std::vector<std::pair<const char*, const char*>> figures = {
      {"lblTotalDownloads", "Label1"}, {"lblTotalUploads", "Label2"}, {"lblTotalRatio", "Label3"},
      {"lblAvgDownloads", "Label6"},   {"lblAvgUploads", "Label5"},   {"lblAvgRatio", "Label4"},
      {"lblUserDownloads", "Label14"}, {"lblUserUploads", "Label15"}, {"lblUserRatio", "Label16"}};
  for (const auto& [figure, caption] : figures) {
    EXPECT_EQ(Text(figure), "");
    EXPECT_EQ(Control<QLabel>(figure)->accessibleDescription() + ':', Text(caption)) << figure;
  }
  EXPECT_EQ(window->windowTitle(), "Quorvane");
  EXPECT_EQ(
      Text("Label21"),
      "Do you have an idea of what should go in this space? If so, please send your idea to:");
  // Right-aligned captions keep their designed right edge whatever room the font needs.
  EXPECT_EQ(Control<QLabel>("Label1")->geometry().right() + 1, 91);  // (120 + 1245) / 15
  EXPECT_EQ(Control<QLabel>("Label16")->geometry().right() + 1, 236);
  const auto headers = [](const LogTableModel& log) {
    QStringList captions;
    for (int column = 0; column < log.columnCount(); ++column)
      captions << log.headerData(column, Qt::Horizontal).toString();
    return captions.join(',');
  };
  EXPECT_EQ(headers(window->DownloadLog()), "Date/TIme,Address,Account,Name,File Name");
  EXPECT_EQ(headers(window->UploadLog()), "Date/Time,Address,Account,Name,File Name");
}

TEST_F(MainWindow, TabOrderRunsFromExitAndFocusStartsThere) {
  window->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
  QStringList visited;
  for (int step = 0; step < 11; ++step) {
    visited << QApplication::focusWidget()->objectName();
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
  }
  EXPECT_EQ(visited.join(' '),
            "cmdExit cmdAbout cmdAnalyzeLog cboUsers lstUploads txtEmail lvwDownloadLog "
            "lvwUploadLog cmdLoadLogs cmdRenameUser cmdExit");
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

TEST_F(MainWindow, ContactAddressCannotBeChangedButCanBeCopied) {
  auto* email = Control<QLineEdit>("txtEmail");
  const QString address = email->text();
  QApplication::clipboard()->setText("pasted");
  email->setFocus();
  for (const QKeySequence& keys :
       {QKeySequence("x"), QKeySequence(Qt::Key_Backspace), QKeySequence(QKeySequence::Paste),
        QKeySequence(QKeySequence::SelectAll), QKeySequence(QKeySequence::Copy)}) {
    QTest::keySequence(email, keys);
  }
  EXPECT_EQ(email->text(), address);
  EXPECT_EQ(QApplication::clipboard()->text(), address);
  EXPECT_TRUE(address.contains('@'));
}

}  // namespace
}  // namespace quorvane
