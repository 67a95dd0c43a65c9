#include "OutputFile.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <system_error>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace quorvane {

namespace {

namespace fs = std::filesystem;

// The file is made with O_EXCL under a name of our own rather than by mkstemp, so that it gets
// the permissions any new file gets (mkstemp's are 0600, and the umask cannot be read without
// changing it for every thread).
#ifdef _WIN32
int OpenNew(const fs::path& path) {
  return _wopen(path.c_str(), _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY | _O_NOINHERIT,
                _S_IREAD | _S_IWRITE);
}
long long WriteSome(int fd, const char* bytes, std::size_t size) {
  return _write(fd, bytes, static_cast<unsigned>(std::min<std::size_t>(size, 1u << 30)));
}
int FlushToDisk(int fd) {
  return _commit(fd);
}
int CloseFile(int fd) {
  return _close(fd);
}
void KeepMode(int, const fs::path&) {}  // Windows has no mode bits to keep
// A reader holding the old file open without sharing its deletion makes this fail.
std::optional<std::string> Replace(const fs::path& from, const fs::path& to) {
  if (MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
    return std::nullopt;
  return std::system_category().message(static_cast<int>(GetLastError()));
}
void SyncFolder(const fs::path&) {}  // MOVEFILE_WRITE_THROUGH did
#else
int OpenNew(const fs::path& path) {
  return ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
}
long long WriteSome(int fd, const char* bytes, std::size_t size) {
  return ::write(fd, bytes, size);
}
int FlushToDisk(int fd) {
  return ::fsync(fd);
}
int CloseFile(int fd) {
  return ::close(fd);
}
// A page the operator made readable to a group only stays so.
void KeepMode(int fd, const fs::path& path) {
  struct stat old;
  if (::stat(path.c_str(), &old) == 0 && S_ISREG(old.st_mode))
    ::fchmod(fd, old.st_mode & 0777);
}
std::optional<std::string> Replace(const fs::path& from, const fs::path& to) {
  if (::rename(from.c_str(), to.c_str()) == 0)
    return std::nullopt;
  return std::strerror(errno);
}
// The rename itself reaches the disk with the folder; a folder that cannot be opened for it
// still holds the new file.
void SyncFolder(const fs::path& folder) {
  const int fd = ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd >= 0) {
    ::fsync(fd);
    ::close(fd);
  }
}
#endif

// ".NAME.XXXXXX" beside the file: hidden from a listing, and in the same file system, so that the
// rename replaces rather than copies.
fs::path TemporaryName(const fs::path& path) {
  static std::atomic<std::uint64_t> counter{0};
  std::uint64_t x = static_cast<std::uint64_t>(
                        std::chrono::high_resolution_clock::now().time_since_epoch().count()) +
                    0x9E3779B97F4A7C15u * ++counter;
  x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9u;  // splitmix64's finish: every bit moves
  x = (x ^ (x >> 27)) * 0x94D049BB133111EBu;
  x ^= x >> 31;
  static constexpr char kLetters[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
  std::string suffix = ".";
  for (int i = 0; i < 6; ++i, x /= 62)
    suffix += kLetters[x % 62];
  fs::path temporary = path;
  temporary.replace_filename(".");
  temporary += path.filename();
  temporary += suffix;
  return temporary;
}

}  // namespace

std::optional<std::string> WriteFileAtomically(const fs::path& path, std::string_view text) {
  fs::path temporary;
  int fd = -1;
  for (int attempt = 0; fd < 0; ++attempt) {
    temporary = TemporaryName(path);
    fd = OpenNew(temporary);
    if (fd < 0 && (errno != EEXIST || attempt == 100))
      return std::strerror(errno);
  }
  const auto fail = [&](std::string reason) {
    if (fd >= 0)
      CloseFile(fd);
    std::error_code ignored;
    fs::remove(temporary, ignored);
    return std::optional<std::string>(std::move(reason));
  };
  KeepMode(fd, path);
  for (std::size_t done = 0; done < text.size();) {
    const long long wrote = WriteSome(fd, text.data() + done, text.size() - done);
    if (wrote < 0 && errno == EINTR)
      continue;  // a signal that ends a follow
    if (wrote <= 0)
      return fail(std::strerror(wrote < 0 ? errno : ENOSPC));
    done += static_cast<std::size_t>(wrote);
  }
  while (FlushToDisk(fd) != 0) {
    if (errno != EINTR)
      return fail(std::strerror(errno));
  }
  const int closed = CloseFile(fd);
  fd = -1;
  if (closed != 0)
    return fail(std::strerror(errno));
  if (std::optional<std::string> error = Replace(temporary, path))
    return fail(std::move(*error));
  SyncFolder(path.parent_path());
  return std::nullopt;
}

}  // namespace quorvane
