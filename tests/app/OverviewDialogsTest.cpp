// The Users Overview with the real dialogs: whatever a person answers, the overview stays in front
// with the keyboard focus where it was.
#include <QFileDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QTabWidget>
#include <deque>

#include "app/frmUsersOverview.h"
#include "support/MainWindowFixture.h"

namespace quorvane {
namespace {

using Step = std::function<void(QDialog&)>;

Step Press(QMessageBox::StandardButton button) {
  return [button](QDialog& dialog) {
    auto* box = qobject_cast<QMessageBox*>(&dialog);
    ASSERT_NE(box, nullptr) << dialog.windowTitle().toStdString();
    box->button(button)->click();
  };
}
const Step kCancel = [](QDialog& dialog) { dialog.reject(); };
Step SaveAs(const QString& path) {
  return [path](QDialog& dialog) {
    auto* files = qobject_cast<QFileDialog*>(&dialog);
    ASSERT_NE(files, nullptr) << dialog.windowTitle().toStdString();
    files->findChild<QLineEdit*>("fileNameEdit")->setText(path);  // as typed
    dialog.accept();
  };
}

class OverviewDialogs : public ::testing::Test {
 protected:
  void SetUp() override {
    QSettings().clear();
    window = std::make_unique<frmMain>();
    const auto log = [this](const char* name, const std::string& names) {
      std::vector<std::pair<std::string, std::string>> rows;
      for (const QString& user : QString::fromStdString(names).split(' '))
        rows.push_back({user.toStdString(), user.toStdString()});
      return QString::fromStdString(
          folder.Write(name, testing::LogText(testing::Rows(rows))).string());
    };
    downloads = log("Download Log.txt", "ann bob cy ann");
    window->show();
    ASSERT_TRUE(window->LoadLog(downloads, log("Upload Log.txt", "ann cy")));
    QTest::mouseClick(window->findChild<QPushButton*>("cmdUsersOverview"), Qt::LeftButton);
    overview = window->findChild<frmUsersOverview*>();
    ASSERT_NE(overview, nullptr);
    QTest::qWait(50);  // the main window's own activation after the load is over
    overview->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(overview->windowHandle()));
  }
  // Presses the button and answers the dialogs that open, in turn; each must
  // open over the overview, and the overview is in front after with the focus on that button.
  void Answer(const char* button, std::deque<Step> steps) {
    SCOPED_TRACE(button);
    QTimer answerer;
    std::vector<QPointer<QDialog>> answered;  // a dialog is in front again once its question goes
    answerer.callOnTimeout([&] {
      auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
      if (dialog == nullptr || std::count(answered.begin(), answered.end(), dialog) > 0)
        return;
      answered.emplace_back(dialog);
      if (steps.empty()) {
        ADD_FAILURE() << "unexpected dialog " << dialog->windowTitle().toStdString();
        dialog->reject();
        return;
      }
      QWidget* owner = dialog->parentWidget();  // a dialog's own question is over the dialog
      while (qobject_cast<QDialog*>(owner) != nullptr)
        owner = owner->parentWidget();
      EXPECT_EQ(owner, overview) << dialog->windowTitle().toStdString();
      // Answered from a callback of its own, so that a question the answer opens is answered too.
      QTimer::singleShot(0, dialog, [dialog, step = steps.front()] { step(*dialog); });
      steps.pop_front();
    });
    answerer.start(5);
    QTest::mouseClick(overview->findChild<QPushButton*>(button), Qt::LeftButton);
    EXPECT_TRUE(steps.empty()) << steps.size() << " dialogs did not open";
    EXPECT_TRUE(QTest::qWaitFor([&] { return QApplication::activeWindow() == overview; }))
        << (QApplication::activeWindow() ? QApplication::activeWindow()->objectName().toStdString()
                                         : "none");
    EXPECT_EQ(overview->focusWidget(), overview->findChild<QPushButton*>(button));
  }
  QString Saved(const char* name) {
    return QString::fromStdString((folder.Path() / name).string());
  }

  testing::TempDir folder;
  std::unique_ptr<frmMain> window;  // with the real dialogs
  frmUsersOverview* overview = nullptr;
  QString downloads;
};

TEST_F(OverviewDialogs, EveryAnswerLeavesTheOverviewInFrontWithTheFocusWhereItWas) {
  overview->findChild<QLineEdit*>("txtFind")->setText("a");  // 1 user shown of 3: a question
  Answer("cmdExport", {Press(QMessageBox::No)});
  Answer("cmdExport", {Press(QMessageBox::Yes), kCancel});
  Answer("cmdExport", {Press(QMessageBox::Yes), SaveAs(Saved("a.csv"))});
  EXPECT_TRUE(QFileInfo::exists(Saved("a.csv")));
  Answer("cmdExport",
         {Press(QMessageBox::Yes), SaveAs(downloads), Press(QMessageBox::Yes),
          Press(QMessageBox::Ok)});  // replace it? yes; but a log is never written over
  Answer("cmdExportHtml", {kCancel});
  Answer("cmdExportHtml", {SaveAs(Saved("a.html"))});
  EXPECT_TRUE(QFileInfo::exists(Saved("a.html")));
  overview->findChild<QTabWidget*>("tabViews")->setCurrentIndex(1);
  Answer("cmdSaveChart", {kCancel});
  Answer("cmdSaveChart", {SaveAs(Saved("a.png"))});
  EXPECT_TRUE(QFileInfo::exists(Saved("a.png")));
  // Escape still closes it.
  QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
  EXPECT_FALSE(overview->isVisible());
}

}  // namespace
}  // namespace quorvane
