#include "logs/LogReader.h"

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cstring>
#include <memory>
#include <new>
#include <stdexcept>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#ifdef __SSE2__
#include <emmintrin.h>
#endif

#include "logs/TextEncoding.h"

// How much one read asks for. The fuzz build makes it tiny so that lines meet piece boundaries.
#ifndef QUORVANE_READ_CHUNK_BYTES
#define QUORVANE_READ_CHUNK_BYTES (std::size_t{128} << 10)
#endif

namespace quorvane {

namespace {

constexpr int kFieldsNeeded = 5;
constexpr std::size_t kReadChunk = QUORVANE_READ_CHUNK_BYTES;
constexpr std::uint64_t kProgressStep = std::uint64_t{4} << 20;

const char* FindByte(const char* from, const char* end, char byte) {
  const void* hit = std::memchr(from, byte, static_cast<std::size_t>(end - from));
  return hit ? static_cast<const char*>(hit) : end;
}

// What one pass over a line finds: where it ends, its first tabs, whether it is all ASCII.
struct LineScan {
  const char* end;  // the first `lineEnd` byte, or the end of the bytes given
  int tabs = 0;
  bool ascii = true;
};

void TakeTabs(unsigned mask, const char* at, LineScan& scan, const char* (&tabs)[kFieldsNeeded]) {
  for (; mask != 0 && scan.tabs < kFieldsNeeded; mask &= mask - 1)
    tabs[scan.tabs++] = at + std::countr_zero(mask);
}

// Scans [from, end) up to the first `lineEnd` byte, noting the first kFieldsNeeded tabs.
LineScan ScanLine(const char* from, const char* end, char lineEnd,
                  const char* (&tabs)[kFieldsNeeded]) {
  LineScan scan;
#ifdef __SSE2__
  // Sixteen bytes at a time: a line of a log is mostly a few dozen bytes with four tabs.
  const __m128i tab = _mm_set1_epi8('\t');
  const __m128i stop = _mm_set1_epi8(lineEnd);
  unsigned high = 0;
  for (; end - from >= 16; from += 16) {
    const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(from));
    const auto stops = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(bytes, stop)));
    const unsigned before = stops == 0 ? 0xFFFFu : (stops & (0u - stops)) - 1;
    high |= static_cast<unsigned>(_mm_movemask_epi8(bytes)) & before;
    TakeTabs(static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(bytes, tab))) & before, from,
             scan, tabs);
    if (stops != 0) {
      scan.end = from + std::countr_zero(stops);
      scan.ascii = high == 0;
      return scan;
    }
  }
  scan.ascii = high == 0;
#endif
  for (; from < end && *from != lineEnd; ++from) {
    if (*from == '\t' && scan.tabs < kFieldsNeeded)
      tabs[scan.tabs++] = from;
    if (static_cast<unsigned char>(*from) >= 0x80)
      scan.ascii = false;
  }
  scan.end = from;
  return scan;
}

ReadResult Failure(std::uint64_t line, std::string reason) {
  ReadResult result;
  result.error = {line, std::move(reason)};
  return result;
}

std::string FieldCountReason(int fields) {
  return "the line has " + std::to_string(fields) + (fields == 1 ? " field" : " fields") +
         "; at least " + std::to_string(kFieldsNeeded) + " are needed";
}

const char kTooLong[] = "the line is longer than 64 MiB";
const char kTooMuch[] = "the rows up to this line take more than 4 GiB";
const char kNoMemory[] = "there is not enough memory to read the file";

// Turns lines into rows as the bytes come in: Parse() takes the whole lines of what it is given
// and says where the first line it cannot finish yet starts.
class Parser {
 public:
  explicit Parser(const ReadOptions& options)
      : choice_(options.encoding), builder_(options.kept, options.dates) {}

  // `atEnd`: no bytes follow `end`, so the last line is whole without its line end.
  const char* Parse(const char* begin, const char* end, bool atEnd);
  // The data ended (at an empty line) or a line failed: nothing further is needed.
  bool Stopped() const { return stopped_; }
  std::size_t RowCount() const { return builder_.RowCount(); }
  void Reserve(std::size_t rows) { builder_.Reserve(rows); }
  ReadResult Finish();

 private:
  const char* Fail(const char* at, std::uint64_t line, std::string reason) {
    error_ = ReadError{line, std::move(reason)};
    stopped_ = true;
    return at;
  }
  bool KnowConvention(const char* p, const char* end, bool atEnd);
  // Hands the rows gathered so far to the builder; false when they do not fit.
  bool Flush();

  static constexpr std::size_t kBatch = 64;
  LogTableBuilder::Cells batch_[kBatch];
  std::size_t batchSize_ = 0;

  EncodingChoice choice_;
  bool conventionKnown_ = false;
  bool lfLines_ = false;
  bool bareCr_ = false;  // the first line end is a carriage return alone
  bool validUtf8_ = true;
  bool headerSeen_ = false;
  bool stopped_ = false;
  std::uint64_t line_ = 0;  // lines taken so far
  // Bytes at the start of the unfinished line known to hold no line end: a long line that
  // comes in many pieces is searched once, not once per piece.
  std::size_t searched_ = 0;
  std::optional<ReadError> error_;
  LogTableBuilder builder_;
};

// Decides the line-end convention from the first line end; false while it is not in sight yet.
bool Parser::KnowConvention(const char* p, const char* end, bool atEnd) {
  const char* from = p + searched_;
  const char* cr = FindByte(from, end, '\r');
  if (FindByte(from, cr, '\n') != cr) {
    lfLines_ = true;
  } else if (cr != end) {
    if (cr + 1 == end && !atEnd)
      return false;  // a line feed may follow
    bareCr_ = cr + 1 == end || cr[1] != '\n';
  } else if (!atEnd) {
    searched_ = static_cast<std::size_t>(end - p);
    return false;
  }
  conventionKnown_ = true;
  return true;
}

bool Parser::Flush() {
  const std::size_t before = builder_.RowCount();
  try {
    builder_.AddRows(batch_, batchSize_);
  } catch (const std::length_error&) {
    // Each row of the batch is one line, the last of them line_.
    Fail(nullptr, line_ + 1 - batchSize_ + (builder_.RowCount() - before), kTooMuch);
    return false;
  }
  batchSize_ = 0;
  return true;
}

const char* Parser::Parse(const char* begin, const char* end, bool atEnd) {
  const char* p = begin;
  while (!stopped_ && (p < end)) {
    if (!conventionKnown_ && !KnowConvention(p, end, atEnd))
      break;
    const char stopByte = lfLines_ ? '\n' : '\r';
    if (searched_ != 0) {
      if (FindByte(p + searched_, end, stopByte) == end && !atEnd) {
        searched_ = static_cast<std::size_t>(end - p);
        break;
      }
      searched_ = 0;
    }
    const char* tabs[kFieldsNeeded];
    const LineScan scan = ScanLine(p, end, stopByte, tabs);
    const char* lineEnd;
    const char* next;
    if (lfLines_) {
      const char* lf = scan.end;
      if (lf == end && !atEnd) {
        searched_ = static_cast<std::size_t>(end - p);
        break;
      }
      lineEnd = (lf != p && lf != end && lf[-1] == '\r') ? lf - 1 : lf;
      next = lf == end ? end : lf + 1;
    } else {
      const char* cr = scan.end;
      if ((cr == end || cr + 1 == end) && !atEnd) {
        // No line end yet, or a line feed may follow the carriage return.
        searched_ = static_cast<std::size_t>(cr - p);
        break;
      }
      lineEnd = cr;
      next = cr == end ? end : (cr + 1 != end && cr[1] == '\n' ? cr + 2 : cr + 1);
    }
    const std::uint64_t line = line_ + 1;
    if (static_cast<std::size_t>(lineEnd - p) > kMaxLineBytes)
      return Fail(p, line, kTooLong);
    if (lineEnd == p) {
      stopped_ = true;  // an empty line ends the data
      break;
    }
    // The data is UTF-8 only when every line up to the first empty one is.
    if (!scan.ascii && (choice_ == EncodingChoice::Utf8 || validUtf8_) &&
        !IsValidUtf8(std::string_view(p, lineEnd - p))) {
      if (choice_ == EncodingChoice::Utf8)
        return Fail(p, line, "the line is not valid UTF-8");
      validUtf8_ = false;
    }

    // A tab noted behind a CR that belongs to the line end cannot be: a CR is not a tab.
    const int found = scan.tabs;
    if (found < kFieldsNeeded - 1)
      return Fail(p, line, FieldCountReason(found + 1));
    // The fifth field runs to the next tab or the line end; further fields are ignored.
    std::string_view fields[kFieldsNeeded];
    const char* fieldStart = p;
    for (int i = 0; i < kFieldsNeeded; ++i) {
      const char* fieldEnd = i < found ? tabs[i] : lineEnd;
      fields[i] = std::string_view(fieldStart, static_cast<std::size_t>(fieldEnd - fieldStart));
      fieldStart = fieldEnd + 1;
    }

    line_ = line;
    if (headerSeen_) {
      batch_[batchSize_++] = {fields[0], fields[1], fields[2], fields[3], fields[4]};
      if (batchSize_ == kBatch && !Flush())
        return p;
    }
    headerSeen_ = true;
    p = next;
  }
  // The rows point into the bytes given: they go to the builder before this returns.
  if (batchSize_ != 0 && !Flush())
    return p;
  if (!stopped_ && static_cast<std::size_t>(end - p) > kMaxLineBytes + 1)
    return Fail(p, line_ + 1, kTooLong);  // even without its line end
  return p;
}

ReadResult Parser::Finish() {
  if (error_)
    return Failure(error_->line, std::move(error_->reason));
  if (!headerSeen_)
    return Failure(1, "there is no header line (the file is empty or its first line is empty)");
  Encoding encoding = Encoding::Utf8;
  switch (choice_) {
    case EncodingChoice::Auto:
      encoding = validUtf8_ ? Encoding::Utf8 : bareCr_ ? Encoding::MacRoman : Encoding::Windows1252;
      break;
    case EncodingChoice::Utf8:
      break;
    case EncodingChoice::Windows1252:
      encoding = Encoding::Windows1252;
      break;
    case EncodingChoice::MacRoman:
      encoding = Encoding::MacRoman;
      break;
  }
  ReadResult result;
  result.table = std::move(builder_).Finish(encoding);
  return result;
}

std::string SystemReason(int error) {
  return std::strerror(error);
}

// The log file, open for reading only.
class InputFile {
 public:
  explicit InputFile(const std::filesystem::path& path) {
#ifdef _WIN32
    fd_ = _wopen(path.c_str(), _O_RDONLY | _O_BINARY | _O_NOINHERIT);
#else
    // Without waiting: opening a named pipe would otherwise wait for a writer, maybe forever.
    fd_ = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd_ >= 0) {
      // Reads wait again for a writer that is there; with none, a pipe reads as empty.
      const int flags = fcntl(fd_, F_GETFL);
      if (flags != -1)
        fcntl(fd_, F_SETFL, flags & ~O_NONBLOCK);
    }
#endif
    error_ = fd_ < 0 ? errno : 0;
  }
  ~InputFile() {
    if (fd_ >= 0) {
#ifdef _WIN32
      _close(fd_);
#else
      close(fd_);
#endif
    }
  }
  InputFile(const InputFile&) = delete;
  InputFile& operator=(const InputFile&) = delete;

  int OpenError() const {
    return error_;
  }

  // The size of a regular file, 0 for anything else.
  std::uint64_t Size() const {
#ifdef _WIN32
    struct _stat64 status;
    if (_fstat64(fd_, &status) == 0 && (status.st_mode & _S_IFREG) != 0)
      return static_cast<std::uint64_t>(status.st_size);
#else
    struct stat status;
    if (fstat(fd_, &status) == 0 && S_ISREG(status.st_mode))
      return static_cast<std::uint64_t>(status.st_size);
#endif
    return 0;
  }

  // Bytes read, 0 at the end, -1 on an error (errno tells).
  long long Read(char* to, std::size_t size) {
    for (;;) {
#ifdef _WIN32
      const long long got =
          _read(fd_, to, static_cast<unsigned>(std::min<std::size_t>(size, 1u << 30)));
#else
      const long long got = read(fd_, to, size);
#endif
      if (got >= 0 || errno != EINTR)
        return got;
    }
  }

 private:
  int fd_ = -1;
  int error_ = 0;
};

ReadResult ReadStream(InputFile& file, const ReadOptions& options) {
  const std::uint64_t size = file.Size();
  std::uint64_t bytesRead = 0;
  std::uint64_t nextReport = kProgressStep;
  const auto report = [&] {
    if (options.progress)
      options.progress(bytesRead, size == 0 ? 0 : std::max(size, bytesRead));
  };

  // The buffer holds the line being read and what came after it; it grows only for a line
  // longer than itself, up to the longest line allowed.
  std::size_t capacity = kReadChunk;
  std::unique_ptr<char[]> buffer(new char[capacity]);
  std::size_t begin = 0;
  std::size_t end = 0;
  bool atEnd = false;
  bool estimated = false;
  Parser parser(options);
  while (!parser.Stopped() && !atEnd) {
    if (begin != 0 && capacity - end < kReadChunk) {
      std::memmove(buffer.get(), buffer.get() + begin, end - begin);
      end -= begin;
      begin = 0;
    }
    if (end == capacity) {
      const std::size_t bigger = std::min(capacity * 2, kMaxLineBytes + 2 + kReadChunk);
      std::unique_ptr<char[]> grown(new char[bigger]);
      std::memcpy(grown.get(), buffer.get(), end);
      buffer = std::move(grown);
      capacity = bigger;
    }
    const long long got = file.Read(buffer.get() + end, capacity - end);
    if (got < 0)
      return Failure(0, "cannot read the file: " + SystemReason(errno));
    atEnd = got == 0;
    end += static_cast<std::size_t>(got);
    bytesRead += static_cast<std::uint64_t>(got);
    if (bytesRead >= nextReport) {
      report();
      nextReport = bytesRead + kProgressStep;
    }
    const char* stop = parser.Parse(buffer.get() + begin, buffer.get() + end, atEnd);
    begin = static_cast<std::size_t>(stop - buffer.get());
    if (!estimated && size != 0 && parser.RowCount() >= 1000 && !parser.Stopped()) {
      // Rows so far tell how many the file holds if its data goes on to its end; room for them
      // now saves growing the row storage step by step. Room never used is never touched.
      estimated = true;
      const double perByte =
          static_cast<double>(parser.RowCount()) / static_cast<double>(bytesRead - (end - begin));
      try {
        parser.Reserve(static_cast<std::size_t>(perByte * static_cast<double>(size) * 1.02));
      } catch (const std::bad_alloc&) {
        // Only a guess: the rows may still fit as they come.
      } catch (const std::length_error&) {
      }
    }
  }
  report();
  return parser.Finish();
}

}  // namespace

ReadResult ParseLog(std::string_view bytes, const ReadOptions& options) {
  try {
    Parser parser(options);
    parser.Parse(bytes.data(), bytes.data() + bytes.size(), true);
    if (options.progress)
      options.progress(bytes.size(), bytes.size());
    return parser.Finish();
  } catch (const std::bad_alloc&) {
    return Failure(0, kNoMemory);
  }
}

ReadResult ReadLogFile(const std::filesystem::path& path, const ReadOptions& options) {
  try {
    InputFile file(path);
    if (file.OpenError() != 0)
      return Failure(0, "cannot open the file: " + SystemReason(file.OpenError()));
    return ReadStream(file, options);
  } catch (const std::bad_alloc&) {
    return Failure(0, kNoMemory);
  }
}

}  // namespace quorvane
