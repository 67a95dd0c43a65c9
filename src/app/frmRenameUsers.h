#pragma once

#include <QDialog>

class Interaction;
class QComboBox;
class QLabel;
class QPushButton;
class frmMain;

// Merges two user names: every Name cell of both of the main window's log
// tables that equals the name to replace is rewritten to the other name, after
// the user confirms.
class frmRenameUsers : public QDialog {
  Q_OBJECT

 public:
  // `ui` asks for confirmation and reports the count.
  frmRenameUsers(frmMain& main, Interaction& ui);

 private:
  void Form_Load();
  void cmdRename_Click();
  void Command1_Click();

  frmMain& main_;
  Interaction& ui_;

  QLabel* Label1;
  QLabel* Label2;
  QLabel* Label3;
  QLabel* Label4;
  QComboBox* cboReplace;
  QComboBox* cboWith;
  QPushButton* cmdRename;
  QPushButton* Command1;
};
