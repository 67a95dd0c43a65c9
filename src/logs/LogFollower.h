#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "logs/LogLoader.h"
#include "logs/LogSources.h"

namespace quorvane {

// Rows that arrived in one table: appended to it, or one row read again whole that replaces row
// `replaces` (a line taken without its line end that bytes then continued).
struct FollowedRows {
  std::size_t source = 0;  // the file they came from: its index in the sources followed
  LogKind table = LogKind::Download;
  std::optional<std::size_t> replaces;
  LogTable rows;
};

enum class FollowEventKind {
  Rotated,         // renamed away and a new file made under the name: read from its start
  Truncated,       // cut short in place: read again from its start, the rows taken stay
  Deleted,         // gone: its rows stay; reading resumes if it comes back
  Back,            // there again after it was gone
  UnreadableLine,  // a classic line without five fields, left out
};

struct FollowEvent {
  std::size_t source = 0;  // index in the sources followed
  FollowEventKind kind = FollowEventKind::Rotated;
};

// What one Poll found.
struct FollowUpdate {
  std::vector<FollowedRows> rows;  // in the order they apply
  std::vector<FollowEvent> events;
  // Following stopped: "<file>: <reason>" of the file that could not be read any more.
  std::optional<std::string> failure;
  bool inputEnded = false;  // standard input, followed, reached its end

  bool Empty() const { return rows.empty() && events.empty() && !failure && !inputEnded; }
};

// Applies the rows of an update to the tables they were counted against.
void ApplyFollowUpdate(const FollowUpdate& update, LogPair& tables);

struct FollowOptions {
  EncodingChoice encoding = EncodingChoice::Auto;
  KeptCells kept;
  std::optional<DateOrder> dates;  // Detect: each batch of rows decides
  // How long a file must stay unchanged before its last line without a line end is taken.
  std::chrono::milliseconds quiet{1000};
};

// Follows the files of a load as their writers add to them, reading only new bytes. Give it the
// load's sources and what LoadSources told of each (where each read stopped) and the tables'
// row counts after the load; each Poll then returns the rows written since, counted as if every
// update were applied to those tables in turn (ApplyFollowUpdate). Files are opened read-only and
// never written. A compressed file is not followed. Standard input is read as it comes; a source
// whose info says nothing was read of it (bytesUsed 0 and no rows) is told by its content.
//
// Rotation, truncation and deletion: see FollowEventKind. The rows of an old file's last line
// assume it is the last file of its table (the live one); overlap is not looked for again.
class LogFollower {
 public:
  LogFollower(const std::vector<LogSource>& sources, const std::vector<SourceInfo>& loaded,
              std::size_t downloadRows, std::size_t uploadRows, FollowOptions options = {});
  ~LogFollower();
  LogFollower(const LogFollower&) = delete;
  LogFollower& operator=(const LogFollower&) = delete;

  // Reads what arrived; never waits on a file.
  FollowUpdate Poll();
  // Waits until a followed file may have changed (file-system notification where there is one)
  // or `most` has passed, whichever comes first; a signal ends the wait early.
  void Wait(std::chrono::milliseconds most);

  bool Stopped() const { return stopped_; }
  std::size_t FileCount() const;
  // Whether the source is gone (deleted, not back yet).
  bool Missing(std::size_t source) const;

 private:
  struct File;
  struct Batch;
  void PollFile(std::size_t index, Batch& batch, FollowUpdate& update);

  std::vector<std::unique_ptr<File>> files_;
  FollowOptions options_;
  std::size_t rows_[2] = {0, 0};
  bool stopped_ = false;
  int notify_ = -1;
};

}  // namespace quorvane
