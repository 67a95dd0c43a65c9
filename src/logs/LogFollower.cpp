#include "logs/LogFollower.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string_view>
#include <utility>

#include "logs/ServerLog.h"
#include "logs/TextEncoding.h"

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <windows.h>
#else
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>
#endif
#ifdef __linux__
#include <sys/inotify.h>
#endif

namespace quorvane {

namespace {

using Clock = std::chrono::steady_clock;
constexpr std::size_t kReadPiece = std::size_t{64} << 10;
constexpr std::size_t kSeenBytes = 64;

// The little of the file system a follower needs: POSIX calls, or the C runtime's on Windows
// (which has no inode: a rotation there shows only as a shorter file).
struct FileStat {
  bool exists = false;
  int error = 0;  // why it could not be looked at, other than not being there
  std::uint64_t size = 0;
  bool regular = true;  // a FIFO has no size to be cut short to
  std::uint64_t device = 0;
  std::uint64_t inode = 0;
};

#ifdef _WIN32
FileStat StatOf(int result, const struct _stat64& st) {
  FileStat stat;
  if (result != 0) {
    stat.error = errno == ENOENT ? 0 : errno;
    return stat;
  }
  stat.exists = true;
  stat.size = static_cast<std::uint64_t>(st.st_size);
  return stat;
}
FileStat StatPath(const std::filesystem::path& path) {
  struct _stat64 st;
  return StatOf(_wstat64(path.c_str(), &st), st);
}
FileStat StatFd(int fd) {
  struct _stat64 st;
  return StatOf(_fstat64(fd, &st), st);
}
int OpenRead(const std::filesystem::path& path) {
  return _wopen(path.c_str(), _O_RDONLY | _O_BINARY);
}
void CloseFd(int fd) {
  _close(fd);
}
bool SeekTo(int fd, std::uint64_t offset) {
  return _lseeki64(fd, static_cast<long long>(offset), SEEK_SET) >= 0;
}
long long ReadFd(int fd, char* to, std::size_t size) {
  return _read(fd, to, static_cast<unsigned>(size));
}
long long ReadAt(int fd, char* to, std::size_t size, std::uint64_t offset) {
  const long long here = _lseeki64(fd, 0, SEEK_CUR);
  if (here < 0 || !SeekTo(fd, offset))
    return -1;
  const long long got = ReadFd(fd, to, size);
  return SeekTo(fd, static_cast<std::uint64_t>(here)) ? got : -1;
}
bool Readable(int) {
  return true;
}
#else
FileStat StatOf(int result, const struct stat& st) {
  FileStat stat;
  if (result != 0) {
    stat.error = errno == ENOENT || errno == ENOTDIR ? 0 : errno;
    return stat;
  }
  stat.exists = true;
  stat.regular = S_ISREG(st.st_mode);
  stat.size = stat.regular ? static_cast<std::uint64_t>(st.st_size) : 0;
  stat.device = static_cast<std::uint64_t>(st.st_dev);
  stat.inode = static_cast<std::uint64_t>(st.st_ino);
  return stat;
}
FileStat StatPath(const std::filesystem::path& path) {
  struct stat st;
  return StatOf(::stat(path.c_str(), &st), st);
}
FileStat StatFd(int fd) {
  struct stat st;
  return StatOf(::fstat(fd, &st), st);
}
int OpenRead(const std::filesystem::path& path) {
  // Without waiting: a FIFO with no writer opens and reads as empty.
  return ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
}
void CloseFd(int fd) {
  ::close(fd);
}
bool SeekTo(int fd, std::uint64_t offset) {
  return ::lseek(fd, static_cast<off_t>(offset), SEEK_SET) >= 0;
}
long long ReadFd(int fd, char* to, std::size_t size) {
  return ::read(fd, to, size);
}
long long ReadAt(int fd, char* to, std::size_t size, std::uint64_t offset) {
  return ::pread(fd, to, size, static_cast<off_t>(offset));
}
// Whether a read would not wait: standard input is not made non-blocking (its description is
// shared with whoever started us), so it is asked first.
bool Readable(int fd) {
  pollfd p{fd, POLLIN, 0};
  return ::poll(&p, 1, 0) > 0;
}
#endif

LogKind ClassicKind(SourceRole role) {
  return role == SourceRole::Upload || role == SourceRole::UploadOrServerLog ? LogKind::Upload
                                                                             : LogKind::Download;
}

}  // namespace

struct LogFollower::File {
  LogSource source;
  bool followed = true;
  bool standardInput = false;
  bool ended = false;  // standard input's end
  bool formatKnown = true;
  LogFormat format = LogFormat::Classic;
  LogKind classicKind = LogKind::Download;
  Encoding encoding = Encoding::Utf8;
  DateOrder datesOrder = DateOrder::Detect;  // as the load read the file's dates
  std::optional<FormatDetector> detector;

  int fd = -1;
  std::uint64_t device = 0, inode = 0;
  std::uint64_t offset = 0;  // bytes read from the file
  std::string pending;       // bytes read that are no whole line yet
  // The last bytes read, ending at offset: a file cut short and written past that point again
  // between two looks shows itself by other bytes there.
  std::string seen;
  std::uint64_t sizeSeen = 0;
  Clock::time_point changed = Clock::now();
  std::optional<Clock::time_point> goneSeen;  // when its name stopped naming the open file
  bool missing = false;
  bool replacedSinceLoad = false;  // told as Rotated by the first Poll

  // A classic log's state: its header, its data's end, its line ends.
  bool headerSeen = false;
  bool dataEnded = false;
  enum class Lines { Unknown, Cr, Lf } lines = Lines::Unknown;
  bool bareCr = false;
  bool skipLf = false;  // a line feed that comes next belongs to the CR before it

  // The last line taken without its line end, and the row it made.
  bool openTaken = false;
  bool openHeader = false;
  std::string openText;
  std::optional<std::pair<LogKind, std::size_t>> openRow;

  ServerLineReader server;

  void Restart() {
    offset = 0;
    pending.clear();
    seen.clear();
    headerSeen = dataEnded = skipLf = openTaken = false;
    lines = Lines::Unknown;
    openRow.reset();
  }
};

struct LogFollower::Batch {
  struct Row {
    std::size_t source;
    DateOrder dates;
    LogKind table;
    Encoding encoding;
    std::optional<std::size_t> replaces;
    std::string cells[5];
  };
  std::vector<Row> rows;
};

namespace {

// Decides a classic log's line ends from its first one; false while none is in sight.
bool KnowLines(std::string_view text, bool whole, bool& lf, bool& bareCr) {
  const std::size_t cr = text.find('\r');
  const std::size_t nl = text.find('\n');
  if (nl < cr) {
    lf = true;
    return true;
  }
  if (cr != std::string_view::npos) {
    if (cr + 1 == text.size() && !whole)
      return false;
    lf = false;
    bareCr = cr + 1 == text.size() || text[cr + 1] != '\n';
    return true;
  }
  if (!whole)
    return false;
  lf = false;
  bareCr = true;
  return true;
}

}  // namespace

LogFollower::LogFollower(const std::vector<LogSource>& sources,
                         const std::vector<SourceInfo>& loaded, std::size_t downloadRows,
                         std::size_t uploadRows, FollowOptions options)
    : options_(options) {
  rows_[0] = downloadRows;
  rows_[1] = uploadRows;
#ifdef __linux__
  notify_ = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
#endif
  for (std::size_t i = 0; i < sources.size(); ++i) {
    auto file = std::make_unique<File>();
    File& f = *file;
    files_.push_back(std::move(file));
    f.source = sources[i];
    const SourceInfo info = i < loaded.size() ? loaded[i] : SourceInfo{};
    f.standardInput = f.source.input.standardInput;
    f.followed = !info.compressed;
    f.format = info.format;
    f.classicKind = ClassicKind(f.source.role);
    f.encoding = info.encoding;
    f.datesOrder = info.datesOrder;
    const bool readBefore = info.bytesUsed != 0 || info.downloads + info.uploads != 0;
    const bool either = f.source.role == SourceRole::DownloadOrServerLog ||
                        f.source.role == SourceRole::UploadOrServerLog;
    if (!readBefore && either) {
      f.formatKnown = false;
      f.detector.emplace();
    } else if (!readBefore) {
      f.format = f.source.role == SourceRole::ServerLog ? LogFormat::Mobius : LogFormat::Classic;
    }
    if (options.encoding == EncodingChoice::Windows1252)
      f.encoding = Encoding::Windows1252;
    else if (options.encoding == EncodingChoice::MacRoman)
      f.encoding = Encoding::MacRoman;
    if (!f.followed)
      continue;
    if (f.standardInput) {
      f.fd = 0;
      continue;
    }
    const FileStat stat = StatPath(f.source.input.path);
    f.fd = stat.exists ? OpenRead(f.source.input.path) : -1;
    if (f.fd < 0) {
      f.missing = true;  // reading starts when it is there
      continue;
    }
    const FileStat opened = StatFd(f.fd);
    f.device = opened.device;
    f.inode = opened.inode;
    if (info.inode != 0 && (opened.inode != info.inode || opened.device != info.device)) {
      // Another file under the name than the one the load read (rotated since): it is read from
      // its start; what the old one took after the load is out of reach.
      f.replacedSinceLoad = true;
      continue;
    }
    if (f.format == LogFormat::Classic) {
      std::string head(kReadPiece, '\0');
      const long long got = ReadFd(f.fd, head.data(), head.size());
      head.resize(got > 0 ? static_cast<std::size_t>(got) : 0);
      bool lf = false;
      if (KnowLines(head, false, lf, f.bareCr))
        f.lines = lf ? File::Lines::Lf : File::Lines::Cr;
    }
    const std::uint64_t taken = info.bytesUsed - std::min(info.openTail, info.bytesUsed);
    f.headerSeen = taken != 0;
    f.dataEnded = info.dataEnded;
    f.offset = taken;
    if (!SeekTo(f.fd, taken))
      continue;
    if (info.openTail != 0) {
      // The load took the file's last line without its line end: bytes that continue it make
      // it read again whole.
      f.pending.resize(static_cast<std::size_t>(info.openTail));
      const long long got = ReadFd(f.fd, f.pending.data(), f.pending.size());
      f.pending.resize(got > 0 ? static_cast<std::size_t>(got) : 0);
      f.offset += f.pending.size();
      f.openTaken = true;
      f.openText = f.pending;
      if (f.format == LogFormat::Classic) {
        f.openHeader = !f.headerSeen;
        f.headerSeen = true;
        const std::size_t k = f.classicKind == LogKind::Upload;
        if (!f.openHeader && rows_[k] != 0)
          f.openRow = {{f.classicKind, rows_[k] - 1}};
      } else {
        LogTableBuilder::Cells cells;
        const ServerLineKind kind = f.server.Read(f.openText, cells);
        const std::size_t k = kind == ServerLineKind::Upload;
        if ((kind == ServerLineKind::Download || kind == ServerLineKind::Upload) && rows_[k] != 0)
          f.openRow = {{k ? LogKind::Upload : LogKind::Download, rows_[k] - 1}};
      }
    }
  }
  for (const auto& f : files_) {
    if (f->fd < 0 || f->standardInput || f->offset == 0)
      continue;
    f->seen.resize(static_cast<std::size_t>(std::min<std::uint64_t>(f->offset, kSeenBytes)));
    const long long got = ReadAt(f->fd, f->seen.data(), f->seen.size(), f->offset - f->seen.size());
    f->seen.resize(got > 0 ? static_cast<std::size_t>(got) : 0);
  }
#ifdef __linux__
  if (notify_ >= 0) {
    for (const auto& f : files_) {
      if (f->followed && !f->standardInput) {
        const std::filesystem::path dir = f->source.input.path.parent_path();
        inotify_add_watch(notify_, dir.empty() ? "." : dir.c_str(),
                          IN_MODIFY | IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO |
                              IN_ATTRIB | IN_CLOSE_WRITE);
      }
    }
  }
#endif
}

LogFollower::~LogFollower() {
  for (const auto& f : files_) {
    if (f->fd > 0)
      CloseFd(f->fd);
  }
#ifndef _WIN32
  if (notify_ >= 0)
    ::close(notify_);
#endif
}

std::size_t LogFollower::FileCount() const {
  return static_cast<std::size_t>(
      std::count_if(files_.begin(), files_.end(), [](const auto& f) { return f->followed; }));
}

bool LogFollower::Missing(std::size_t source) const {
  return source < files_.size() && files_[source]->missing;
}

void LogFollower::Wait(std::chrono::milliseconds most) {
  const auto ms = static_cast<int>(std::max<std::chrono::milliseconds::rep>(0, most.count()));
#ifdef _WIN32
  Sleep(static_cast<DWORD>(ms));
#else
  std::vector<pollfd> fds;
  if (notify_ >= 0)
    fds.push_back({notify_, POLLIN, 0});
  for (const auto& f : files_) {
    if (f->standardInput && f->followed && !f->ended)
      fds.push_back({0, POLLIN, 0});
  }
  if (::poll(fds.data(), fds.size(), ms) > 0 && notify_ >= 0 && (fds[0].revents & POLLIN)) {
    char events[4096];
    while (::read(notify_, events, sizeof events) > 0) {
    }
  }
#endif
}

FollowUpdate LogFollower::Poll() {
  FollowUpdate update;
  if (stopped_)
    return update;
  Batch batch;
  for (std::size_t i = 0; i < files_.size(); ++i) {
    if (std::exchange(files_[i]->replacedSinceLoad, false))
      update.events.push_back({i, FollowEventKind::Rotated});
  }
  for (std::size_t i = 0; i < files_.size() && !stopped_; ++i)
    PollFile(i, batch, update);

  // Rows in a row of one table and one encoding make one table; a replacement is one of its own.
  for (std::size_t i = 0; i < batch.rows.size();) {
    const Batch::Row& first = batch.rows[i];
    std::size_t end = i + 1;
    while (!first.replaces && end < batch.rows.size() && !batch.rows[end].replaces &&
           batch.rows[end].source == first.source && batch.rows[end].dates == first.dates &&
           batch.rows[end].table == first.table && batch.rows[end].encoding == first.encoding)
      ++end;
    // A file's rows are dated in the order its load settled on, not each batch by itself.
    std::optional<DateOrder> dates = options_.dates;
    if (dates == DateOrder::Detect)
      dates = first.dates;
    LogTableBuilder builder(options_.kept, dates);
    for (; i < end; ++i) {
      const Batch::Row& row = batch.rows[i];
      const LogTableBuilder::Cells cells{row.cells[0], row.cells[1], row.cells[2], row.cells[3],
                                         row.cells[4]};
      builder.AddRows(&cells, 1);
    }
    update.rows.push_back(
        {first.source, first.table, first.replaces, std::move(builder).Finish(first.encoding)});
  }
  return update;
}

namespace {

// What a line gives a table, if anything.
struct MadeRow {
  LogKind table;
  Encoding encoding;
  std::string cells[5];
};

}  // namespace

// Reads a file's new bytes and takes its whole lines (and, once it is quiet or done, its last).
void LogFollower::PollFile(std::size_t index, Batch& batch, FollowUpdate& update) {
  File& f = *files_[index];
  if (!f.followed || f.ended)
    return;
  const auto fail = [&](const std::string& reason) {
    update.failure = f.source.input.Text() + ": " + reason;
    stopped_ = true;
  };
  const auto event = [&](FollowEventKind kind) { update.events.push_back({index, kind}); };

  // One line: the row it makes, if any, appended or in place of the row its start made.
  const auto take = [&](std::string_view line, bool open) {
    std::optional<std::pair<LogKind, std::size_t>> before;
    if (f.openTaken) {
      if (line == f.openText) {
        f.openTaken = open;
        return;
      }
      if (f.openHeader) {
        f.openTaken = open;
        f.openText = line;
        return;
      }
      before = f.openRow;
      f.openTaken = false;
    }
    const bool header = f.format == LogFormat::Classic && !f.headerSeen;
    std::optional<MadeRow> made;
    if (f.format != LogFormat::Classic) {
      LogTableBuilder::Cells cells;
      const ServerLineKind kind = f.server.Read(line, cells);
      if (kind == ServerLineKind::Download || kind == ServerLineKind::Upload) {
        made.emplace();
        made->table = kind == ServerLineKind::Upload ? LogKind::Upload : LogKind::Download;
        made->encoding = Encoding::Utf8;
        const std::string_view views[5] = {cells.dateTime, cells.address, cells.account, cells.name,
                                           cells.fileName};
        for (int c = 0; c < 5; ++c)
          made->cells[c] = views[c];
      } else if (kind == ServerLineKind::Unreadable) {
        event(FollowEventKind::UnreadableLine);
      }
    } else if (header) {
      f.headerSeen = true;
    } else if (line.empty()) {
      f.dataEnded = true;  // as a load, nothing after an empty line
    } else {
      std::size_t tabs[4];
      int found = 0;
      for (std::size_t at = line.find('\t'); at != std::string_view::npos && found < 4;
           at = line.find('\t', at + 1))
        tabs[found++] = at;
      if (found < 4) {
        event(FollowEventKind::UnreadableLine);
      } else {
        made.emplace();
        made->table = f.classicKind;
        // A code page's bytes go in as they are; a line that breaks a UTF-8 file's UTF-8 comes
        // in decoded, as a load would read it.
        const bool decode = f.encoding == Encoding::Utf8 && !IsValidUtf8(line);
        made->encoding = f.encoding;
        const Encoding fallback = f.bareCr ? Encoding::MacRoman : Encoding::Windows1252;
        const std::size_t fifthEnd = std::min(line.find('\t', tabs[3] + 1), line.size());
        std::size_t start = 0;
        for (int c = 0; c < 5; ++c) {
          const std::size_t stop = c < 4 ? tabs[c] : fifthEnd;
          const std::string_view cell = line.substr(start, stop - start);
          made->cells[c] = decode ? DecodeToUtf8(cell, fallback) : std::string(cell);
          start = stop + 1;
        }
      }
    }
    std::optional<std::size_t> row;
    if (made) {
      const std::size_t k = made->table == LogKind::Upload;
      Batch::Row out{index, f.datesOrder, made->table, made->encoding, std::nullopt, {}};
      if (before && before->first == made->table) {
        out.replaces = before->second;
        row = before->second;
      } else {
        row = rows_[k]++;
      }
      std::move(std::begin(made->cells), std::end(made->cells), std::begin(out.cells));
      batch.rows.push_back(std::move(out));
    }
    if (open) {
      f.openTaken = true;
      f.openHeader = header;
      f.openText = line;
      f.openRow.reset();
      if (row)
        f.openRow = {{made->table, *row}};
    }
  };

  // Takes the whole lines of what is pending; `whole`: the file is done or quiet, so its last
  // line is whole without its line end.
  const auto lines = [&](bool whole) {
    std::size_t p = 0;
    while (!f.dataEnded) {
      if (!f.formatKnown) {
        const std::optional<LogFormat> format =
            f.detector->Look(f.pending.data(), f.pending.data() + f.pending.size(), whole);
        if (!format)
          return;
        f.formatKnown = true;
        f.format = *format;
      }
      if (f.format == LogFormat::Classic && f.lines == File::Lines::Unknown) {
        bool lf = false;
        if (!KnowLines(std::string_view(f.pending).substr(p), whole, lf, f.bareCr))
          break;
        f.lines = lf ? File::Lines::Lf : File::Lines::Cr;
      }
      const char stop = f.format != LogFormat::Classic || f.lines == File::Lines::Lf ? '\n' : '\r';
      const std::size_t e = f.pending.find(stop, p);
      if (e == std::string::npos)
        break;
      std::size_t lineEnd = e;
      std::size_t next = e + 1;
      if (stop == '\n' && e > p && f.pending[e - 1] == '\r')
        lineEnd = e - 1;
      if (stop == '\r' && e + 1 < f.pending.size() && f.pending[e + 1] == '\n')
        next = e + 2;
      f.skipLf = stop == '\r' && e + 1 == f.pending.size();
      take(std::string_view(f.pending).substr(p, lineEnd - p), false);
      p = next;
    }
    if (f.dataEnded) {
      f.pending.clear();
      f.openTaken = false;
      return;
    }
    f.pending.erase(0, p);
    if (!f.pending.empty() && whole && f.formatKnown)
      take(f.pending, true);
  };

  // Reads what the handle has up to its end; false after a read error.
  // Cut short and written past where reading stopped between two looks: the bytes before that
  // point changed. Looked at only when the size did.
  const auto rewritten = [&](std::uint64_t size) {
    if (size == std::exchange(f.sizeSeen, size) || f.seen.empty() || f.offset < f.seen.size())
      return false;
    char there[kSeenBytes];
    const long long got = ReadAt(f.fd, there, f.seen.size(), f.offset - f.seen.size());
    return got == static_cast<long long>(f.seen.size()) &&
           std::string_view(there, f.seen.size()) != f.seen;
  };
  const auto drain = [&]() -> bool {
    char piece[kReadPiece];
    for (;;) {
      if (f.standardInput && !Readable(f.fd))
        return true;
      const long long got = ReadFd(f.fd, piece, sizeof piece);
      if (got < 0) {
        if (errno == EAGAIN || errno == EINTR)
          return true;
        fail(std::strerror(errno));
        return false;
      }
      if (got == 0) {
        if (f.standardInput)
          f.ended = true;
        return true;
      }
      std::size_t from = 0;
      if (f.skipLf && piece[0] == '\n')
        from = 1;
      f.skipLf = false;
      f.pending.append(piece + from, static_cast<std::size_t>(got) - from);
      f.offset += static_cast<std::uint64_t>(got);
      f.seen.append(piece, static_cast<std::size_t>(got));
      if (f.seen.size() > kSeenBytes)
        f.seen.erase(0, f.seen.size() - kSeenBytes);
      f.changed = Clock::now();
      if (f.standardInput)
        return true;  // one piece a poll: a pipe that keeps writing never holds us here
    }
  };
  const auto finish = [&](FollowEventKind kind) {
    if (drain())
      lines(true);
    CloseFd(f.fd);
    f.fd = -1;
    event(kind);
  };

  if (f.standardInput) {
    if (!drain())
      return;
    lines(f.ended || Clock::now() - f.changed >= options_.quiet);
    if (f.ended)
      update.inputEnded = true;
    return;
  }
  const std::filesystem::path& path = f.source.input.path;
  const FileStat now = StatPath(path);
  if (now.error != 0)
    return fail(std::strerror(now.error));
  if (f.fd >= 0 && (!now.exists || now.inode != f.inode)) {
    // The writer may still finish the old file through its handle: it is read until quiet.
    if (!f.goneSeen)
      f.goneSeen = Clock::now();
    if (!drain())
      return;
    if (Clock::now() - std::max(f.changed, *f.goneSeen) < options_.quiet)
      return lines(false);
    f.goneSeen.reset();
    finish(now.exists ? FollowEventKind::Rotated : FollowEventKind::Deleted);
    if (stopped_ || !now.exists) {
      f.missing = !now.exists;
      return;
    }
    f.Restart();
  }
  if (f.fd < 0) {
    if (!now.exists)
      return;
    f.fd = OpenRead(path);
    if (f.fd < 0) {
      if (errno != ENOENT)
        fail(std::strerror(errno));
      return;
    }
    const FileStat opened = StatFd(f.fd);
    f.device = opened.device;
    f.inode = opened.inode;
    f.Restart();
    f.changed = Clock::now();
    if (f.missing) {
      f.missing = false;
      event(FollowEventKind::Back);
    }
  } else if (now.regular &&
             ((StatFd(f.fd).size < f.offset && now.size < f.offset) || rewritten(now.size))) {
    // Cut short in place: what was read stays; the file is read again from its start.
    lines(true);
    f.Restart();
    if (!SeekTo(f.fd, 0))
      return fail(std::strerror(errno));
    event(FollowEventKind::Truncated);
  }
  if (!drain())
    return;
  lines(Clock::now() - f.changed >= options_.quiet);
}

void ApplyFollowUpdate(const FollowUpdate& update, LogPair& tables) {
  for (const FollowedRows& rows : update.rows) {
    LogTable& table = rows.table == LogKind::Download ? tables.downloads : tables.uploads;
    if (rows.replaces)
      table.ReplaceRow(*rows.replaces, rows.rows, 0);
    else
      table.AppendRows(rows.rows);
  }
}

}  // namespace quorvane
