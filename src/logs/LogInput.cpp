#include "logs/LogInput.h"

#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace quorvane {

namespace {

constexpr std::size_t kPackedChunk = std::size_t{64} << 10;

}  // namespace

std::string InputName::Text() const {
  if (standardInput)
    return "-";
  const auto u8 = path.u8string();
  return std::string(u8.begin(), u8.end());
}

struct LogInput::Inflater {
  Inflater() : packed(new unsigned char[kPackedChunk]) {}
  ~Inflater() {
    if (ready)
      inflateEnd(&stream);
  }
  z_stream stream{};
  bool ready = false;
  std::unique_ptr<unsigned char[]> packed;
  bool packedEnd = false;
  bool memberEnded = false;  // the last member ended; another may follow
};

LogInput::LogInput(const InputName& name) {
  if (name.standardInput) {
#ifdef _WIN32
    fd_ = _fileno(stdin);
    _setmode(fd_, _O_BINARY);
#else
    fd_ = STDIN_FILENO;
#endif
  } else {
#ifdef _WIN32
    fd_ = _wopen(name.path.c_str(), _O_RDONLY | _O_BINARY | _O_NOINHERIT);
#else
    // Without waiting: opening a named pipe would otherwise wait for a writer, maybe forever.
    fd_ = open(name.path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd_ >= 0) {
      // Reads wait again for a writer that is there; with none, a pipe reads as empty.
      const int flags = fcntl(fd_, F_GETFL);
      if (flags != -1)
        fcntl(fd_, F_SETFL, flags & ~O_NONBLOCK);
    }
#endif
    if (fd_ < 0) {
      openError_ = std::string("cannot open the file: ") + std::strerror(errno);
      return;
    }
    ownFd_ = true;
  }
#ifdef _WIN32
  struct _stat64 status;
  if (_fstat64(fd_, &status) == 0 && (status.st_mode & _S_IFREG) != 0)
    size_ = static_cast<std::uint64_t>(status.st_size);
#else
  struct stat status;
  if (fstat(fd_, &status) == 0 && S_ISREG(status.st_mode)) {
    size_ = static_cast<std::uint64_t>(status.st_size);
    device_ = static_cast<std::uint64_t>(status.st_dev);
    inode_ = static_cast<std::uint64_t>(status.st_ino);
  }
#endif
  // The first two bytes tell a gzip file; they are handed out again as the text's start when not.
  while (headLength_ < 2) {
    const long long got = ReadRaw(head_ + headLength_, 2 - headLength_);
    if (got < 0) {
      openError_ = std::string("cannot read the file: ") + std::strerror(errno);
      return;
    }
    if (got == 0)
      break;
    headLength_ += static_cast<std::size_t>(got);
  }
  if (headLength_ == 2 && head_[0] == '\x1f' && head_[1] == '\x8b') {
    inflater_ = std::make_unique<Inflater>();
    if (inflateInit2(&inflater_->stream, 15 + 16) != Z_OK) {
      openError_ = "there is not enough memory to read the file";
      return;
    }
    inflater_->ready = true;
  }
}

LogInput::~LogInput() {
  if (ownFd_) {
#ifdef _WIN32
    _close(fd_);
#else
    close(fd_);
#endif
  }
}

long long LogInput::ReadRaw(char* to, std::size_t size) {
  for (;;) {
#ifdef _WIN32
    const long long got =
        _read(fd_, to, static_cast<unsigned>(std::min<std::size_t>(size, 1u << 30)));
#else
    const long long got = read(fd_, to, size);
#endif
    if (got >= 0 || errno != EINTR) {
      if (got > 0)
        taken_ += static_cast<std::uint64_t>(got);
      return got;
    }
  }
}

bool LogInput::SkipTo(std::uint64_t offset) {
  // A plain file's position moves; a packed one's text must be unpacked to get there.
  if (inflater_ || size_ == 0 || offset < headLength_ || headUsed_ != 0 || taken_ != headLength_)
    return false;
#ifdef _WIN32
  const long long at = _lseeki64(fd_, static_cast<long long>(offset), SEEK_SET);
#else
  const long long at = lseek(fd_, static_cast<off_t>(offset), SEEK_SET);
#endif
  if (at < 0 || static_cast<std::uint64_t>(at) != offset)
    return false;
  headUsed_ = headLength_;
  taken_ = offset;
  return true;
}

std::optional<std::size_t> LogInput::Read(char* to, std::size_t size, std::string& error) {
  if (inflater_)
    return Inflate(to, size, error);
  if (headUsed_ < headLength_ && size > 0) {
    const std::size_t count = std::min(size, headLength_ - headUsed_);
    std::memcpy(to, head_ + headUsed_, count);
    headUsed_ += count;
    return count;
  }
  const long long got = ReadRaw(to, size);
  if (got < 0) {
    error = std::string("cannot read the file: ") + std::strerror(errno);
    return std::nullopt;
  }
  return static_cast<std::size_t>(got);
}

std::optional<std::size_t> LogInput::Inflate(char* to, std::size_t size, std::string& error) {
  Inflater& z = *inflater_;
  for (;;) {
    if (z.stream.avail_in == 0 && !z.packedEnd) {
      std::size_t filled = 0;
      if (headUsed_ < headLength_) {
        std::memcpy(z.packed.get(), head_, headLength_);
        filled = headUsed_ = headLength_;
      }
      const long long got =
          ReadRaw(reinterpret_cast<char*>(z.packed.get()) + filled, kPackedChunk - filled);
      if (got < 0) {
        error = std::string("cannot read the file: ") + std::strerror(errno);
        return std::nullopt;
      }
      z.packedEnd = got == 0 && filled == 0;
      z.stream.next_in = z.packed.get();
      z.stream.avail_in = static_cast<uInt>(filled + static_cast<std::size_t>(got));
    }
    if (z.stream.avail_in == 0) {
      if (z.memberEnded)
        return 0;
      error = "the compressed file ends early (it is cut off)";
      return std::nullopt;
    }
    if (z.memberEnded) {
      // More bytes behind a member: another member, as `cat a.gz b.gz` makes.
      inflateReset(&z.stream);
      z.memberEnded = false;
    }
    z.stream.next_out = reinterpret_cast<unsigned char*>(to);
    z.stream.avail_out = static_cast<uInt>(std::min<std::size_t>(size, UINT_MAX));
    const int status = inflate(&z.stream, Z_NO_FLUSH);
    const std::size_t produced = std::min<std::size_t>(size, UINT_MAX) - z.stream.avail_out;
    if (status == Z_STREAM_END) {
      z.memberEnded = true;
    } else if (status == Z_MEM_ERROR) {
      error = "there is not enough memory to read the file";
      return std::nullopt;
    } else if (status != Z_OK && status != Z_BUF_ERROR) {
      error = "the compressed file is damaged";
      return std::nullopt;
    }
    if (produced > 0)
      return produced;
  }
}

std::optional<char> LastByteOf(const InputName& name) {
  if (name.standardInput)
    return std::nullopt;
  std::optional<char> last;
  char byte = 0;
#ifdef _WIN32
  const int fd = _wopen(name.path.c_str(), _O_RDONLY | _O_BINARY | _O_NOINHERIT);
  if (fd < 0)
    return std::nullopt;
  struct _stat64 status;
  if (_fstat64(fd, &status) == 0 && (status.st_mode & _S_IFREG) != 0 && status.st_size > 0 &&
      _lseeki64(fd, status.st_size - 1, SEEK_SET) == status.st_size - 1 && _read(fd, &byte, 1) == 1)
    last = byte;
  _close(fd);
#else
  const int fd = open(name.path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0)
    return std::nullopt;
  struct stat status;
  if (fstat(fd, &status) == 0 && S_ISREG(status.st_mode) && status.st_size > 0 &&
      pread(fd, &byte, 1, status.st_size - 1) == 1)
    last = byte;
  close(fd);
#endif
  return last;
}

}  // namespace quorvane
