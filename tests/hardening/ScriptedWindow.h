#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QPushButton>
#include <QString>
#include <QStringList>
#include <QTest>
#include <deque>
#include <filesystem>
#include <memory>
#include <optional>
#include <vector>

#include "app/Interaction.h"
#include "app/frmMain.h"

namespace quorvane::testing {

// Stands in for the person at the window: answers the file questions from a queue (an empty
// queue answers Cancel), says Yes to every question, and keeps every message and pointer change.
class ScriptedPerson : public Interaction {
 public:
  std::optional<QString> ChooseLogFile(const QString&, const QString&) override {
    if (files.empty())
      return std::nullopt;
    QString file = files.front();
    files.pop_front();
    return file;
  }
  std::optional<QString> ChooseSaveFile(const QString&, const QString&, const QString&) override {
    return std::nullopt;
  }
  void ShowMessage(const QString&, const QString& text) override { messages << text; }
  bool AskYesNo(const QString&, const QString&) override { return true; }
  void ShowNotice(const QString&, const QString& text) override { notices << text; }
  void SetBusy(bool busy) override { busyChanges.push_back(busy); }
  void Quit() override {}

  std::deque<QString> files;
  QStringList messages;
  QStringList notices;
  std::vector<bool> busyChanges;
};

// The real main window, shown under the offscreen platform, with a scripted person.
class ScriptedWindow : public ::testing::Test {
 protected:
  ScriptedWindow() {
    auto scripted = std::make_unique<ScriptedPerson>();
    person = scripted.get();
    window = std::make_unique<frmMain>(std::move(scripted));
    window->show();
    EXPECT_TRUE(QTest::qWaitForWindowExposed(window.get()));
  }

  template <typename Widget>
  Widget* Control(const char* name) {
    auto* widget = window->findChild<Widget*>(QString::fromLatin1(name));
    EXPECT_NE(widget, nullptr) << name;
    return widget;
  }
  void Click(const char* name) { QTest::mouseClick(Control<QPushButton>(name), Qt::LeftButton); }
  // Presses Load Logs and answers the two questions with these files.
  void LoadLogs(const std::filesystem::path& downloads, const std::filesystem::path& uploads) {
    person->files.push_back(QString::fromStdString(downloads.string()));
    person->files.push_back(QString::fromStdString(uploads.string()));
    Click("cmdLoadLogs");
  }

  ScriptedPerson* person = nullptr;  // owned by the window
  std::unique_ptr<frmMain> window;
};

}  // namespace quorvane::testing
