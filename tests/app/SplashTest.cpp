#include <gtest/gtest.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <chrono>
#include <memory>
#include <ostream>

#include "app/basMain.h"
#include "app/frmSplash.h"

using namespace std::chrono_literals;

namespace {

QWidget* TopLevel(const char* objectName) {
  for (QWidget* widget : QApplication::topLevelWidgets()) {
    if (widget->objectName() == QLatin1String(objectName))
      return widget;
  }
  return nullptr;
}

// Main leaves its main window open for the event loop; tests close it again.
void DeleteMainWindow() {
  delete TopLevel("frmMain");
}

TEST(Splash, IsABorderless450By250PictureWithATwoSecondTimer) {
  frmSplash splash;
  EXPECT_EQ(splash.size(), QSize(450, 250));
  EXPECT_TRUE(splash.windowFlags().testFlag(Qt::FramelessWindowHint));
  // A splash window type keeps it out of the task bar.
  EXPECT_EQ(splash.windowType(), Qt::SplashScreen);
  EXPECT_EQ(splash.tmrSplash()->interval(), 2000);
  EXPECT_FALSE(splash.testAttribute(Qt::WA_QuitOnClose));
  EXPECT_EQ(SplashPicture().size(), QSize(450, 250));
  EXPECT_TRUE(splash.findChildren<QWidget*>().isEmpty()) << "no visible control";
}

TEST(Splash, ClickClosesItAtOnce) {
  frmSplash splash;
  QSignalSpy finished(&splash, &QDialog::finished);
  splash.show();
  QTest::mouseClick(&splash, Qt::LeftButton, {}, QPoint(300, 200));
  EXPECT_FALSE(splash.isVisible());
  EXPECT_EQ(finished.count(), 1);
  EXPECT_FALSE(splash.tmrSplash()->isActive());
}

struct KeyCase {
  const char* name;
  Qt::Key key;
  bool closes;
};

// Names the case in test output instead of dumping its bytes.
void PrintTo(const KeyCase& c, std::ostream* os) {
  *os << c.name;
}

class SplashKeyTest : public testing::TestWithParam<KeyCase> {};

TEST_P(SplashKeyTest, OnlyCharacterKeysClose) {
  const KeyCase& c = GetParam();
  frmSplash splash(60ms);
  QSignalSpy finished(&splash, &QDialog::finished);
  splash.show();
  QTest::keyClick(&splash, c.key);
  EXPECT_EQ(splash.isVisible(), !c.closes);
  EXPECT_EQ(splash.tmrSplash()->isActive(), !c.closes);
  // Whatever the key did, the splash closes exactly once: the timer takes it down if the key
  // did not, and does nothing more if the key did.
  EXPECT_TRUE(QTest::qWaitFor([&splash] { return !splash.isVisible(); }, 5000));
  QTest::qWait(100);
  EXPECT_EQ(finished.count(), 1);
}

INSTANTIATE_TEST_SUITE_P(
    Keys, SplashKeyTest,
    testing::Values(KeyCase{"Letter", Qt::Key_Q, true}, KeyCase{"Digit", Qt::Key_7, true},
                    KeyCase{"Punctuation", Qt::Key_Comma, true},
                    KeyCase{"Space", Qt::Key_Space, true}, KeyCase{"Return", Qt::Key_Return, true},
                    KeyCase{"Enter", Qt::Key_Enter, true}, KeyCase{"Escape", Qt::Key_Escape, true},
                    KeyCase{"Backspace", Qt::Key_Backspace, true},
                    KeyCase{"Left", Qt::Key_Left, false}, KeyCase{"Down", Qt::Key_Down, false},
                    KeyCase{"F1", Qt::Key_F1, false}, KeyCase{"F12", Qt::Key_F12, false},
                    KeyCase{"Shift", Qt::Key_Shift, false},
                    KeyCase{"Control", Qt::Key_Control, false}, KeyCase{"Alt", Qt::Key_Alt, false},
                    KeyCase{"Home", Qt::Key_Home, false}),
    [](const testing::TestParamInfo<KeyCase>& tested) { return std::string(tested.param.name); });

TEST(Splash, CharacterKeysAreThoseThatTypeSomething) {
  // As a keyboard delivers them: shifted punctuation and accented letters type a character,
  // control characters such as Tab and Delete do not count.
  const QKeyEvent questionMark(QEvent::KeyPress, Qt::Key_Question, Qt::ShiftModifier, "?");
  const QKeyEvent accented(QEvent::KeyPress, Qt::Key_Eacute, Qt::NoModifier, "\u00e9");
  const QKeyEvent tab(QEvent::KeyPress, Qt::Key_Tab, Qt::NoModifier, "\t");
  const QKeyEvent del(QEvent::KeyPress, Qt::Key_Delete, Qt::NoModifier, "\x7f");
  const QKeyEvent escapeWithoutText(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
  EXPECT_TRUE(IsCharacterKey(questionMark));
  EXPECT_TRUE(IsCharacterKey(accented));
  EXPECT_FALSE(IsCharacterKey(tab));
  EXPECT_FALSE(IsCharacterKey(del));
  EXPECT_TRUE(IsCharacterKey(escapeWithoutText));
}

TEST(Splash, ModalRunEndsOnAKeyPress) {
  frmSplash splash;
  QTimer::singleShot(50, &splash, [&splash] { QTest::keyClick(&splash, Qt::Key_Escape); });
  QElapsedTimer elapsed;
  elapsed.start();
  splash.exec();
  EXPECT_LT(elapsed.elapsed(), 2000) << "closed by the key, not by the timer";
}

// Start-up as the program runs it, with the real two-second timer and no input.
TEST(StartUp, SplashAloneForTwoSecondsThenTheMainWindow) {
  bool splashShown = false;
  bool mainExistedDuringSplash = true;
  QTimer::singleShot(1900, [&] {
    const QWidget* splash = TopLevel("frmSplash");
    splashShown = splash != nullptr && splash->isVisible();
    mainExistedDuringSplash = TopLevel("frmMain") != nullptr;
  });
  QElapsedTimer elapsed;
  elapsed.start();
  Main();
  const qint64 took = elapsed.elapsed();
  EXPECT_TRUE(splashShown);
  EXPECT_FALSE(mainExistedDuringSplash);
  EXPECT_GE(took, 2000);
  EXPECT_EQ(TopLevel("frmSplash"), nullptr) << "the splash is destroyed when it closes";
  const QWidget* main = TopLevel("frmMain");
  ASSERT_NE(main, nullptr);
  EXPECT_TRUE(main->isVisible());
  EXPECT_FALSE(main->isModal());
  DeleteMainWindow();
}

TEST(StartUp, ClickOnTheSplashOpensTheMainWindowAtOnce) {
  bool mainExistedDuringSplash = true;
  QTimer::singleShot(50, [&] {
    mainExistedDuringSplash = TopLevel("frmMain") != nullptr;
    if (QWidget* splash = TopLevel("frmSplash"))
      QTest::mouseClick(splash, Qt::LeftButton);
  });
  QElapsedTimer elapsed;
  elapsed.start();
  Main();
  EXPECT_LT(elapsed.elapsed(), 2000);
  EXPECT_FALSE(mainExistedDuringSplash);
  const QWidget* main = TopLevel("frmMain");
  ASSERT_NE(main, nullptr);
  EXPECT_TRUE(main->isVisible());
  EXPECT_FALSE(main->windowIcon().isNull()) << "the program's icon on the main window";
  DeleteMainWindow();
}

}  // namespace
