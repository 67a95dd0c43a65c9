#pragma once

#include <QObject>
#include <QString>
#include <QStringList>
#include <array>
#include <atomic>
#include <cstddef>
#include <filesystem>
#include <future>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "app/HistoryFile.h"
#include "logs/DateTime.h"
#include "logs/LogFollower.h"
#include "logs/LogLoader.h"
#include "logs/LogSources.h"

class QTimer;

namespace quorvane {

class LiveUserFigures;
class LogTableModel;

// A path the person chose, as the core opens it.
std::filesystem::path ToPath(const QString& path);

// A history file loaded in place of logs.
struct HistoryOrigin {
  QString path;
  QString since;         // when it was made, as shown
  HistoryStamp stamp{};  // as it looked when read
};

// What is loaded, below every window: the set of files and what each gave, both tables (as the
// models the lists show), the person's changes (rows removed, names merged), the date order and
// the follow state. The windows are its views: they change it through these calls and learn of
// every change from its signals, so none needs another window to know what is loaded.
class LogDocument : public QObject {
  Q_OBJECT

 public:
  explicit LogDocument(DateOrder order, QObject* parent = nullptr);
  ~LogDocument() override;

  LogTableModel& Downloads() const { return *downloads_; }
  LogTableModel& Uploads() const { return *uploads_; }
  const LogTable& Table(LogKind kind) const;

  // Takes a load's tables and files in place of everything; following, when on, starts again on
  // the new files. A history file's tables come with no sources, the files it learned from as
  // the infos, and `history`.
  void Replace(std::vector<LogSource> sources, LogPair tables, std::vector<SourceInfo> infos,
               std::optional<HistoryOrigin> history = std::nullopt);
  const std::vector<LogSource>& Sources() const { return sources_; }
  // What each file gave, the rows that arrived since the load counted in.
  const std::vector<SourceInfo>& SourceInfos() const { return infos_; }
  // The history file loaded, when what is loaded is one.
  const std::optional<HistoryOrigin>& LoadedHistory() const { return history_; }
  // The paths of the files loaded, in the order given (none before a load); of a history, the
  // files it learned from.
  QStringList LogPaths() const;
  // Whether `path` is one of the loaded files, or the history file or one it learned from (the
  // same file by any name).
  bool IsLoadedLog(const QString& path) const;

  DateOrder ReadingDateOrder() const { return dateOrder_; }
  // Reads the loaded rows' dates again in the new order.
  void SetDateOrder(DateOrder order);

  // The person's changes: they hold for rows that arrive later too.
  void RemoveRow(LogKind kind, int row);
  std::size_t RenameUser(const std::string& from, const std::string& to);

  // Every user's figures over all time, kept up to date, once made: on a second thread after a
  // load, and again once changes have paused for a while when one came before they were done.
  // Null until then.
  const LiveUserFigures* LiveUsers();

  // Following: off until asked for; it runs while on and files are loaded, on a thread of its
  // own, so a slow or blocked file never holds a window. A file that cannot be read any more
  // turns it off (FollowFailure says which). A history file is read again, on a thread, when
  // another process committed to it.
  void SetFollowing(bool on);
  bool Following() const { return following_; }
  std::size_t FollowedFiles() const { return followedFiles_; }
  // The files gone since they were followed (deleted; reading resumes if they come back).
  QStringList MissingFiles() const;
  Timestamp NewestTransfer() const { return newest_; }
  const QString& FollowFailure() const { return followFailure_; }
  // Following stopped on a failure: it can start again only on a new load.
  bool FollowerStopped() const { return follower_ && follower_->Stopped(); }

  // Takes what a follow read: appends rows, replaces a row read again whole, notes events.
  // Called on the window's thread (the follow thread hands its updates here).
  void Apply(const FollowUpdate& update);

 signals:
  // Everything changed: a load.
  void Replaced();
  // Rows appended to a table (or a row replaced in it), from `first` on.
  void RowsArrived(LogKind kind, int first, int count);
  void RowRemoved(LogKind kind, int row);
  void NamesMerged(const QString& from, const QString& to);
  void DatesRead();
  // Following turned on or off, a file went or came back, or the newest transfer moved.
  void FollowChanged();

 private:
  void StartFollowing();
  // Rows may come (following) or none will: the tables keep their File Names' lookup table
  // only for rows to come.
  void ExpectRows(bool rows);
  void StopThread();
  // The row of the table now showing row `followed` as the follower counts rows (every row it
  // reported, none removed), or none when the person removed it.
  std::optional<std::size_t> CurrentRow(LogKind kind, std::size_t followed) const;
  void NoteNewest(const LogTable& table, std::size_t first);
  // Before the tables change: takes figures made meanwhile, or gives up on them while under way
  // (the thread making them reads the tables) and makes them again later.
  void SettleFigures();
  void MakeFigures();
  // A follow's read: applied now, or once the figures under way are made.
  void Take(std::shared_ptr<FollowUpdate> update);
  // Following a history file: reads it again when its files changed, and takes what it holds.
  void PollHistory();
  void TakeHistory(std::uint64_t load, const std::shared_ptr<HistoryRead>& read,
                   std::array<std::uint64_t, 2> start, std::array<std::uint64_t, 2> all);

  LogTableModel* downloads_;
  LogTableModel* uploads_;
  std::vector<LogSource> sources_;
  std::vector<SourceInfo> infos_;
  DateOrder dateOrder_;
  // Per table, the rows the person removed, as the follower counts rows, in order.
  std::vector<std::size_t> removed_[2];
  std::vector<std::pair<std::string, std::string>> renames_;
  std::unique_ptr<LiveUserFigures> live_;
  std::future<std::unique_ptr<LiveUserFigures>> making_;
  std::atomic<bool> stopMaking_{false};
  QTimer* makeFiguresDue_;
  std::vector<std::shared_ptr<FollowUpdate>> waiting_;  // reads that wait for the figures
  QTimer* figuresMadeDue_;                              // looks whether they are made

  bool following_ = false;
  std::size_t followedFiles_ = 0;
  std::vector<bool> missing_;
  Timestamp newest_ = kUndated;
  QString followFailure_;
  // Kept while following is off, so turning it on again reads on from where it stopped.
  std::unique_ptr<LogFollower> follower_;
  std::thread thread_;
  std::atomic<bool> stop_{false};

  std::optional<HistoryOrigin> history_;
  std::uint64_t loads_ = 0;  // a history read made for an earlier load is dropped
  QTimer* historyDue_;       // looks at the history file's stamp while following it
  std::future<void> historyRead_;
  int historyFailures_ = 0;  // reads in a row that failed
  // Per table, the rows the history gave (as the follower counts) and a digest of their cells:
  // when a read starts with the same rows, only the rows behind them are new.
  std::size_t historyRows_[2] = {0, 0};
  std::uint64_t historyDigest_[2] = {0, 0};
  // The digests of a history just opened, taken on another thread so that the window shows
  // it meanwhile; settled before anything changes the tables or compares them.
  std::future<std::array<std::uint64_t, 2>> digesting_;
  void SettleDigest();
};

}  // namespace quorvane
