#pragma once

#include <chrono>
#include <filesystem>
#include <string>

namespace quorvane::testing {

// What the kernel saw happen to one file (inotify): every open, read, write and close by anyone,
// whatever API or library did it. A descriptor opened without write access closes as
// `closedUnwritable`; one opened for writing closes as `closedWritable`.
struct FileEvents {
  int opened = 0;
  int read = 0;
  int modified = 0;
  int attributesChanged = 0;
  int closedUnwritable = 0;
  int closedWritable = 0;
  int movedOrDeleted = 0;

  // Opened, read and closed again, only ever without write access, and not touched otherwise.
  bool OnlyRead() const {
    return opened > 0 && closedUnwritable == opened && closedWritable == 0 && modified == 0 &&
           attributesChanged == 0 && movedOrDeleted == 0;
  }
  std::string Describe() const;
};

class FileWatch {
 public:
  explicit FileWatch(const std::filesystem::path& file);
  ~FileWatch();
  FileWatch(const FileWatch&) = delete;
  FileWatch& operator=(const FileWatch&) = delete;

  // The events so far (waiting a moment for the kernel to deliver the last ones); each call
  // counts from the previous one.
  FileEvents Take();

 private:
  int fd_ = -1;
};

// A file's bytes and the times and identity the file system keeps for it.
struct FileState {
  std::string bytes;
  long long modifiedNs = 0;
  long long changedNs = 0;  // status change: a chmod, touch or write moves it
  unsigned long long inode = 0;
  unsigned long long size = 0;

  static FileState Of(const std::filesystem::path& file);
  bool operator==(const FileState&) const = default;
};

// Sets a file's modification and access time far into the past, so that any write shows.
void BackdateFile(const std::filesystem::path& file);

// A file under watch from now on: its state now and every access to it.
class WatchedFile {
 public:
  explicit WatchedFile(const std::filesystem::path& file);

  // Fails the test unless since then the file was opened `opens` times, each time only to read,
  // and closed again, and its bytes, times and identity are as they were.
  void ExpectOnlyRead(int opens);

 private:
  std::filesystem::path file_;
  FileState before_;
  FileWatch watch_;
};

// Copies of the sample logs in `dir`, with a modification time long past.
struct SampleLogs {
  explicit SampleLogs(const std::filesystem::path& dir);
  std::filesystem::path downloads;
  std::filesystem::path uploads;
};

}  // namespace quorvane::testing
