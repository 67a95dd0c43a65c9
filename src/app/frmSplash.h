#pragma once

#include <QDialog>
#include <QPixmap>
#include <chrono>

class QTimer;

namespace quorvane {

// The start-up picture: borderless, centred, closed by a click, a character key or its timer.
class frmSplash : public QDialog {
  Q_OBJECT

 public:
  static constexpr std::chrono::milliseconds kShowTime{2000};

  // Tests may shorten the time the splash stays up; the program uses kShowTime.
  explicit frmSplash(std::chrono::milliseconds showTime = kShowTime, QWidget* parent = nullptr);

 protected:
  void showEvent(QShowEvent* event) override;
  void paintEvent(QPaintEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;

 private:
  void Form_Click();
  void Form_KeyPress();
  void tmrSplash_Timer();
  void CloseSplash();

  QTimer* tmrSplash;
  QPixmap picture_;
};

// True for the keys that type a character (and Enter, Escape, Backspace); false for arrows,
// function keys and lone modifiers.
bool IsCharacterKey(const QKeyEvent& event);

}  // namespace quorvane
