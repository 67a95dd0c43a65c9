#include "app/frmSplash.h"

#include <QGuiApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QScreen>
#include <QTimer>

#include "app/AppIdentity.h"
#include "app/Controls.h"

namespace quorvane {

namespace {
constexpr int kWidth = 450;
constexpr int kHeight = 250;
}  // namespace

bool IsCharacterKey(const QKeyEvent& event) {
  switch (event.key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
    case Qt::Key_Escape:
    case Qt::Key_Backspace:
      return true;
    default:
      break;
  }
  // Letters, digits, punctuation and space type a printable character; arrows, function keys
  // and lone modifiers type nothing, and Tab or Delete only a control character.
  const QString text = event.text();
  return !text.isEmpty() && text.front().isPrint();
}

frmSplash::frmSplash(std::chrono::milliseconds showTime, QWidget* parent)
    : QDialog(parent, Qt::SplashScreen | Qt::FramelessWindowHint),
      tmrSplash(Named(new QTimer(this), "tmrSplash")),
      picture_(SplashPicture()) {
  setObjectName("frmSplash");
  setWindowTitle(AppTitle());
  setFixedSize(kWidth, kHeight);
  setModal(true);
  // The splash closing must not count as the program's last window closing.
  setAttribute(Qt::WA_QuitOnClose, false);

  tmrSplash->setSingleShot(true);
  tmrSplash->setTimerType(Qt::PreciseTimer);
  tmrSplash->setInterval(showTime);
  connect(tmrSplash, &QTimer::timeout, this, &frmSplash::tmrSplash_Timer);
}

void frmSplash::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  if (const QScreen* screen = this->screen()) {
    move(screen->availableGeometry().center() - rect().center());
  }
  // Splash windows are not always given the keyboard by window managers; ask for it, since a
  // key press is one of the ways to close the splash.
  activateWindow();
  setFocus(Qt::OtherFocusReason);
  tmrSplash->start();
}

void frmSplash::paintEvent(QPaintEvent* /*event*/) {
  QPainter painter(this);
  painter.fillRect(rect(), QColor(0x0c, 0x24, 0x33));
  painter.drawPixmap(0, 0, picture_);
}

void frmSplash::mouseReleaseEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint())) {
    Form_Click();
  }
}

void frmSplash::keyPressEvent(QKeyEvent* event) {
  if (IsCharacterKey(*event)) {
    Form_KeyPress();
  } else {
    event->ignore();
  }
}

void frmSplash::Form_Click() {
  CloseSplash();
}
void frmSplash::Form_KeyPress() {
  CloseSplash();
}
void frmSplash::tmrSplash_Timer() {
  CloseSplash();
}

void frmSplash::CloseSplash() {
  // Only the first of click, key and timer takes effect.
  tmrSplash->stop();
  if (isVisible())
    accept();
}

}  // namespace quorvane
