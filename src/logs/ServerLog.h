#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "logs/LogReader.h"
#include "logs/LogTable.h"

namespace quorvane {

// The two layouts of Mobius's one log: `key=value` pairs (2024 and later) and the older
// tab-separated time, level, message and JSON object.
enum class ServerLayout { KeyValue, Legacy };

// The layout `line` (without its line end) reads whole as, with or without the journal's prefix;
// nothing when it is not a record. A file is a server log when one of its first lines is one.
std::optional<ServerLayout> ServerRecordLayout(std::string_view line);

// What one line of a server log gives.
enum class ServerLineKind { Other, Download, Upload, Unreadable };

// Reads single lines of a server log into a row's cells. Only the four transfer records of each
// layout with their path key make rows; a transfer record that cannot be read to its end after
// its path key is Unreadable; anything else is Other. The cells are UTF-8 (a value that is not,
// after unescaping, is read as Mac Roman) and stay valid until the next line is read.
class ServerLineReader {
 public:
  ServerLineKind Read(std::string_view line, LogTableBuilder::Cells& cells);
  // Whether Read() would plainly find `line` Other, told at a glance: other traffic whose head
  // is plain, or an empty line. False tells nothing.
  static bool PlainlyOther(std::string_view line);

 private:
  ServerLineKind ReadKeyValue(std::string_view record, LogTableBuilder::Cells& cells);
  ServerLineKind ReadLegacy(std::string_view line, LogTableBuilder::Cells& cells);
  void Finish(LogTableBuilder::Cells& cells);

  // Unescaped values: time, remoteAddr, login, Name, name, the path.
  std::string values_[6];
  std::string decoded_[5];
};

// Turns a server log's lines into rows as the bytes come in, like the classic reader: Parse()
// takes the whole lines of what it is given and says where the first unfinished one starts.
// Past the first few megabytes, transfer lines are read into the tables on a second thread while
// this one finds the lines and passes over other traffic.
class ServerLogParser {
 public:
  explicit ServerLogParser(const ReadOptions& options);
  ~ServerLogParser();
  ServerLogParser(const ServerLogParser&) = delete;
  ServerLogParser& operator=(const ServerLogParser&) = delete;

  const char* Parse(const char* begin, const char* end, bool atEnd);
  bool Stopped() const { return error_.has_value(); }
  // The bytes of the last line taken when the input ended without its line end.
  std::size_t OpenTail() const { return openTail_; }
  // Waits until every line taken is read into the tables (and Stopped() tells if a row did not
  // fit). Call it before asking for the counts below.
  void Settle();
  std::size_t Downloads() const { return downloads_.RowCount(); }
  std::size_t Uploads() const { return uploads_.RowCount(); }
  std::size_t UnreadableCount() const { return unreadable_.size(); }
  bool DatesUnsettled() const { return downloads_.DatesUnsettled() || uploads_.DatesUnsettled(); }

  struct Result {
    std::optional<ReadError> error;
    LogTable downloads;
    LogTable uploads;
    std::vector<std::uint64_t> unreadableLines;
  };
  Result Finish();

 private:
  class RowRelay;

  void Take(std::string_view line);

  ServerLineReader reader_;
  LogTableBuilder downloads_;
  LogTableBuilder uploads_;
  std::vector<std::uint64_t> unreadable_;
  // While it runs, only the relay touches the builders and unreadable_.
  std::unique_ptr<RowRelay> relay_;
  std::uint64_t bytesTaken_ = 0;
  std::optional<ReadError> error_;
  std::uint64_t line_ = 0;
  std::size_t searched_ = 0;
  std::size_t openTail_ = 0;
};

// Looks at a log's first lines (split at CR or LF) for a server record.
class FormatDetector {
 public:
  static constexpr int kLinesLooked = 100;
  // [begin, end) starts at the file's start each time and grows; the format once it is known.
  std::optional<LogFormat> Look(const char* begin, const char* end, bool atEnd);

 private:
  std::size_t offset_ = 0;    // where the first line not yet looked at starts
  std::size_t searched_ = 0;  // how far line ends have been searched for
  int nonEmpty_ = 0;
};

}  // namespace quorvane
