#pragma once

#include <QString>
#include <QWidget>
#include <optional>
#include <string>

class QCheckBox;
class QComboBox;
class QDoubleSpinBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QSpinBox;
class QTableView;
class QTimer;

namespace quorvane {

class Interaction;
class UserFiguresModel;
class frmMain;

// Every user of the main window's user list at a glance: their figures in a table that sorts by
// any column and narrows to names or to leeches, follows every change of the main window's
// tables, shows a user's report there on a double-click or Enter, and exports to CSV.
class frmUsersOverview : public QWidget {
  Q_OBJECT

 public:
  // A window of its own over `main`, closed with it; `ui` asks for the export file.
  frmUsersOverview(frmMain& main, Interaction& ui);

  // Computes the figures again from the main window's tables and user list, keeping the sort,
  // the filter and the chosen user. Changes in the main window call for it once events are
  // handled, so a held Backspace costs one pass, not one per row.
  void Refresh();

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void CreateControls();
  void SetTabOrder();
  void LoadSettings();

  void ApplyFilter();
  void SortFromControls();
  void SortIndicator_Changed(int column, Qt::SortOrder order);
  void ShowUserInMain(int row);
  void cmdExport_Click();
  void UpdateStatus();

  // The user of the current row, if there is one.
  std::optional<std::string> CurrentUser() const;
  void SelectUser(const std::optional<std::string>& name);

  frmMain& main_;
  Interaction& ui_;
  UserFiguresModel* model_;
  QTimer* refreshDue_;

  QLabel* lblFind = nullptr;
  QLineEdit* txtFind = nullptr;
  QLabel* lblSortBy = nullptr;
  QComboBox* cboSortBy = nullptr;
  QCheckBox* chkDescending = nullptr;
  QCheckBox* chkLeeches = nullptr;
  QLabel* lblMinDownloads = nullptr;
  QSpinBox* spnMinDownloads = nullptr;
  QLabel* lblMinRatio = nullptr;
  QDoubleSpinBox* spnMinRatio = nullptr;
  QLabel* lblUsers = nullptr;
  QTableView* lvwUsers = nullptr;
  QLabel* lblStatus = nullptr;
  QPushButton* cmdExport = nullptr;
  QPushButton* cmdClose = nullptr;
};

}  // namespace quorvane
