#include "app/LogDocument.h"

#include <QFile>
#include <QFileInfo>
#include <QMetaObject>
#include <QTimer>
#include <algorithm>
#include <array>
#include <chrono>
#include <filesystem>
#include <numeric>
#ifdef __linux__
#include <sys/resource.h>
#include <unistd.h>
#endif

#include "analysis/LiveUserFigures.h"
#include "app/LogTableModel.h"
#include "logs/StringPool.h"

namespace quorvane {

namespace {

// How long the follow thread sleeps at most between looks: a turn-off waits no longer, and a
// file's quiet second is noticed in time.
constexpr std::chrono::milliseconds kFollowTick{250};
// How long changes must pause before the kept figures are made again after one stopped them.
constexpr int kFiguresPauseMs = 2000;
// How often a followed history file's stamp is looked at: a commit shows within a second.
constexpr int kHistoryPollMs = 500;

// Rows [first, last) of the table folded into `digest`: each cell's hash in turn (a cell is
// hashed whole, so where one ends is part of what is digested). A byte at a time took a tenth
// of a second on a million rows, all of it while the window waited to show a history.
std::uint64_t DigestRows(const LogTable& table, std::size_t first, std::size_t last,
                         std::uint64_t digest) {
  for (std::size_t row = first; row < last; ++row) {
    for (const Column column :
         {Column::DateTime, Column::Address, Column::Account, Column::Name, Column::FileName})
      digest = (digest ^ StringPool::Hash(table.CellBytes(row, column))) * 0x100000001b3ULL;
  }
  return digest;
}
constexpr std::uint64_t kDigestStart = 0xcbf29ce484222325ULL;

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
      figuresMadeDue_(new QTimer(this)),
      historyDue_(new QTimer(this)) {
  makeFiguresDue_->setSingleShot(true);
  makeFiguresDue_->setInterval(kFiguresPauseMs);
  connect(makeFiguresDue_, &QTimer::timeout, this, &LogDocument::MakeFigures);
  figuresMadeDue_->setInterval(100);
  connect(figuresMadeDue_, &QTimer::timeout, this, [this] { LiveUsers(); });
  historyDue_->setInterval(kHistoryPollMs);
  connect(historyDue_, &QTimer::timeout, this, &LogDocument::PollHistory);
}

LogDocument::~LogDocument() {
  // Nothing is applied or told now: the views may be going too.
  StopThread();
  if (historyRead_.valid())
    historyRead_.wait();  // it hands its read to this object
  waiting_.clear();
  if (making_.valid()) {
    stopMaking_ = true;
    making_.wait();
  }
  if (digesting_.valid())
    digesting_.wait();
}

const LogTable& LogDocument::Table(LogKind kind) const {
  return (kind == LogKind::Download ? downloads_ : uploads_)->Table();
}

void LogDocument::Replace(std::vector<LogSource> sources, LogPair tables,
                          std::vector<SourceInfo> infos, std::optional<HistoryOrigin> history) {
  StopThread();
  waiting_.clear();  // the old files' reads
  ++loads_;
  SettleFigures();
  follower_.reset();
  history_ = std::move(history);
  downloads_->SetTable(std::move(tables.downloads));
  uploads_->SetTable(std::move(tables.uploads));
  if (history_) {
    historyRows_[0] = Table(LogKind::Download).RowCount();
    historyRows_[1] = Table(LogKind::Upload).RowCount();
    // A tenth of a second or more on a million rows: the window shows the lists meanwhile.
    digesting_ = std::async(std::launch::async, [this] {
      return std::array<std::uint64_t, 2>{
          DigestRows(Table(LogKind::Download), 0, historyRows_[0], kDigestStart),
          DigestRows(Table(LogKind::Upload), 0, historyRows_[1], kDigestStart)};
    });
  }
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
  else
    ExpectRows(false);
  emit FollowChanged();
}

QStringList LogDocument::LogPaths() const {
  QStringList paths;
  if (history_) {
    for (const SourceInfo& file : infos_)
      paths << QString::fromStdString(file.input.Text());
  }
  for (const LogSource& source : sources_)
    paths << QString::fromStdString(source.input.Text());
  return paths;
}

bool LogDocument::IsLoadedLog(const QString& path) const {
  std::vector<InputName> files;
  for (const LogSource& source : sources_)
    files.push_back(source.input);
  if (history_) {
    files.push_back({ToPath(history_->path), false});
    for (const SourceInfo& file : infos_)
      files.push_back(file.input);
  }
  return std::any_of(files.begin(), files.end(), [&](const InputName& file) {
    std::error_code unreadable;  // a file that is not there is no log
    return !file.standardInput && std::filesystem::equivalent(ToPath(path), file.path, unreadable);
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
    live_->RemoveRow(kind, Table(LogKind::Download), Table(LogKind::Upload),
                     static_cast<std::size_t>(row));
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
  const auto ready = [](const auto& future) {
    return future.wait_for(std::chrono::seconds(0)) == std::future_status::ready;
  };
  if (making_.valid() && ready(making_) && (!digesting_.valid() || ready(digesting_)))
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

void LogDocument::SettleDigest() {
  if (digesting_.valid()) {
    const std::array<std::uint64_t, 2> digests = digesting_.get();
    historyDigest_[0] = digests[0];
    historyDigest_[1] = digests[1];
  }
}

void LogDocument::SettleFigures() {
  // Whatever comes next may change the tables the digests are taken from.
  SettleDigest();
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
    ExpectRows(false);
  }
  emit FollowChanged();
}

void LogDocument::ExpectRows(bool rows) {
  downloads_->ExpectRows(rows);
  uploads_->ExpectRows(rows);
}

void LogDocument::StartFollowing() {
  ExpectRows(true);
  if (history_) {
    followedFiles_ = 1;
    historyDue_->start();
    PollHistory();  // what was committed while following was off
    return;
  }
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
  historyDue_->stop();  // a history read under way ends on its own; what it read is dropped
  if (!thread_.joinable())
    return;
  stop_ = true;
  thread_.join();
}

// Cheap: a stamp of two files' sizes and times. Another process's commit changes it; the read
// runs on a thread of its own, and only one at a time.
void LogDocument::PollHistory() {
  if (!history_ || (historyRead_.valid() &&
                    historyRead_.wait_for(std::chrono::seconds(0)) != std::future_status::ready))
    return;
  const std::filesystem::path path = ToPath(history_->path);
  const HistoryStamp now = StampOf(path);
  if (now == history_->stamp)
    return;
  history_->stamp = now;
  SourcesOptions options;
  options.dates = dateOrder_;
  SettleDigest();
  // The rows shown and their digest, as they stand while the read runs.
  const std::array<std::size_t, 2> rows{historyRows_[0], historyRows_[1]};
  const std::array<std::uint64_t, 2> shown{historyDigest_[0], historyDigest_[1]};
  historyRead_ = std::async(std::launch::async, [this, path, options, load = loads_, rows, shown] {
    auto read = std::make_shared<HistoryRead>(ReadHistory(path, options));
    // The digests are taken here, off the window's thread: of the rows shown, and of all.
    std::array<std::uint64_t, 2> start{}, all{};
    if (read->logs) {
      const LogTable* tables[2] = {&read->logs->downloads, &read->logs->uploads};
      for (int d = 0; d < 2; ++d) {
        const std::size_t count = tables[d]->RowCount();
        start[d] = count < rows[d] ? ~shown[d] : DigestRows(*tables[d], 0, rows[d], kDigestStart);
        all[d] = count < rows[d] ? start[d] : DigestRows(*tables[d], rows[d], count, start[d]);
      }
    }
    QMetaObject::invokeMethod(
        this, [this, load, read, start, all] { TakeHistory(load, read, start, all); },
        Qt::QueuedConnection);
  });
}

// The history only grows: when each table starts with the rows it gave before, the rows behind
// them arrive as a follow's do and the person's changes hold. Otherwise (a file it learned since
// sorts among the others) it is loaded again whole, as F5 would.
void LogDocument::TakeHistory(std::uint64_t load, const std::shared_ptr<HistoryRead>& read,
                              std::array<std::uint64_t, 2> start,
                              std::array<std::uint64_t, 2> all) {
  if (load != loads_ || !history_)
    return;
  if (!following_) {
    history_->stamp = {};  // read again once following is on
    return;
  }
  if (!read->logs) {
    // Once more first: a read that met another process's checkpoint half done may fail.
    if (++historyFailures_ < 2) {
      history_->stamp = {};
      return;
    }
    followFailure_ = read->failure;
    following_ = false;
    StopThread();
    emit FollowChanged();
    return;
  }
  historyFailures_ = 0;
  SettleDigest();
  LogTable* tables[2] = {&read->logs->downloads, &read->logs->uploads};
  if (start[0] != historyDigest_[0] || start[1] != historyDigest_[1]) {
    Replace({}, std::move(*read->logs), std::move(read->files),
            HistoryOrigin{history_->path, read->since, read->stamp});
    return;
  }
  auto update = std::make_shared<FollowUpdate>();
  for (int d = 0; d < 2; ++d) {
    const std::size_t count = tables[d]->RowCount();
    if (count == historyRows_[d])
      continue;
    historyDigest_[d] = all[d];
    std::vector<std::size_t> arrived(count - historyRows_[d]);
    std::iota(arrived.begin(), arrived.end(), historyRows_[d]);
    // From no file of infos_: they are taken whole from the read below.
    update->rows.push_back({SIZE_MAX, d == 0 ? LogKind::Download : LogKind::Upload, std::nullopt,
                            tables[d]->SelectRows(arrived)});
    historyRows_[d] = count;
  }
  infos_ = std::move(read->files);
  if (update->Empty())
    emit FollowChanged();  // the files it learned from may have changed all the same
  else
    Take(std::move(update));
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
        live_->RemoveRow(arrived.table, Table(LogKind::Download), Table(LogKind::Upload), *row);
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
