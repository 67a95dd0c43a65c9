#pragma once

#include <QString>
#include <array>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <vector>

#include "logs/LogSources.h"

namespace quorvane {

// A history file as the window uses it: opened like logs, followed, added to from Sources. The
// core's History does the work; this is the window's side of it, in Qt's texts.

// Whether this build keeps histories (it needs SQLite).
bool HistoryBuilt();
// The file dialogs' name filter for history files (they are told by content, not by name).
QString HistoryFilter();

// Whether the file holds a SQLite database, told by its first bytes whatever its name: a history
// file, or another database that opening it as one refuses with its reason (better than a log's).
bool LooksLikeHistory(const std::filesystem::path& path);

// What a history file's bytes and its write-ahead log's look like now (sizes and times): another
// process committed to it when they change.
using HistoryStamp = std::array<std::int64_t, 4>;
HistoryStamp StampOf(const std::filesystem::path& path);

struct HistoryRead {
  std::optional<LogPair> logs;
  std::vector<SourceInfo> files;  // the files it learned from, each with the rows it gives
  QString since;                  // when it was made, as the person's locale writes date and time
  HistoryStamp stamp{};           // taken before the read: a later commit changes it
  QString failure;                // one line naming the file
};

// Reads all the history holds, writing nothing: a file that is no SQLite database is refused
// before SQLite sees it (which would make an empty or missing file a new history).
HistoryRead ReadHistory(const std::filesystem::path& path, const SourcesOptions& options);

struct HistoryAdded {
  std::size_t downloads = 0, uploads = 0;
  QString failure;
};

// Adds the logs to the history file, making it when missing, as `quorvane-report --history` does.
HistoryAdded AddToHistory(const std::filesystem::path& path, const std::vector<LogSource>& sources,
                          const SourcesOptions& options);

}  // namespace quorvane
