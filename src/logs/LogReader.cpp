#include "logs/LogReader.h"

#include <algorithm>
#include <atomic>
#include <bit>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <stdexcept>
#include <type_traits>

#ifdef __SSE2__
#include <emmintrin.h>
#endif
#if defined(__x86_64__) && defined(__GNUC__)
#include <immintrin.h>
#define QUORVANE_SCAN_AVX2 1
#endif

#include "logs/ServerLog.h"
#include "logs/TextEncoding.h"

#include "logs/SharedWork.h"
#ifdef QUORVANE_READ_IN_PARALLEL
#include <future>
#include <system_error>
#endif

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

// Scans [from, end) up to the first `lineEnd` byte, noting tabs while fewer than kFieldsNeeded
// are noted; `scan` holds what the bytes before `from` showed.
LineScan ScanRest(const char* from, const char* end, char lineEnd,
                  const char* (&tabs)[kFieldsNeeded], LineScan scan) {
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
      scan.ascii = scan.ascii && high == 0;
      return scan;
    }
  }
  scan.ascii = scan.ascii && high == 0;
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

#ifdef QUORVANE_SCAN_AVX2
// The same scan 32 bytes at a time, for processors that have AVX2.
[[gnu::always_inline]] __attribute__((target("avx2"))) inline LineScan ScanWide(
    const char* from, const char* end, char lineEnd, const char* (&tabs)[kFieldsNeeded]) {
  LineScan scan;
  const __m256i tab = _mm256_set1_epi8('\t');
  const __m256i stop = _mm256_set1_epi8(lineEnd);
  unsigned high = 0;
  for (; end - from >= 32; from += 32) {
    const __m256i bytes = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(from));
    const auto stops = static_cast<unsigned>(_mm256_movemask_epi8(_mm256_cmpeq_epi8(bytes, stop)));
    const unsigned before = stops == 0 ? ~0u : (stops & (0u - stops)) - 1;
    high |= static_cast<unsigned>(_mm256_movemask_epi8(bytes)) & before;
    TakeTabs(static_cast<unsigned>(_mm256_movemask_epi8(_mm256_cmpeq_epi8(bytes, tab))) & before,
             from, scan, tabs);
    if (stops != 0) {
      scan.end = from + std::countr_zero(stops);
      scan.ascii = high == 0;
      return scan;
    }
  }
  scan.ascii = high == 0;
  return ScanRest(from, end, lineEnd, tabs, scan);
}
#endif

#ifdef QUORVANE_SCAN_AVX2
// Whether the processor has AVX2: decided once, for a whole Parse call, not per line.
bool ScanWideAvailable() {
  static const bool wide = __builtin_cpu_supports("avx2");
  return wide;
}
#endif

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

  // Makes this parser read a piece of a file from a line start past its header, in the file's
  // line-end convention; its line numbers count from that piece's start.
  void StartWithin(bool lfLines) {
    conventionKnown_ = true;
    lfLines_ = lfLines;
    headerSeen_ = true;
  }

  // `atEnd`: no bytes follow `end`, so the last line is whole without its line end.
  const char* Parse(const char* begin, const char* end, bool atEnd);
  // The data ended (at an empty line) or a line failed: nothing further is needed.
  bool Stopped() const { return stopped_; }
  // The bytes of the last line taken when the input ended without its line end.
  std::size_t OpenTail() const { return openTail_; }
  std::size_t RowCount() const { return builder_.RowCount(); }
  // Room for `rows` rows; `ownRows` of them this parser's own, and `nameRows` those whose names
  // its table will hold.
  void Reserve(std::size_t rows, std::size_t ownRows, std::size_t nameRows) {
    builder_.Reserve(rows);
    builder_.ExpectRows(ownRows, nameRows);
  }
  ReadResult Finish();
  // Finishes the file whose head piece this parser read and whose rest `tail` read: what one
  // parser would have given for the whole. Only the first failure or empty line counts.
  ReadResult FinishWith(Parser& tail);

 private:
  Encoding Chosen() const;
  const char* Fail(const char* at, std::uint64_t line, std::string reason) {
    error_ = ReadError{line, std::move(reason)};
    stopped_ = true;
    return at;
  }
  bool KnowConvention(const char* p, const char* end, bool atEnd);
  // Parse with the line scan given, inlined into each of its callers: one for processors with
  // AVX2, built for them, and one for the others.
  template <typename ScanLine>
  [[gnu::always_inline]] inline const char* ParseWith(const char* begin, const char* end,
                                                      bool atEnd, ScanLine scanLine);
#ifdef QUORVANE_SCAN_AVX2
  __attribute__((target("avx2"))) const char* ParseWide(const char* begin, const char* end,
                                                        bool atEnd);
#endif
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
  std::size_t openTail_ = 0;
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
#ifdef QUORVANE_SCAN_AVX2
  if (ScanWideAvailable())
    return ParseWide(begin, end, atEnd);
#endif
  return ParseWith(
      begin, end, atEnd,
      [](const char* from, const char* to, char lineEnd, const char*(&tabs)[kFieldsNeeded]) {
        return ScanRest(from, to, lineEnd, tabs, LineScan{});
      });
}

#ifdef QUORVANE_SCAN_AVX2
const char* Parser::ParseWide(const char* begin, const char* end, bool atEnd) {
  return ParseWith(
      begin, end, atEnd,
      [](const char* from, const char* to, char lineEnd, const char*(&tabs)[kFieldsNeeded])
          __attribute__((target("avx2"))) { return ScanWide(from, to, lineEnd, tabs); });
}
#endif

template <typename ScanLine>
const char* Parser::ParseWith(const char* begin, const char* end, bool atEnd, ScanLine scanLine) {
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
    const LineScan scan = scanLine(p, end, stopByte, tabs);
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
    openTail_ = lineEnd == end ? static_cast<std::size_t>(end - p) : 0;
    p = next;
  }
  // The rows point into the bytes given: they go to the builder before this returns.
  if (batchSize_ != 0 && !Flush())
    return p;
  if (!stopped_ && static_cast<std::size_t>(end - p) > kMaxLineBytes + 1)
    return Fail(p, line_ + 1, kTooLong);  // even without its line end
  return p;
}

Encoding Parser::Chosen() const {
  switch (choice_) {
    case EncodingChoice::Auto:
      return validUtf8_ ? Encoding::Utf8 : bareCr_ ? Encoding::MacRoman : Encoding::Windows1252;
    case EncodingChoice::Utf8:
      break;
    case EncodingChoice::Windows1252:
      return Encoding::Windows1252;
    case EncodingChoice::MacRoman:
      return Encoding::MacRoman;
  }
  return Encoding::Utf8;
}

ReadResult Parser::Finish() {
  if (error_)
    return Failure(error_->line, std::move(error_->reason));
  if (!headerSeen_)
    return Failure(1, "there is no header line (the file is empty or its first line is empty)");
  ReadResult result;
  result.table = std::move(builder_).Finish(Chosen());
  return result;
}

ReadResult Parser::FinishWith(Parser& tail) {
  if (stopped_ || !headerSeen_)  // the data ended in the head, or the head failed
    return Finish();
  if (tail.error_)
    return Failure(line_ + tail.error_->line, std::move(tail.error_->reason));
  validUtf8_ = validUtf8_ && tail.validUtf8_;
  builder_.Append(std::move(tail.builder_));
  return Finish();
}

// Bytes of a server log or a classic one, whichever the first lines show.
class AnyParser {
 public:
  AnyParser(Expect expect, const ReadOptions& options) : expect_(expect), options_(options) {}

  const char* Parse(const char* begin, const char* end, bool atEnd) {
    if (!format_) {
      format_ = Decide(begin, end, atEnd);
      if (!format_)
        return begin;  // the bytes wait until the format is known
      const bool server = *format_ != LogFormat::Classic;
      if (server && expect_ == Expect::Classic) {
        mismatch_ = ReadError{0, "this is a server log", ReadProblem::IsServerLog};
        return begin;
      }
      if (!server && expect_ == Expect::ServerLog) {
        mismatch_ = ReadError{0, "not a server log", ReadProblem::NotServerLog};
        return begin;
      }
      if (server)
        server_.emplace(options_);
      else
        classic_.emplace(options_);
    }
    return server_ ? server_->Parse(begin, end, atEnd) : classic_->Parse(begin, end, atEnd);
  }
  bool Stopped() const {
    return mismatch_ || (server_ && server_->Stopped()) || (classic_ && classic_->Stopped());
  }
  // Only a classic log's rows are reserved ahead.
  std::size_t RowCount() const { return classic_ ? classic_->RowCount() : 0; }
  std::size_t OpenTail() const {
    return server_ ? server_->OpenTail() : classic_ ? classic_->OpenTail() : 0;
  }
  bool DataEnded() const { return classic_ && classic_->Stopped(); }
  void Reserve(std::size_t rows, std::size_t ownRows, std::size_t nameRows) {
    if (classic_)
      classic_->Reserve(rows, ownRows, nameRows);
  }
  // Notes what was read up to a cut; `allTaken`: every byte given so far was taken.
  void Cut(PrefixCut& cut, bool allTaken) {
    if (server_)
      server_->Settle();
    cut.usable = allTaken && server_ && !server_->Stopped() && !server_->DatesUnsettled();
    if (cut.usable) {
      cut.downloads = server_->Downloads();
      cut.uploads = server_->Uploads();
      cut.unreadable = server_->UnreadableCount();
    }
  }
  AnyReadResult Finish() {
    AnyReadResult result;
    if (mismatch_) {
      result.error = std::move(mismatch_);
      return result;
    }
    if (!format_)  // only when nothing was given
      format_ = Decide(nullptr, nullptr, true);
    result.format = *format_;
    if (server_) {
      ServerLogParser::Result read = server_->Finish();
      result.error = std::move(read.error);
      result.downloads = std::move(read.downloads);
      result.uploads = std::move(read.uploads);
      result.unreadableLines = std::move(read.unreadableLines);
    } else if (classic_) {
      ReadResult read = classic_->Finish();
      if (read.Ok())
        result.table = std::move(*read.table);
      else
        result.error = std::move(read.error);
    }
    return result;
  }

 private:
  // While the format is unknown, the bytes given start at the input's start.
  std::optional<LogFormat> Decide(const char* begin, const char* end, bool atEnd) {
    // A server log holds no byte from its rotation until the server's next line: given as one,
    // such an input is one with no transfers. An empty classic log has no header and fails.
    if (begin == end && atEnd && expect_ == Expect::ServerLog)
      return LogFormat::Mobius;
    return detector_.Look(begin, end, atEnd);
  }

  Expect expect_;
  const ReadOptions& options_;
  FormatDetector detector_;
  std::optional<LogFormat> format_;
  std::optional<ReadError> mismatch_;
  std::optional<Parser> classic_;
  std::optional<ServerLogParser> server_;
};

// What of the input a read takes: its text up to `end` (read there as if it ended), `own` bytes
// of it (0: the input's size), with room made for the rows of `size` bytes (0: the input's
// size); its progress counts `otherTaken` bytes beside its own.
struct Piece {
  std::uint64_t end = UINT64_MAX;
  std::uint64_t size = 0;
  const std::atomic<std::uint64_t>* otherTaken = nullptr;
  std::uint64_t own = 0;
};

// Reads the input to its end (or the parser's), feeding the parser as the bytes come in; the
// read's failure, if any. A read never crosses a cut, so that the parser is asked at each.
template <typename AnyParserType>
std::optional<ReadError> ReadStream(LogInput& input, AnyParserType& parser,
                                    const ReadOptions& options,
                                    std::vector<PrefixCut>* cuts = nullptr,
                                    std::uint64_t* used = nullptr, const Piece& piece = {}) {
  const std::uint64_t size = input.Size();
  const std::uint64_t expected = piece.size != 0 ? piece.size : size;
  std::uint64_t nextReport = kProgressStep;
  const auto report = [&] {
    const std::uint64_t taken =
        input.BytesTaken() + (piece.otherTaken ? piece.otherTaken->load() : 0);
    if (options.progress)
      options.progress(taken, size == 0 ? 0 : std::max(size, taken));
  };

  // The buffer holds the line being read and what came after it; it grows only for a line
  // longer than itself, up to the longest line allowed.
  std::size_t capacity = kReadChunk;
  std::unique_ptr<char[]> buffer(new char[capacity]);
  std::size_t begin = 0;
  std::size_t end = 0;
  std::uint64_t textRead = 0;
  bool atEnd = false;
  bool estimated = input.Compressed();  // packed sizes tell nothing of the rows
  std::size_t nextCut = 0;
  while (!parser.Stopped() && !atEnd) {
    if constexpr (std::is_same_v<AnyParserType, AnyParser>) {
      for (; cuts && nextCut < cuts->size() && (*cuts)[nextCut].bytes <= textRead; ++nextCut) {
        if ((*cuts)[nextCut].bytes == textRead)
          parser.Cut((*cuts)[nextCut], begin == end);
      }
    }
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
    std::size_t room = capacity - end;
    if (cuts && nextCut < cuts->size())
      room = static_cast<std::size_t>(
          std::min<std::uint64_t>(room, (*cuts)[nextCut].bytes - textRead));
    room = static_cast<std::size_t>(std::min<std::uint64_t>(room, piece.end - textRead));
    std::string error;
    const std::optional<std::size_t> got = textRead == piece.end
                                               ? std::optional<std::size_t>(0)
                                               : input.Read(buffer.get() + end, room, error);
    if (!got)
      return ReadError{0, error};
    atEnd = *got == 0;
    if (options.observeText && *got != 0)
      options.observeText(std::string_view(buffer.get() + end, *got));
    end += *got;
    textRead += *got;
    if (input.BytesTaken() >= nextReport) {
      report();
      nextReport = input.BytesTaken() + kProgressStep;
    }
    const char* stop = parser.Parse(buffer.get() + begin, buffer.get() + end, atEnd);
    begin = static_cast<std::size_t>(stop - buffer.get());
    if (!estimated && expected != 0 && parser.RowCount() >= 1000 && !parser.Stopped()) {
      // Rows so far tell how many the file holds if its data goes on to its end; room for them
      // now saves growing the row storage step by step. Room never used is never touched.
      estimated = true;
      const double perByte =
          static_cast<double>(parser.RowCount()) / static_cast<double>(textRead - (end - begin));
      try {
        const auto rowsIn = [perByte](std::uint64_t bytes) {
          return static_cast<std::size_t>(perByte * static_cast<double>(bytes) * 1.02);
        };
        // A head piece's names pool takes the rest's names when they join.
        const std::uint64_t own = piece.own != 0 ? piece.own : size;
        parser.Reserve(rowsIn(expected), rowsIn(own),
                       rowsIn(piece.end != UINT64_MAX ? expected : own));
      } catch (const std::bad_alloc&) {
        // Only a guess: the rows may still fit as they come.
      } catch (const std::length_error&) {
      }
    }
  }
  report();
  if (used)
    *used = textRead - (end - begin);
  return std::nullopt;
}

// A classic log at least this long is read in two pieces, one on each core. The tests lower it
// (QUORVANE_SPLIT_BYTES) so that their logs take that path too.
std::uint64_t SplitThreshold() {
  static const std::uint64_t threshold = [] {
    const char* given = std::getenv("QUORVANE_SPLIT_BYTES");
    const std::uint64_t bytes = given ? std::strtoull(given, nullptr, 10) : 0;
    return bytes != 0 ? bytes : std::uint64_t{32} << 20;
  }();
  return threshold;
}

// How much of the text is looked at to place the cut: lines are far shorter.
constexpr std::size_t kSplitWindow = std::size_t{64} << 10;

// Where a log of `size` bytes whose text starts with `start` is cut in two, and its line-end
// convention: the first line start behind a line end past the first piece's share of the bytes
// (ReadOptions::firstPieceShare). Nothing when the log is to be read whole: a short one, one that
// would not be read as a classic log (`detect`), one whose first piece would take it all, or one
// whose first line end or the one past that share `windowAt(offset)` does not show.
struct Split {
  std::uint64_t at;
  bool lfLines;
};
template <typename WindowAt>
std::optional<Split> SplitOf(std::string_view start, std::uint64_t size, const WindowAt& windowAt,
                             const ReadOptions& options, bool detect) {
  // Below 2 GiB no piece's rows can pass the 4 GiB a table holds when the whole's do not.
  if (size < SplitThreshold() || size >= (std::uint64_t{1} << 31) || options.observeText ||
      options.firstDateOnly)
    return std::nullopt;
  const char* begin = start.data();
  const char* end = begin + start.size();
  const bool whole = start.size() == size;
  if (detect && FormatDetector().Look(begin, end, whole) != LogFormat::Classic)
    return std::nullopt;
  // The convention as Parser::KnowConvention decides it.
  const char* cr = FindByte(begin, end, '\r');
  const bool lfLines = FindByte(begin, cr, '\n') != cr;
  if (!lfLines && (cr == end || (cr + 1 == end && !whole)))
    return std::nullopt;
  const double share = options.firstPieceShare;
  if (!(share > 0 && share < 1))
    return std::nullopt;
  const auto near = static_cast<std::uint64_t>(static_cast<double>(size) * share);
  const std::string window = windowAt(near);
  const char* from = window.data();
  const char* stop = FindByte(from, from + window.size(), lfLines ? '\n' : '\r');
  // A carriage return's line end takes the line feed right behind it.
  const std::size_t past = lfLines ? 1 : 2;
  if (static_cast<std::size_t>(stop - from) + past > window.size())
    return std::nullopt;
  const std::uint64_t at =
      near + static_cast<std::uint64_t>(stop - from) + (!lfLines && stop[1] != '\n' ? 1 : past);
  if (at >= size)
    return std::nullopt;
  return Split{at, lfLines};
}

}  // namespace

ReadResult ParseLog(std::string_view bytes, const ReadOptions& options) {
  try {
    const auto windowAt = [&](std::uint64_t at) {
      return std::string(bytes.substr(static_cast<std::size_t>(at), kSplitWindow));
    };
    const std::optional<Split> split =
        SplitOf(bytes.substr(0, kSplitWindow), bytes.size(), windowAt, options, false);
    Parser parser(options);
    Parser rest(options);
    const char* cut = bytes.data() + (split ? split->at : bytes.size());
    parser.Parse(bytes.data(), cut, true);
    if (split) {
      rest.StartWithin(split->lfLines);
      rest.Parse(cut, bytes.data() + bytes.size(), true);
    }
    if (options.progress)
      options.progress(bytes.size(), bytes.size());
    return split ? parser.FinishWith(rest) : parser.Finish();
  } catch (const std::bad_alloc&) {
    return Failure(0, kNoMemory);
  }
}

namespace {

// A classic log read in two pieces, and where its reading stopped (see AnyReadResult).
struct SplitRead {
  ReadResult read;
  std::uint64_t used = 0;
  std::size_t openTail = 0;
  bool dataEnded = false;
  std::uint64_t device = 0, inode = 0;
};

// Reads a long plain classic log in two pieces, its head on this thread and the rest on another;
// nothing (and nothing read) when it is not a log to read so.
std::optional<SplitRead> ReadInTwo(const InputName& name, const ReadOptions& options, bool detect) {
#ifdef QUORVANE_READ_IN_PARALLEL
  if (name.standardInput)
    return std::nullopt;
  // A short log is not opened here: its one read opens it once.
  std::error_code unknown;
  const std::uintmax_t bytes = std::filesystem::file_size(name.path, unknown);
  if (unknown || bytes < SplitThreshold())
    return std::nullopt;
  LogInput input(name);
  if (!input.OpenError().empty() || input.Compressed() || input.Size() < SplitThreshold())
    return std::nullopt;
  const auto windowAt = [&](std::uint64_t at) {
    std::string window(kSplitWindow, '\0');
    std::size_t got = 0;
    LogInput part(name);
    if (part.OpenError().empty() && (at == 0 || part.SkipTo(at))) {
      std::string error;
      for (std::optional<std::size_t> n;
           got < window.size() &&
           (n = part.Read(window.data() + got, window.size() - got, error)).value_or(0) != 0;)
        got += *n;
    }
    window.resize(got);
    return window;
  };
  const std::uint64_t size = input.Size();
  const std::optional<Split> split = SplitOf(windowAt(0), size, windowAt, options, detect);
  if (!split)
    return std::nullopt;
  Parser head(options);
  Parser rest(options);
  rest.StartWithin(split->lfLines);
  // The rest's progress shows in the head's reports: the caller hears from this thread only.
  std::atomic<std::uint64_t> restTaken{0};
  // What the thread reading the rest does meanwhile: a caller's thread that took it passes on
  // the progress its other thread told it, so that it shows while the rest is read.
  const std::function<void()>* meanwhile = nullptr;
  ReadOptions restOptions = options;
  restOptions.progress = [&](std::uint64_t bytesRead, std::uint64_t) {
    restTaken = bytesRead - split->at;
    if (meanwhile && *meanwhile)
      (*meanwhile)();
  };
  const auto reportBoth = [&] {
    if (options.progress) {
      const std::uint64_t taken = input.BytesTaken() + restTaken;
      options.progress(taken, std::max(size, taken));
    }
  };
  std::uint64_t restUsed = 0;
  const auto readRest = [&]() -> std::optional<ReadError> {
    LogInput part(name);
    if (!part.OpenError().empty())
      return ReadError{0, part.OpenError()};
    if (!part.SkipTo(split->at))
      return ReadError{0, "cannot read the file: it changed while it was read"};
    // Room for the whole file's rows here too: only what is used is touched, and room that
    // large takes huge pages, whose faults are few.
    return ReadStream(part, rest, restOptions, nullptr, &restUsed,
                      {UINT64_MAX, size, nullptr, size - split->at});
  };
  // The rest waits for a helper thread of the caller's, which takes it once its own work is done
  // (the first piece's share of the bytes is what makes both end together), or has a thread of
  // its own.
  std::optional<ReadError> restError;
  std::shared_ptr<SharedWork> restPiece;
  std::future<std::optional<ReadError>> restRead;
  if (options.pieces) {
    restPiece = std::make_shared<SharedWork>([&](const std::function<void()>& runnersOwn) {
      meanwhile = &runnersOwn;
      restError = readRest();
    });
    options.pieces->Post(restPiece);
  } else {
    try {
      restRead = std::async(std::launch::async, readRest);
    } catch (const std::system_error&) {
      return std::nullopt;  // no second thread to be had
    }
  }
  SplitRead result;
  std::optional<ReadError> headError;
  try {
    // The head's rows take room for the whole file's, so that the rest's join them in place.
    headError = ReadStream(input, head, options, nullptr, &result.used,
                           {split->at, size, &restTaken, split->at});
  } catch (...) {
    // The rest's work uses this frame.
    if (restPiece)
      restPiece->Withdraw();
    else
      restRead.wait();
    throw;
  }
  if (!restPiece)
    restError = restRead.get();
  else if (headError || head.Stopped())
    restPiece->Withdraw();  // the data ended in the head, or the head failed: the rest is unused
  else
    restPiece->Finish(reportBoth);
  reportBoth();
  result.device = input.Device();
  result.inode = input.Inode();
  if (headError || (!head.Stopped() && restError)) {
    const ReadError& error = headError ? *headError : *restError;
    result.read = Failure(error.line, error.reason);
    return result;
  }
  result.openTail = head.Stopped() ? head.OpenTail() : rest.OpenTail();
  result.dataEnded = head.Stopped() || rest.Stopped();
  if (!head.Stopped())
    result.used = split->at + restUsed;
  result.read = head.FinishWith(rest);
  return result;
#else
  (void)name;
  (void)options;
  (void)detect;
  return std::nullopt;
#endif
}

}  // namespace

ReadResult ReadLogFile(const std::filesystem::path& path, const ReadOptions& options) {
  try {
    if (std::optional<SplitRead> split = ReadInTwo(InputName{path, false}, options, false))
      return std::move(split->read);
    LogInput input(InputName{path, false});
    if (!input.OpenError().empty())
      return Failure(0, input.OpenError());
    Parser parser(options);
    if (std::optional<ReadError> error = ReadStream(input, parser, options))
      return Failure(error->line, std::move(error->reason));
    return parser.Finish();
  } catch (const std::bad_alloc&) {
    return Failure(0, kNoMemory);
  }
}

AnyReadResult ReadAnyLog(const InputName& name, Expect expect, const ReadOptions& options) {
  std::vector<PrefixCut> none;
  return ReadAnyLog(name, expect, options, none);
}

AnyReadResult ReadAnyLog(const InputName& name, Expect expect, const ReadOptions& options,
                         std::vector<PrefixCut>& cuts) {
  AnyReadResult result;
  try {
    LogInput input(name);
    if (!input.OpenError().empty()) {
      result.error = ReadError{0, input.OpenError()};
      return result;
    }
    if (cuts.empty() && expect != Expect::ServerLog) {
      if (std::optional<SplitRead> split = ReadInTwo(name, options, true)) {
        if (!split->read.Ok()) {
          result.error = std::move(split->read.error);
          return result;
        }
        result.table = std::move(*split->read.table);
        result.bytesUsed = split->used;
        result.openTail = split->openTail;
        result.dataEnded = split->dataEnded;
        result.device = split->device;
        result.inode = split->inode;
        return result;
      }
    }
    AnyParser parser(expect, options);
    std::uint64_t used = 0;
    if (std::optional<ReadError> error =
            ReadStream(input, parser, options, cuts.empty() ? nullptr : &cuts, &used)) {
      result.error = std::move(error);
      return result;
    }
    result = parser.Finish();
    result.compressed = input.Compressed();
    result.bytesUsed = used;
    result.openTail = parser.OpenTail();
    result.dataEnded = parser.DataEnded();
    result.device = input.Device();
    result.inode = input.Inode();
  } catch (const std::bad_alloc&) {
    result = AnyReadResult();
    result.error = ReadError{0, kNoMemory};
  }
  return result;
}

std::optional<LogProbe> ProbeLog(const InputName& name) {
  try {
    LogInput input(name);
    if (!input.OpenError().empty())
      return std::nullopt;
    FormatDetector detector;
    std::string text;
    for (;;) {
      const std::size_t had = text.size();
      text.resize(had + kReadChunk);
      std::string error;
      const std::optional<std::size_t> got = input.Read(text.data() + had, kReadChunk, error);
      if (!got)
        return std::nullopt;
      text.resize(had + *got);
      if (const std::optional<LogFormat> format =
              detector.Look(text.data(), text.data() + text.size(), *got == 0))
        return LogProbe{*format, text.empty()};
    }
  } catch (const std::bad_alloc&) {
    return std::nullopt;
  }
}

AnyReadResult ParseAnyLog(std::string_view bytes, Expect expect, const ReadOptions& options) {
  try {
    AnyParser parser(expect, options);
    const char* stop = parser.Parse(bytes.data(), bytes.data() + bytes.size(), true);
    if (options.progress)
      options.progress(bytes.size(), bytes.size());
    AnyReadResult result = parser.Finish();
    result.bytesUsed = static_cast<std::uint64_t>(stop - bytes.data());
    result.openTail = parser.OpenTail();
    result.dataEnded = parser.DataEnded();
    return result;
  } catch (const std::bad_alloc&) {
    AnyReadResult result;
    result.error = ReadError{0, kNoMemory};
    return result;
  }
}

}  // namespace quorvane
