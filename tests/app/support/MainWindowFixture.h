#pragma once

#include <gtest/gtest.h>

#include <QAbstractItemModelTester>
#include <QComboBox>
#include <QLabel>
#include <QLocale>
#include <QProgressBar>
#include <QPushButton>
#include <QTableView>
#include <QTest>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "app/BarProgress.h"
#include "app/LogTableModel.h"
#include "app/frmMain.h"
#include "support/FakeInteraction.h"
#include "support/TempLogs.h"

namespace quorvane {

// Records the values a progress bar takes while it lives.
class BarWatch {
 public:
  explicit BarWatch(QProgressBar* bar);
  ~BarWatch() { QObject::disconnect(connection_); }
  BarWatch(const BarWatch&) = delete;
  BarWatch& operator=(const BarWatch&) = delete;

  // The bar went up to `maximum`, its maximum, only while shown, and is hidden again at 0 (with 0
  // it did not run); with `readBytes` it first ran over the bytes of a log being read.
  void ExpectRanTo(int maximum, bool readBytes = false) const;

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

  static QStringList Entries(const QComboBox* list);
  // The Name column of a log table, row by row.
  static QStringList Names(const LogTableModel& log);

 protected:
  MainWindowFixture();
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
  QString WriteLog(const std::string& fileName, const LogRows& rows);
  // Presses Load Logs and answers the two questions with these files.
  void LoadLogs(const LogRows& downloads, const LogRows& uploads);
  void Click(const char* name) { QTest::mouseClick(Control<QPushButton>(name), Qt::LeftButton); }
  // Presses a button that may open a modal dialog: `inDialog` gets the open dialog (nullptr when
  // none opened) and must close it.
  void ClickModal(const char* buttonName, const std::function<void(QWidget*)>& inDialog);
  // Picks an entry of the user list as a person does, with the keyboard.
  void ChooseUser(const QString& name);

  QLocale previousLocale;
  testing::TempDir folder;
  FakeInteraction* fake = nullptr;  // owned by the window
  std::unique_ptr<frmMain> window;
  // Qt's model checker on both log lists ends the run when a change is told inconsistently.
  std::unique_ptr<QAbstractItemModelTester> downloadChecker, uploadChecker;
};

}  // namespace quorvane
