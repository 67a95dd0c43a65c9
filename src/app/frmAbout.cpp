#include "app/frmAbout.h"

#include <qdrawutil.h>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QVBoxLayout>

#include "app/AppIdentity.h"
#include "app/Controls.h"
#include "app/Interaction.h"
#include "app/SysInfoLauncher.h"

namespace quorvane {

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
  auto* label = Named(new QLabel(text, parent), name);
  label->setFixedWidth(Px(widthTwips));
  label->setMinimumHeight(Px(heightTwips));
  label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  return label;
}

QPushButton* NewButton(QWidget* parent, const char* name, const QString& text, int widthTwips,
                       int heightTwips) {
  QPushButton* button = Button(parent, name, text);
  button->setMinimumSize(TwipsSize(widthTwips, heightTwips));
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

  picIcon = Named(new QLabel(this), "picIcon");
  picIcon->setFixedSize(Px(480), Px(480));
  picIcon->setPixmap(AppIcon().pixmap(QSize(32, 32)));
  picIcon->setAlignment(Qt::AlignCenter);
  picIcon->setAccessibleName(AppTitle() + QStringLiteral(" icon"));

  lblTitle = NewLabel(this, "lblTitle", QStringLiteral("Application Title"), 3885, 480);
  QFont titleFont = lblTitle->font();
  titleFont.setPointSizeF(titleFont.pointSizeF() * 1.5);
  titleFont.setBold(true);
  lblTitle->setFont(titleFont);
  lblVersion = NewLabel(this, "lblVersion", QStringLiteral("Version"), 3885, 225);
  lblDescription = NewLabel(this, "lblDescription", QString::fromLatin1(kDescription), 3885, 1170);
  lblDescription->setWordWrap(true);
  lblDisclaimer = NewLabel(this, "lblDisclaimer", QString::fromLatin1(kDisclaimer), 3870, 825);
  lblDisclaimer->setWordWrap(true);
  for (QLabel* label : {lblTitle, lblVersion, lblDescription, lblDisclaimer}) {
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, Qt::black);
    label->setPalette(palette);
  }

  // The separator is painted, not a control, so screen readers do not list it.
  Line1 = new QSpacerItem(0, 2, QSizePolicy::Expanding, QSizePolicy::Fixed);

  cmdOK = NewButton(this, "cmdOK", QStringLiteral("OK"), 1260, 345);
  cmdOK->setDefault(true);
  cmdSysInfo = NewButton(this, "cmdSysInfo", QStringLiteral("&System Info..."), 1245, 345);

  // The designed arrangement; the labels grow downwards when a font needs more room.
  auto* texts = Spaced(new QVBoxLayout, 60);
  texts->addWidget(lblTitle);
  texts->addWidget(lblVersion);
  texts->addWidget(lblDescription);
  auto* top = Spaced(new QHBoxLayout, 330);
  top->addWidget(picIcon, 0, Qt::AlignTop);
  top->addLayout(texts);

  auto* buttons = Spaced(new QVBoxLayout, 105);
  buttons->addWidget(cmdOK);
  buttons->addWidget(cmdSysInfo);
  buttons->addStretch();
  auto* bottom = Spaced(new QHBoxLayout, 120);
  bottom->addWidget(lblDisclaimer, 0, Qt::AlignTop);
  bottom->addStretch();
  bottom->addLayout(buttons);

  auto* root = new QVBoxLayout(this);
  root->setContentsMargins(Px(240), Px(240), Px(225), Px(135));
  root->setSpacing(Px(150));
  root->addLayout(top);
  root->addItem(Line1);
  root->addLayout(bottom);
  // Not resizable: the dialog takes the size its contents need.
  root->setSizeConstraint(QLayout::SetFixedSize);

  setTabOrder(cmdOK, cmdSysInfo);
  cmdOK->setFocus(Qt::OtherFocusReason);

  connect(cmdOK, &QPushButton::clicked, this, &frmAbout::cmdOK_Click);
  connect(cmdSysInfo, &QPushButton::clicked, this, &frmAbout::cmdSysInfo_Click);

  Form_Load();
}

void frmAbout::paintEvent(QPaintEvent* event) {
  QDialog::paintEvent(event);
  // The grey-over-white etched line of a sunken separator.
  QPainter painter(this);
  const QRect line = Line1->geometry();
  qDrawShadeLine(&painter, line.left(), line.center().y(), line.right(), line.center().y(),
                 palette(), true, 1, 0);
}

void frmAbout::UseSysInfo(sysinfo::KeyStore& store, sysinfo::ProgramLauncher& launcher) {
  store_ = &store;
  launcher_ = &launcher;
}

void frmAbout::Form_Load() {
  setWindowTitle(QStringLiteral("About ") + AppTitle());
  lblVersion->setText(QStringLiteral("Version ") + AppVersionText());
  lblTitle->setText(AppTitle());
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

}  // namespace quorvane
