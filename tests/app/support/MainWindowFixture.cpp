#include "support/MainWindowFixture.h"

#include <QComboBox>
#include <QLabel>
#include <QLocale>
#include <QPushButton>
#include <QTest>

MainWindowFixture::MainWindowFixture() {
  // Figures are written with the locale's decimal separator; tests pin it.
  QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
  auto interaction = std::make_unique<FakeInteraction>();
  fake = interaction.get();
  window = std::make_unique<frmMain>(std::move(interaction));
  window->show();
  EXPECT_TRUE(QTest::qWaitForWindowExposed(window.get()));
}

MainWindowFixture::~MainWindowFixture() {
  QLocale::setDefault(previousLocale);
}

QString MainWindowFixture::Text(const char* labelName) {
  auto* label = Control<QLabel>(labelName);
  return label ? label->text() : QString();
}

QString MainWindowFixture::WriteLog(const std::string& fileName, const LogRows& rows) {
  return QString::fromStdString(folder.Write(fileName, quorvane::testing::LogText(rows)).string());
}

void MainWindowFixture::LoadLogs(const LogRows& downloads, const LogRows& uploads) {
  fake->answers.push_back(WriteLog("Download Log.txt", downloads));
  fake->answers.push_back(WriteLog("Upload Log.txt", uploads));
  Click("cmdLoadLogs");
}

void MainWindowFixture::Click(const char* buttonName) {
  if (auto* button = Control<QPushButton>(buttonName))
    QTest::mouseClick(button, Qt::LeftButton);
}

void MainWindowFixture::ChooseUser(const QString& name) {
  auto* users = Control<QComboBox>("cboUsers");
  if (users == nullptr)
    return;
  const int target = users->findText(name, Qt::MatchExactly | Qt::MatchCaseSensitive);
  ASSERT_NE(target, -1) << name.toStdString();
  users->setFocus();
  if (users->currentIndex() == -1)
    QTest::keyClick(users, Qt::Key_Home);
  while (users->currentIndex() < target)
    QTest::keyClick(users, Qt::Key_Down);
  while (users->currentIndex() > target)
    QTest::keyClick(users, Qt::Key_Up);
}
