#pragma once

#include <gtest/gtest.h>

#include <QLocale>
#include <QString>
#include <memory>
#include <string>
#include <vector>

#include "app/frmMain.h"
#include "support/FakeInteraction.h"
#include "support/TempLogs.h"

class QLabel;

// The real main window, shown under the offscreen platform, with a fake in place of the person's
// answers and a folder for the logs a test writes.
class MainWindowFixture : public ::testing::Test {
 public:
  using LogRows = std::vector<std::vector<std::string>>;

 protected:
  MainWindowFixture();
  ~MainWindowFixture() override;

  // A child of the window by control name; fails the test when there is none.
  template <typename Widget>
  Widget* Control(const char* name) {
    auto* widget = window->findChild<Widget*>(QString::fromLatin1(name));
    EXPECT_NE(widget, nullptr) << name;
    return widget;
  }
  QString Text(const char* labelName);

  // Writes a log file into the test's folder and returns its path.
  QString WriteLog(const std::string& fileName, const LogRows& rows);
  // Presses Load Logs and answers the two questions with these files.
  void LoadLogs(const LogRows& downloads, const LogRows& uploads);
  void Click(const char* buttonName);
  // Picks an entry of the user list as a person does, with the keyboard.
  void ChooseUser(const QString& name);

  QLocale previousLocale;
  quorvane::testing::TempDir folder;
  FakeInteraction* fake = nullptr;  // owned by the window
  std::unique_ptr<frmMain> window;
};
