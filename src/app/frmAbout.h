#pragma once

#include <QDialog>

#include "sysinfo/SysInfoLookup.h"

class QLabel;
class QPushButton;
class QSpacerItem;

namespace quorvane {

class Interaction;

// The About box: the program's icon, title, version and description, and a button that starts
// the system's System Information program.
class frmAbout : public QDialog {
  Q_OBJECT

 public:
  // `ui` shows the message when System Information cannot be started.
  explicit frmAbout(Interaction& ui, QWidget* parent = nullptr);

  // Replaces the registry (or search path) and the starting of programs, for tests.
  void UseSysInfo(sysinfo::KeyStore& store, sysinfo::ProgramLauncher& launcher);

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  void Form_Load();
  void cmdOK_Click();
  void cmdSysInfo_Click();
  void StartSysInfo();

  Interaction& ui_;
  sysinfo::KeyStore* store_;
  sysinfo::ProgramLauncher* launcher_;

  QLabel* picIcon;
  QLabel* lblTitle;
  QLabel* lblVersion;
  QLabel* lblDescription;
  QLabel* lblDisclaimer;
  QPushButton* cmdOK;
  QPushButton* cmdSysInfo;
  QSpacerItem* Line1;  // room for the separator the dialog paints
};

}  // namespace quorvane
