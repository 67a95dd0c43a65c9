#include "app/LogDocument.h"

#include <QFile>
#include <QFileInfo>
#include <QMetaObject>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <filesystem>
#include <numeric>
#ifdef __linux__
#include <sys/resource.h>
#include <unistd.h>
#endif

#include "analysis/LiveUserFigures.h"
#include "app/LogTableModel.h"

namespace quorvane {

namespace {

// How long the follow thread sleeps at most between looks: a turn-off waits no longer, and a
// file's quiet second is noticed in time.
constexpr std::chrono::milliseconds kFollowTick{250};
// How long changes must pause before the kept figures are made again after one stopped them.
constexpr int kFiguresPauseMs = 2000;

}  // namespace

std::filesystem::path ToPath(const QString& path) {
#ifdef _WIN32
  return std::filesystem::path(path.toStdWString());
#else
  return std::filesystem::path(QFile::encodeName(path).toStdString());
#endif
}

LogDocument::LogDocument(DateOrder order, QObject* parent)
    : QObject(parent),
      downloads_(new LogTableModel(
          {tr("Date/TIme"), tr("Address"), tr("Account"), tr("Name"), tr("File Name")}, this)),
      uploads_(new LogTableModel(
          {tr("Date/Time"), tr("Address"), tr("Account"), tr("Name"), tr("File Name")}, this)),
      dateOrder_(order),
      makeFiguresDue_(new QTimer(this)),
      figuresMadeDue_(new QTimer(this)) {
  makeFiguresDue_->setSingleShot(true);
  makeFiguresDue_->setInterval(kFiguresPauseMs);
  connect(makeFiguresDue_, &QTimer::timeout, this, &LogDocument::MakeFigures);
  figuresMadeDue_->setInterval(100);
  connect(figuresMadeDue_, &QTimer::timeout, this, [this] { LiveUsers(); });
}

LogDocument::~LogDocument() {
  // Nothing is applied or told now: the views may be going too.
  StopThread();
  waiting_.clear();
  if (making_.valid()) {
    stopMaking_ = true;
    making_.wait();
  }
}

const LogTable& LogDocument::Table(LogKind kind) const {
  return (kind == LogKind::Download ? downloads_ : uploads_)->Table();
}

void LogDocument::Replace(std::vector<LogSource> sources, LogPair tables,
                          std::vector<SourceInfo> infos) {
  StopThread();
  waiting_.clear();  // the old files' reads
  SettleFigures();
  follower_.reset();
  downloads_->SetTable(std::move(tables.downloads));
  uploads_->SetTable(std::move(tables.uploads));
  sources_ = std::move(sources);
  infos_ = std::move(infos);
  removed_[0].clear();
  removed_[1].clear();
  renames_.clear();
  live_.reset();
  MakeFigures();
  missing_.assign(sources_.size(), false);
  followFailure_.clear();
  newest_ = kUndated;
  NoteNewest(Table(LogKind::Download), 0);
  NoteNewest(Table(LogKind::Upload), 0);
  emit Replaced();
  if (following_)
    StartFollowing();
  emit FollowChanged();
}

QStringList LogDocument::LogPaths() const {
  QStringList paths;
  for (const LogSource& source : sources_)
    paths << QString::fromStdString(source.input.Text());
  return paths;
}

bool LogDocument::IsLoadedLog(const QString& path) const {
  return std::any_of(sources_.begin(), sources_.end(), [&](const LogSource& source) {
    std::error_code unreadable;  // a file that is not there is no log
    return !source.input.standardInput &&
           std::filesystem::equivalent(ToPath(path), source.input.path, unreadable);
  });
}

void LogDocument::SetDateOrder(DateOrder order) {
  if (order == dateOrder_)
    return;
  dateOrder_ = order;
  SettleFigures();
  downloads_->ReadDates(order);
  uploads_->ReadDates(order);
  live_.reset();  // first and last seen moved
  MakeFigures();
  newest_ = kUndated;
  NoteNewest(Table(LogKind::Download), 0);
  NoteNewest(Table(LogKind::Upload), 0);
  emit DatesRead();
  emit FollowChanged();
}

std::optional<std::size_t> LogDocument::CurrentRow(LogKind kind, std::size_t followed) const {
  const std::vector<std::size_t>& removed = removed_[static_cast<int>(kind)];
  const auto before = std::lower_bound(removed.begin(), removed.end(), followed);
  if (before != removed.end() && *before == followed)
    return std::nullopt;
  return followed - static_cast<std::size_t>(before - removed.begin());
}

void LogDocument::RemoveRow(LogKind kind, int row) {
  LogTableModel& model = kind == LogKind::Download ? *downloads_ : *uploads_;
  if (row < 0 || row >= model.rowCount())
    return;
  // The row as the follower counts: past every removed row at or before it.
  std::vector<std::size_t>& removed = removed_[static_cast<int>(kind)];
  std::size_t followed = static_cast<std::size_t>(row);
  auto at = removed.begin();
  for (; at != removed.end() && *at <= followed; ++at)
    ++followed;
  removed.insert(at, followed);
  SettleFigures();
  if (!live_)
    makeFiguresDue_->start();  // once the person's changes pause
  if (live_)
    live_->RemoveRow(kind, model.Table(), static_cast<std::size_t>(row));
  model.RemoveTableRow(row);
  emit RowRemoved(kind, row);
}

std::size_t LogDocument::RenameUser(const std::string& from, const std::string& to) {
  SettleFigures();
  if (!live_)
    makeFiguresDue_->start();
  const std::size_t renamed = downloads_->RenameUser(from, to) + uploads_->RenameUser(from, to);
  if (live_)
    live_->Rename(from, to);
  renames_.emplace_back(from, to);
  emit NamesMerged(QString::fromStdString(from), QString::fromStdString(to));
  return renamed;
}

const LiveUserFigures* LogDocument::LiveUsers() {
  if (making_.valid() && making_.wait_for(std::chrono::seconds(0)) == std::future_status::ready)
    SettleFigures();
  return live_.get();
}

void LogDocument::MakeFigures() {
  if (live_ || making_.valid())
    return;
  stopMaking_ = false;
  making_ = std::async(std::launch::async, [this] {
#ifdef __linux__
    // Work for later: what the person asks for meanwhile (the overview counting every figure
    // on both cores) goes first.
    setpriority(PRIO_PROCESS, static_cast<id_t>(gettid()), 19);
#endif
    auto live = std::make_unique<LiveUserFigures>(Table(LogKind::Download), Table(LogKind::Upload),
                                                  &stopMaking_);
    return live->Complete() ? std::move(live) : nullptr;
  });
}

void LogDocument::SettleFigures() {
  if (making_.valid()) {
    if (making_.wait_for(std::chrono::seconds(0)) != std::future_status::ready)
      stopMaking_ = true;
    live_ = making_.get();
    if (!live_)
      makeFiguresDue_->start();  // again once the changes pause
  }
  figuresMadeDue_->stop();
  // Reads that waited go in now, in the order they came.
  for (const std::shared_ptr<FollowUpdate>& update : std::exchange(waiting_, {}))
    Apply(*update);
}

void LogDocument::Take(std::shared_ptr<FollowUpdate> update) {
  // Rows wait while the figures are made from the tables (a few seconds after a load): the
  // thread making them reads the tables, and giving up would leave them never made while a
  // server keeps writing.
  if (making_.valid() && making_.wait_for(std::chrono::seconds(0)) != std::future_status::ready) {
    waiting_.push_back(std::move(update));
    figuresMadeDue_->start();
    return;
  }
  Apply(*update);
}

void LogDocument::NoteNewest(const LogTable& table, std::size_t first) {
  for (std::size_t row = first; row < table.RowCount(); ++row)
    newest_ = std::max(newest_, table.Date(row));
}

// --- Following ---

void LogDocument::SetFollowing(bool on) {
  if (on == following_)
    return;
  following_ = on;
  if (on) {
    followFailure_.clear();
    StartFollowing();
  } else {
    StopThread();  // the follower stays: turned on again, it reads on from where it stopped
  }
  emit FollowChanged();
}

void LogDocument::StartFollowing() {
  if (sources_.empty())
    return;
  if (!follower_) {
    FollowOptions options;
    options.dates = dateOrder_;  // Detect: in the order each file's load settled on
    // The follower counts every row it reported; the person's removals are mapped (CurrentRow).
    follower_ = std::make_unique<LogFollower>(
        sources_, infos_, Table(LogKind::Download).RowCount() + removed_[0].size(),
        Table(LogKind::Upload).RowCount() + removed_[1].size(), options);
  }
  followedFiles_ = follower_->FileCount();
  stop_ = false;
  LogFollower* follower = follower_.get();
  thread_ = std::thread([this, follower] {
    while (!stop_) {
      follower->Wait(kFollowTick);
      if (stop_)
        break;
      auto update = std::make_shared<FollowUpdate>(follower->Poll());
      if (update->Empty())
        continue;
      const bool ends = update->failure || update->inputEnded;
      // Handed to the window's thread; dropped there if a load replaced the follower meanwhile.
      QMetaObject::invokeMethod(
          this,
          [this, follower, update] {
            if (follower == follower_.get())
              Take(update);
          },
          Qt::QueuedConnection);
      if (ends)
        break;
    }
  });
}

void LogDocument::StopThread() {
  if (!thread_.joinable())
    return;
  stop_ = true;
  thread_.join();
}

QStringList LogDocument::MissingFiles() const {
  QStringList names;
  for (std::size_t i = 0; i < missing_.size() && i < sources_.size(); ++i) {
    if (missing_[i])
      names << QFileInfo(QString::fromStdString(sources_[i].input.Text())).fileName();
  }
  return names;
}

void LogDocument::Apply(const FollowUpdate& update) {
  bool changed = false;
  if (!update.rows.empty())
    SettleFigures();
  for (const FollowedRows& arrived : update.rows) {
    LogTableModel& model = arrived.table == LogKind::Download ? *downloads_ : *uploads_;
    const LogTable* rows = &arrived.rows;
    LogTable adjusted;
    // Names merged stay merged for rows that arrive later, and an order of dates the person set
    // since the follower started holds for them too.
    const bool redate = dateOrder_ != DateOrder::Detect && arrived.rows.HasDates();
    if (!renames_.empty() || redate) {
      std::vector<std::size_t> all(arrived.rows.RowCount());
      std::iota(all.begin(), all.end(), std::size_t{0});
      adjusted = arrived.rows.SelectRows(all);  // shares the cells; a rename copies what it changes
      for (const auto& [from, to] : renames_)
        adjusted.RenameUser(from, to);
      if (redate)
        adjusted.ReadDates(dateOrder_);
      rows = &adjusted;
    }
    if (arrived.replaces) {
      const std::optional<std::size_t> row = CurrentRow(arrived.table, *arrived.replaces);
      if (!row || rows->RowCount() != 1)
        continue;  // the person removed it: it stays removed
      if (live_)
        live_->RemoveRow(arrived.table, model.Table(), *row);
      model.ReplaceTableRow(static_cast<int>(*row), *rows, 0);
      if (live_)
        live_->AddRows(arrived.table, model.Table(), *row, *row + 1);
      NoteNewest(model.Table(), *row);
      emit RowsArrived(arrived.table, static_cast<int>(*row), 1);
    } else {
      const std::size_t first = model.Table().RowCount();
      model.AppendTableRows(*rows);
      if (live_)
        live_->AddRows(arrived.table, model.Table(), first, model.Table().RowCount());
      NoteNewest(model.Table(), first);
      if (arrived.source < infos_.size()) {
        (arrived.table == LogKind::Download ? infos_[arrived.source].downloads
                                            : infos_[arrived.source].uploads) += rows->RowCount();
      }
      emit RowsArrived(arrived.table, static_cast<int>(first),
                       static_cast<int>(model.Table().RowCount() - first));
    }
    changed = true;
  }
  for (const FollowEvent& event : update.events) {
    if (event.source >= missing_.size())
      continue;
    if (event.kind == FollowEventKind::Deleted || event.kind == FollowEventKind::Back) {
      missing_[event.source] = event.kind == FollowEventKind::Deleted;
      changed = true;
    }
  }
  if (update.failure) {
    followFailure_ = QString::fromStdString(*update.failure);
    following_ = false;
    StopThread();  // the follower stays stopped: only a new load follows again
    changed = true;
  }
  if (changed)
    emit FollowChanged();
}

}  // namespace quorvane
