#include "logs/LogLoader.h"

// Where the standard library has no threads (MinGW's win32 thread model), the logs are read one
// after the other.
#if defined(_GLIBCXX_HAS_GTHREADS) || !defined(__GLIBCXX__)
#include <chrono>
#include <future>
#include <mutex>
#include <system_error>
#define QUORVANE_READ_IN_PARALLEL 1
#endif

namespace quorvane {

namespace {

#ifdef QUORVANE_READ_IN_PARALLEL
// Progress of a read on another thread, handed to the calling thread to report.
class ProgressRelay {
 public:
  explicit ProgressRelay(const ByteProgressFn& target) : target_(target) {}

  // For the reading thread.
  ByteProgressFn Collector() {
    if (!target_)
      return {};
    return [this](std::uint64_t bytesRead, std::uint64_t totalBytes) {
      const std::lock_guard<std::mutex> lock(mutex_);
      latest_ = {bytesRead, totalBytes, latest_.count + 1};
    };
  }
  // For the calling thread: reports what came in since the last call.
  void Relay() {
    if (!target_)
      return;
    Report report;
    {
      const std::lock_guard<std::mutex> lock(mutex_);
      report = latest_;
    }
    if (report.count != relayed_) {
      relayed_ = report.count;
      target_(report.bytesRead, report.totalBytes);
    }
  }

 private:
  struct Report {
    std::uint64_t bytesRead = 0;
    std::uint64_t totalBytes = 0;
    std::uint64_t count = 0;
  };
  const ByteProgressFn& target_;
  std::mutex mutex_;
  Report latest_;
  std::uint64_t relayed_ = 0;
};
#endif

}  // namespace

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
                       const std::filesystem::path& uploadLog, const LoadOptions& options) {
  ReadResult uploads;
  ReadResult downloads;
#ifdef QUORVANE_READ_IN_PARALLEL
  // The upload log is read on a second thread while this one reads the download log; this
  // thread passes on the other's progress, between its own reports and while it waits.
  ProgressRelay uploadRelay(options.uploadProgress);
  const ReadOptions uploadOptions = options.ForOne(uploadRelay.Collector());
  std::future<ReadResult> uploadRead;
  try {
    uploadRead =
        std::async(std::launch::async, [&] { return ReadLogFile(uploadLog, uploadOptions); });
  } catch (const std::system_error&) {
    // No second thread to be had: read the logs one after the other.
  }
  if (uploadRead.valid()) {
    ByteProgressFn downloadProgress;
    if (options.downloadProgress || options.uploadProgress) {
      downloadProgress = [&](std::uint64_t bytesRead, std::uint64_t totalBytes) {
        if (options.downloadProgress)
          options.downloadProgress(bytesRead, totalBytes);
        uploadRelay.Relay();
      };
    }
    try {
      downloads = ReadLogFile(downloadLog, options.ForOne(downloadProgress));
    } catch (...) {
      uploadRead.wait();  // the other thread uses this frame
      throw;
    }
    while (uploadRead.wait_for(std::chrono::milliseconds(20)) != std::future_status::ready)
      uploadRelay.Relay();
    uploadRelay.Relay();
    uploads = uploadRead.get();
  } else
#endif
  {
    downloads = ReadLogFile(downloadLog, options.ForOne(options.downloadProgress));
    if (downloads.Ok())
      uploads = ReadLogFile(uploadLog, options.ForOne(options.uploadProgress));
  }

  LoadResult result;
  if (!downloads.Ok()) {
    result.failure = {LogKind::Download, downloadLog, std::move(downloads.error)};
  } else if (!uploads.Ok()) {
    result.failure = {LogKind::Upload, uploadLog, std::move(uploads.error)};
  } else {
    result.logs = LogPair{std::move(*downloads.table), std::move(*uploads.table)};
    LogTable::ShareFileNames(result.logs->downloads, result.logs->uploads);
  }
  return result;
}

}  // namespace quorvane
