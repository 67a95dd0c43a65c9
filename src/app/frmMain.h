#pragma once

#include <QPointer>
#include <QString>
#include <QStringList>
#include <QWidget>
#include <array>
#include <cstddef>
#include <functional>
#include <memory>
#include <vector>

#include "analysis/Averages.h"
#include "app/Interaction.h"
#include "logs/DateTime.h"
#include "logs/LogSources.h"
#include "logs/UserList.h"

class QCheckBox;
class QComboBox;
class QDragEnterEvent;
class QDropEvent;
class QFontMetrics;
class QGroupBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QProgressBar;
class QPushButton;
class QTableView;

namespace quorvane {

class LogDocument;
class LogTableModel;
class RuledFrame;
class frmSources;
class frmUsersOverview;

// The working window: the two log lists, the analysis panel and the buttons that start every
// command; a view of the document of what is loaded, which it owns. Every control carries its
// control name as objectName.
class frmMain : public QWidget {
  Q_OBJECT

 public:
  // Without an interaction the window uses the real Qt dialogs and pointer.
  explicit frmMain(std::unique_ptr<Interaction> interaction = nullptr, QWidget* parent = nullptr);
  ~frmMain() override;

  // Reads both logs (a server log and an empty file: both server logs) and, only when both read
  // whole, shows them, rebuilds the user list and remembers the pair. Otherwise nothing changes and
  // a message says which log failed, where and why.
  bool LoadLog(const QString& downloadLog, const QString& uploadLog);
  // The same for any set of files: classic download and upload logs and server logs, read as one
  // history. F5 reads the set again.
  bool LoadFiles(const std::vector<LogSource>& sources);
  // Reads all a history file holds and shows it as a load of logs would; otherwise nothing
  // changes and a message says why in one line. F5 reads it again.
  bool LoadHistory(const QString& path);
  // Loads logs dropped on the window or named on the command line. Server logs are told by their
  // content, and an empty file beside them is one (the live log just rotated). Of the classic logs,
  // two alone are a pair (the one named "upload" is the upload log, else the first is the download
  // log); otherwise those named "upload" are upload logs and the rest download logs, and when only
  // one kind is there and no server log, the other is asked for. A history file (told by its
  // content) opens alone.
  void OpenLogs(const QStringList& files);
  // What each file of the set loaded last gave, in the order given.
  const std::vector<SourceInfo>& Sources() const;
  // Rebuilds the user list from both tables, with nothing chosen.
  void LoadUsers();
  // Replaces the name `from` by `to` in every matching Name cell of both tables and rebuilds the
  // user list; returns how many cells it rewrote.
  std::size_t RenameUser(const QString& from, const QString& to);
  // The entries of the user list, in display order.
  QStringList UserNames() const;
  // Chooses the name in the user list and shows that user's report, as a person's pick does; a
  // name the list leaves out gets its report too, shown in the box without joining the list.
  void ShowUser(const QString& name);
  // Whether a date such as 3/4/2024 reads month or day first: as each log shows (Detect), or as
  // set (the Users Overview sets it).
  DateOrder ReadingDateOrder() const;

  // The line under the download or upload list as it shows in its width; the label holds it whole.
  QString SourcesLineShown(bool uploads) const;

  LogDocument& Document() const { return *document_; }
  const LogTableModel& DownloadLog() const { return *downloads_; }
  const LogTableModel& UploadLog() const { return *uploads_; }

 protected:
  void resizeEvent(QResizeEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dropEvent(QDropEvent* event) override;

 private:
  class BusyPointer;
  struct Figure;
  static constexpr std::size_t kFigureCount = 9;
  static constexpr std::size_t kUserFigureCount = 3;
  // The analysis panel's place, and how much of it the notice on its right gives up in a narrow
  // window, in twips.
  static constexpr int kPanelLeft = 120;
  static constexpr int kPanelWidth = 10335;
  static constexpr int kNoticeGives = 600;
  static const std::array<Figure, kFigureCount>& Figures();

  // What a message says of a log that failed to read.
  static QString LoadFailureText(const QString& log, const QString& file, const ReadError& error);
  // A line under a list: `compose` writes it around its file names, as shortened.
  struct SourcesText {
    QStringList names;
    std::function<QString(const QStringList&)> compose;
  };
  class SourcesLabel;
  static QString Fitted(const QFontMetrics& metrics, int room, const SourcesText& text);
  void CreateControls();
  void FitSizeToScreen();
  int ButtonColumnWidth() const;
  QTableView* CreateLogList(QGroupBox* frame, const char* name, LogTableModel* model);
  QLabel* SourcesLine(QGroupBox* frame, const char* name, const QString& meaning);
  void CreateAnalysisPanel();
  void SetTabOrder();

  void cmdLoadLogs_Click();
  void cmdSources_Click();
  bool ConfirmPair(const QStringList& downloadLogs, const QStringList& uploadLogs);
  // Opens the history file among the files, alone: nothing when none is there, else whether it
  // loaded.
  std::optional<bool> OpenHistoryAmong(const QStringList& files);
  void AddToHistory();
  void ShowSources();
  void ShowSourcesIn(frmSources& window) const;
  void Form_Reload();
  void cmdAnalyzeLog_Click();
  void cboUsers_Click();
  void cmdExit_Click();
  void cmdAbout_Click();
  void cmdRenameUser_Click();
  void cmdUsersOverview_Click();
  void LogList_KeyPress(QTableView& list, LogTableModel& model, int keyAscii);
  void Form_Resize();

  void AnalyzeTotal();
  // `arriving`: rows were appended since; the averages take them alone when they can.
  void AnalyzeAvg(bool arriving = false);
  // `arriving`: rows arrived while following; no bar, and the upload list only gains the new rows
  // when it still shows the rest.
  void AnalyzeUser(bool arriving = false);
  QString DecimalSeparator() const;
  QString ChosenUser() const;
  void ClearFigures(std::size_t count);
  // Puts these names in the user list, none chosen.
  void FillUserList(const std::vector<std::string>& names);
  void SetBusy(bool busy);

  // Following: the check box, the line that tells its state, and what arrived.
  void chkFollow_Click(bool on);
  void ShowFollowState();
  void RowsArrived();
  void Document_Replaced();

  QGroupBox* fraDownloadLog = nullptr;
  QGroupBox* fraUploadLog = nullptr;
  RuledFrame* fraAnalyzeLog = nullptr;
  QTableView* lvwDownloadLog = nullptr;
  QTableView* lvwUploadLog = nullptr;
  QProgressBar* prgDownloadLog = nullptr;
  QProgressBar* prgUploadLog = nullptr;
  QPushButton* cmdLoadLogs = nullptr;
  QPushButton* cmdRenameUser = nullptr;
  QPushButton* cmdUsersOverview = nullptr;
  QPushButton* cmdSources = nullptr;
  // Under each log list: the files its rows came from.
  QLabel* lblDownloadSources = nullptr;
  QLabel* lblUploadSources = nullptr;
  std::array<SourcesText, 2> sourcesText_;  // the download line's and the upload line's
  QPushButton* cmdAbout = nullptr;
  QPushButton* cmdExit = nullptr;
  QPushButton* cmdAnalyzeLog = nullptr;
  QComboBox* cboUsers = nullptr;
  QListWidget* lstUploads = nullptr;
  QLabel* Label21 = nullptr;  // the notice
  QLineEdit* txtEmail = nullptr;
  QProgressBar* prgAnalyze = nullptr;
  // Following the logs as the server writes them, and what it is doing (under the analysis bar).
  QCheckBox* chkFollow = nullptr;
  QLabel* lblFollow = nullptr;
  QProgressBar* prgAnalyzeUser = nullptr;
  // The figures of both logs.
  QLabel* lblTotalDownloads = nullptr;
  QLabel* lblTotalUploads = nullptr;
  QLabel* lblTotalRatio = nullptr;
  QLabel* lblAvgDownloads = nullptr;
  QLabel* lblAvgUploads = nullptr;
  QLabel* lblAvgRatio = nullptr;
  // The chosen user's figures.
  QLabel* lblUserDownloads = nullptr;
  QLabel* lblUserUploads = nullptr;
  QLabel* lblUserRatio = nullptr;

  std::unique_ptr<Interaction> interaction_;
  int busyDepth_ = 0;
  LogDocument* document_;
  LogTableModel* downloads_;
  LogTableModel* uploads_;
  bool analyzed_ = false;    // Analyze ran on these tables: its figures follow what arrives
  bool arrivalDue_ = false;  // rows arrived; the views catch up once events are handled
  // The upload list shows the chosen user's upload rows up to this many of the table's rows
  // (none removed or read again since): arriving rows are added to it, not the whole list again.
  std::optional<std::size_t> uploadListCovers_;
  // The user list and the averages as rows are appended; gone when rows change otherwise, and
  // made again by a pass when next needed.
  std::optional<GrowingUserList> userList_;
  std::optional<GrowingAverages> averages_;
  QPointer<frmUsersOverview> overview_;
  QPointer<QWidget> sourcesWindow_;
};

}  // namespace quorvane
