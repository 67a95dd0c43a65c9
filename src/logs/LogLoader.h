#pragma once

#include <filesystem>
#include <optional>
#include <string>

#include "logs/LogReader.h"
#include "logs/LogTable.h"

namespace quorvane {

enum class LogKind { Download, Upload };

struct LogPair {
  LogTable downloads;
  LogTable uploads;
};

// Which log failed, where and why.
struct LoadFailure {
  LogKind log = LogKind::Download;
  std::filesystem::path path;
  ReadError error;

  // "download log" or "upload log".
  std::string LogName() const;
  // "<path>: line <n>: <reason>", without the line part when the failure is not about a line.
  std::string Describe() const;
};

struct LoadResult {
  std::optional<LogPair> logs;
  LoadFailure failure;

  bool Ok() const { return logs.has_value(); }
};

struct LoadOptions {
  EncodingChoice encoding = EncodingChoice::Auto;
  ByteProgressFn downloadProgress;
  ByteProgressFn uploadProgress;
  KeptCells kept;
  std::optional<DateOrder> dates;  // each log decides its own order when Detect

  // How one of the logs is read.
  ReadOptions ForOne(ByteProgressFn progress) const {
    return {encoding, std::move(progress), kept, dates};
  }
};

// Reads both logs, at once where the system gives a second thread. Both or neither: a failure in
// either yields no tables at all, so a caller that keeps its old tables on failure never shows
// half a load; a failing download log is named before a failing upload log. The progress
// callbacks are called on the calling thread only.
LoadResult LoadLogPair(const std::filesystem::path& downloadLog,
                       const std::filesystem::path& uploadLog, const LoadOptions& options = {});

}  // namespace quorvane
