#include "logs/LogLoader.h"

namespace quorvane {

std::string LoadFailure::LogName() const {
  return log == LogKind::Download ? "download log" : "upload log";
}

std::string LoadFailure::Describe() const {
  const auto u8 = path.u8string();
  std::string text(u8.begin(), u8.end());
  text += ": ";
  if (error.line != 0)
    text += "line " + std::to_string(error.line) + ": ";
  text += error.reason;
  return text;
}

LoadResult LoadLogPair(const std::filesystem::path& downloadLog,
                       const std::filesystem::path& uploadLog) {
  LoadResult result;
  ReadResult downloads = ReadLogFile(downloadLog);
  if (!downloads.Ok()) {
    result.failure = {LogKind::Download, downloadLog, std::move(downloads.error)};
    return result;
  }
  ReadResult uploads = ReadLogFile(uploadLog);
  if (!uploads.Ok()) {
    result.failure = {LogKind::Upload, uploadLog, std::move(uploads.error)};
    return result;
  }
  result.logs = LogPair{std::move(*downloads.table), std::move(*uploads.table)};
  return result;
}

}  // namespace quorvane
