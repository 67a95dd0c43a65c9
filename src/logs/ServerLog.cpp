#include "logs/ServerLog.h"

#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <exception>
#include <mutex>
#include <stdexcept>
#include <thread>

#include "logs/DateTime.h"
#include "logs/TextEncoding.h"

namespace quorvane {

namespace {

constexpr std::size_t kTime = 0, kAddress = 1, kLogin = 2, kNameUpper = 3, kNameLower = 4,
                      kPath = 5;

// A transfer record: its message, the key that holds its path, the table it goes to.
struct Transfer {
  std::string_view message;
  std::string_view pathKey;
  ServerLineKind kind;
};
constexpr Transfer kKeyValueTransfers[] = {
    {"Download file", "filePath", ServerLineKind::Download},
    {"Start folder download", "path", ServerLineKind::Download},
    {"File upload complete", "dstFile", ServerLineKind::Upload},
    {"Folder upload started", "dstPath", ServerLineKind::Upload}};
constexpr Transfer kLegacyTransfers[] = {
    {"File download started", "filePath", ServerLineKind::Download},
    {"Start folder download", "path", ServerLineKind::Download},
    {"File upload complete", "dstFile", ServerLineKind::Upload},
    {"Folder upload started", "dstPath", ServerLineKind::Upload}};

template <std::size_t N>
const Transfer* FindTransfer(std::string_view message, const Transfer (&transfers)[N]) {
  for (const Transfer& transfer : transfers) {
    if (transfer.message == message)
      return &transfer;
  }
  return nullptr;
}

// The user attribute a key fills, or none.
std::optional<std::size_t> AttributeSlot(std::string_view key) {
  if (key == "remoteAddr")
    return kAddress;
  if (key == "login")
    return kLogin;
  if (key == "Name")
    return kNameUpper;
  if (key == "name")
    return kNameLower;
  return std::nullopt;
}

int HexValue(char c) {
  if (c >= '0' && c <= '9')
    return c - '0';
  if (c >= 'a' && c <= 'f')
    return c - 'a' + 10;
  if (c >= 'A' && c <= 'F')
    return c - 'A' + 10;
  return -1;
}

// `count` hex digits at `p` as a number, or -1.
long HexNumber(const char* p, const char* end, int count) {
  if (end - p < count)
    return -1;
  long value = 0;
  for (int i = 0; i < count; ++i) {
    const int digit = HexValue(p[i]);
    if (digit < 0)
      return -1;
    value = value * 16 + digit;
  }
  return value;
}

bool IsCodePoint(long value) {
  return value >= 0 && value <= 0x10FFFF && (value < 0xD800 || value > 0xDFFF);
}

// --- key=value records ---------------------------------------------------------------------

// One pair of a record: its key and its value as written (inside the quotes when quoted).
struct Pair {
  std::string_view key;
  std::string_view value;
  bool quoted = false;
};

// Reads Go's escapes of a quoted value (between its quotes) into `out`, or only checks them when
// `out` is null. False for an escape Go does not write.
bool Unquote(std::string_view raw, std::string* out) {
  if (out)
    out->clear();
  const char* p = raw.data();
  const char* end = p + raw.size();
  while (p < end) {
    const char* backslash = static_cast<const char*>(std::memchr(p, '\\', end - p));
    if (!backslash)
      backslash = end;
    if (out)
      out->append(p, backslash);
    p = backslash;
    if (p == end)
      break;
    if (end - p < 2)
      return false;
    const char c = p[1];
    p += 2;
    static constexpr std::string_view kSimple = "\"\\ntrabfv";
    static constexpr std::string_view kMeaning = "\"\\\n\t\r\a\b\f\v";
    if (const std::size_t at = kSimple.find(c); at != std::string_view::npos) {
      if (out)
        out->push_back(kMeaning[at]);
    } else if (c == 'x') {
      const long byte = HexNumber(p, end, 2);
      if (byte < 0)
        return false;
      if (out)
        out->push_back(static_cast<char>(byte));
      p += 2;
    } else if (c == 'u' || c == 'U') {
      const int digits = c == 'u' ? 4 : 8;
      const long value = HexNumber(p, end, digits);
      if (!IsCodePoint(value))
        return false;
      if (out)
        AppendUtf8(*out, static_cast<char32_t>(value));
      p += digits;
    } else {
      return false;
    }
  }
  return true;
}

// Reads the next pair at `p`: a bare key, '=', then a value bare (up to the next space) or quoted
// with valid escapes, then a single space before another pair or the end. False when it cannot.
bool NextPair(const char*& p, const char* end, Pair& pair) {
  pair.key = {};
  const char* key = p;
  while (p < end && *p != '=' && *p != ' ' && *p != '"')
    ++p;
  if (p == key || p == end || *p != '=')
    return false;
  pair.key = std::string_view(key, static_cast<std::size_t>(p - key));
  ++p;
  if (p < end && *p == '"') {
    const char* start = ++p;
    for (;;) {
      // The next quote, unless a backslash comes first.
      const void* quote = std::memchr(p, '"', static_cast<std::size_t>(end - p));
      const char* stop = quote ? static_cast<const char*>(quote) : end;
      if (const void* backslash = std::memchr(p, '\\', static_cast<std::size_t>(stop - p)))
        stop = static_cast<const char*>(backslash);
      if (stop == end)
        return false;  // the quote is never closed
      if (*stop == '\\') {
        p = stop + 2;
        if (p > end)
          return false;
        continue;
      }
      p = stop;
      break;
    }
    pair.value = std::string_view(start, static_cast<std::size_t>(p - start));
    pair.quoted = true;
    ++p;
    if (!Unquote(pair.value, nullptr))
      return false;
    if (p < end && *p != ' ')
      return false;
  } else {
    const char* start = p;
    const void* space = std::memchr(p, ' ', static_cast<std::size_t>(end - p));
    p = space ? static_cast<const char*>(space) : end;
    pair.value = std::string_view(start, static_cast<std::size_t>(p - start));
    pair.quoted = false;
  }
  if (p < end) {
    ++p;  // the space
    if (p == end)
      return false;  // a space ends nothing
  }
  return true;
}

// A value's text: a bare value as written, a quoted one unescaped into `scratch`.
std::string_view ValueText(const Pair& pair, std::string& scratch) {
  if (!pair.quoted)
    return pair.value;
  Unquote(pair.value, &scratch);
  return scratch;
}

// Where the key=value record starts: at `time=` at the line's start or behind a journal prefix
// (no tab, ending in ": " right before `time=`); nothing when there is neither.
std::optional<std::string_view> KeyValueRecord(std::string_view line) {
  constexpr std::string_view kStart = "time=";
  if (line.substr(0, kStart.size()) == kStart)
    return line;
  const std::size_t at = line.find(": time=");
  if (at == std::string_view::npos || line.substr(0, at).find('\t') != std::string_view::npos)
    return std::nullopt;
  return line.substr(at + 2);
}

// Reads time=, level= and msg=; the message's text in `message`.
bool RecordHead(const char*& p, const char* end, Pair& time, std::string& message,
                std::string& scratch) {
  Pair pair;
  if (!NextPair(p, end, time) || time.key != "time")
    return false;
  if (!NextPair(p, end, pair) || pair.key != "level")
    return false;
  if (!NextPair(p, end, pair) || pair.key != "msg")
    return false;
  message.assign(ValueText(pair, scratch));
  return true;
}

bool IsDateTime(std::string_view text) {
  DateColumnParser parser(DateOrder::Detect, 1);
  parser.Add(text);
  return std::move(parser).Finish().front() != kUndated;
}

// --- JSON ----------------------------------------------------------------------------------

class Json {
 public:
  Json(const char* p, const char* end) : p_(p), end_(end) {}

  void SkipSpace() {
    while (p_ < end_ && (*p_ == ' ' || *p_ == '\t' || *p_ == '\n' || *p_ == '\r'))
      ++p_;
  }
  bool Take(char c) {
    SkipSpace();
    if (p_ == end_ || *p_ != c)
      return false;
    ++p_;
    return true;
  }
  bool AtEnd() {
    SkipSpace();
    return p_ == end_;
  }
  char Peek() {
    SkipSpace();
    return p_ == end_ ? '\0' : *p_;
  }
  // A string, unescaped into `out` (when not null). A lone surrogate becomes U+FFFD.
  bool String(std::string* out) {
    if (!Take('"'))
      return false;
    if (out)
      out->clear();
    while (p_ < end_) {
      const char c = *p_++;
      if (c == '"')
        return true;
      if (static_cast<unsigned char>(c) < 0x20)
        return false;
      if (c != '\\') {
        if (out)
          out->push_back(c);
        continue;
      }
      if (p_ == end_)
        return false;
      const char e = *p_++;
      static constexpr std::string_view kSimple = "\"\\/bfnrt";
      static constexpr std::string_view kMeaning = "\"\\/\b\f\n\r\t";
      if (const std::size_t at = kSimple.find(e); at != std::string_view::npos) {
        if (out)
          out->push_back(kMeaning[at]);
        continue;
      }
      if (e != 'u')
        return false;
      long unit = HexNumber(p_, end_, 4);
      if (unit < 0)
        return false;
      p_ += 4;
      if (unit >= 0xD800 && unit <= 0xDBFF && end_ - p_ >= 6 && p_[0] == '\\' && p_[1] == 'u') {
        const long low = HexNumber(p_ + 2, end_, 4);
        if (low >= 0xDC00 && low <= 0xDFFF) {
          unit = 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00);
          p_ += 6;
        }
      }
      if (out)
        AppendUtf8(*out, IsCodePoint(unit) ? static_cast<char32_t>(unit) : U'\uFFFD');
    }
    return false;
  }
  // Any value; a string's text in `out` (when not null), which is left empty for the rest.
  bool Value(std::string* out, bool& isString, int depth = 0) {
    isString = false;
    if (out)
      out->clear();
    const char c = Peek();
    if (c == '"') {
      isString = true;
      return String(out);
    }
    // Deeper than any log writes: refused, not followed down the stack.
    const bool tooDeep = depth > 64;
    bool ignored;
    if (c == '{') {
      if (tooDeep)
        return false;
      ++p_;
      if (Take('}'))
        return true;
      do {
        if (!String(nullptr) || !Take(':') || !Value(nullptr, ignored, depth + 1))
          return false;
      } while (Take(','));
      return Take('}');
    }
    if (c == '[') {
      if (tooDeep)
        return false;
      ++p_;
      if (Take(']'))
        return true;
      do {
        if (!Value(nullptr, ignored, depth + 1))
          return false;
      } while (Take(','));
      return Take(']');
    }
    for (std::string_view word : {"true", "false", "null"}) {
      if (static_cast<std::size_t>(end_ - p_) >= word.size() &&
          std::string_view(p_, word.size()) == word) {
        p_ += word.size();
        return true;
      }
    }
    return Number();
  }

 private:
  bool Digits() {
    const char* start = p_;
    while (p_ < end_ && *p_ >= '0' && *p_ <= '9')
      ++p_;
    return p_ != start;
  }
  bool Number() {
    if (p_ < end_ && *p_ == '-')
      ++p_;
    if (!Digits())
      return false;
    if (p_ < end_ && *p_ == '.') {
      ++p_;
      if (!Digits())
        return false;
    }
    if (p_ < end_ && (*p_ == 'e' || *p_ == 'E')) {
      ++p_;
      if (p_ < end_ && (*p_ == '+' || *p_ == '-'))
        ++p_;
      if (!Digits())
        return false;
    }
    return true;
  }

  const char* p_;
  const char* end_;
};

// The older layout's parts: the time (behind a journal prefix, if any), level, message and the
// JSON text.
struct LegacyParts {
  std::string_view time, level, message, json;
};

std::optional<LegacyParts> SplitLegacy(std::string_view line) {
  std::string_view parts[3];
  for (std::string_view& part : parts) {
    const std::size_t tab = line.find('\t');
    if (tab == std::string_view::npos)
      return std::nullopt;
    part = line.substr(0, tab);
    line.remove_prefix(tab + 1);
  }
  LegacyParts legacy{parts[0], parts[1], parts[2], line};
  if (const std::size_t prefix = legacy.time.rfind(": "); prefix != std::string_view::npos)
    legacy.time.remove_prefix(prefix + 2);
  return legacy;
}

bool IsLevelWord(std::string_view level) {
  if (level.empty())
    return false;
  for (char c : level) {
    if (c < 'a' || c > 'z')
      return false;
  }
  return true;
}

// The host of an address: [host]:port and host:port lose the port; anything else is as written.
std::string_view HostOf(std::string_view address) {
  const auto digits = [](std::string_view text) {
    if (text.empty())
      return false;
    for (char c : text) {
      if (c < '0' || c > '9')
        return false;
    }
    return true;
  };
  if (!address.empty() && address.front() == '[') {
    const std::size_t close = address.find(']');
    if (close != std::string_view::npos && close + 1 < address.size() &&
        address[close + 1] == ':' && digits(address.substr(close + 2)))
      return address.substr(1, close - 1);
    return address;
  }
  const std::size_t colon = address.find(':');
  if (colon != std::string_view::npos && address.find(':', colon + 1) == std::string_view::npos &&
      digits(address.substr(colon + 1)))
    return address.substr(0, colon);
  return address;
}

}  // namespace

std::optional<ServerLayout> ServerRecordLayout(std::string_view line) {
  if (const std::optional<std::string_view> record = KeyValueRecord(line)) {
    const char* p = record->data();
    const char* end = p + record->size();
    Pair time;
    std::string message, scratch;
    if (!RecordHead(p, end, time, message, scratch) || !IsDateTime(ValueText(time, scratch)))
      return std::nullopt;
    Pair pair;
    while (p < end) {
      if (!NextPair(p, end, pair))
        return std::nullopt;
    }
    return ServerLayout::KeyValue;
  }
  const std::optional<LegacyParts> legacy = SplitLegacy(line);
  if (!legacy || !IsDateTime(legacy->time) || !IsLevelWord(legacy->level) || legacy->json.empty())
    return std::nullopt;
  Json json(legacy->json.data(), legacy->json.data() + legacy->json.size());
  bool isString;
  if (json.Peek() != '{' || !json.Value(nullptr, isString) || !json.AtEnd())
    return std::nullopt;
  return ServerLayout::Legacy;
}

ServerLineKind ServerLineReader::Read(std::string_view line, LogTableBuilder::Cells& cells) {
  if (line.empty())
    return ServerLineKind::Other;
  if (const std::optional<std::string_view> record = KeyValueRecord(line))
    return ReadKeyValue(*record, cells);
  return ReadLegacy(line, cells);
}

namespace {

// The head of a record whose time and level are bare and whose message holds no escape, as
// nearly every line has them: the three pairs read as NextPair reads them, without copying.
struct PlainHead {
  std::string_view time;
  std::string_view message;
  std::size_t next;  // where the pair after the message starts, or the record's size
};

std::optional<PlainHead> ReadPlainHead(std::string_view record) {
  const auto skipBare = [&](std::size_t from) {
    if (from >= record.size() || record[from] == '"')
      return std::string_view::npos;
    const std::size_t space = record.find(' ', from);
    return space == std::string_view::npos ? space : space + 1;
  };
  const std::size_t level = skipBare(5);  // behind "time="
  if (level == std::string_view::npos || record.substr(level, 6) != "level=")
    return std::nullopt;
  const std::size_t msg = skipBare(level + 6);
  if (msg == std::string_view::npos || record.substr(msg, 4) != "msg=")
    return std::nullopt;
  PlainHead head{record.substr(5, level - 6), {}, 0};
  const std::size_t from = msg + 4;
  std::size_t after;  // behind the message's value
  if (from < record.size() && record[from] == '"') {
    const std::size_t close = record.find('"', from + 1);
    if (close == std::string_view::npos ||
        record.substr(from + 1, close - from - 1).find('\\') != std::string_view::npos)
      return std::nullopt;
    head.message = record.substr(from + 1, close - from - 1);
    after = close + 1;
  } else {
    after = std::min(record.find(' ', from), record.size());
    head.message = record.substr(from, after - from);
  }
  if (after == record.size()) {
    head.next = after;
    return head;
  }
  // A single space, then the next pair.
  if (record[after] != ' ' || after + 1 == record.size())
    return std::nullopt;
  head.next = after + 1;
  return head;
}

}  // namespace

bool ServerLineReader::PlainlyOther(std::string_view line) {
  if (line.empty())
    return true;
  const std::optional<std::string_view> record = KeyValueRecord(line);
  if (!record)
    return false;
  const std::optional<PlainHead> head = ReadPlainHead(*record);
  return head && !FindTransfer(head->message, kKeyValueTransfers);
}

ServerLineKind ServerLineReader::ReadKeyValue(std::string_view record,
                                              LogTableBuilder::Cells& cells) {
  const char* p = record.data();
  const char* end = p + record.size();
  bool seen[6] = {};
  std::string_view texts[6];
  const Transfer* transfer;
  if (const std::optional<PlainHead> head = ReadPlainHead(record)) {
    // Most lines are other traffic: their message says so before any pair is read.
    transfer = FindTransfer(head->message, kKeyValueTransfers);
    if (!transfer)
      return ServerLineKind::Other;
    texts[kTime] = head->time;
    p += head->next;
  } else {
    Pair time;
    std::string& message = decoded_[0];
    if (!RecordHead(p, end, time, message, values_[kPath]))
      return ServerLineKind::Other;
    transfer = FindTransfer(message, kKeyValueTransfers);
    if (!transfer)
      return ServerLineKind::Other;
    texts[kTime] = ValueText(time, values_[kTime]);
  }
  seen[kTime] = true;
  Pair pair;
  while (p < end) {
    // Past the path key, a pair that cannot be read makes the transfer unreadable; before it,
    // the line may be anything.
    if (!NextPair(p, end, pair))
      return seen[kPath] || pair.key == transfer->pathKey ? ServerLineKind::Unreadable
                                                          : ServerLineKind::Other;
    std::optional<std::size_t> slot =
        pair.key == transfer->pathKey ? std::optional<std::size_t>(kPath) : AttributeSlot(pair.key);
    if (slot && !seen[*slot]) {
      seen[*slot] = true;
      texts[*slot] = ValueText(pair, values_[*slot]);
    }
  }
  if (!seen[kPath])
    return ServerLineKind::Other;
  cells = {texts[kTime], HostOf(texts[kAddress]), texts[kLogin],
           seen[kNameUpper] ? texts[kNameUpper] : texts[kNameLower], texts[kPath]};
  Finish(cells);
  return transfer->kind;
}

ServerLineKind ServerLineReader::ReadLegacy(std::string_view line, LogTableBuilder::Cells& cells) {
  const std::optional<LegacyParts> parts = SplitLegacy(line);
  if (!parts)
    return ServerLineKind::Other;
  const Transfer* transfer = FindTransfer(parts->message, kLegacyTransfers);
  if (!transfer)
    return ServerLineKind::Other;
  Json json(parts->json.data(), parts->json.data() + parts->json.size());
  bool seen[6] = {};
  bool pathKeyRead = false;  // from here on, a fault is the transfer's
  const auto broken = [&] {
    return pathKeyRead ? ServerLineKind::Unreadable : ServerLineKind::Other;
  };
  std::string key;
  if (!json.Take('{'))
    return ServerLineKind::Other;
  if (!json.Take('}')) {
    do {
      if (!json.String(&key) || !json.Take(':'))
        return broken();
      std::optional<std::size_t> slot =
          key == transfer->pathKey ? std::optional<std::size_t>(kPath) : AttributeSlot(key);
      if (slot && seen[*slot])
        slot.reset();
      pathKeyRead = pathKeyRead || slot == kPath;
      bool isString = false;
      if (!json.Value(slot ? &values_[*slot] : nullptr, isString, 1))
        return broken();
      // Only a text counts; a number or null where a text belongs reads as none.
      if (slot && isString)
        seen[*slot] = true;
    } while (json.Take(','));
    if (!json.Take('}'))
      return broken();
  }
  if (!json.AtEnd())
    return broken();
  if (!seen[kPath])
    return ServerLineKind::Other;
  const auto text = [&](std::size_t slot) {
    return seen[slot] ? std::string_view(values_[slot]) : std::string_view();
  };
  values_[kTime].assign(parts->time);
  cells = {values_[kTime], HostOf(text(kAddress)), text(kLogin),
           seen[kNameUpper] ? text(kNameUpper) : text(kNameLower), text(kPath)};
  Finish(cells);
  return transfer->kind;
}

void ServerLineReader::Finish(LogTableBuilder::Cells& cells) {
  std::string_view* all[5] = {&cells.dateTime, &cells.address, &cells.account, &cells.name,
                              &cells.fileName};
  for (std::size_t i = 0; i < 5; ++i) {
    if (!IsValidUtf8(*all[i])) {
      decoded_[i] = DecodeToUtf8(*all[i], Encoding::MacRoman);
      *all[i] = decoded_[i];
    }
  }
}

namespace {

// One line into its table, or its number into the unreadable ones. Throws std::length_error as
// AddRows does.
void TakeLine(ServerLineReader& reader, std::string_view line, std::uint64_t number,
              LogTableBuilder& downloads, LogTableBuilder& uploads,
              std::vector<std::uint64_t>& unreadable) {
  LogTableBuilder::Cells cells;
  switch (reader.Read(line, cells)) {
    case ServerLineKind::Other:
      return;
    case ServerLineKind::Unreadable:
      unreadable.push_back(number);
      return;
    case ServerLineKind::Download:
      downloads.AddRows(&cells, 1);
      return;
    case ServerLineKind::Upload:
      uploads.AddRows(&cells, 1);
      return;
  }
}

// A log smaller than this is read on one thread: a second one would cost more than it saves.
constexpr std::uint64_t kRelayAfterBytes = std::uint64_t{8} << 20;

}  // namespace

// Lines on their way from the reading thread, which passes over plain other traffic, to one
// that reads the rest into the tables: batches of copied lines, taken in order.
class ServerLogParser::RowRelay {
 public:
  RowRelay(LogTableBuilder& downloads, LogTableBuilder& uploads,
           std::vector<std::uint64_t>& unreadable)
      : downloads_(downloads),
        uploads_(uploads),
        unreadable_(unreadable),
        thread_([this] { Run(); }) {}
  ~RowRelay() {
    {
      std::lock_guard lock(mutex_);
      quit_ = true;
    }
    changed_.notify_all();
    thread_.join();
  }

  // False once a line before this one could not be added; Settle() then tells why.
  bool Add(std::uint64_t number, std::string_view line) {
    filling_.bytes.append(line);
    filling_.lines.push_back({number, line.size()});
    if (filling_.lines.size() < kBatchLines && filling_.bytes.size() < kBatchBytes)
      return true;
    std::unique_lock lock(mutex_);
    return Submit(lock);
  }

  // Waits until every line given is read; the error of a row that did not fit, if any.
  // Running out of memory there is thrown here.
  std::optional<ReadError> Settle() {
    std::unique_lock lock(mutex_);
    if (!filling_.lines.empty())
      Submit(lock);
    changed_.wait(lock, [this] { return stopped_ || (full_.empty() && !busy_); });
    if (failure_)
      std::rethrow_exception(failure_);
    return error_;
  }

 private:
  static constexpr std::size_t kBatchLines = 2048;
  static constexpr std::size_t kBatchBytes = std::size_t{1} << 20;
  static constexpr std::size_t kBatchesWaiting = 4;

  struct Line {
    std::uint64_t number;
    std::size_t length;
  };
  struct Batch {
    std::string bytes;
    std::vector<Line> lines;
  };

  bool Submit(std::unique_lock<std::mutex>& lock) {
    changed_.wait(lock, [this] { return stopped_ || full_.size() < kBatchesWaiting; });
    if (!stopped_) {
      full_.push_back(std::move(filling_));
      changed_.notify_all();
    }
    if (spare_.empty()) {
      filling_ = Batch();
    } else {
      filling_ = std::move(spare_.back());
      spare_.pop_back();
    }
    return !stopped_;
  }

  void ReadBatch(const Batch& batch) {
    std::size_t at = 0;
    for (const Line& line : batch.lines) {
      try {
        TakeLine(reader_, std::string_view(batch.bytes).substr(at, line.length), line.number,
                 downloads_, uploads_, unreadable_);
      } catch (const std::length_error&) {
        error_ = ReadError{line.number, "the rows up to this line take more than 4 GiB"};
        return;
      }
      at += line.length;
    }
  }

  void Run() {
    std::unique_lock lock(mutex_);
    for (;;) {
      changed_.wait(lock, [this] { return quit_ || (!stopped_ && !full_.empty()); });
      if (quit_)
        return;
      Batch batch = std::move(full_.front());
      full_.pop_front();
      busy_ = true;
      lock.unlock();
      try {
        ReadBatch(batch);  // error_ is only read once stopped_ or !busy_ says so
      } catch (...) {
        failure_ = std::current_exception();
      }
      batch.bytes.clear();
      batch.lines.clear();
      lock.lock();
      busy_ = false;
      spare_.push_back(std::move(batch));
      if (error_ || failure_) {
        stopped_ = true;
        full_.clear();
      }
      changed_.notify_all();
    }
  }

  // The thread's own while it runs.
  ServerLineReader reader_;
  LogTableBuilder& downloads_;
  LogTableBuilder& uploads_;
  std::vector<std::uint64_t>& unreadable_;

  Batch filling_;  // the reading thread's own

  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<Batch> full_;
  std::vector<Batch> spare_;
  bool busy_ = false;
  bool stopped_ = false;
  bool quit_ = false;
  std::optional<ReadError> error_;
  std::exception_ptr failure_;
  std::thread thread_;  // last, so that it starts with the rest made
};

ServerLogParser::ServerLogParser(const ReadOptions& options)
    : downloads_(options.kept, options.dates, options.firstDateOnly),
      uploads_(options.kept, options.dates, options.firstDateOnly) {}

ServerLogParser::~ServerLogParser() = default;

void ServerLogParser::Take(std::string_view line) {
  if (!relay_) {
    TakeLine(reader_, line, line_, downloads_, uploads_, unreadable_);
  } else if (!ServerLineReader::PlainlyOther(line) && !relay_->Add(line_, line)) {
    Settle();
  }
}

void ServerLogParser::Settle() {
  if (!relay_)
    return;
  // The reading thread is ahead of the relay's: its error stands on the earlier line.
  if (std::optional<ReadError> error = relay_->Settle())
    error_ = std::move(error);
}

const char* ServerLogParser::Parse(const char* begin, const char* end, bool atEnd) {
  const char* p = begin;
  while (!error_ && p < end) {
    const void* found =
        std::memchr(p + searched_, '\n', static_cast<std::size_t>(end - p) - searched_);
    const char* lf = found ? static_cast<const char*>(found) : end;
    if (lf == end && !atEnd) {
      searched_ = static_cast<std::size_t>(end - p);
      if (searched_ > kMaxLineBytes + 1)
        error_ = ReadError{line_ + 1, "the line is longer than 64 MiB"};
      break;
    }
    searched_ = 0;
    ++line_;
    const char* lineEnd = lf != p && lf[-1] == '\r' ? lf - 1 : lf;
    if (static_cast<std::size_t>(lineEnd - p) > kMaxLineBytes) {
      error_ = ReadError{line_, "the line is longer than 64 MiB"};
      break;
    }
    try {
      Take(std::string_view(p, static_cast<std::size_t>(lineEnd - p)));
    } catch (const std::length_error&) {
      error_ = ReadError{line_, "the rows up to this line take more than 4 GiB"};
      break;
    }
    openTail_ = lf == end ? static_cast<std::size_t>(end - p) : 0;
    p = lf == end ? end : lf + 1;
  }
  bytesTaken_ += static_cast<std::uint64_t>(p - begin);
  if (!relay_ && !error_ && bytesTaken_ >= kRelayAfterBytes)
    relay_ = std::make_unique<RowRelay>(downloads_, uploads_, unreadable_);
  return p;
}

ServerLogParser::Result ServerLogParser::Finish() {
  Settle();
  relay_.reset();
  Result result;
  if (error_) {
    result.error = std::move(error_);
    return result;
  }
  result.downloads = std::move(downloads_).Finish(Encoding::Utf8);
  result.uploads = std::move(uploads_).Finish(Encoding::Utf8);
  result.unreadableLines = std::move(unreadable_);
  return result;
}

std::optional<LogFormat> FormatDetector::Look(const char* begin, const char* end, bool atEnd) {
  const char* p = begin + offset_;
  while (p < end || atEnd) {
    // A line that came in pieces is searched on from where the last piece ended.
    const char* stop = std::max(p, begin + searched_);
    while (stop < end && *stop != '\n' && *stop != '\r')
      ++stop;
    searched_ = static_cast<std::size_t>(stop - begin);
    if (stop == end && !atEnd) {
      // Beyond the longest line the readers take, the look ends with what it has seen.
      if (static_cast<std::size_t>(end - begin) >= kMaxLineBytes)
        return LogFormat::Classic;
      break;
    }
    if (stop != p) {
      if (const std::optional<ServerLayout> layout =
              ServerRecordLayout(std::string_view(p, static_cast<std::size_t>(stop - p))))
        return *layout == ServerLayout::KeyValue ? LogFormat::Mobius : LogFormat::MobiusLegacy;
      if (++nonEmpty_ == kLinesLooked)
        return LogFormat::Classic;
    }
    if (stop == end)
      return LogFormat::Classic;
    p = stop + 1;
  }
  offset_ = static_cast<std::size_t>(p - begin);
  return std::nullopt;
}

}  // namespace quorvane
