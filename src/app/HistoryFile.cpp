#include "app/HistoryFile.h"

#include <QDateTime>
#include <QObject>
#include <QTimeZone>
#include <chrono>
#include <cstring>
#include <fstream>
#include <memory>
#include <string>

#include "app/DateText.h"
#include "logs/DateTime.h"
#ifdef QUORVANE_HISTORY
#include "history/History.h"
#endif

namespace quorvane {

namespace {

#ifdef QUORVANE_HISTORY
// A read waits this long for a writer holding the file; adding waits longer for another run
// adding to it, as the window is held meanwhile.
constexpr std::chrono::milliseconds kReadWait{2000};
constexpr std::chrono::milliseconds kAddWait{10000};

// The core's "YYYY-MM-DD HH:MM:SS" in UTC, as a date and time on the person's clock.
QString LocalDateTime(const std::string& utc) {
  QDateTime time = QDateTime::fromString(QString::fromStdString(utc), "yyyy-MM-dd HH:mm:ss");
  if (!time.isValid())
    return QString::fromStdString(utc);
  time.setTimeZone(QTimeZone::utc());
  const QDateTime local = time.toLocalTime();
  return ShortDateTime(FromCivil(local.date().year(), local.date().month(), local.date().day(),
                                 local.time().hour(), local.time().minute(),
                                 local.time().second()));
}
#endif

}  // namespace

bool HistoryBuilt() {
#ifdef QUORVANE_HISTORY
  return true;
#else
  return false;
#endif
}

QString HistoryFilter() {
  return QObject::tr("History files (*.db *.sqlite *.sqlite3 *.quorvane)");
}

bool LooksLikeHistory(const std::filesystem::path& path) {
  static constexpr char kSqlite[] = "SQLite format 3";  // with its NUL: 16 bytes
  char start[sizeof kSqlite] = {};
  std::ifstream file(path, std::ios::binary);
  return file.read(start, sizeof start) && std::memcmp(start, kSqlite, sizeof kSqlite) == 0;
}

HistoryStamp StampOf(const std::filesystem::path& path) {
  HistoryStamp stamp{-1, -1, -1, -1};
  std::filesystem::path wal = path;
  wal += "-wal";
  for (int i = 0; i < 2; ++i) {
    std::error_code missing;
    const std::filesystem::path& file = i == 0 ? path : wal;
    const auto size = std::filesystem::file_size(file, missing);
    if (missing)
      continue;
    const auto time = std::filesystem::last_write_time(file, missing);
    stamp[2 * i] = static_cast<std::int64_t>(size);
    stamp[2 * i + 1] = missing ? -1 : static_cast<std::int64_t>(time.time_since_epoch().count());
  }
  return stamp;
}

HistoryRead ReadHistory(const std::filesystem::path& path, const SourcesOptions& options) {
  HistoryRead read;
  read.stamp = StampOf(path);
  const QString name = QString::fromStdString(InputName{path, false}.Text());
  std::error_code unreadable;
  if (!std::filesystem::is_regular_file(path, unreadable)) {
    read.failure = QObject::tr("%1: is not there").arg(name);
    return read;
  }
  if (!LooksLikeHistory(path)) {
    read.failure = QObject::tr("%1: is not a history file").arg(name);
    return read;
  }
#ifdef QUORVANE_HISTORY
  std::string error;
  const std::unique_ptr<History> history =
      History::Open(path, History::Access::Read, kReadWait, error);
  if (!history) {
    read.failure = QString::fromStdString(error);
    return read;
  }
  History::Result held = history->Update({}, options);
  if (held.failure) {
    read.failure = QString::fromStdString(*held.failure);
    return read;
  }
  read.logs = std::move(held.logs);
  read.files = std::move(held.files);
  read.since = LocalDateTime(history->Since());
#else
  (void)options;
  read.failure =
      QObject::tr("%1: this build keeps no history (it was made without SQLite)").arg(name);
#endif
  return read;
}

HistoryAdded AddToHistory(const std::filesystem::path& path, const std::vector<LogSource>& sources,
                          const SourcesOptions& options) {
  HistoryAdded added;
#ifdef QUORVANE_HISTORY
  std::string error;
  const std::unique_ptr<History> history =
      History::Open(path, History::Access::Write, kAddWait, error);
  if (!history) {
    added.failure = QString::fromStdString(error);
    return added;
  }
  const History::Result result = history->Update(sources, options);
  if (result.sourceFailure)
    added.failure = QString::fromStdString(result.sourceFailure->Describe());
  else if (result.failure)
    added.failure = QString::fromStdString(*result.failure);
  added.downloads = result.downloadsAdded;
  added.uploads = result.uploadsAdded;
#else
  (void)sources;
  (void)options;
  added.failure = QObject::tr("%1: this build keeps no history (it was made without SQLite)")
                      .arg(QString::fromStdString(InputName{path, false}.Text()));
#endif
  return added;
}

}  // namespace quorvane
