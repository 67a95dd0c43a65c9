#include "support/MainWindowFixture.h"

#include <QApplication>
#include <QSettings>
#include <QTimer>
#include <algorithm>

namespace quorvane {

BarWatch::BarWatch(QProgressBar* bar) : bar_(bar) {
  connection_ = QObject::connect(bar, &QProgressBar::valueChanged, bar, [this](int value) {
    if (value > 0) {
      int& peak = peaks_[bar_->maximum()];
      peak = std::max(peak, value);
    }
    movedHidden_ = movedHidden_ || (value > 0 && !bar_->isVisible());
  });
}

void BarWatch::ExpectRanTo(int maximum, bool readBytes) const {
  const std::string name = bar_->objectName().toStdString();
  std::map<int, int> expected;
  if (readBytes)
    expected[BarProgress::kByteSteps] = BarProgress::kByteSteps;
  if (maximum > 0)
    expected[maximum] = maximum;
  EXPECT_EQ(peaks_, expected) << name;
  EXPECT_FALSE(movedHidden_) << name;
  EXPECT_FALSE(bar_->isVisible()) << name;
  EXPECT_EQ(bar_->value(), 0) << name;
}

MainWindowFixture::MainWindowFixture() {
  // Figures are written with the locale's decimal separator; tests pin it.
  QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
  QSettings().clear();  // each test starts from nothing remembered
  auto interaction = std::make_unique<FakeInteraction>();
  fake = interaction.get();
  window = std::make_unique<frmMain>(std::move(interaction));
  const auto checker = [this](const char* list) {
    return std::make_unique<QAbstractItemModelTester>(
        Control<QTableView>(list)->model(), QAbstractItemModelTester::FailureReportingMode::Fatal);
  };
  downloadChecker = checker("lvwDownloadLog");
  uploadChecker = checker("lvwUploadLog");
  window->show();
  EXPECT_TRUE(QTest::qWaitForWindowExposed(window.get()));
}

QStringList MainWindowFixture::Entries(const QComboBox* list) {
  QStringList entries;
  for (int i = 0; i < list->count(); ++i)
    entries << list->itemText(i);
  return entries;
}

QStringList MainWindowFixture::Names(const LogTableModel& log) {
  QStringList names;
  for (int row = 0; row < log.rowCount(); ++row)
    names << log.data(log.index(row, 3)).toString();
  return names;
}

QString MainWindowFixture::WriteLog(const std::string& fileName, const LogRows& rows) {
  return QString::fromStdString(folder.Write(fileName, testing::LogText(rows)).string());
}

void MainWindowFixture::LoadLogs(const LogRows& downloads, const LogRows& uploads) {
  fake->answers.push_back(WriteLog("Download Log.txt", downloads));
  fake->answers.push_back(WriteLog("Upload Log.txt", uploads));
  Click("cmdLoadLogs");
}

void MainWindowFixture::ClickModal(const char* buttonName,
                                   const std::function<void(QWidget*)>& inDialog) {
  bool ran = false;
  QTimer::singleShot(0, window.get(), [&] {
    ran = true;
    inDialog(QApplication::activeModalWidget());
  });
  Click(buttonName);
  EXPECT_TRUE(QTest::qWaitFor([&] { return ran; }));
}

void MainWindowFixture::ChooseUser(const QString& name) {
  auto* users = Control<QComboBox>("cboUsers");
  const int target = users->findText(name, Qt::MatchExactly | Qt::MatchCaseSensitive);
  ASSERT_GT(target, -1) << name.toStdString();
  users->setFocus();
  QTest::keyClick(users, Qt::Key_Home);
  for (int i = 0; i < target; ++i)
    QTest::keyClick(users, Qt::Key_Down);
}

}  // namespace quorvane
