#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

#include "app/frmAbout.h"
#include "support/FakeInteraction.h"

namespace {

QString LabelText(const QDialog& dialog, const char* name) {
  const auto* label = dialog.findChild<QLabel*>(name);
  return label != nullptr ? label->text() : QStringLiteral("<missing %1>").arg(name);
}

QPushButton* Button(const QDialog& dialog, const char* name) {
  return dialog.findChild<QPushButton*>(name);
}

TEST(About, ShowsTheProgramsTitleVersionAndDescription) {
  FakeInteraction ui;
  frmAbout about(ui);
  EXPECT_EQ(about.objectName(), "frmAbout");
  EXPECT_EQ(about.windowTitle(), "About Quorvane");
  EXPECT_EQ(LabelText(about, "lblTitle"), "Quorvane");
  EXPECT_EQ(LabelText(about, "lblVersion"), "Version 1.1.3");
  EXPECT_EQ(LabelText(about, "lblDescription"),
            "Ever wish that you could make sense of those Hotline Server logs? Well now you can! "
            "Simply click \"Load Logs,\" select your log files, then click \"Analyze,\" and you "
            "will see a Upload/Download report right before your eyes.  Select a user from the "
            "combo box to get details on that user's activity!");
  EXPECT_FALSE(LabelText(about, "lblDisclaimer").isEmpty());
  ASSERT_NE(Button(about, "cmdOK"), nullptr);
  ASSERT_NE(Button(about, "cmdSysInfo"), nullptr);
  EXPECT_EQ(Button(about, "cmdOK")->text(), "OK");
  EXPECT_EQ(Button(about, "cmdSysInfo")->text(), "&System Info...");
  EXPECT_TRUE(Button(about, "cmdOK")->isDefault());
  EXPECT_FALSE(about.windowIcon().isNull());
  const auto* icon = about.findChild<QLabel*>("picIcon");
  ASSERT_NE(icon, nullptr);
  EXPECT_FALSE(icon->pixmap().isNull());
}

TEST(About, HasAFixedSizeAndRoomForItsTexts) {
  FakeInteraction ui;
  frmAbout about(ui);
  about.show();
  EXPECT_EQ(about.minimumSize(), about.maximumSize()) << "not resizable";
  EXPECT_FALSE(about.windowFlags().testFlag(Qt::WindowMaximizeButtonHint));
  EXPECT_FALSE(about.windowFlags().testFlag(Qt::WindowMinimizeButtonHint));
  // At least the designed 5730 x 3555 twips, and no wrapped text cut off.
  EXPECT_GE(about.width(), 382);
  EXPECT_GE(about.height(), 237);
  for (const char* name : {"lblDescription", "lblDisclaimer"}) {
    const auto* label = about.findChild<QLabel*>(name);
    EXPECT_GE(label->height(), label->heightForWidth(label->width())) << name;
  }
}

TEST(About, FocusStartsOnOkAndTabGoesToSystemInfo) {
  FakeInteraction ui;
  frmAbout about(ui);
  about.show();
  about.activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&about));
  EXPECT_EQ(about.focusWidget(), Button(about, "cmdOK"));
  QTest::keyClick(about.focusWidget(), Qt::Key_Tab);
  EXPECT_EQ(about.focusWidget(), Button(about, "cmdSysInfo"));
  QTest::keyClick(about.focusWidget(), Qt::Key_Tab);
  EXPECT_EQ(about.focusWidget(), Button(about, "cmdOK")) << "labels take no focus";
}

TEST(About, EnterEscapeOkAndTheCloseButtonCloseIt) {
  const std::vector<std::pair<const char*, std::function<void(frmAbout&)>>> ways = {
      {"Enter", [](frmAbout& about) { QTest::keyClick(&about, Qt::Key_Return); }},
      {"keypad Enter", [](frmAbout& about) { QTest::keyClick(&about, Qt::Key_Enter); }},
      {"Escape", [](frmAbout& about) { QTest::keyClick(&about, Qt::Key_Escape); }},
      {"OK", [](frmAbout& about) { QTest::mouseClick(Button(about, "cmdOK"), Qt::LeftButton); }},
      {"close button", [](frmAbout& about) { about.close(); }},
  };
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

}  // namespace
