#include "FileWatch.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <iterator>
#include <sstream>
#include <stdexcept>

namespace quorvane::testing {

std::string FileEvents::Describe() const {
  std::ostringstream text;
  text << "opened " << opened << ", read " << read << ", modified " << modified
       << ", attributes changed " << attributesChanged << ", closed unwritable " << closedUnwritable
       << ", closed writable " << closedWritable << ", moved or deleted " << movedOrDeleted;
  return text.str();
}

FileWatch::FileWatch(const std::filesystem::path& file)
    : fd_(inotify_init1(IN_NONBLOCK | IN_CLOEXEC)) {
  if (fd_ < 0)
    throw std::runtime_error(std::string("inotify_init1: ") + std::strerror(errno));
  const std::uint32_t mask = IN_OPEN | IN_ACCESS | IN_MODIFY | IN_ATTRIB | IN_CLOSE_WRITE |
                             IN_CLOSE_NOWRITE | IN_MOVE_SELF | IN_DELETE_SELF;
  if (inotify_add_watch(fd_, file.c_str(), mask) < 0) {
    const int error = errno;
    close(fd_);
    throw std::runtime_error("inotify_add_watch " + file.string() + ": " + std::strerror(error));
  }
}

FileWatch::~FileWatch() {
  close(fd_);
}

FileEvents FileWatch::Take() {
  FileEvents events;
  alignas(inotify_event) char buffer[4096];
  // Events of a close are queued as the close returns; a short poll lets stragglers in.
  pollfd wait{fd_, POLLIN, 0};
  poll(&wait, 1, 50);
  for (;;) {
    const ssize_t got = read(fd_, buffer, sizeof buffer);
    if (got <= 0)
      break;
    for (ssize_t at = 0; at < got;) {
      const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
      const std::uint32_t m = event->mask;
      events.opened += (m & IN_OPEN) != 0;
      events.read += (m & IN_ACCESS) != 0;
      events.modified += (m & IN_MODIFY) != 0;
      events.attributesChanged += (m & IN_ATTRIB) != 0;
      events.closedUnwritable += (m & IN_CLOSE_NOWRITE) != 0;
      events.closedWritable += (m & IN_CLOSE_WRITE) != 0;
      events.movedOrDeleted += (m & (IN_MOVE_SELF | IN_DELETE_SELF)) != 0;
      at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
    }
  }
  return events;
}

FileState FileState::Of(const std::filesystem::path& file) {
  FileState state;
  struct stat info {};
  if (stat(file.c_str(), &info) != 0) {
    throw std::runtime_error("stat " + file.string() + ": " + std::strerror(errno));
  }
  state.modifiedNs = info.st_mtim.tv_sec * 1'000'000'000LL + info.st_mtim.tv_nsec;
  state.changedNs = info.st_ctim.tv_sec * 1'000'000'000LL + info.st_ctim.tv_nsec;
  state.inode = info.st_ino;
  state.size = static_cast<unsigned long long>(info.st_size);
  std::ifstream in(file, std::ios::binary);
  state.bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return state;
}

void BackdateFile(const std::filesystem::path& file) {
  const timespec times[2] = {{978'307'200, 123'456'789}, {978'307'200, 123'456'789}};  // 2001
  if (utimensat(AT_FDCWD, file.c_str(), times, 0) != 0) {
    throw std::runtime_error("utimensat " + file.string() + ": " + std::strerror(errno));
  }
}

WatchedFile::WatchedFile(const std::filesystem::path& file)
    : file_(file), before_(FileState::Of(file)), watch_(file) {}

void WatchedFile::ExpectOnlyRead(int opens) {
  const FileEvents events = watch_.Take();
  EXPECT_TRUE(events.OnlyRead()) << file_ << ": " << events.Describe();
  EXPECT_EQ(events.opened, opens) << file_;
  EXPECT_EQ(FileState::Of(file_), before_) << file_ << " changed";
}

SampleLogs::SampleLogs(const std::filesystem::path& dir)
    : downloads(dir / "Download Log.txt"), uploads(dir / "Upload Log.txt") {
  const std::filesystem::path examples = QUORVANE_EXAMPLES_DIR;
  std::filesystem::copy_file(examples / "Download Log.txt", downloads);
  std::filesystem::copy_file(examples / "Upload Log.txt", uploads);
  BackdateFile(downloads);
  BackdateFile(uploads);
}

}  // namespace quorvane::testing
