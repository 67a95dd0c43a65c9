#include <gtest/gtest.h>

#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <functional>

#include "app/SysInfoLauncher.h"
#include "app/frmAbout.h"
#include "support/FakeInteraction.h"

namespace quorvane {
namespace {

TEST(About, ShowsTheProgramsTitleAndVersionWithRoomForItsTexts) {
  FakeInteraction ui;
  frmAbout about(ui);
  about.show();
  about.activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&about));
  const auto text = [&](const char* name) { return about.findChild<QLabel*>(name)->text(); };
  EXPECT_EQ(about.windowTitle(), "About Quorvane");
  EXPECT_EQ(text("lblTitle"), "Quorvane");
  EXPECT_EQ(text("lblVersion"), "Version 1.1.3");
  EXPECT_FALSE(about.findChild<QLabel*>("picIcon")->pixmap().isNull());
  EXPECT_EQ(about.minimumSize(), about.maximumSize()) << "not resizable";
  for (const char* name : {"lblDescription", "lblDisclaimer"}) {
    const auto* label = about.findChild<QLabel*>(name);
    EXPECT_GE(label->height(), label->heightForWidth(label->width())) << name << " is cut off";
  }
  EXPECT_EQ(about.focusWidget()->objectName(), "cmdOK");
  QTest::keyClick(about.focusWidget(), Qt::Key_Tab);
  EXPECT_EQ(about.focusWidget()->objectName(), "cmdSysInfo");
}

TEST(About, EnterEscapeOkAndTheCloseButtonCloseIt) {
  const std::vector<std::pair<const char*, std::function<void(frmAbout&)>>> ways = {
      {"Enter", [](frmAbout& about) { QTest::keyClick(&about, Qt::Key_Return); }},
      {"keypad Enter", [](frmAbout& about) { QTest::keyClick(&about, Qt::Key_Enter); }},
      {"Escape", [](frmAbout& about) { QTest::keyClick(&about, Qt::Key_Escape); }},
      {"OK", [](frmAbout& about) { about.findChild<QPushButton*>("cmdOK")->click(); }},
      {"close button", [](frmAbout& about) { about.close(); }}};
  for (const auto& [name, close] : ways) {
    SCOPED_TRACE(name);
    FakeInteraction ui;
    frmAbout about(ui);
    QSignalSpy finished(&about, &QDialog::finished);
    about.show();
    close(about);
    EXPECT_FALSE(about.isVisible());
    EXPECT_EQ(finished.count(), 1);
    EXPECT_TRUE(ui.notices.empty());
  }
}

// The button says so when the lookup finds nothing to start.
TEST(About, SystemInfoSaysWhenItIsUnavailable) {
  sysinfo::SearchPathKeyStore nowhere({}, {});
  FakeInteraction ui;
  frmAbout about(ui);
  about.UseSysInfo(nowhere, sysinfo::SystemLauncher());
  about.show();
  QTest::mouseClick(about.findChild<QPushButton*>("cmdSysInfo"), Qt::LeftButton);
  EXPECT_EQ(ui.notices.join('\n'), "Quorvane|System Information Is Unavailable At This Time");
  EXPECT_TRUE(about.isVisible());
  EXPECT_FALSE(sysinfo::SystemLauncher().Start(""));
  EXPECT_FALSE(sysinfo::SystemLauncher().Start("/no/such/program"));
}

}  // namespace
}  // namespace quorvane
