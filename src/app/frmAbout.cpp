#include "app/frmAbout.h"

#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "app/Interaction.h"
#include "app/basMain.h"

namespace {

const char kDescription[] =
    "Ever wish that you could make sense of those Hotline Server logs? Well now you can! Simply "
    "click \"Load Logs,\" select your log files, then click \"Analyze,\" and you will see a "
    "Upload/Download report right before your eyes.  Select a user from the combo box to get "
    "details on that user's activity!";

const char kDisclaimer[] =
    "Quorvane only reads your log files and never changes them: renamed users and removed rows "
    "live in memory until the next load. It comes with no warranty of any kind.";

QLabel* NewLabel(QWidget* parent, const char* name, const QString& text, int widthTwips,
                 int heightTwips) {
  auto* label = new QLabel(text, parent);
  label->setObjectName(QString::fromLatin1(name));
  label->setFixedWidth(TwipsToPixels(widthTwips));
  label->setMinimumHeight(TwipsToPixels(heightTwips));
  label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  return label;
}

QPushButton* NewButton(QWidget* parent, const char* name, const QString& text, int widthTwips,
                       int heightTwips) {
  auto* button = new QPushButton(text, parent);
  button->setObjectName(QString::fromLatin1(name));
  button->setMinimumSize(TwipsToPixels(widthTwips), TwipsToPixels(heightTwips));
  return button;
}

}  // namespace

frmAbout::frmAbout(Interaction& ui, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint),
      ui_(ui),
      store_(&sysinfo::SystemKeyStore()),
      launcher_(&sysinfo::SystemLauncher()) {
  setObjectName("frmAbout");
  setWindowIcon(AppIcon());

  picIcon_ = new QLabel(this);
  picIcon_->setObjectName("picIcon");
  picIcon_->setFixedSize(TwipsToPixels(480), TwipsToPixels(480));
  picIcon_->setPixmap(AppIcon().pixmap(QSize(32, 32)));
  picIcon_->setAlignment(Qt::AlignCenter);

  lblTitle_ = NewLabel(this, "lblTitle", QStringLiteral("Application Title"), 3885, 480);
  QFont titleFont = lblTitle_->font();
  titleFont.setPointSizeF(titleFont.pointSizeF() * 1.5);
  titleFont.setBold(true);
  lblTitle_->setFont(titleFont);
  lblVersion_ = NewLabel(this, "lblVersion", QStringLiteral("Version"), 3885, 225);
  lblDescription_ = NewLabel(this, "lblDescription", QString::fromLatin1(kDescription), 3885, 1170);
  lblDescription_->setWordWrap(true);
  lblDisclaimer_ = NewLabel(this, "lblDisclaimer", QString::fromLatin1(kDisclaimer), 3870, 825);
  lblDisclaimer_->setWordWrap(true);
  for (QLabel* label : {lblTitle_, lblVersion_, lblDescription_, lblDisclaimer_}) {
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, Qt::black);
    label->setPalette(palette);
  }

  // A sunken line draws the grey-over-white etched separator.
  auto* line = new QFrame(this);
  line->setObjectName("Line1");
  line->setFrameShape(QFrame::HLine);
  line->setFrameShadow(QFrame::Sunken);

  cmdOK_ = NewButton(this, "cmdOK", QStringLiteral("OK"), 1260, 345);
  cmdOK_->setDefault(true);
  cmdSysInfo_ = NewButton(this, "cmdSysInfo", QStringLiteral("&System Info..."), 1245, 345);

  // The designed arrangement; the labels grow downwards when a font needs more room.
  auto* texts = new QVBoxLayout;
  texts->setSpacing(TwipsToPixels(60));
  texts->addWidget(lblTitle_);
  texts->addWidget(lblVersion_);
  texts->addWidget(lblDescription_);
  auto* top = new QHBoxLayout;
  top->setSpacing(TwipsToPixels(330));
  top->addWidget(picIcon_, 0, Qt::AlignTop);
  top->addLayout(texts);

  auto* buttons = new QVBoxLayout;
  buttons->setSpacing(TwipsToPixels(105));
  buttons->addWidget(cmdOK_);
  buttons->addWidget(cmdSysInfo_);
  buttons->addStretch();
  auto* bottom = new QHBoxLayout;
  bottom->setSpacing(TwipsToPixels(120));
  bottom->addWidget(lblDisclaimer_, 0, Qt::AlignTop);
  bottom->addStretch();
  bottom->addLayout(buttons);

  auto* root = new QVBoxLayout(this);
  root->setContentsMargins(TwipsToPixels(240), TwipsToPixels(240), TwipsToPixels(225),
                           TwipsToPixels(135));
  root->setSpacing(TwipsToPixels(150));
  root->addLayout(top);
  root->addWidget(line);
  root->addLayout(bottom);
  // Not resizable: the dialog takes the size its contents need.
  root->setSizeConstraint(QLayout::SetFixedSize);

  setTabOrder(cmdOK_, cmdSysInfo_);
  cmdOK_->setFocus(Qt::OtherFocusReason);

  connect(cmdOK_, &QPushButton::clicked, this, &frmAbout::cmdOK_Click);
  connect(cmdSysInfo_, &QPushButton::clicked, this, &frmAbout::cmdSysInfo_Click);

  Form_Load();
}

void frmAbout::UseSysInfo(sysinfo::KeyStore& store, sysinfo::ProgramLauncher& launcher) {
  store_ = &store;
  launcher_ = &launcher;
}

void frmAbout::Form_Load() {
  setWindowTitle(QStringLiteral("About ") + AppTitle());
  lblVersion_->setText(QStringLiteral("Version %1.%2.%3")
                           .arg(AppVersionMajor())
                           .arg(AppVersionMinor())
                           .arg(AppVersionRevision()));
  lblTitle_->setText(AppTitle());
}

void frmAbout::cmdOK_Click() {
  accept();
}

void frmAbout::cmdSysInfo_Click() {
  StartSysInfo();
}

void frmAbout::StartSysInfo() {
  if (!sysinfo::StartSysInfo(*store_, *launcher_)) {
    ui_.ShowNotice(AppTitle(), QString::fromLatin1(sysinfo::kUnavailableMessage));
  }
}
