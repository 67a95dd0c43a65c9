#include "app/frmRenameUsers.h"

#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QStringList>
#include <QVBoxLayout>

#include "app/AppIdentity.h"
#include "app/Controls.h"
#include "app/Interaction.h"

namespace quorvane {

namespace {

const char kIntroduction[] =
    "This form allows you to manage User Names.  For instance, say the user \"joe32\" logs on, "
    "download, uploads, and such, but then he changes his name to \"joe20000.\"  Now when you "
    "try to get information on \"joe32\" or \"joe2000\" you will not get information about the "
    "other name that they used! ";

const char kInstructions[] =
    "Simply select the name you want to change, then select the name you want to change it "
    "to.  Example: if I wanted to change all records with the User Name \"joe32,\" I would "
    "select \"joe32\" from the \"Replace\" combo box, and select \"joe2000\" from the \"With\" "
    "list, since both \"joe32\" and \"joe2000\" are actually the same user.";

QLabel* NewLabel(QWidget* parent, const char* name, const char* text) {
  return Named(new QLabel(QString::fromLatin1(text), parent), name);
}

QComboBox* NewList(QWidget* parent, const char* name) {
  auto* list = Named(new NameList(parent), name);
  list->setEditable(false);  // pick only
  list->setMinimumSize(TwipsSize(2655, 315));
  list->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
  return list;
}

QPushButton* NewButton(QWidget* parent, const char* name, const char* text) {
  QPushButton* button = Button(parent, name, QString::fromLatin1(text), true);
  button->setMinimumSize(TwipsSize(1335, 375));
  return button;
}

}  // namespace

frmRenameUsers::frmRenameUsers(QStringList users, RenameFn rename, Interaction& ui, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowMinMaxButtonsHint | Qt::WindowCloseButtonHint),
      users_(std::move(users)),
      rename_(std::move(rename)),
      ui_(ui) {
  setObjectName("frmRenameUsers");
  setWindowTitle(QStringLiteral("Rename Users"));
  setWindowIcon(AppIcon());

  // The controls sit on a panel of their own, so they keep their places when the window is
  // resized; the panel grows beyond its designed size only when a font needs more room.
  auto* panel = new QWidget(this);
  panel->setObjectName("panel");
  Label3 = NewLabel(panel, "Label3", kIntroduction);
  Label4 = NewLabel(panel, "Label4", kInstructions);
  for (QLabel* text : {Label3, Label4}) {
    text->setWordWrap(true);
    text->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    text->setFixedWidth(Px(6615));
    text->setMinimumHeight(Px(855));
  }
  Label1 = NewLabel(panel, "Label1", "Replace:");
  cboReplace = NewList(panel, "cboReplace");
  Label2 = NewLabel(panel, "Label2", "with:");
  cboWith = NewList(panel, "cboWith");
  for (QLabel* caption : {Label1, Label2}) {
    caption->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    caption->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
  }
  // Each list is named by its caption; on Linux screen readers follow the caption's buddy.
  Label1->setBuddy(cboReplace);
  Label2->setBuddy(cboWith);
  cboReplace->setAccessibleName(QStringLiteral("Replace"));
  cboWith->setAccessibleName(QStringLiteral("with"));
  cmdRename = NewButton(panel, "cmdRename", "&Rename User");
  Command1 = NewButton(panel, "Command1", "&Done");

  auto* names = Spaced(new QHBoxLayout, 75);
  names->addWidget(Label1);
  names->addWidget(cboReplace, 1);
  names->addSpacing(Px(75));
  names->addWidget(Label2);
  names->addWidget(cboWith, 1);
  auto* buttons = Spaced(new QVBoxLayout, 105);
  buttons->addWidget(cmdRename);
  buttons->addWidget(Command1);
  auto* buttonRow = new QHBoxLayout;
  buttonRow->addStretch();
  buttonRow->addLayout(buttons);

  auto* layout = OuterColumn(panel, 120, 105);
  layout->addWidget(Label3);
  layout->addWidget(Label4);
  layout->addSpacing(Px(120));
  layout->addLayout(names);
  layout->addLayout(buttonRow);
  layout->setSizeConstraint(QLayout::SetFixedSize);
  panel->adjustSize();
  resize(panel->size().expandedTo(QSize(Px(6855), Px(3495))));

  // Labels take no focus: the focus starts on the first list.
  setTabOrder(cboReplace, cboWith);
  setTabOrder(cboWith, cmdRename);
  setTabOrder(cmdRename, Command1);
  cboReplace->setFocus(Qt::OtherFocusReason);

  connect(cmdRename, &QPushButton::clicked, this, &frmRenameUsers::cmdRename_Click);
  connect(Command1, &QPushButton::clicked, this, &frmRenameUsers::Command1_Click);

  Form_Load();
}

void frmRenameUsers::Form_Load() {
  // The user list comes sorted, so taking its entries in order keeps these sorted too.
  cboReplace->addItems(users_);
  cboWith->addItems(users_);
  cboReplace->setCurrentIndex(-1);
  cboWith->setCurrentIndex(-1);
}

void frmRenameUsers::cmdRename_Click() {
  const QString from = cboReplace->currentText();
  const QString to = cboWith->currentText();
  const QString question =
      QStringLiteral("Are you sure you want to replace all records with the name ") +
      ShownName(from) + QStringLiteral(" with ") + ShownName(to) + QStringLiteral("?");
  if (!ui_.AskYesNo(QStringLiteral("Confirm intent"), question))
    return;

  Renamed renamed = rename_(from, to);
  users_ = std::move(renamed.users);
  cboReplace->clear();
  cboWith->clear();
  Form_Load();
  ui_.ShowNotice(QStringLiteral("Replace complete"),
                 QString::number(renamed.records) + QStringLiteral(" records have been renamed."));
}

void frmRenameUsers::Command1_Click() {
  accept();
}

}  // namespace quorvane
