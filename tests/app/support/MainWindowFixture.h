#pragma once

#include <gtest/gtest.h>

#include <QAbstractItemModelTester>
#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QLocale>
#include <QProgressBar>
#include <QPushButton>
#include <QSettings>
#include <QTableView>
#include <QTest>
#include <QTimer>
#include <functional>
#include <map>
#include <memory>
#include <tuple>

#include "app/BarProgress.h"
#include "app/LogTableModel.h"
#include "app/frmMain.h"
#include "support/FakeInteraction.h"
#include "support/TempLogs.h"

namespace quorvane {

// Records the values a progress bar takes while it lives.
class BarWatch {
 public:
  explicit BarWatch(QProgressBar* bar) : bar_(bar) {
    connection_ = QObject::connect(bar, &QProgressBar::valueChanged, bar, [this](int value) {
      if (value > 0)
        peaks_[bar_->maximum()] = std::max(peaks_[bar_->maximum()], value);
      movedHidden_ = movedHidden_ || (value > 0 && !bar_->isVisible());
    });
  }
  ~BarWatch() { QObject::disconnect(connection_); }
  BarWatch(const BarWatch&) = delete;
  BarWatch& operator=(const BarWatch&) = delete;

  // The bar went up to `maximum`, its maximum, only while shown, and is hidden again at 0 (with 0
  // it did not run); with `readBytes` it first ran over the bytes of a log being read.
  void ExpectRanTo(int maximum, bool readBytes = false) const {
    std::map<int, int> expected;
    if (readBytes)
      expected[BarProgress::kByteSteps] = BarProgress::kByteSteps;
    if (maximum > 0)
      expected[maximum] = maximum;
    const std::string name = bar_->objectName().toStdString();
    EXPECT_EQ(peaks_, expected) << name;
    EXPECT_FALSE(movedHidden_) << name;
    EXPECT_FALSE(bar_->isVisible()) << name;
    EXPECT_EQ(bar_->value(), 0) << name;
  }

 private:
  QProgressBar* bar_;
  QMetaObject::Connection connection_;
  std::map<int, int> peaks_;  // the highest value seen under each maximum
  bool movedHidden_ = false;
};

// The real main window, shown under the offscreen platform, with a fake in place of the person's
// answers and a folder for the logs a test writes.
class MainWindowFixture : public ::testing::Test {
 public:
  using LogRows = std::vector<std::vector<std::string>>;

  static QStringList Entries(const QComboBox* list) {
    QStringList entries;
    for (int i = 0; i < list->count(); ++i)
      entries << list->itemText(i);
    return entries;
  }
  // The Name column of a log table, row by row.
  static QStringList Names(const LogTableModel& log) {
    QStringList names;
    for (int row = 0; row < log.rowCount(); ++row)
      names << log.data(log.index(row, 3)).toString();
    return names;
  }

 protected:
  MainWindowFixture() {
    // Figures are written with the locale's decimal separator; tests pin it.
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    QSettings().clear();  // each test starts from nothing remembered
    auto interaction = std::make_unique<FakeInteraction>();
    fake = interaction.get();
    window = std::make_unique<frmMain>(std::move(interaction));
    for (auto [checker, list] : {std::pair{&downloadChecker, "lvwDownloadLog"},
                                 std::pair{&uploadChecker, "lvwUploadLog"}}) {
      *checker = std::make_unique<QAbstractItemModelTester>(
          Control<QTableView>(list)->model(),
          QAbstractItemModelTester::FailureReportingMode::Fatal);
    }
    window->show();
    EXPECT_TRUE(QTest::qWaitForWindowExposed(window.get()));
  }
  // A test's callback captures its locals, gone once it ends: the window outlives them.
  void TearDown() override { fake->duringQuestion = nullptr; }
  ~MainWindowFixture() override { QLocale::setDefault(previousLocale); }

  // A child of the window by control name; fails the test when there is none.
  template <typename Widget>
  Widget* Control(const char* name) {
    auto* widget = window->findChild<Widget*>(QString::fromLatin1(name));
    EXPECT_NE(widget, nullptr) << name;
    return widget;
  }
  QString Text(const char* labelName) { return Control<QLabel>(labelName)->text(); }
  QStringList Users() { return Entries(Control<QComboBox>("cboUsers")); }

  // Writes a log file into the test's folder and returns its path.
  QString WriteLog(const std::string& fileName, const LogRows& rows) {
    return QString::fromStdString(folder.Write(fileName, testing::LogText(rows)).string());
  }
  // Presses Load Logs and answers the two questions with these files, or with logs of these rows.
  void LoadFiles(const QString& downloads, const QString& uploads) {
    fake->answers = {downloads, uploads};
    Click("cmdLoadLogs");
  }
  void LoadLogs(const LogRows& downloads, const LogRows& uploads) {
    LoadFiles(WriteLog("Download Log.txt", downloads), WriteLog("Upload Log.txt", uploads));
  }
  void Click(const char* name) { QTest::mouseClick(Control<QPushButton>(name), Qt::LeftButton); }
  // Presses a button that may open a modal dialog: `inDialog` gets the open dialog (nullptr when
  // none opened) and must close it.
  void ClickModal(const char* buttonName, const std::function<void(QWidget*)>& inDialog) {
    bool ran = false;
    QTimer::singleShot(0, window.get(), [&] {
      ran = true;
      inDialog(QApplication::activeModalWidget());
    });
    Click(buttonName);
    EXPECT_TRUE(QTest::qWaitFor([&] { return ran; }));
  }
  // Picks an entry of the user list as a person does, with the keyboard.
  void ChooseUser(const QString& name) {
    auto* users = Control<QComboBox>("cboUsers");
    const int target = users->findText(name, Qt::MatchExactly | Qt::MatchCaseSensitive);
    ASSERT_GT(target, -1) << name.toStdString();
    users->setFocus();
    QTest::keyClick(users, Qt::Key_Home);
    for (int i = 0; i < target; ++i)
      QTest::keyClick(users, Qt::Key_Down);
  }

  QLocale previousLocale;
  testing::TempDir folder;
  FakeInteraction* fake = nullptr;  // owned by the window
  std::unique_ptr<frmMain> window;
  // Qt's model checker on both log lists ends the run when a change is told inconsistently.
  std::unique_ptr<QAbstractItemModelTester> downloadChecker, uploadChecker;
};

}  // namespace quorvane
