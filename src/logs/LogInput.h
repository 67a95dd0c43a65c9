#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>

namespace quorvane {

// Where a log's bytes come from: a file (opened read-only, never written) or standard input.
struct InputName {
  std::filesystem::path path;
  bool standardInput = false;

  // The path as UTF-8 text, or "-" for standard input.
  std::string Text() const;
};

// A log's text as a stream of bytes. A file that starts with gzip's two bytes (1f 8b) is
// unpacked as it is read, whatever its name; the limits of the readers apply to the unpacked
// text, so a small file that unpacks to endless bytes ends at a line limit, not out of memory.
class LogInput {
 public:
  explicit LogInput(const InputName& name);
  ~LogInput();
  LogInput(const LogInput&) = delete;
  LogInput& operator=(const LogInput&) = delete;

  // Why the input could not be opened; empty when it is open.
  const std::string& OpenError() const { return openError_; }
  bool Compressed() const { return inflater_ != nullptr; }
  // The file's size on disk (packed, for a compressed file), 0 when not a regular file.
  std::uint64_t Size() const { return size_; }
  // Which file was opened (device and inode), so that a follower can tell another file put under
  // the same name since; 0 where the system gives none.
  std::uint64_t Device() const { return device_; }
  std::uint64_t Inode() const { return inode_; }
  // Bytes taken from the file so far (packed bytes, for a compressed file).
  std::uint64_t BytesTaken() const { return taken_; }

  // Reads up to `size` bytes of text into `to`: how many, 0 at the end, or nothing after setting
  // `error` (a read error, a damaged or cut archive).
  std::optional<std::size_t> Read(char* to, std::size_t size, std::string& error);
  // Before the first Read: goes straight to `offset` in a plain regular file's text; false (and
  // nothing changed) where the text must be read to get there (a packed file, a pipe).
  bool SkipTo(std::uint64_t offset);

 private:
  long long ReadRaw(char* to, std::size_t size);
  std::optional<std::size_t> Inflate(char* to, std::size_t size, std::string& error);

  int fd_ = -1;
  bool ownFd_ = false;
  std::string openError_;
  std::uint64_t size_ = 0;
  std::uint64_t device_ = 0, inode_ = 0;
  std::uint64_t taken_ = 0;
  // Bytes read ahead to look for gzip's signature, handed out before the rest.
  char head_[2] = {0, 0};
  std::size_t headLength_ = 0;
  std::size_t headUsed_ = 0;
  struct Inflater;
  std::unique_ptr<Inflater> inflater_;
};

// The last byte of a regular file as stored, read without reading the rest; nothing for anything
// else, an empty file or a failed read.
std::optional<char> LastByteOf(const InputName& name);

}  // namespace quorvane
