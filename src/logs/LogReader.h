#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "logs/LogInput.h"
#include "logs/LogTable.h"

namespace quorvane {

class WorkQueue;

// Why a log could not be read. `line` is 1-based, 0 when the failure is not about one line.
// A file of the other kind than the one asked for is a failure of its own kind, so that a caller
// can say how to give it.
enum class ReadProblem { Unreadable, IsServerLog, NotServerLog };
struct ReadError {
  std::uint64_t line = 0;
  std::string reason;
  ReadProblem problem = ReadProblem::Unreadable;
};

// A read is all or nothing: the whole table, or an error and no table.
struct ReadResult {
  std::optional<LogTable> table;
  ReadError error;

  bool Ok() const { return table.has_value(); }
};

// How to decode the file's text. Auto: UTF-8 when everything up to the end of the data is valid
// UTF-8; otherwise Mac Roman when the first line end is a carriage return alone (classic Mac OS
// servers), else Windows-1252. Forcing UTF-8 makes an invalid line a failure.
enum class EncodingChoice { Auto, Utf8, Windows1252, MacRoman };

// Told how far a read has got: called every few MiB and once at the end of the reading.
// totalBytes is the file's size, 0 when unknown (a pipe); a file that grows meanwhile may give
// more than it.
using ByteProgressFn = std::function<void(std::uint64_t bytesRead, std::uint64_t totalBytes)>;

struct ReadOptions {
  EncodingChoice encoding = EncodingChoice::Auto;
  ByteProgressFn progress;
  KeptCells kept;
  // Read the Date/Time cells into timestamps in this order (Detect: as the file shows), or not.
  std::optional<DateOrder> dates;
  // Server logs: the dates only up to each table's first dated row that no other row's order can
  // change; the rows behind it read as undated (for ordering files whose dates are not kept).
  bool firstDateOnly = false;
  // Sees the text as it is read, every byte once and in order (unpacked, for a compressed file):
  // a history tells a file by its content without reading it twice.
  std::function<void(std::string_view text)> observeText = nullptr;
  // A long log read in two pieces: about the share of its bytes the first piece takes (none at 1
  // or more), and the queue its second piece waits in for a helper thread of the caller's (none:
  // it is read on a thread of its own, meanwhile).
  double firstPieceShare = 0.5;
  WorkQueue* pieces = nullptr;
};

// A longer line is refused; no transfer takes a thousandth of it.
inline constexpr std::size_t kMaxLineBytes = std::size_t{64} << 20;

// The log format. Line 1 is the header and is dropped; every line up to the first empty line is
// a transfer of at least five tab-separated fields, and nothing after that line is read. The
// first line end decides the convention: a line feed with no carriage return before it means
// lines end at line feeds (a carriage return right before one belongs to the line end),
// otherwise lines end at carriage returns (a line feed right behind one belongs to the line end).
// Running out of memory is a failure like any other.
ReadResult ParseLog(std::string_view bytes, const ReadOptions& options = {});

// Opens the file read-only and without waiting (a named pipe with no writer reads as empty),
// reads it as a stream up to the end of the data, closes it, and returns what ParseLog would.
// A long plain file is read in two pieces at once, the second on another thread.
ReadResult ReadLogFile(const std::filesystem::path& path, const ReadOptions& options = {});

// What a file turned out to be: a classic log (one table) or a server log of either layout.
enum class LogFormat { Classic, Mobius, MobiusLegacy };
// What a file is asked to be; Either tells by its content.
enum class Expect { Classic, ServerLog, Either };

// One file read by its content: a classic log fills `table`, a server log `downloads` and
// `uploads` (its layout is the one its first record has; each line is read by its own) and names
// the transfer lines it could not read.
struct AnyReadResult {
  std::optional<ReadError> error;
  LogFormat format = LogFormat::Classic;
  bool compressed = false;
  LogTable table;
  LogTable downloads;
  LogTable uploads;
  std::vector<std::uint64_t> unreadableLines;
  // Where reading stopped, for a caller that follows the file: the text bytes used (up to the end
  // of the last line taken, or of the data), the bytes of that line when it had no line end, and
  // whether a classic log's data ended (at an empty line) before the file did.
  std::uint64_t bytesUsed = 0;
  std::uint64_t openTail = 0;
  bool dataEnded = false;
  std::uint64_t device = 0, inode = 0;  // the file read (LogInput::Device, Inode)

  bool Ok() const { return !error.has_value(); }
};

// Reads the input (a file, a gzip file or standard input) as a server log when one of its first
// 100 non-empty lines reads whole as a server record, else as a classic log; a file of the kind
// not expected is a failure without reading it further. An input without a byte (its text, for a
// gzip file) expected to be a server log is one with no transfers.
AnyReadResult ReadAnyLog(const InputName& input, Expect expect, const ReadOptions& options = {});

// A point in a server log's text where a shorter file holding the same bytes ends, and what the
// read had taken up to it. `usable` only when that file's own read would give exactly these
// first rows and unreadable lines: the read took every byte before the cut as whole lines of a
// server log (its layout known before the cut), and no date taken waits for rows behind it.
struct PrefixCut {
  std::uint64_t bytes = 0;
  bool usable = false;
  std::size_t downloads = 0;
  std::size_t uploads = 0;
  std::size_t unreadable = 0;
};
// ReadAnyLog, filling in each cut (sorted by `bytes`) as the read passes it.
AnyReadResult ReadAnyLog(const InputName& input, Expect expect, const ReadOptions& options,
                         std::vector<PrefixCut>& cuts);
// What the input's first lines show it to be, reading no further than they need (for a window
// that asks for upload logs only when the files picked are not server logs); nothing when it
// cannot be read. An input without a byte (`empty`, its format Classic) may be either kind: a
// server log is so from its rotation until its next line.
struct LogProbe {
  LogFormat format = LogFormat::Classic;
  bool empty = false;
};
std::optional<LogProbe> ProbeLog(const InputName& input);
// The same over bytes in memory.
AnyReadResult ParseAnyLog(std::string_view bytes, Expect expect, const ReadOptions& options = {});

}  // namespace quorvane
