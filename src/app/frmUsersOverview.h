#pragma once

#include <QString>
#include <QWidget>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "analysis/Activity.h"
#include "analysis/Period.h"

class QCheckBox;
class QComboBox;
class QDateEdit;
class QDoubleSpinBox;
class QIODevice;
class QLabel;
class QLineEdit;
class QPushButton;
class QSpinBox;
class QTabWidget;
class QTableView;
class QTimer;

namespace quorvane {

class ActivityChart;
class FileFiguresModel;
class Interaction;
class LogDocument;
class UserFiguresModel;

// Every user at a glance: their figures in a table that sorts by any column and narrows to names
// or to leeches, follows every change of the document (a load, rows arriving, removed or renamed),
// asks for a user's report in the main window on a double-click or Enter, and exports to CSV. A
// period narrows every figure to the transfers dated in it; the Activity chart shows the transfers
// of everyone, or of the users selected in the table, over time; the Files page what is fetched
// most. Export HTML writes the page `quorvane-report --format html` writes.
class frmUsersOverview : public QWidget {
  Q_OBJECT

 public:
  // A window of its own over `owner`, closed with it; `ui` asks for the files to save.
  frmUsersOverview(LogDocument& document, Interaction& ui, QWidget& owner);

  // Computes the figures again from the document's tables, over the period: for all time those
  // of every user, for a period those of the users with transfers in it. Keeps the sort, the
  // filter, the selection and the chosen user. Changes to the document call for it once events
  // are handled, so a held Backspace costs one pass, not one per row; over all time a change
  // takes the figures the document keeps up to date instead of counting every row again.
  void Refresh();

 signals:
  // The person asked to see this user's report.
  void ShowUserRequested(const QString& name);

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void CreateControls();
  QWidget* CreateUsersPage();
  QWidget* CreateActivityPage();
  QWidget* CreateFilesPage();
  void SetTabOrder();
  void LoadSettings();

  void ApplyFilter();
  void SortFromControls();
  void SortIndicator_Changed(int column, Qt::SortOrder order);
  void FitNameColumn();
  void ShowUserInMain(int row);
  void cboDates_Click();
  void ShowDatesUnread();
  static void FitFigureColumns(QTableView* view, int first, int dates, int end);
  void cmdExport_Click();
  void cmdSaveChart_Click();
  void cmdExportHtml_Click();
  // The files table is counted again only while its page shows.
  void ShowFiles();
  void ShowUploaderInMain(int row);
  // Writes the file through `write` under the name chosen, whole or not at all, never over a
  // loaded log; a message under `title` tells what went wrong, after `failure`.
  void SaveFile(const QString& title, const QString& path, const QString& failure,
                const std::function<bool(QIODevice&)>& write);
  void UpdateStatus();

  // The period the fields ask for: all time while All time is checked; nothing when From is after
  // To. While All time is checked the fields show the logs' first and last dated day.
  std::optional<Period> ChosenPeriod() const;
  void ShowLogDays(const std::optional<Period>& days);
  // The chart draws now when it shows, else when its tab is chosen.
  void ChartChanged();
  void DrawChart();

  // The user of the current row, if there is one, and the users of the selected rows.
  std::optional<std::string> CurrentUser() const;
  std::vector<std::string> SelectedUsers() const;
  void SelectUsers(const std::vector<std::string>& names,
                   const std::optional<std::string>& current);

  LogDocument& document_;
  Interaction& ui_;
  UserFiguresModel* model_;
  FileFiguresModel* filesModel_;
  QTimer* refreshDue_;
  Period period_;                   // the period of the figures shown
  std::optional<Period> logDays_;   // over all time: the first and last dated day of the logs
  std::size_t undatedLeftOut_ = 0;  // rows without a date that the period left out
  bool periodRefused_ = false;      // From is after To: the figures are still the last period's
  bool chartStale_ = true;
  bool filesStale_ = true;
  bool selecting_ = false;  // the selection is being put back: the chart waits for the whole
  // Everyone's chart over all time, counted on as rows arrive; gone when rows change otherwise.
  std::optional<GrowingActivity> everyone_;

  // The period, above both pages.
  QCheckBox* chkAllTime = nullptr;
  QLabel* lblFrom = nullptr;
  QDateEdit* dtpFrom = nullptr;
  QLabel* lblTo = nullptr;
  QDateEdit* dtpTo = nullptr;
  QLabel* lblDates = nullptr;
  QComboBox* cboDates = nullptr;
  QLabel* lblDatesUnread = nullptr;  // how many dated rows the order set leaves undated
  QTabWidget* tabViews = nullptr;
  QWidget* pgActivity = nullptr;
  // The Users page.
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
  QTableView* lvwUsers = nullptr;
  // The Activity page.
  QLabel* lblActivity = nullptr;
  ActivityChart* chtActivity = nullptr;
  QPushButton* cmdSaveChart = nullptr;
  // The Files page.
  QWidget* pgFiles = nullptr;
  QLabel* lblFindFiles = nullptr;
  QLineEdit* txtFindFiles = nullptr;
  QTableView* lvwFiles = nullptr;
  // The row below both pages.
  QLabel* lblStatus = nullptr;
  QPushButton* cmdExport = nullptr;
  QPushButton* cmdExportHtml = nullptr;
  QPushButton* cmdClose = nullptr;
};

}  // namespace quorvane
