#include <gtest/gtest.h>

#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

#include "app/SysInfoLauncher.h"
#include "app/frmAbout.h"
#include "support/FakeInteraction.h"

namespace quorvane {
namespace {

TEST(About, ShowsTheProgramsTitleAndVersionAndIsNotResizable) {
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
  EXPECT_EQ(about.focusWidget()->objectName(), "cmdOK");
  QTest::keyClick(about.focusWidget(), Qt::Key_Tab);
  EXPECT_EQ(about.focusWidget()->objectName(), "cmdSysInfo");
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
