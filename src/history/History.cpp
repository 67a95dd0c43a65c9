#include "history/History.h"

#include <dirent.h>
#include <fcntl.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>
#include <xxhash.h>

#include <algorithm>
#include <array>
#include <bit>
#include <charconv>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <deque>
#include <fstream>
#include <functional>
#include <future>
#include <mutex>
#include <new>
#include <stdexcept>
#include <string_view>
#include <thread>
#include <unordered_map>

#include "logs/ByteArena.h"

namespace quorvane {

namespace {

// "QRVH": what tells a history file from another program's database.
constexpr std::int32_t kApplicationId = 0x51525648;
// The layout this program writes; an older file is brought up to it, a newer one refused.
// Version 2 keeps rows in JSON chunks (`row_chunks`, not a table row each) and the format that
// writes their Date/Time texts (`runs.date_format`).
constexpr int kSchemaVersion = 2;

constexpr const char* kSchema = R"sql(
CREATE TABLE history(key TEXT PRIMARY KEY, value TEXT NOT NULL) WITHOUT ROWID;
-- Each text once, by the column it stands in.
CREATE TABLE addresses(id INTEGER PRIMARY KEY, text TEXT NOT NULL);
CREATE TABLE accounts(id INTEGER PRIMARY KEY, text TEXT NOT NULL);
CREATE TABLE names(id INTEGER PRIMARY KEY, text TEXT NOT NULL);
CREATE TABLE file_names(id INTEGER PRIMARY KEY, text TEXT NOT NULL);
-- 32 bits of each file name's hash, 4 bytes by id from first_id on (little-endian), so that a run
-- adding a few rows finds which of their files the history holds without reading every name.
-- Files made before it was kept, or written by a run that did not keep it, hash the rest then.
CREATE TABLE file_name_hashes(first_id INTEGER PRIMARY KEY, hashes BLOB NOT NULL);
-- One row per log, known by its text (`digest` of its first `text_bytes`). Its rows of each
-- direction are its reading's rows from `skipped_*` on (a start the history held already when
-- the log came), `stored_*` of them; the report leaves out the first `left_out_*` of those as
-- repeated from another log. Logs are taken in the order of `first_dated_*` (their whole text's
-- first dated row), then of their whole text's rows.
CREATE TABLE files(
  id INTEGER PRIMARY KEY,
  name TEXT NOT NULL,
  standard_input INTEGER NOT NULL,
  format TEXT NOT NULL,
  compressed INTEGER NOT NULL,
  encoding TEXT NOT NULL,
  date_order TEXT,
  text_bytes INTEGER NOT NULL,
  digest BLOB,
  skipped_downloads INTEGER NOT NULL, skipped_uploads INTEGER NOT NULL,
  stored_downloads INTEGER NOT NULL, stored_uploads INTEGER NOT NULL,
  left_out_downloads INTEGER NOT NULL, left_out_uploads INTEGER NOT NULL,
  first_dated_downloads INTEGER, first_dated_uploads INTEGER,
  first_read TEXT NOT NULL,
  last_read TEXT NOT NULL);
-- The names each log was read under.
CREATE TABLE file_reads(
  file INTEGER NOT NULL REFERENCES files(id), name TEXT NOT NULL, last_read TEXT NOT NULL,
  PRIMARY KEY(file, name)) WITHOUT ROWID;
-- What one run added of one log's rows of one direction (0 downloads, 1 uploads): rows
-- first_row..last_row, its rows from first_seq on; the report counts them from counted_from.
-- date_format: the strftime format that writes the Date/Time text of its rows that keep none from
-- their time (most of a log's rows: their texts are not kept twice).
CREATE TABLE runs(
  id INTEGER PRIMARY KEY,
  file INTEGER NOT NULL REFERENCES files(id),
  direction INTEGER NOT NULL,
  first_seq INTEGER NOT NULL,
  first_row INTEGER NOT NULL,
  last_row INTEGER NOT NULL,
  counted_from INTEGER NOT NULL,
  date_format TEXT);
)sql";

// The rows, up to 256 to a chunk, a chunk within one run: rows first_row..last_row, as a JSON
// array of [address, name, time, file_name, account] (ids of texts; time: seconds since
// 1970-01-01 as the reports count them, null when undated), the Date/Time text a sixth element
// when the run's date_format does not write it.
constexpr const char* kRowChunks =
    "CREATE TABLE row_chunks(first_row INTEGER PRIMARY KEY, last_row INTEGER NOT NULL, "
    "rows TEXT NOT NULL)";

// A row's Date/Time text is its own, or its time written in its run's format.
constexpr const char* kView = R"sql(
CREATE VIEW transfers AS
  SELECT CASE u.direction WHEN 0 THEN 'download' ELSE 'upload' END AS direction,
         datetime(json_extract(j.value, '$[2]'), 'unixepoch') AS time,
         coalesce(json_extract(j.value, '$[5]'),
                  strftime(u.date_format, json_extract(j.value, '$[2]'), 'unixepoch'), '')
           AS date_text,
         a.text AS address, c.text AS account, n.text AS name, p.text AS file
  FROM runs u
  CROSS JOIN row_chunks k ON k.first_row BETWEEN u.first_row AND u.last_row
  CROSS JOIN json_each(k.rows) j
  JOIN addresses a ON a.id = json_extract(j.value, '$[0]')
  JOIN accounts c ON c.id = json_extract(j.value, '$[4]')
  JOIN names n ON n.id = json_extract(j.value, '$[1]')
  JOIN file_names p ON p.id = json_extract(j.value, '$[3]')
  WHERE k.first_row + j.key >= u.counted_from;
)sql";

// The strftime format that writes what `form` writes, for SQLite's range of dates; none when
// strftime has no way to (unpadded numbers, two-digit years, a 12-hour clock).
std::optional<std::string> SqlDateFormat(const DateForm& form) {
  if (!form.padDate || form.shortYear || form.half != 0 ||
      (form.timeSeparator != 0 && (!form.padHour || form.timeSeparator == '%')) ||
      form.dateSeparator == '%')
    return std::nullopt;
  const std::string separator(1, form.dateSeparator);
  std::string format =
      form.order == DateForm::Order::YearMonthDay   ? "%Y" + separator + "%m" + separator + "%d"
      : form.order == DateForm::Order::MonthDayYear ? "%m" + separator + "%d" + separator + "%Y"
                                                    : "%d" + separator + "%m" + separator + "%Y";
  if (form.timeSeparator != 0) {
    format += form.timeSeparator;
    format += form.seconds ? "%H:%M:%S" : "%H:%M";
  }
  for (std::size_t i = 0; i < form.suffixLength; ++i) {
    if (form.suffix[i] == '%' || form.suffix[i] == '\0')
      return std::nullopt;
    format += form.suffix[i];
  }
  return format;
}

// Whether SQLite's strftime writes a time: 0000-01-01 to 9999-12-31.
bool InSqlRange(Timestamp t) {
  return t >= -62167219200 && t <= 253402300799;
}

// A SQLite error, with its code so that the line said can tell a lock from a full disk.
struct Failure : std::runtime_error {
  explicit Failure(const std::string& what, int sqliteCode = SQLITE_ERROR)
      : std::runtime_error(what), code(sqliteCode) {}
  int code;
};

Failure FailureOf(sqlite3* db) {
  return Failure(sqlite3_errmsg(db), sqlite3_extended_errcode(db));
}

std::string NowText() {
  const std::time_t now = std::time(nullptr);
  std::tm utc{};
  gmtime_r(&now, &utc);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &utc);
  return text;
}

const char* EncodingWord(Encoding encoding) {
  switch (encoding) {
    case Encoding::Utf8:
      break;
    case Encoding::Windows1252:
      return "windows-1252";
    case Encoding::MacRoman:
      return "mac-roman";
  }
  return "utf-8";
}

Encoding EncodingOf(std::string_view word) {
  return word == "windows-1252" ? Encoding::Windows1252
         : word == "mac-roman"  ? Encoding::MacRoman
                                : Encoding::Utf8;
}

EncodingChoice ChoiceOf(Encoding encoding) {
  switch (encoding) {
    case Encoding::Utf8:
      break;
    case Encoding::Windows1252:
      return EncodingChoice::Windows1252;
    case Encoding::MacRoman:
      return EncodingChoice::MacRoman;
  }
  return EncodingChoice::Utf8;
}

const char* OrderWord(DateOrder order) {
  return order == DateOrder::MonthFirst ? "mdy" : order == DateOrder::DayFirst ? "dmy" : nullptr;
}

DateOrder OrderOf(std::string_view word) {
  return word == "mdy"   ? DateOrder::MonthFirst
         : word == "dmy" ? DateOrder::DayFirst
                         : DateOrder::Detect;
}

std::uint32_t BigEndian(const unsigned char* at) {
  return std::uint32_t{at[0]} << 24 | std::uint32_t{at[1]} << 16 | std::uint32_t{at[2]} << 8 |
         at[3];
}

// Looks at the file before SQLite does, so that nothing is written to a file that is not ours:
// nothing when it is a history this program can open (or empty, to be made one), else why not.
std::optional<std::string> CheckHeader(const std::filesystem::path& path, bool& fresh) {
  std::error_code error;
  const auto status = std::filesystem::status(path, error);
  fresh = false;
  if (status.type() == std::filesystem::file_type::not_found) {
    fresh = true;
    return std::nullopt;
  }
  if (error)
    return error.message();
  if (status.type() == std::filesystem::file_type::directory)
    return "is a folder, not a history file";
  if (status.type() != std::filesystem::file_type::regular)
    return "is not a regular file";
  std::ifstream in(path, std::ios::binary);
  if (!in)
    return "cannot be opened";
  std::array<unsigned char, 100> header{};
  in.read(reinterpret_cast<char*>(header.data()), header.size());
  const std::streamsize got = in.gcount();
  if (got == 0) {
    fresh = true;  // an empty file is made a history, as SQLite itself would take it
    return std::nullopt;
  }
  if (got < 100 || std::memcmp(header.data(), "SQLite format 3", 16) != 0)
    return "is not a SQLite database";
  const std::uint32_t applicationId = BigEndian(&header[68]);
  const std::uint32_t version = BigEndian(&header[60]);
  if (applicationId != static_cast<std::uint32_t>(kApplicationId))
    return "is another program's SQLite database, not a history file";
  if (version > static_cast<std::uint32_t>(kSchemaVersion))
    return "was written by a newer Quorvane (history version " + std::to_string(version) +
           "); this one knows version " + std::to_string(kSchemaVersion);
  // The header's page count holds when it was written with its change counter; a file shorter
  // than its pages (and no write-ahead log that holds the rest) was cut short.
  std::uint64_t pageSize = std::uint64_t{header[16]} << 8 | header[17];
  if (pageSize == 1)
    pageSize = 65536;
  const std::uint64_t pages = BigEndian(&header[28]);
  const auto size = std::filesystem::file_size(path, error);
  auto walPath = path;
  walPath += "-wal";
  const auto walSize = std::filesystem::file_size(walPath, error);
  // A journal a write left behind holds what the file lacks until SQLite rolls it back.
  auto journalPath = path;
  journalPath += "-journal";
  const bool hasWal = (!error && walSize > 0) || std::filesystem::exists(journalPath, error);
  if (BigEndian(&header[92]) == BigEndian(&header[24]) && pages * pageSize > size && !hasWal)
    return "is damaged: cut short";
  return std::nullopt;
}

// The digest of a text's start, 128 bits.
using Digest = std::array<unsigned char, 16>;

Digest ToDigest(XXH128_hash_t hash) {
  XXH128_canonical_t canonical;
  XXH128_canonicalFromHash(&canonical, hash);
  Digest digest;
  std::memcpy(digest.data(), canonical.digest, digest.size());
  return digest;
}

// Watches a file's text go by: the digest of its first bytes at given lengths, at its last line
// feed and at its last carriage return, and the bytes behind each of those two (up to a limit),
// so that the history tells which file it is and where its last whole line ends in the same read.
class TextWatcher {
 public:
  explicit TextWatcher(std::vector<std::uint64_t> lengths) : lengths_(std::move(lengths)) {
    state_ = XXH3_createState();
    if (!state_)
      throw std::bad_alloc();
    XXH3_128bits_reset(state_);
    std::sort(lengths_.begin(), lengths_.end());
    lengths_.erase(std::unique(lengths_.begin(), lengths_.end()), lengths_.end());
    at_.assign(lengths_.size(), std::nullopt);
    feed_.digest = return_.digest = ToDigest(XXH3_128bits_digest(state_));
  }
  ~TextWatcher() { XXH3_freeState(state_); }
  TextWatcher(const TextWatcher&) = delete;
  TextWatcher& operator=(const TextWatcher&) = delete;

  void See(std::string_view text) {
    const std::uint64_t start = total_;
    if (!firstEnd_) {
      if (const std::size_t at = text.find_first_of("\r\n"); at != std::string_view::npos)
        firstEnd_ = text[at];
    }
    // The points in this piece where a digest is wanted, in order: (offset after it, what).
    std::vector<std::pair<std::size_t, std::ptrdiff_t>> points;
    for (std::size_t i = next_; i < lengths_.size() && lengths_[i] <= start + text.size(); ++i)
      points.emplace_back(static_cast<std::size_t>(lengths_[i] - start),
                          static_cast<std::ptrdiff_t>(i));
    next_ += points.size();
    if (const std::size_t at = text.rfind('\n'); at != std::string_view::npos)
      points.emplace_back(at + 1, -1);
    if (const std::size_t at = text.rfind('\r'); at != std::string_view::npos)
      points.emplace_back(at + 1, -2);
    std::sort(points.begin(), points.end());
    std::size_t done = 0;
    for (const auto& [offset, what] : points) {
      XXH3_128bits_update(state_, text.data() + done, offset - done);
      done = offset;
      const Digest digest = ToDigest(XXH3_128bits_digest(state_));
      if (what >= 0) {
        at_[static_cast<std::size_t>(what)] = digest;
        continue;
      }
      LineEnd& end = what == -1 ? feed_ : return_;
      end.position = start + offset;
      end.digest = digest;
      end.behind.clear();
      end.overflow = false;
    }
    XXH3_128bits_update(state_, text.data() + done, text.size() - done);
    total_ = start + text.size();
    for (LineEnd* end : {&feed_, &return_}) {
      const std::size_t from =
          end->position > start ? static_cast<std::size_t>(end->position - start) : 0;
      if (end->overflow || from >= text.size())
        continue;
      if (end->behind.size() + (text.size() - from) > kBehindLimit)
        end->overflow = true;
      else
        end->behind.append(text.substr(from));
    }
  }

  std::uint64_t Total() const { return total_; }
  // How its lines end, as its first line end shows (a classic log's rule): a line feed, or else
  // a carriage return.
  const char* LineSeparator() const { return firstEnd_ == '\n' ? "\n" : "\r"; }
  // The digest of the first `length` bytes, when it was one of the lengths asked for and the
  // text was that long.
  std::optional<Digest> At(std::uint64_t length) const {
    const auto it = std::lower_bound(lengths_.begin(), lengths_.end(), length);
    if (it == lengths_.end() || *it != length)
      return std::nullopt;
    return at_[static_cast<std::size_t>(it - lengths_.begin())];
  }
  // The digest of the text up to `position` and the bytes behind it, when the last line feed or
  // the last carriage return ends there (or it is the start); nothing past the limit.
  struct Whole {
    Digest digest;
    std::string_view behind;
  };
  std::optional<Whole> WholeTo(std::uint64_t position) const {
    for (const LineEnd* end : {&feed_, &return_}) {
      if (end->position == position && !end->overflow)
        return Whole{end->digest, end->behind};
    }
    return std::nullopt;
  }

 private:
  static constexpr std::size_t kBehindLimit = std::size_t{1} << 20;
  struct LineEnd {
    std::uint64_t position = 0;
    Digest digest{};
    std::string behind;
    bool overflow = false;
  };

  XXH3_state_t* state_ = nullptr;
  std::vector<std::uint64_t> lengths_;
  std::vector<std::optional<Digest>> at_;
  std::size_t next_ = 0;
  std::uint64_t total_ = 0;
  LineEnd feed_, return_;
  char firstEnd_ = 0;
};

// A prepared statement, reset for each use.
class Statement {
 public:
  Statement(sqlite3* db, const char* sql) : db_(db) {
    if (sqlite3_prepare_v2(db, sql, -1, &statement_, nullptr) != SQLITE_OK)
      throw FailureOf(db);
  }
  ~Statement() { sqlite3_finalize(statement_); }
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;

  Statement& Bind(int column, std::int64_t value) {
    Check(sqlite3_bind_int64(statement_, column, value));
    return *this;
  }
  Statement& Bind(int column, std::string_view text) {
    // An empty view may point nowhere, which SQLite would bind as NULL.
    Check(sqlite3_bind_text64(statement_, column, text.data() ? text.data() : "", text.size(),
                              SQLITE_STATIC, SQLITE_UTF8));
    return *this;
  }
  Statement& BindNull(int column) {
    Check(sqlite3_bind_null(statement_, column));
    return *this;
  }
  Statement& BindBlob(int column, const Digest& digest) {
    Check(sqlite3_bind_blob(statement_, column, digest.data(), static_cast<int>(digest.size()),
                            SQLITE_TRANSIENT));
    return *this;
  }
  Statement& BindBytes(int column, std::string_view bytes) {
    Check(sqlite3_bind_blob64(statement_, column, bytes.data(), bytes.size(), SQLITE_TRANSIENT));
    return *this;
  }
  // One step: whether it gave a row.
  bool Step() {
    const int code = sqlite3_step(statement_);
    if (code == SQLITE_ROW)
      return true;
    if (code != SQLITE_DONE) {
      const Failure failure = FailureOf(db_);
      sqlite3_reset(statement_);
      throw failure;
    }
    sqlite3_reset(statement_);
    return false;
  }
  void Run() {
    Step();
    sqlite3_clear_bindings(statement_);
  }
  std::int64_t Int(int column) const { return sqlite3_column_int64(statement_, column); }
  bool Null(int column) const { return sqlite3_column_type(statement_, column) == SQLITE_NULL; }
  std::string_view Text(int column) const {
    const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(statement_, column));
    return {text ? text : "", static_cast<std::size_t>(sqlite3_column_bytes(statement_, column))};
  }
  std::string_view Bytes(int column) const {
    const void* bytes = sqlite3_column_blob(statement_, column);
    return {bytes ? static_cast<const char*>(bytes) : "",
            static_cast<std::size_t>(sqlite3_column_bytes(statement_, column))};
  }
  std::optional<Digest> Blob(int column) const {
    if (sqlite3_column_bytes(statement_, column) != 16)
      return std::nullopt;
    Digest digest;
    std::memcpy(digest.data(), sqlite3_column_blob(statement_, column), digest.size());
    return digest;
  }

 private:
  void Check(int code) {
    if (code != SQLITE_OK)
      throw FailureOf(db_);
  }
  sqlite3* db_;
  sqlite3_stmt* statement_ = nullptr;
};

// What one run added of a file's rows of one direction.
struct Run {
  std::int64_t id = 0;
  std::size_t firstSeq = 0;
  std::int64_t firstRow = 0, lastRow = 0, countedFrom = 0;
  std::optional<std::string> dateFormat;  // for its rows' empty Date/Time texts

  std::size_t Rows() const { return static_cast<std::size_t>(lastRow - firstRow + 1); }
};

// What the history holds of one file.
struct StoredFile {
  std::int64_t id = 0;
  std::string name;
  bool standardInput = false;
  LogFormat format = LogFormat::Classic;
  LogKind classicKind = LogKind::Download;
  bool compressed = false;
  Encoding encoding = Encoding::Utf8;
  DateOrder order = DateOrder::Detect;
  std::uint64_t textBytes = 0;
  std::optional<Digest> digest;
  std::size_t skipped[2] = {0, 0};
  std::size_t stored[2] = {0, 0};
  std::size_t leftOut[2] = {0, 0};
  Timestamp firstDated[2] = {kUndated, kUndated};
  std::vector<Run> runs[2];  // by first_seq
};

std::string FormatWord(LogFormat format, LogKind kind) {
  SourceInfo info;
  info.format = format;
  info.classicKind = kind;
  return info.FormatName();
}

void ParseFormat(std::string_view word, StoredFile& file) {
  file.format = word == "mobius"          ? LogFormat::Mobius
                : word == "mobius-legacy" ? LogFormat::MobiusLegacy
                                          : LogFormat::Classic;
  file.classicKind = word == "classic-upload" ? LogKind::Upload : LogKind::Download;
}

// One source read in this run.
struct Reading {
  AnyReadResult read;
  std::uint64_t wholeEnd = 0;         // where its last whole line ends
  std::optional<Digest> wholeDigest;  // of the text up to there; nothing: cannot be kept now
  std::size_t wholeRows[2] = {0, 0};  // rows of its whole lines, per table
  std::optional<std::size_t> file;    // the stored file it continues (index)
  // Rows of its text before the table's first (the stored file's, when only the rest was read).
  std::size_t base[2] = {0, 0};
  bool longest = true;  // the longest reading of its stored file
};

// Rows are kept in chunks, each of up to kChunkRows rows of one run, so that SQLite writes a
// chunk where it would write a row: `rows` is a JSON array of [address, name, time, file_name,
// account] (time: null when undated), with the Date/Time text as a sixth element unless the
// run's date_format writes it from the time. Any SQLite tool reads them through json_each, as
// the view does.
constexpr std::size_t kChunkRows = 256;

// One row of a chunk, but for its Date/Time text.
struct ChunkRow {
  std::int64_t address = 0, name = 0, time = kUndated, fileName = 0, account = 0;
};

// Appends a row as JSON, its text (when kept) escaped, written in place: the string is first
// made long enough for five numbers of any size and the text at its most escaped (six bytes a
// byte), then cut to what was written.
void AppendChunkRow(std::string& out, const ChunkRow& row, const std::string_view* text) {
  const std::size_t used = out.size();
  out.resize(used + 5 * 21 + 3 + (text ? 6 * text->size() + 3 : 0));
  char* at = out.data() + used;
  *at++ = used == 0 ? '[' : ',';
  *at++ = '[';
  const auto number = [&at](std::int64_t value) {
    at = std::to_chars(at, at + 20, value).ptr;  // 20: room for any int64
    *at++ = ',';
  };
  number(row.address);
  number(row.name);
  if (row.time == kUndated) {
    at = std::copy_n("null,", 5, at);
  } else {
    number(row.time);
  }
  number(row.fileName);
  number(row.account);
  --at;  // no comma after the last
  if (text) {
    *at++ = ',';
    *at++ = '"';
    for (const char c : *text) {
      if (c == '"' || c == '\\') {
        *at++ = '\\';
        *at++ = c;
      } else if (static_cast<unsigned char>(c) < 0x20) {
        static const char* const kHex = "0123456789abcdef";
        at = std::copy_n("\\u00", 4, at);
        *at++ = kHex[c >> 4];
        *at++ = kHex[c & 15];
      } else {
        *at++ = c;
      }
    }
    *at++ = '"';
  }
  *at++ = ']';
  out.resize(static_cast<std::size_t>(at - out.data()));
}

// Reads a chunk's rows back: each row and its kept text (empty and not `hasText` when the
// format writes it). A chunk not as written is damage.
class ChunkReader {
 public:
  explicit ChunkReader(std::string_view json) : json_(json) {
    if (!Take('['))
      Damaged();
  }
  // The next row, or false at the chunk's end.
  bool Next(ChunkRow& row, bool& hasText) {
    if (Take(']'))
      return false;
    if ((rows_++ != 0 && !Take(',')) || !Take('['))
      Damaged();
    row.address = Number();
    Comma();
    row.name = Number();
    Comma();
    if (json_.substr(at_, 4) == "null") {
      at_ += 4;
      row.time = kUndated;
    } else {
      row.time = Number();
    }
    Comma();
    row.fileName = Number();
    Comma();
    row.account = Number();
    hasText = Take(',');
    if (hasText)
      String();
    if (!Take(']'))
      Damaged();
    return true;
  }
  std::string_view Text() const { return text_; }

 private:
  [[noreturn]] static void Damaged() {
    throw Failure("a chunk of rows is damaged", SQLITE_CORRUPT);
  }
  bool Take(char c) {
    if (at_ < json_.size() && json_[at_] == c) {
      ++at_;
      return true;
    }
    return false;
  }
  void Comma() {
    if (!Take(','))
      Damaged();
  }
  std::int64_t Number() {
    std::int64_t value = 0;
    const auto [end, error] =
        std::from_chars(json_.data() + at_, json_.data() + json_.size(), value);
    if (error != std::errc())
      Damaged();
    at_ = static_cast<std::size_t>(end - json_.data());
    return value;
  }
  void String() {
    if (!Take('"'))
      Damaged();
    text_.clear();
    for (;;) {
      if (at_ >= json_.size())
        Damaged();
      const char c = json_[at_++];
      if (c == '"')
        return;
      if (c != '\\') {
        text_ += c;
        continue;
      }
      if (at_ >= json_.size())
        Damaged();
      const char e = json_[at_++];
      if (e != 'u') {
        const char* const from = "\"\\/bfnrt";
        const char* const to = "\"\\/\b\f\n\r\t";
        const char* found = std::strchr(from, e);
        if (!found || e == 0)
          Damaged();
        text_ += to[found - from];
        continue;
      }
      unsigned code = 0;
      if (at_ + 4 > json_.size() ||
          std::from_chars(json_.data() + at_, json_.data() + at_ + 4, code, 16).ptr !=
              json_.data() + at_ + 4)
        Damaged();
      at_ += 4;
      // Only control characters are written escaped; others as UTF-8, as a tool would.
      if (code < 0x80) {
        text_ += static_cast<char>(code);
      } else if (code < 0x800) {
        text_ += static_cast<char>(0xc0 | code >> 6);
        text_ += static_cast<char>(0x80 | (code & 0x3f));
      } else {
        text_ += static_cast<char>(0xe0 | code >> 12);
        text_ += static_cast<char>(0x80 | (code >> 6 & 0x3f));
        text_ += static_cast<char>(0x80 | (code & 0x3f));
      }
    }
  }

  std::string_view json_;
  std::size_t at_ = 0, rows_ = 0;
  std::string text_;
};

// Writes `t` as strftime writes it in a format SqlDateFormat made, for a time in SQLite's range
// (InSqlRange), into `out` (cleared first): digit by digit, as a million rows each want theirs.
void WriteDateFormat(std::string_view format, Timestamp t, std::string& out) {
  const std::int64_t day = DayOf(t);
  const auto time = static_cast<int>(t - day * 86400);
  const CivilDate date = CivilFromDay(day);
  out.clear();
  const auto put = [&out](int value, int digits) {
    for (int place = digits == 4 ? 1000 : 10; place != 0; place /= 10)
      out += static_cast<char>('0' + value / place % 10);
  };
  for (std::size_t i = 0; i < format.size(); ++i) {
    if (format[i] != '%' || i + 1 == format.size()) {
      out += format[i];
      continue;
    }
    switch (format[++i]) {
      case 'Y':
        put(date.year, 4);
        break;
      case 'm':
        put(date.month, 2);
        break;
      case 'd':
        put(date.day, 2);
        break;
      case 'H':
        put(time / 3600, 2);
        break;
      case 'M':
        put(time / 60 % 60, 2);
        break;
      case 'S':
        put(time % 60, 2);
        break;
      default:
        out += format[i];
    }
  }
}

// Inserts chunks of rows.
class ChunkInserter {
 public:
  explicit ChunkInserter(sqlite3* db)
      : insert_(db, "INSERT INTO row_chunks(first_row, last_row, rows) VALUES(?, ?, ?)") {}
  void Insert(std::int64_t firstRow, std::int64_t lastRow, std::string_view json) {
    insert_.Bind(1, firstRow).Bind(2, lastRow).Bind(3, json).Run();
  }

 private:
  Statement insert_;
};

// Brings a file of the first layout's rows (a table row each, each with its Date/Time text) into
// chunks, run by run. A run's format is the one its first dated row's text shows, if strftime can
// write it; its rows that format writes keep no text, as an addition's.
void ChunkOldRows(sqlite3* db) {
  ChunkInserter chunks(db);
  std::vector<std::array<std::int64_t, 3>> runs;  // id, first row, last row
  {
    Statement all(db, "SELECT id, first_row, last_row FROM runs ORDER BY first_row");
    while (all.Step())
      runs.push_back({all.Int(0), all.Int(1), all.Int(2)});
  }
  Statement rows(db,
                 "SELECT id, address, name, time, file_name, account, date_text FROM rows "
                 "WHERE id BETWEEN ? AND ? ORDER BY id");
  Statement format(db, "UPDATE runs SET date_format = ? WHERE id = ?");
  std::string json, rewritten;
  for (const auto& [run, firstRow, lastRow] : runs) {
    rows.Bind(1, firstRow).Bind(2, lastRow);
    std::int64_t first = 0, last = 0;
    const auto flush = [&] {
      if (!json.empty()) {
        json += ']';
        chunks.Insert(first, last, json);
        json.clear();
      }
    };
    std::optional<std::string> dateFormat;
    bool learnt = false;
    std::size_t count = 0;
    while (rows.Step()) {
      if (count == kChunkRows || (!json.empty() && rows.Int(0) != last + 1)) {
        flush();
        count = 0;
      }
      if (json.empty())
        first = rows.Int(0);
      last = rows.Int(0);
      ChunkRow row{rows.Int(1), rows.Int(2), rows.Null(3) ? kUndated : rows.Int(3), rows.Int(4),
                   rows.Int(5)};
      const std::string_view text = rows.Text(6);
      if (!learnt && row.time != kUndated) {
        learnt = true;
        if (const std::optional<DateForm> form = DateForm::Of(text, row.time))
          dateFormat = SqlDateFormat(*form);
      }
      const bool written = dateFormat && row.time != kUndated && InSqlRange(row.time) &&
                           (WriteDateFormat(*dateFormat, row.time, rewritten), rewritten == text);
      AppendChunkRow(json, row, written ? nullptr : &text);
      ++count;
    }
    flush();
    if (dateFormat)
      format.Bind(1, std::string_view(*dateFormat)).Bind(2, run).Run();
  }
}

}  // namespace

namespace {

// Whether a read of the file gets past opening it (a reader of a write-ahead log needs its index
// file).
bool Readable(sqlite3* db) {
  sqlite3_stmt* statement = nullptr;
  if (sqlite3_prepare_v2(db, "SELECT count(*) FROM sqlite_master", -1, &statement, nullptr) !=
      SQLITE_OK)
    return (sqlite3_errcode(db) & 0xff) != SQLITE_READONLY &&
           (sqlite3_errcode(db) & 0xff) != SQLITE_CANTOPEN;
  const int code = sqlite3_step(statement) & 0xff;
  sqlite3_finalize(statement);
  return code != SQLITE_READONLY && code != SQLITE_CANTOPEN;
}

// A path as a file: URI's path, its special characters escaped.
std::string UriPath(const std::filesystem::path& path) {
  std::string uri;
  for (const unsigned char c : std::filesystem::absolute(path).string()) {
    if (c == '%' || c == '?' || c == '#' || c < 0x20 || c >= 0x7f) {
      static const char* const kHex = "0123456789ABCDEF";
      uri += '%';
      uri += kHex[c >> 4];
      uri += kHex[c & 15];
    } else {
      uri += static_cast<char>(c);
    }
  }
  return uri;
}

}  // namespace

struct History::Db {
  sqlite3* db = nullptr;
  // A change of journal made on another thread after an addition, while the caller reports.
  std::future<void> switching;
  ~Db() {
    Settle();
    sqlite3_close_v2(db);
  }
  // Before the connection is used again.
  void Settle() {
    if (switching.valid())
      switching.get();
  }

  void Exec(const char* sql) {
    char* message = nullptr;
    if (sqlite3_exec(db, sql, nullptr, nullptr, &message) != SQLITE_OK) {
      Failure failure = FailureOf(db);
      sqlite3_free(message);
      throw failure;
    }
  }
  int Pragma(const char* name) {
    Statement statement(db, (std::string("PRAGMA ") + name).c_str());
    return statement.Step() ? static_cast<int>(statement.Int(0)) : 0;
  }
};

History::History(std::filesystem::path path, std::unique_ptr<Db> db, bool readOnly)
    : path_(std::move(path)), db_(std::move(db)), readOnly_(readOnly) {}
History::~History() = default;

std::unique_ptr<History> History::Open(const std::filesystem::path& path, Access access,
                                       std::chrono::milliseconds wait, std::string& error) {
  const std::string name = InputName{path, false}.Text();
  bool fresh = false;
  if (const std::optional<std::string> wrong = CheckHeader(path, fresh)) {
    error = name + ": " + *wrong;
    return nullptr;
  }
  if (fresh) {
    const std::filesystem::path folder =
        path.parent_path().empty() ? std::filesystem::path(".") : path.parent_path();
    std::error_code missing;
    if (!std::filesystem::is_directory(folder, missing)) {
      error = name + ": cannot be made: its folder does not exist";
      return nullptr;
    }
  }
  // A file marked read-only is only read, even by a user (root) whom the system would let write.
  bool writable = true;
  if (!fresh) {
    using std::filesystem::perms;
    std::error_code statusError;
    const perms permissions = std::filesystem::status(path, statusError).permissions();
    if (statusError ||
        (permissions & (perms::owner_write | perms::group_write | perms::others_write)) ==
            perms::none ||
        ::access(path.c_str(), W_OK) != 0)
      writable = false;
  }
  const bool readOnly = !writable || (access == Access::Read && !fresh);
  auto db = std::make_unique<Db>();
  const int flags = (readOnly ? SQLITE_OPEN_READONLY : SQLITE_OPEN_READWRITE) |
                    (fresh ? SQLITE_OPEN_CREATE : 0) | SQLITE_OPEN_NOMUTEX;
  int opened = sqlite3_open_v2(path.c_str(), &db->db, flags, nullptr);
  if (opened == SQLITE_OK && readOnly && !Readable(db->db)) {
    // A write-ahead log's reader shares an index file beside it, which a user who may not write
    // the folder cannot make: such a user reads the file as it stands, unchanged meanwhile.
    sqlite3_close_v2(db->db);
    db->db = nullptr;
    opened = sqlite3_open_v2(("file:" + UriPath(path) + "?immutable=1").c_str(), &db->db,
                             SQLITE_OPEN_READONLY | SQLITE_OPEN_URI | SQLITE_OPEN_NOMUTEX, nullptr);
  }
  if (opened != SQLITE_OK) {
    error = name + ": cannot be opened: " +
            (db->db ? sqlite3_errmsg(db->db) : std::string(sqlite3_errstr(opened)));
    return nullptr;
  }
  sqlite3_extended_result_codes(db->db, 1);
  sqlite3_busy_timeout(db->db, static_cast<int>(std::min<std::int64_t>(wait.count(), INT32_MAX)));
  try {
    if (fresh) {
      // A new file takes its first rows with a rollback journal, which writes them once (a
      // write-ahead log writes them twice); it is switched to one once they are in. Its pages
      // hold a chunk of rows each, without overflow pages.
      db->Exec("PRAGMA page_size=16384");
      db->Exec("BEGIN IMMEDIATE");
      // Another run may have made it meanwhile.
      if (db->Pragma("application_id") == 0) {
        db->Exec(kSchema);
        db->Exec(kRowChunks);
        db->Exec(kView);
        db->Exec(("PRAGMA application_id=" + std::to_string(kApplicationId)).c_str());
        db->Exec(("PRAGMA user_version=" + std::to_string(kSchemaVersion)).c_str());
        Statement made(db->db, "INSERT INTO history(key, value) VALUES('created', ?)");
        const std::string now = NowText();
        made.Bind(1, std::string_view(now)).Run();
      }
      db->Exec("COMMIT");
    } else {
      // SQLite reads the header its own way too.
      if (db->Pragma("application_id") != kApplicationId)
        throw Failure("is another program's SQLite database, not a history file");
      const int version = db->Pragma("user_version");
      if (version > kSchemaVersion)
        throw Failure("was written by a newer Quorvane");
      if (version < kSchemaVersion) {
        if (!writable)
          throw Failure("is an older history and read-only, so it cannot be brought up to date");
        // A reader brings it up to date too, through a connection of its own that may write.
        Db writer;
        if (readOnly) {
          if (sqlite3_open_v2(path.c_str(), &writer.db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX,
                              nullptr) != SQLITE_OK)
            throw FailureOf(writer.db);
          sqlite3_extended_result_codes(writer.db, 1);
          sqlite3_busy_timeout(writer.db,
                               static_cast<int>(std::min<std::int64_t>(wait.count(), INT32_MAX)));
        }
        Db& to = readOnly ? writer : *db;
        // Each older layout's step to the next goes here, all in one transaction.
        to.Exec("BEGIN IMMEDIATE");
        // Another run may have done it meanwhile.
        if (to.Pragma("user_version") < 2) {
          // A table row for each row, each with its Date/Time text: chunks of them.
          to.Exec("ALTER TABLE runs ADD COLUMN date_format TEXT");
          to.Exec(kRowChunks);
          ChunkOldRows(to.db);
          to.Exec("DROP VIEW IF EXISTS transfers");
          to.Exec("DROP TABLE rows");
          to.Exec(kView);
        }
        to.Exec(("PRAGMA user_version=" + std::to_string(kSchemaVersion)).c_str());
        to.Exec("COMMIT");
        // The old layout's pages are free now: the file gives them back, once (a failure, such
        // as a reader meanwhile, leaves it as large and as whole as it is).
        sqlite3_exec(to.db, "VACUUM", nullptr, nullptr, nullptr);
      }
      if (!readOnly)
        db->Exec("PRAGMA journal_mode=WAL");
    }
    db->Exec("PRAGMA synchronous=NORMAL");
    db->Exec("PRAGMA cache_size=-2048");
  } catch (const Failure& failure) {
    error = name + ": " + failure.what();
    return nullptr;
  }
  return std::unique_ptr<History>(new History(path, std::move(db), readOnly));
}

std::string History::Since() const {
  db_->Settle();
  try {
    Statement since(db_->db, "SELECT value FROM history WHERE key = 'created'");
    return since.Step() ? std::string(since.Text(0)) : std::string();
  } catch (const Failure&) {
    return {};
  }
}

namespace {

// The rows a read gives a table (0: downloads, 1: uploads), or none.
template <typename Read>
auto TableOf(Read& read, LogKind classicKind, int direction) -> decltype(&read.table) {
  if (read.format != LogFormat::Classic)
    return direction == 0 ? &read.downloads : &read.uploads;
  return (classicKind == LogKind::Upload) == (direction == 1) ? &read.table : nullptr;
}

// The table whose text encoding and dates' order stand for the whole read.
const LogTable& ReadTable(const AnyReadResult& read) {
  return read.format == LogFormat::Classic ? read.table : read.downloads;
}

// Whether a stored file can be what a source given in this role reads.
bool Fits(const StoredFile& file, const LogSource& source) {
  const bool classic = file.format == LogFormat::Classic;
  switch (ExpectOf(source.role)) {
    case Expect::Classic:
      return classic && file.classicKind == ClassicKindOf(source.role);
    case Expect::ServerLog:
      return !classic;
    case Expect::Either:
      break;
  }
  return !classic || file.classicKind == ClassicKindOf(source.role);
}

// The stored file the watched text goes on from: the longest whose text its text starts with,
// up to `upTo` bytes.
std::optional<std::size_t> Continued(const TextWatcher& watcher, const LogSource& source,
                                     const std::vector<StoredFile>& stored, std::uint64_t upTo) {
  std::optional<std::size_t> found;
  for (std::size_t i = 0; i < stored.size(); ++i) {
    const StoredFile& file = stored[i];
    if (file.digest && Fits(file, source) && file.textBytes <= upTo &&
        (!found || file.textBytes > stored[*found].textBytes) &&
        watcher.At(file.textBytes) == file.digest)
      found = i;
  }
  return found;
}

// Where the read's whole lines end, their digest, and the rows they hold: the rows of a last
// line without its line end are reported but not kept, as it may still be being written (a
// classic log's is its last row; a server log's line reads alone).
void FindWhole(Reading& reading, const TextWatcher& watcher, LogKind kind,
               std::uint64_t textBefore) {
  AnyReadResult& read = reading.read;
  reading.wholeEnd = textBefore + read.bytesUsed - read.openTail;
  std::size_t tail[2] = {0, 0};
  const std::optional<TextWatcher::Whole> whole = watcher.WholeTo(reading.wholeEnd);
  if (read.openTail != 0) {
    if (read.format == LogFormat::Classic) {
      if (!read.dataEnded && read.table.RowCount() != 0)
        tail[kind == LogKind::Upload ? 1 : 0] = 1;
    } else if (whole) {
      ReadOptions alone;
      alone.kept = KeptCells{false, false, false};
      const AnyReadResult last = ParseAnyLog(whole->behind, Expect::ServerLog, alone);
      if (last.Ok()) {
        tail[0] = last.downloads.RowCount();
        tail[1] = last.uploads.RowCount();
      }
    }
  }
  if (whole)
    reading.wholeDigest = whole->digest;
  for (int d = 0; d < 2; ++d) {
    const LogTable* table = TableOf(read, kind, d);
    const std::size_t rows = table ? table->RowCount() : 0;
    reading.wholeRows[d] = reading.base[d] + rows - std::min(rows, tail[d]);
  }
}

// Reads the whole text into the watcher; false when it cannot be read.
bool Watch(const InputName& input, TextWatcher& watcher) {
  LogInput file(input);
  if (!file.OpenError().empty())
    return false;
  std::vector<char> buffer(std::size_t{1} << 20);
  std::string error;
  for (;;) {
    const std::optional<std::size_t> got = file.Read(buffer.data(), buffer.size(), error);
    if (!got)
      return false;
    if (*got == 0)
      return true;
    watcher.See(std::string_view(buffer.data(), *got));
  }
}

// Reads only what a file holds behind the stored file it goes on from, as that file was read
// (its encoding and its dates' order, unless the run asks for others); nothing when that cannot
// be done (the file changed meanwhile, or its new lines do not read alone), and the caller reads
// it whole.
std::optional<Reading> ReadRest(const LogSource& source, std::size_t index,
                                const std::vector<StoredFile>& stored, const TextWatcher& watcher,
                                const ReadOptions& asked) {
  const StoredFile& file = stored[index];
  LogInput input(source.input);
  if (!input.OpenError().empty())
    return std::nullopt;
  std::string rest;
  std::vector<char> buffer(std::size_t{1} << 20);
  std::string error;
  for (std::uint64_t at = input.SkipTo(file.textBytes) ? file.textBytes : 0;;) {
    const std::optional<std::size_t> got = input.Read(buffer.data(), buffer.size(), error);
    if (!got)
      return std::nullopt;
    if (*got == 0)
      break;
    const std::uint64_t skip =
        at < file.textBytes ? std::min<std::uint64_t>(file.textBytes - at, *got) : 0;
    rest.append(buffer.data() + skip, *got - static_cast<std::size_t>(skip));
    at += *got;
  }
  if (file.textBytes + rest.size() != watcher.Total())
    return std::nullopt;
  Reading reading;
  reading.file = index;
  for (int d = 0; d < 2; ++d)
    reading.base[d] = file.skipped[d] + file.stored[d];
  ReadOptions options = asked;
  if (options.encoding == EncodingChoice::Auto)
    options.encoding = ChoiceOf(file.encoding);
  if (options.dates == DateOrder::Detect)
    options.dates = file.order;
  std::size_t header = 0;
  if (file.format == LogFormat::Classic) {
    // Its header is behind; one of the same line end stands for it.
    const std::string head =
        std::string("Date/time\tAddress\tAccount\tName\tFile Name") + watcher.LineSeparator();
    header = head.size();
    reading.read = ParseAnyLog(head + rest, Expect::Classic, options);
  } else if (!rest.empty()) {
    reading.read = ParseAnyLog(rest, Expect::ServerLog, options);
  } else {
    reading.read.format = file.format;
  }
  if (!reading.read.Ok() || reading.read.format != file.format)
    return std::nullopt;
  reading.read.bytesUsed -= std::min<std::uint64_t>(header, reading.read.bytesUsed);
  reading.read.compressed = input.Compressed();
  reading.read.device = input.Device();
  reading.read.inode = input.Inode();
  FindWhole(reading, watcher, ClassicKindOf(source.role), file.textBytes);
  reading.read.bytesUsed += file.textBytes;
  if (!reading.wholeDigest && reading.wholeEnd == file.textBytes)
    reading.wholeDigest = file.digest;
  return reading;
}

// Reads one source and tells which stored file it goes on from and what of it may be kept. A
// named file that goes on from a stored one is read twice: once for its text's digests, once for
// what follows the stored text, which alone is parsed.
Reading ReadSource(const LogSource& source, const ReadOptions& options,
                   const std::vector<StoredFile>& stored) {
  std::vector<std::uint64_t> lengths;
  for (const StoredFile& file : stored) {
    if (file.digest && Fits(file, source))
      lengths.push_back(file.textBytes);
  }
  if (!source.input.standardInput && !lengths.empty()) {
    TextWatcher first(lengths);
    if (Watch(source.input, first)) {
      if (const auto index = Continued(first, source, stored, first.Total())) {
        if (std::optional<Reading> rest = ReadRest(source, *index, stored, first, options))
          return std::move(*rest);
      }
    }
  }
  TextWatcher watcher(std::move(lengths));
  ReadOptions watched = options;
  watched.observeText = [&watcher](std::string_view text) { watcher.See(text); };
  Reading reading;
  reading.read = ReadAnyLog(source.input, ExpectOf(source.role), watched);
  if (!reading.read.Ok())
    return reading;
  FindWhole(reading, watcher, ClassicKindOf(source.role), 0);
  reading.file = Continued(watcher, source, stored, reading.wholeEnd);
  return reading;
}

struct TextViewHash {
  std::size_t operator()(std::string_view text) const {
    return static_cast<std::size_t>(XXH3_64bits(text.data(), text.size()));
  }
};

// Runs jobs on a second thread, one after the other in the order given, while the caller makes
// the next: SQLite writes an add's rows while the next are read and numbered, and a read's table
// is made while SQLite gives the next rows. What a job uses is the job's until Drain returns.
class SecondThread {
 public:
  SecondThread() : thread_([this] { Work(); }) {}
  ~SecondThread() { Stop(); }
  // Lets the batch being written end and drops those not begun (once an add failed), so that
  // the statements they use may go.
  void Stop() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      stopping_ = true;
      jobs_.clear();
      later_.clear();
    }
    wake_.notify_all();
    if (thread_.joinable())
      thread_.join();
  }
  SecondThread(const SecondThread&) = delete;
  SecondThread& operator=(const SecondThread&) = delete;

  void Submit(std::function<void()> job) {
    std::unique_lock<std::mutex> lock(mutex_);
    // A few batches ahead are enough to keep both threads busy; more would only hold memory.
    done_.wait(lock, [this] { return jobs_.size() < kAhead || failure_; });
    Rethrow();
    jobs_.push_back(std::move(job));
    wake_.notify_one();
  }
  // A job that may wait behind every job submitted after it: what it uses is at hand already, so
  // it fills the time the writer would otherwise wait for the next batch. Jobs given here run in
  // the order given.
  void SubmitLater(std::function<void()> job) {
    std::lock_guard<std::mutex> lock(mutex_);
    Rethrow();
    later_.push_back(std::move(job));
    wake_.notify_one();
  }
  // Waits until the jobs given by Submit are done and holds back those given later, so that this
  // thread may use the connection until Resume.
  void Pause() {
    std::unique_lock<std::mutex> lock(mutex_);
    paused_ = true;
    done_.wait(lock, [this] { return (jobs_.empty() && !busy_) || failure_; });
    Rethrow();
  }
  void Resume() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      paused_ = false;
    }
    wake_.notify_one();
  }
  // Waits until every batch is written (resuming those held back); the first failure of any is
  // thrown here.
  void Drain() {
    std::unique_lock<std::mutex> lock(mutex_);
    paused_ = false;
    wake_.notify_one();
    done_.wait(lock, [this] { return (jobs_.empty() && later_.empty() && !busy_) || failure_; });
    Rethrow();
  }

 private:
  static constexpr std::size_t kAhead = 64;
  void Rethrow() {
    if (failure_) {
      jobs_.clear();
      std::rethrow_exception(failure_);
    }
  }
  void Work() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
      wake_.wait(lock,
                 [this] { return stopping_ || !jobs_.empty() || (!paused_ && !later_.empty()); });
      if ((jobs_.empty() && (paused_ || later_.empty())) || failure_)
        return;  // stopping: an add that failed leaves the rest unwritten
      std::deque<std::function<void()>>& from = jobs_.empty() ? later_ : jobs_;
      std::function<void()> job = std::move(from.front());
      from.pop_front();
      busy_ = true;
      lock.unlock();
      std::exception_ptr failed;
      try {
        job();
      } catch (...) {
        failed = std::current_exception();
      }
      lock.lock();
      busy_ = false;
      if (failed)
        failure_ = failed;
      done_.notify_all();
    }
  }

  std::mutex mutex_;
  std::condition_variable wake_, done_;
  std::deque<std::function<void()>> jobs_, later_;
  bool busy_ = false, stopping_ = false, paused_ = false;
  std::exception_ptr failure_;
  std::thread thread_;  // last: it starts once the rest is ready
};

// Texts one after the other in one string, each found again by its index: a batch of rows'
// texts in two allocations, not one each.
class PackedTexts {
 public:
  void Add(std::string_view text) {
    bytes_.append(text);
    ends_.push_back(bytes_.size());
  }
  std::string_view operator[](std::size_t i) const {
    const std::size_t from = i == 0 ? 0 : ends_[i - 1];
    return std::string_view(bytes_).substr(from, ends_[i] - from);
  }

 private:
  std::string bytes_;
  std::vector<std::size_t> ends_;
};

// Inserts go to SQLite many rows to a statement (one of 64 rows costs little more than one of
// one), and to the writer's thread 16 such batches at a time: few hand-overs, little held.
constexpr std::size_t kInsertBatch = 256;
constexpr std::size_t kInsertJob = 16 * kInsertBatch;

// `INSERT INTO table(columns) VALUES(?, …)` for `rows` rows of `count` columns.
std::string InsertSql(const char* table, const char* columns, int count, std::size_t rows) {
  std::string values = "(?";
  for (int i = 1; i < count; ++i)
    values += ",?";
  values += ')';
  std::string sql = std::string("INSERT INTO ") + table + columns + " VALUES" + values;
  for (std::size_t i = 1; i < rows; ++i)
    sql += ',' + values;
  return sql;
}

// Inserts `count` rows: whole batches through `many` (kInsertBatch rows a statement), the last
// few through `one`. `bind(statement, parameterBefore, i)` binds row i's values; `ran(i)` follows
// each statement, i its last row.
template <typename BindRow, typename Ran>
void InsertBatched(std::size_t count, int columns, Statement& one, Statement& many,
                   const BindRow& bind, const Ran& ran) {
  const std::size_t whole = count / kInsertBatch * kInsertBatch;
  for (std::size_t i = 0; i < count; ++i) {
    if (i < whole) {
      bind(many, static_cast<int>(i % kInsertBatch) * columns, i);
      if (i % kInsertBatch == kInsertBatch - 1) {
        many.Run();
        ran(i);
      }
    } else {
      bind(one, 0, i);
      one.Run();
      ran(i);
    }
  }
}

// Adds texts with the ids they were given: the next of the table's, which SQLite gives them
// itself the faster (checked).
class TextAdder {
 public:
  TextAdder(sqlite3* db, const char* table, SecondThread& writer)
      : db_(db),
        one_(db, InsertSql(table, "(text)", 1, 1).c_str()),
        many_(db, InsertSql(table, "(text)", 1, kInsertBatch).c_str()),
        writer_(writer) {}
  // `text` stays where it is until the writer is drained (TextIndex holds it).
  void Add(std::int64_t id, std::string_view text) {
    batch_.ids.push_back(id);
    batch_.texts.push_back(text);
    if (batch_.ids.size() == kInsertJob)
      Flush();
  }
  // From now on its batches wait behind any other (see SecondThread::SubmitLater), and so do the
  // texts added after them: SQLite gives the texts their ids in the order it takes them.
  void WaitBehindRows() {
    Flush();
    later_ = true;
  }
  void Flush() {
    if (batch_.ids.empty())
      return;
    auto job = [this, batch = std::move(batch_)] {
      InsertBatched(
          batch.ids.size(), 1, one_, many_,
          [&](Statement& statement, int at, std::size_t i) {
            statement.Bind(at + 1, batch.texts[i]);
          },
          [&](std::size_t last) {
            if (sqlite3_last_insert_rowid(db_) != batch.ids[last])
              throw Failure("texts were not given the ids they were counted with", SQLITE_CORRUPT);
          });
    };
    if (later_)
      writer_.SubmitLater(std::move(job));
    else
      writer_.Submit(std::move(job));
    batch_ = {};
  }

 private:
  struct Batch {
    std::vector<std::int64_t> ids;
    std::vector<std::string_view> texts;
  };
  bool later_ = false;
  sqlite3* db_;
  Statement one_, many_;
  SecondThread& writer_;
  Batch batch_;
};

// The texts of one column, by id, and (for adding) the id of each text.
class TextIndex {
 public:
  // Reads every text of `table`; with `lookup`, also the index for IdOf.
  void Load(sqlite3* db, const char* table, bool lookup) {
    if (!loaded_ || partial_) {
      *this = TextIndex();
      loaded_ = true;
      table_ = table;
      Statement all(db, (std::string("SELECT id, text FROM ") + table).c_str());
      while (all.Step())
        Put(IdIn(all, table), all.Text(1), true);
    }
    if (lookup && slots_.empty())
      MakeLookup();
  }
  // Reads only the texts asked for (those of the rows about to be added, when they are few), and
  // the index to add to. `hashes`: HashOf each of the table's texts, by id from 1, up to its
  // largest id: only the texts whose hash one asked for has are read.
  void LoadWanted(sqlite3* db, const char* table, const std::vector<std::string_view>& wanted,
                  const std::vector<std::uint32_t>& hashes) {
    if (loaded_) {
      Load(db, table, true);
      return;
    }
    table_ = table;
    std::unordered_map<std::string_view, bool, TextViewHash> asked;
    std::vector<std::uint32_t> wantedHashes(
        std::bit_ceil(std::max<std::size_t>(64, wanted.size() * 4)));
    const std::size_t mask = wantedHashes.size() - 1;
    // 0 marks a free slot: a text whose hash is 0 is looked for as 1, and so are those of 1.
    const auto key = [](std::uint32_t hash) { return std::max<std::uint32_t>(hash, 1); };
    for (std::string_view text : wanted) {
      asked.emplace(text, true);
      const std::uint32_t hash = key(HashOf(text));
      std::size_t slot = hash & mask;
      while (wantedHashes[slot] != 0 && wantedHashes[slot] != hash)
        slot = (slot + 1) & mask;
      wantedHashes[slot] = hash;
    }
    loaded_ = partial_ = true;
    Rehash(std::bit_ceil(std::max<std::size_t>(64, wanted.size() * 4)));
    Statement one(db, (std::string("SELECT text FROM ") + table + " WHERE id = ?").c_str());
    for (std::size_t i = 0; i < hashes.size(); ++i) {
      const std::uint32_t hash = key(hashes[i]);
      std::size_t slot = hash & mask;
      while (wantedHashes[slot] != 0 && wantedHashes[slot] != hash)
        slot = (slot + 1) & mask;
      if (wantedHashes[slot] == 0)
        continue;
      const auto id = static_cast<std::int64_t>(i + 1);
      if (one.Bind(1, id).Step()) {
        if (asked.count(one.Text(0)) != 0)
          Put(id, one.Text(0), false);
        one.Step();  // done
      }
    }
    nextId_ = std::max<std::int64_t>(nextId_, static_cast<std::int64_t>(hashes.size()) + 1);
  }
  // What FileNameHashes keeps of a text.
  static std::uint32_t HashOf(std::string_view text) {
    return static_cast<std::uint32_t>(Hash(text));
  }
  // HashOf the text of an id it read whole or added, if it did.
  std::optional<std::uint32_t> HashOfId(std::int64_t id) const {
    if (firstAdded_ != 0 && id >= firstAdded_ &&
        id - firstAdded_ < static_cast<std::int64_t>(addedHashes_.size()))
      return addedHashes_[static_cast<std::size_t>(id - firstAdded_)];
    if (id <= 0 || static_cast<std::size_t>(id) >= byId_.size() ||
        byId_[static_cast<std::size_t>(id)].length == kMissing)
      return std::nullopt;
    return HashOf(Text(id));
  }
  // A row's id (column 0) of a text table, checked.
  static std::int64_t IdIn(const Statement& row, const char* table) {
    const std::int64_t id = row.Int(0);
    if (id <= 0 || id >= std::int64_t{UINT32_MAX})
      throw Failure(std::string(table) + " holds an id out of range", SQLITE_CORRUPT);
    return id;
  }
  // Whether Text(id) holds every text: all were read.
  bool Whole() const { return loaded_ && !partial_; }
  // The largest id it holds a text of.
  std::int64_t LastId() const { return nextId_ - 1; }
  std::string_view Text(std::int64_t id) const {
    if (id <= 0 || static_cast<std::size_t>(id) >= byId_.size() ||
        byId_[static_cast<std::size_t>(id)].length == kMissing)
      throw Failure(std::string("a row names a text ") + table_ + " does not hold", SQLITE_CORRUPT);
    const Place& place = byId_[static_cast<std::size_t>(id)];
    return arena_.View(place.at, place.length);
  }
  static std::uint64_t Hash(std::string_view text) { return XXH3_64bits(text.data(), text.size()); }
  // The text's id, adding it (through `insert`) when new.
  std::int64_t IdOf(std::string_view text, TextAdder& insert) {
    return IdOf(text, Hash(text), insert);
  }
  // Starts bringing the slot of a hash into the cache, for a lookup soon after.
  void Prefetch(std::uint64_t hash) const {
    if (!slots_.empty())
      __builtin_prefetch(&slots_[TagOf(hash) & mask_]);
  }
  std::int64_t IdOf(std::string_view text, std::uint64_t hash, TextAdder& insert) {
    if (slots_.empty())
      MakeLookup();  // AddUnheld dropped it
    const std::uint32_t tag = TagOf(hash);
    for (std::size_t slot = tag & mask_; slots_[slot].id != 0; slot = (slot + 1) & mask_) {
      const Slot& at = slots_[slot];
      if (at.tag == tag && at.length == text.size() && arena_.View(at.at, at.length) == text)
        return at.id;
    }
    const std::int64_t id = nextId_;
    if (addedHashes_.empty())
      firstAdded_ = id;
    addedHashes_.push_back(static_cast<std::uint32_t>(hash));
    insert.Add(id, Put(id, text, !partial_, tag));
    return id;
  }
  // Adds a text the caller knows it does not hold (every text was read), without looking: the
  // lookup, dropped, is made again from every text when next wanted.
  std::int64_t AddUnheld(std::string_view text, std::uint64_t hash, TextAdder& insert) {
    if (partial_)
      return IdOf(text, hash, insert);
    slots_.clear();
    used_ = 0;
    const std::int64_t id = nextId_;
    if (addedHashes_.empty())
      firstAdded_ = id;
    addedHashes_.push_back(static_cast<std::uint32_t>(hash));
    insert.Add(id, Put(id, text, true, 0));
    return id;
  }

 private:
  static constexpr std::uint32_t kMissing = UINT32_MAX;
  // The lookup of every text held (all were read).
  void MakeLookup() {
    std::size_t held = 0;
    for (const Place& place : byId_)
      held += place.length != kMissing;
    Rehash(std::bit_ceil(std::max<std::size_t>(64, held * 2)));
    for (std::size_t id = 0; id < byId_.size(); ++id) {
      if (byId_[id].length != kMissing)
        Insert({TagOf(Hash(Text(static_cast<std::int64_t>(id)))), byId_[id].at,
                static_cast<std::uint32_t>(id), byId_[id].length});
    }
  }
  struct Place {
    std::uint32_t at = 0;
    std::uint32_t length = kMissing;
  };
  // The lookup's slot carries where its text is, so a lookup reads no other table. It is placed
  // by its tag (32 bits of the text's hash), which also tells most other texts apart.
  struct Slot {
    std::uint32_t tag = 0;
    std::uint32_t at = 0;
    std::uint32_t id = 0;  // 0: empty
    std::uint32_t length = 0;
  };
  static std::uint32_t TagOf(std::uint64_t hash) { return static_cast<std::uint32_t>(hash >> 32); }

  // Holds a text; `byId` also for Text(id), which a scan for a few texts does not need; in the
  // lookup once there is one.
  void Put(std::int64_t id, std::string_view text, bool byId) {
    Put(id, text, byId, slots_.empty() ? 0 : TagOf(Hash(text)));
  }
  // Returns the text as held: it stays where it is as long as this index holds it.
  std::string_view Put(std::int64_t id, std::string_view text, bool byId, std::uint32_t tag) {
    const std::uint32_t at = arena_.Append(text);
    const auto length = static_cast<std::uint32_t>(text.size());
    if (byId) {
      const auto index = static_cast<std::size_t>(id);
      if (byId_.size() <= index)
        byId_.resize(std::max(index + 1, byId_.size() * 2));
      byId_[index] = {at, length};
    }
    nextId_ = std::max(nextId_, id + 1);
    if (!slots_.empty()) {
      Insert({tag, at, static_cast<std::uint32_t>(id), length});
      if (used_ * 2 > slots_.size())
        Rehash(slots_.size() * 2);
    }
    return arena_.View(at, length);
  }
  void Insert(const Slot& slot) {
    std::size_t at = slot.tag & mask_;
    while (slots_[at].id != 0)
      at = (at + 1) & mask_;
    slots_[at] = slot;
    ++used_;
  }
  void Rehash(std::size_t size) {
    std::vector<Slot> old(size);
    old.swap(slots_);
    mask_ = size - 1;
    used_ = 0;
    for (const Slot& slot : old) {
      if (slot.id != 0)
        Insert(slot);
    }
  }

  const char* table_ = "";
  ByteArena arena_{20};
  std::vector<Place> byId_;
  std::int64_t nextId_ = 1;
  std::int64_t firstAdded_ = 0;  // the first id IdOf gave a new text, whose hashes follow
  std::vector<std::uint32_t> addedHashes_;
  bool loaded_ = false, partial_ = false;
  std::vector<Slot> slots_;  // empty until a lookup is wanted
  std::size_t mask_ = 0, used_ = 0;
};

// What file_name_hashes holds: TextIndex::HashOf each file name, by id. The file's chunks are
// trusted only as far as they run whole from id 1; what they lack (a file made before they were
// kept, or added to by a run that kept none) is hashed from the texts and written back.
class FileNameHashes {
 public:
  static constexpr std::size_t kChunk = 4096;  // ids a row of the table holds

  // Reads the chunks, then hashes the texts of the ids beyond them through `last`.
  void Load(sqlite3* db, std::int64_t last, const TextIndex& held) {
    hashes_.clear();
    loaded_ = true;
    rewrite_ = false;
    if (Exists(db)) {
      Statement chunks(db, "SELECT first_id, hashes FROM file_name_hashes ORDER BY first_id");
      while (chunks.Step()) {
        const std::string_view bytes = chunks.Bytes(1);
        // Each chunk whole but the last, the next from where the one before ended.
        if (rewrite_ || chunks.Int(0) != Next() || hashes_.size() % kChunk != 0 ||
            bytes.size() % 4 != 0 || bytes.size() > 4 * kChunk) {
          rewrite_ = true;
          continue;
        }
        const std::size_t from = hashes_.size();
        hashes_.resize(from + bytes.size() / 4);
        if constexpr (std::endian::native == std::endian::little) {
          std::memcpy(hashes_.data() + from, bytes.data(), bytes.size());
        } else {
          for (std::size_t at = 0; at < bytes.size(); at += 4) {
            const auto* b = reinterpret_cast<const unsigned char*>(bytes.data() + at);
            hashes_[from + at / 4] = b[0] | b[1] << 8 | b[2] << 16 | std::uint32_t{b[3]} << 24;
          }
        }
      }
      // Chunks that cannot be trusted are written again whole.
      if (rewrite_ || Next() > last + 1) {
        hashes_.clear();
        rewrite_ = true;
      }
    }
    saved_ = hashes_.size();
    HashRest(db, last, held);
  }
  // By id from 1.
  const std::vector<std::uint32_t>& Hashes() const { return hashes_; }
  bool Loaded() const { return loaded_; }

  // Brings the file's chunks up to every text through `last`, in the writing transaction.
  void Save(sqlite3* db, std::int64_t last, const TextIndex& held) {
    if (loaded_)
      HashRest(db, last, held);
    else
      Load(db, last, held);
    if (saved_ == hashes_.size() && !rewrite_)
      return;
    Statement(db,
              "CREATE TABLE IF NOT EXISTS file_name_hashes(first_id INTEGER PRIMARY KEY, "
              "hashes BLOB NOT NULL)")
        .Run();
    if (rewrite_)
      Statement(db, "DELETE FROM file_name_hashes").Run();
    Statement put(db, "INSERT OR REPLACE INTO file_name_hashes(first_id, hashes) VALUES(?, ?)");
    std::string bytes;
    for (std::size_t first = saved_ - saved_ % kChunk; first < hashes_.size(); first += kChunk) {
      bytes.clear();
      for (std::size_t i = first; i < std::min(first + kChunk, hashes_.size()); ++i) {
        for (int shift = 0; shift < 32; shift += 8)
          bytes.push_back(static_cast<char>(hashes_[i] >> shift));
      }
      put.Bind(1, static_cast<std::int64_t>(first) + 1).BindBytes(2, bytes).Run();
    }
    saved_ = hashes_.size();
    rewrite_ = false;
  }

 private:
  std::int64_t Next() const { return static_cast<std::int64_t>(hashes_.size()) + 1; }
  static bool Exists(sqlite3* db) {
    Statement table(db,
                    "SELECT 1 FROM sqlite_master WHERE type = 'table' AND "
                    "name = 'file_name_hashes'");
    const bool exists = table.Step();
    if (exists)
      table.Step();  // done
    return exists;
  }
  // The ids beyond those hashed, through `last`: from what `held` knows of them, else from the
  // file's texts.
  void HashRest(sqlite3* db, std::int64_t last, const TextIndex& held) {
    while (Next() <= last) {
      const std::optional<std::uint32_t> hash = held.HashOfId(Next());
      if (!hash)
        break;
      hashes_.push_back(*hash);
    }
    if (Next() > last)
      return;
    Statement rest(db, "SELECT id, text FROM file_names WHERE id >= ? AND id <= ? ORDER BY id");
    rest.Bind(1, Next()).Bind(2, last);
    while (rest.Step()) {
      // An id no text has (the file was written by something else) matches nothing.
      hashes_.resize(static_cast<std::size_t>(rest.Int(0)) - 1, 0);
      hashes_.push_back(TextIndex::HashOf(rest.Text(1)));
    }
    hashes_.resize(static_cast<std::size_t>(std::max<std::int64_t>(last, 0)), 0);
  }

  std::vector<std::uint32_t> hashes_;
  std::size_t saved_ = 0;  // how many of hashes_ the file holds as they are
  bool rewrite_ = false, loaded_ = false;
};

// The File Names of the tables a history gives back, in one pool both tables share (its file
// ids are the same in both directions): each text interned once, however many rows name it, so
// that a row takes its id without its text read.
class SharedFileNames {
 public:
  // Reads every File Name: from `held` when it holds them all, else from the file.
  void Load(sqlite3* db, const TextIndex& held) {
    if (pool_)
      return;
    pool_ = std::make_shared<StringPool>();
    pool_->Intern("");  // id 0, as in every table's File Names
    constexpr std::size_t kBatch = 64;
    std::array<std::string_view, kBatch> texts;
    std::array<std::string, kBatch> copies;
    std::array<std::int64_t, kBatch> ids;
    std::array<std::uint32_t, kBatch> pooled;
    std::size_t count = 0;
    const auto add = [&] {
      pool_->InternBatch(texts.data(), count, pooled.data());
      for (std::size_t i = 0; i < count; ++i) {
        const auto at = static_cast<std::size_t>(ids[i]);
        if (ofId_.size() <= at)
          ofId_.resize(std::max(at + 1, ofId_.size() * 2), kMissing);
        ofId_[at] = pooled[i];
      }
      count = 0;
    };
    if (held.Whole()) {
      for (std::int64_t id = 1; id <= held.LastId(); ++id) {
        ids[count] = id;
        texts[count] = held.Text(id);
        if (++count == kBatch)
          add();
      }
    } else {
      Statement all(db, "SELECT id, text FROM file_names");
      while (all.Step()) {
        ids[count] = TextIndex::IdIn(all, "file_names");
        texts[count] = copies[count].assign(all.Text(1));
        if (++count == kBatch)
          add();
      }
    }
    add();
  }
  const std::shared_ptr<StringPool>& Pool() const { return pool_; }
  // The pool's id of a text of the file's.
  std::uint32_t IdOf(std::uint32_t id) const {
    if (id >= ofId_.size() || ofId_[id] == kMissing)
      throw Failure("a row names a text file_names does not hold", SQLITE_CORRUPT);
    return ofId_[id];
  }

 private:
  static constexpr std::uint32_t kMissing = UINT32_MAX;
  std::shared_ptr<StringPool> pool_;
  std::vector<std::uint32_t> ofId_;  // by the file's id
};

// The texts of every column, each read when first needed.
struct Texts {
  TextIndex addresses, accounts, names, fileNames;
  FileNameHashes fileNameHashes;
  SharedFileNames sharedFileNames;  // for the tables given back

  // Reads those of the columns `kept` (Address and Name always); with `lookup`, to add to.
  void Need(sqlite3* db, KeptCells kept, bool lookup) {
    addresses.Load(db, "addresses", lookup);
    names.Load(db, "names", lookup);
    if (kept.account)
      accounts.Load(db, "accounts", lookup);
    if (kept.fileName)
      fileNames.Load(db, "file_names", lookup);
  }
};

// One file's rows of one direction in the report: a stored file's, or those of a source read now
// (from `skip` on).
//
// A part is its stored file's first `storedRows` rows (read from the history), then rows
// [tableFrom, tableEnd) of the table read now.
struct Part {
  std::size_t owner = 0;
  std::optional<std::size_t> stored;   // its stored file
  std::optional<std::size_t> reading;  // its reading in this run
  std::size_t storedRows = 0;
  LogTable* table = nullptr;
  std::size_t tableFrom = 0, tableEnd = 0;
  std::size_t wholeRows = 0;  // the rows of its whole text, for its place in the order
  Timestamp firstDated = kUndated;
  std::size_t overlap = 0;

  std::size_t Rows() const { return storedRows + (tableEnd - tableFrom); }
};

// Fills a table with stored rows, in the order given, keeping the cells asked for.
class StoredRows {
 public:
  StoredRows(sqlite3* db, Texts& texts, KeptCells kept, bool dates)
      : texts_(texts), kept_(kept), dates_(dates), builder_(kept, std::nullopt) {
    if (dates)
      builder_.ExpectDates();
    texts.Need(db, KeptCells{kept.dateTime, kept.account, false}, false);
    if (kept.fileName) {
      texts.sharedFileNames.Load(db, texts.fileNames);
      builder_.UseFileNames(texts.sharedFileNames.Pool());
    }
    select_.emplace(db,
                    "SELECT first_row, last_row, rows FROM row_chunks WHERE first_row BETWEEN ? "
                    "AND ? ORDER BY first_row");
  }

  // Adds a file's rows of one direction from `from` (its part's row number) to `to`. This thread
  // steps SQLite while the builder's thread makes the table of the rows before.
  void Add(const StoredFile& file, int direction, std::size_t from, std::size_t to) {
    for (const Run& run : file.runs[direction]) {
      const std::size_t first = std::max(from, run.firstSeq);
      const std::size_t end = std::min(to, run.firstSeq + run.Rows());
      if (first >= end)
        continue;
      const std::int64_t lo = run.firstRow + static_cast<std::int64_t>(first - run.firstSeq);
      const std::int64_t hi = run.firstRow + static_cast<std::int64_t>(end - run.firstSeq) - 1;
      // The chunks that hold rows lo..hi: those that begin within kChunkRows before lo, up to hi.
      select_->Bind(1, std::max(run.firstRow, lo - static_cast<std::int64_t>(kChunkRows) + 1))
          .Bind(2, hi);
      std::int64_t next = lo;  // the row wanted next: the chunks hold every row once, in order
      while (select_->Step()) {
        std::int64_t id = select_->Int(0);
        ChunkReader chunk(select_->Text(2));
        ChunkRow row;
        bool hasText = false;
        while (chunk.Next(row, hasText)) {
          if (id > hi || id > next)
            break;
          if (id++ < lo)
            continue;
          ++next;
          batch_.ids.push_back({IdOf(row.address), IdOf(row.name),
                                kept_.fileName ? IdOf(row.fileName) : 0,
                                kept_.account ? IdOf(row.account) : 0});
          if (dates_)
            batch_.times.push_back(row.time);
          if (kept_.dateTime && (hasText || !run.dateFormat || row.time == kUndated)) {
            batch_.dateTexts.Add(chunk.Text());
          } else if (kept_.dateTime) {
            WriteDateFormat(*run.dateFormat, row.time, written_);
            batch_.dateTexts.Add(written_);
          }
          if (batch_.ids.size() == kBatch)
            Hand();
        }
        if (id - 1 != select_->Int(1) && id <= hi)
          throw Failure("a chunk of rows is damaged", SQLITE_CORRUPT);
      }
      if (next != hi + 1)
        throw Failure("rows the history counts are missing", SQLITE_CORRUPT);
    }
    Hand();
    order_ = file.order;
  }
  // Adds rows [from, to) of a table read now.
  void AddTable(const LogTable& table, std::size_t from, std::size_t to) {
    builderThread_.Drain();
    const bool utf8 = table.TextEncoding() == Encoding::Utf8;
    std::string decoded[4];
    const auto cell = [&](std::size_t row, Column column, int slot) -> std::string_view {
      if (utf8 || column == Column::Name)
        return table.CellBytes(row, column);
      decoded[slot] = table.CellText(row, column);
      return decoded[slot];
    };
    for (std::size_t row = from; row < to; ++row) {
      LogTableBuilder::Cells cells;
      cells.address = cell(row, Column::Address, 0);
      cells.name = cell(row, Column::Name, 0);
      if (kept_.fileName)
        cells.fileName = cell(row, Column::FileName, 1);
      if (kept_.account)
        cells.account = cell(row, Column::Account, 2);
      if (kept_.dateTime)
        cells.dateTime = cell(row, Column::DateTime, 3);
      if (dates_)
        times_.push_back(table.Date(row));
      builder_.AddRows(&cells, 1);
    }
    order_ = table.DatesOrder();
  }
  // Adds a part's rows from `from` on.
  void AddPart(const Part& part, const std::vector<StoredFile>& stored, int direction,
               std::size_t from) {
    if (from < part.storedRows)
      Add(stored[*part.stored], direction, from, part.storedRows);
    const std::size_t tableFrom =
        part.tableFrom + (from > part.storedRows ? from - part.storedRows : 0);
    if (part.table && tableFrom < part.tableEnd)
      AddTable(*part.table, tableFrom, part.tableEnd);
  }
  LogTable Finish() && {
    builderThread_.Drain();
    if (dates_)
      return std::move(builder_).Finish(Encoding::Utf8, std::move(times_), order_);
    return std::move(builder_).Finish(Encoding::Utf8);
  }

 private:
  struct Ids {
    std::uint32_t address, name, fileName, account;
  };
  // Rows read from SQLite, not yet in the table: their text ids, times and date texts.
  struct Batch {
    std::vector<Ids> ids;
    std::vector<Timestamp> times;
    PackedTexts dateTexts;
  };
  static constexpr std::size_t kBatch = 4096;

  static std::uint32_t IdOf(std::int64_t id) {
    // An id no text has; Text() says the file is damaged.
    return id <= 0 || id >= std::int64_t{UINT32_MAX} ? 0 : static_cast<std::uint32_t>(id);
  }
  void Hand() {
    if (batch_.ids.empty())
      return;
    builderThread_.Submit([this, batch = std::move(batch_)] { Build(batch); });
    batch_ = {};
  }
  void Build(const Batch& batch) {
    const std::size_t rows = batch.ids.size();
    for (std::size_t row = 0; row < rows; ++row) {
      const Ids& ids = batch.ids[row];
      LogTableBuilder::Cells cells;
      cells.address = texts_.addresses.Text(ids.address);
      cells.name = texts_.names.Text(ids.name);
      if (kept_.account)
        cells.account = texts_.accounts.Text(ids.account);
      if (kept_.dateTime)
        cells.dateTime = batch.dateTexts[row];
      builder_.AddKeyedRow(cells, ids.address, ids.name,
                           kept_.fileName ? texts_.sharedFileNames.IdOf(ids.fileName) : 0);
    }
    times_.insert(times_.end(), batch.times.begin(), batch.times.end());
  }

  const Texts& texts_;
  KeptCells kept_;
  bool dates_;
  LogTableBuilder builder_;
  std::vector<Timestamp> times_;
  DateOrder order_ = DateOrder::Detect;
  std::optional<Statement> select_;
  Batch batch_;
  std::string written_;         // a Date/Time text written back from its time
  SecondThread builderThread_;  // last: it ends before what its jobs use
};

// Puts the parts in the order their rows are taken, as several files' are (a file's whole text
// counts for its place), ties to the order the history learned of them.
void SortParts(std::vector<Part>& parts) {
  std::stable_sort(parts.begin(), parts.end(), [](const Part& a, const Part& b) {
    const auto order = [](const Part& p) {
      return TablePart{p.owner, nullptr, p.Rows(), p.firstDated, p.wholeRows};
    };
    return TakenBefore(order(a), order(b));
  });
}

Timestamp FirstDated(const LogTable* table) {
  for (std::size_t row = 0; table && row < table->RowCount(); ++row) {
    if (table->Date(row) != kUndated)
      return table->Date(row);
  }
  return kUndated;
}

// Finds the overlap of every part from `first` on (in order) with the rows taken before it; the
// parts before keep theirs. Reads the stored rows it needs whole: those of stored parts from
// `first` on, and as many of the rows taken before `first` as a later part could repeat.
void FindOverlaps(std::vector<Part>& parts, std::size_t first, int direction, sqlite3* db,
                  Texts& texts, const std::vector<StoredFile>& stored) {
  if (first >= parts.size())
    return;
  std::size_t longest = 0;
  for (std::size_t i = first; i < parts.size(); ++i)
    longest = std::max(longest, parts[i].Rows());
  if (longest == 0) {
    // Parts without rows leave nothing out.
    for (std::size_t i = first; i < parts.size(); ++i)
      parts[i].overlap = 0;
    return;
  }
  // The last `longest` rows taken before `first`, in order: each part's counted rows are its
  // last ones.
  std::vector<std::pair<std::size_t, std::size_t>> before;  // part, its first row needed
  std::size_t need = longest;
  for (std::size_t i = first; i-- > 0 && need > 0;) {
    const std::size_t rows = parts[i].Rows();
    const std::size_t take = std::min(rows - std::min(rows, parts[i].overlap), need);
    if (take != 0)
      before.emplace_back(i, rows - take);
    need -= take;
  }
  std::reverse(before.begin(), before.end());
  StoredRows tailRows(db, texts, KeptCells{}, true);
  for (const auto& [i, from] : before)
    tailRows.AddPart(parts[i], stored, direction, from);
  LogTable tail = std::move(tailRows).Finish();
  // Each part from `first` on as one table of whole rows: its stored rows, then the table's.
  std::vector<LogTable> whole(parts.size() - first);
  std::vector<TablePart> tables;
  if (tail.RowCount() != 0) {
    // First whatever the others' dates: it is what was taken before them.
    tables.push_back({SIZE_MAX, &tail, tail.RowCount(), std::numeric_limits<Timestamp>::min() + 1});
  }
  for (std::size_t i = first; i < parts.size(); ++i) {
    Part& part = parts[i];
    LogTable& table = whole[i - first];
    LogTable* use = &table;
    if (part.storedRows != 0) {
      StoredRows rows(db, texts, KeptCells{}, true);
      rows.Add(stored[*part.stored], direction, 0, part.storedRows);
      table = std::move(rows).Finish();
      if (part.tableEnd > part.tableFrom)
        table = LogTable::Join(
            {{&table, 0, table.RowCount()}, {part.table, part.tableFrom, part.tableEnd}},
            KeptCells{}, true);
    } else if (part.table && part.tableFrom == 0 && part.tableEnd == part.table->RowCount()) {
      use = part.table;
    } else if (part.table) {
      std::vector<std::size_t> rows;
      for (std::size_t row = part.tableFrom; row < part.tableEnd; ++row)
        rows.push_back(row);
      table = part.table->SelectRows(rows);
    }
    tables.push_back({i, use, part.Rows(), part.firstDated, part.wholeRows});
  }
  CombineParts(tables, SourcesOptions{}, true, false);
  for (const TablePart& table : tables) {
    if (table.source != SIZE_MAX)
      parts[table.source].overlap = table.overlap;
  }
}

// The descriptor through which SQLite writes the database's main file, or -1: one of this
// process's descriptors that refers to that file. It stays SQLite's: never closed here (closing
// any descriptor of a file drops every lock the process holds on it).
int MainFileDescriptor(sqlite3* db) {
  const char* path = sqlite3_db_filename(db, "main");
  struct stat wanted {};
  if (!path || !*path || stat(path, &wanted) != 0)
    return -1;
  DIR* dir = opendir("/proc/self/fd");
  if (!dir)
    return -1;
  int found = -1;
  while (const dirent* entry = readdir(dir)) {
    char* end = nullptr;
    const long fd = std::strtol(entry->d_name, &end, 10);
    struct stat seen {};
    if (end != entry->d_name && *end == '\0' && fd != dirfd(dir) &&
        fstat(static_cast<int>(fd), &seen) == 0 && seen.st_dev == wanted.st_dev &&
        seen.st_ino == wanted.st_ino) {
      found = static_cast<int>(fd);
      break;
    }
  }
  closedir(dir);
  return found;
}

// Has the kernel start writing what SQLite wrote of the file so far, now and then while a large
// addition goes on, without waiting for it: the commit, which waits until all of it is on disk,
// then waits for the last part only, and the writer never waits for the disk meanwhile.
class EarlySync {
 public:
  explicit EarlySync(sqlite3* db) : db_(db) {}
  // After each `kEvery` calls.
  void Nudge() {
    if (++calls_ % kEvery != 0)
      return;
    if (fd_ == -2)
      fd_ = MainFileDescriptor(db_);
    if (fd_ >= 0)
      sync_file_range(fd_, 0, 0, SYNC_FILE_RANGE_WRITE);
  }

 private:
  static constexpr std::size_t kEvery = 32;  // jobs of rows: some 4 MB
  sqlite3* db_;
  int fd_ = -2;  // not looked for yet
  std::size_t calls_ = 0;
};

// Adds rows in chunks: made on this thread, written on the writer's (which SQLite keeps the
// busier). A chunk never spans two runs (Start begins a run).
class RowInserter {
 public:
  RowInserter(sqlite3* db, SecondThread& writer) : chunks_(db), sync_(db), writer_(writer) {}

  // The run's rows take ids from `first` on, one after the other.
  void Start(std::int64_t first) {
    Flush();
    next_ = first;
  }
  // A row, with its Date/Time text unless the run's format writes it.
  void Add(const ChunkRow& row, std::optional<std::string_view> dateText) {
    const std::string_view text = dateText.value_or(std::string_view());
    if (rows_ == 0)
      json_.reserve(kChunkRows * 40);  // most rows' length, so that it rarely grows
    AppendChunkRow(json_, row, dateText ? &text : nullptr);
    if (++rows_ == kChunkRows)
      EndChunk();
  }
  void Flush() {
    EndChunk();
    if (batch_.empty())
      return;
    writer_.Submit([this, batch = std::move(batch_)] {
      for (const Chunk& chunk : batch)
        chunks_.Insert(chunk.firstRow, chunk.lastRow, chunk.json);
      sync_.Nudge();
    });
    batch_ = {};
  }

 private:
  struct Chunk {
    std::int64_t firstRow, lastRow;
    std::string json;
  };
  void EndChunk() {
    if (rows_ == 0)
      return;
    json_ += ']';
    const auto rows = static_cast<std::int64_t>(rows_);
    batch_.push_back({next_, next_ + rows - 1, std::move(json_)});
    next_ += rows;
    rows_ = 0;
    json_ = {};
    if (batch_.size() * kChunkRows >= kInsertJob)
      Flush();
  }

  ChunkInserter chunks_;
  EarlySync sync_;
  SecondThread& writer_;
  std::vector<Chunk> batch_;
  std::string json_;
  std::size_t rows_ = 0;
  std::int64_t next_ = 1;
};

std::vector<StoredFile> LoadStored(sqlite3* db) {
  std::vector<StoredFile> stored;
  Statement files(db,
                  "SELECT id, name, standard_input, format, compressed, encoding, date_order, "
                  "text_bytes, digest, skipped_downloads, skipped_uploads, stored_downloads, "
                  "stored_uploads, left_out_downloads, left_out_uploads, "
                  "first_dated_downloads, first_dated_uploads FROM files ORDER BY id");
  std::unordered_map<std::int64_t, std::size_t> indexOf;
  while (files.Step()) {
    StoredFile file;
    file.id = files.Int(0);
    file.name = files.Text(1);
    file.standardInput = files.Int(2) != 0;
    ParseFormat(files.Text(3), file);
    file.compressed = files.Int(4) != 0;
    file.encoding = EncodingOf(files.Text(5));
    file.order = files.Null(6) ? DateOrder::Detect : OrderOf(files.Text(6));
    file.textBytes = static_cast<std::uint64_t>(files.Int(7));
    file.digest = files.Blob(8);
    for (int d = 0; d < 2; ++d) {
      file.skipped[d] = static_cast<std::size_t>(files.Int(9 + d));
      file.stored[d] = static_cast<std::size_t>(files.Int(11 + d));
      file.leftOut[d] = static_cast<std::size_t>(files.Int(13 + d));
      file.firstDated[d] = files.Null(15 + d) ? kUndated : files.Int(15 + d);
    }
    indexOf.emplace(file.id, stored.size());
    stored.push_back(std::move(file));
  }
  Statement runs(db,
                 "SELECT id, file, direction, first_seq, first_row, last_row, counted_from, "
                 "date_format FROM runs ORDER BY file, direction, first_seq");
  while (runs.Step()) {
    const auto found = indexOf.find(runs.Int(1));
    if (found == indexOf.end() || runs.Int(5) < runs.Int(4))
      throw Failure("a run of rows belongs to no file", SQLITE_CORRUPT);
    Run run;
    run.id = runs.Int(0);
    run.firstSeq = static_cast<std::size_t>(runs.Int(3));
    run.firstRow = runs.Int(4);
    run.lastRow = runs.Int(5);
    run.countedFrom = runs.Int(6);
    if (!runs.Null(7))
      run.dateFormat = runs.Text(7);
    stored[found->second].runs[runs.Int(2) != 0 ? 1 : 0].push_back(run);
  }
  return stored;
}

// Reads what any addition needs of the texts: every address, account and name, to add to, and
// the hashes of every file name.
void ReadTextsToAdd(sqlite3* db, Texts& texts) {
  texts.Need(db, KeptCells{true, true, false}, true);
  if (texts.fileNameHashes.Loaded())
    return;
  Statement count(db, "SELECT coalesce(max(id), 0) FROM file_names");
  count.Step();
  const std::int64_t held = count.Int(0);
  count.Step();  // done
  texts.fileNameHashes.Load(db, held, texts.fileNames);
}

// Reads the texts that rows about to be added need to be given ids: every text, or (for a few
// rows added to a large history, as when a log grew a little) of the file names only those of
// those rows.
void LoadTextsToAdd(const std::vector<LogSource>& sources, const std::vector<Reading>& readings,
                    const std::vector<StoredFile>& stored,
                    const std::vector<std::optional<std::size_t>>& storedOf,
                    const std::vector<std::optional<std::size_t>>& readingOf, Texts& texts,
                    sqlite3* db) {
  ReadTextsToAdd(db, texts);
  const auto held = static_cast<std::size_t>(texts.fileNameHashes.Hashes().size());
  std::vector<std::string_view> wanted;
  std::deque<std::string> decoded;  // its texts stay where they are as it grows
  for (std::size_t o = 0; o < storedOf.size(); ++o) {
    if (!readingOf[o])
      continue;
    const Reading& reading = readings[*readingOf[o]];
    const LogKind kind = ClassicKindOf(sources[*readingOf[o]].role);
    for (int d = 0; d < 2; ++d) {
      const LogTable* table = TableOf(reading.read, kind, d);
      const std::size_t from =
          storedOf[o] ? stored[*storedOf[o]].skipped[d] + stored[*storedOf[o]].stored[d] : 0;
      if (!table || reading.wholeRows[d] <= from)
        continue;
      if ((wanted.size() + reading.wholeRows[d] - from) * 4 > held) {
        texts.Need(db, KeptCells{}, true);
        return;
      }
      for (std::size_t row = from - reading.base[d]; row < reading.wholeRows[d] - reading.base[d];
           ++row) {
        if (table->TextEncoding() == Encoding::Utf8) {
          wanted.push_back(table->CellBytes(row, Column::FileName));
        } else {
          wanted.push_back(decoded.emplace_back(table->CellText(row, Column::FileName)));
        }
      }
    }
  }
  texts.fileNames.LoadWanted(db, "file_names", wanted, texts.fileNameHashes.Hashes());
}

// The File Names of the tables an addition reads, to be held in one pool, the largest table's, so
// that a file named in several is looked up once (and the tables given back share them as they
// are). Done when the addition is ready for it: a history without File Names takes the largest
// table's first, which keeps SQLite busy meanwhile.
class FileNamesSharing {
 public:
  explicit FileNamesSharing(std::vector<LogTable*> tables) : tables_(std::move(tables)) {
    std::stable_sort(tables_.begin(), tables_.end(), [](const LogTable* a, const LogTable* b) {
      return a->RowCount() > b->RowCount();
    });
  }
  // The table whose pool the others join, if any.
  const LogTable* Base() const { return tables_.empty() ? nullptr : tables_[0]; }
  void Share() {
    for (std::size_t i = 1; i < tables_.size() && !done_; ++i)
      LogTable::ShareFileNames(*tables_[0], *tables_[i]);
    done_ = true;
  }

 private:
  std::vector<LogTable*> tables_;
  bool done_ = false;
};

// Adds what the sources read now hold beyond what the history holds: each file's whole rows
// behind those it has (a new file's from the start it did not already hold), as a run of rows
// per direction, and sets where every run's counted rows begin.
void AddNew(const std::vector<LogSource>& sources, const std::vector<Reading>& readings,
            std::vector<StoredFile>& stored, std::vector<std::optional<std::size_t>>& storedOf,
            const std::vector<std::optional<std::size_t>>& readingOf,
            const std::vector<std::array<std::size_t, 2>>& skip,
            const std::vector<Part> (&parts)[2], FileNamesSharing& sharing, Texts& texts,
            sqlite3* db, std::size_t (&added)[2]) {
  const std::string now = NowText();
  SecondThread writer;
  TextAdder addAddress(db, "addresses", writer), addAccount(db, "accounts", writer),
      addName(db, "names", writer), addFileName(db, "file_names", writer);
  Statement addFile(db,
                    "INSERT INTO files(name, standard_input, format, compressed, encoding, "
                    "text_bytes, skipped_downloads, skipped_uploads, stored_downloads, "
                    "stored_uploads, left_out_downloads, left_out_uploads, first_dated_downloads, "
                    "first_dated_uploads, first_read, last_read) "
                    "VALUES(?, ?, ?, ?, ?, 0, ?, ?, 0, 0, 0, 0, ?, ?, ?, ?)");
  Statement grow(db,
                 "UPDATE files SET name = ?, compressed = ?, encoding = ?, date_order = ?, "
                 "text_bytes = ?, digest = ?, stored_downloads = ?, stored_uploads = ?, "
                 "last_read = ?, first_dated_downloads = ?, first_dated_uploads = ? WHERE id = ?");
  Statement readAs(db,
                   "INSERT INTO file_reads(file, name, last_read) VALUES(?, ?, ?) "
                   "ON CONFLICT(file, name) DO UPDATE SET last_read = excluded.last_read");
  Statement addRun(db,
                   "INSERT INTO runs(file, direction, first_seq, first_row, last_row, "
                   "counted_from, date_format) VALUES(?, ?, ?, ?, ?, ?, ?)");
  RowInserter inserter(db, writer);
  // Before the statements the writer uses go, however this ends.
  struct StopFirst {
    SecondThread& writer;
    ~StopFirst() { writer.Stop(); }
  } stopFirst{writer};
  bool needTexts = true;
  // While the history held no File Name before this run and every one added came from one pool,
  // a text new to the pool is new to the history: it takes the next id without a lookup.
  bool unheld = false;
  const StringPool* unheldPool = nullptr;
  // The history's id of each File Name, by its id in the pool of the tables read before (the
  // readings' tables share one where they can).
  const StringPool* idsPool = nullptr;
  std::vector<std::int64_t> fileNameIds;
  // The chunks follow one another: the last holds the largest id.
  Statement last(db,
                 "SELECT coalesce((SELECT last_row FROM row_chunks ORDER BY first_row DESC LIMIT "
                 "1), 0)");
  last.Step();
  std::int64_t nextRow = last.Int(0) + 1;
  last.Step();  // done

  // The table rows [first, end) of an owner's direction that this addition takes, if any.
  const auto rowsToAdd = [&](std::size_t o,
                             int d) -> std::optional<std::pair<std::size_t, std::size_t>> {
    if (!readingOf[o])
      return std::nullopt;
    const Reading& reading = readings[*readingOf[o]];
    const LogSource& source = sources[*readingOf[o]];
    if (!reading.wholeDigest && !source.input.standardInput)
      return std::nullopt;  // where its whole lines end is not known: kept by a later run
    if (!storedOf[o] && reading.wholeRows[0] + reading.wholeRows[1] == 0)
      return std::nullopt;  // nothing whole yet: a file is known by its first rows
    const std::size_t from =
        storedOf[o] ? stored[*storedOf[o]].skipped[d] + stored[*storedOf[o]].stored[d] : skip[o][d];
    if (!TableOf(reading.read, ClassicKindOf(source.role), d) || reading.wholeRows[d] <= from)
      return std::nullopt;
    return std::pair(from - reading.base[d], reading.wholeRows[d] - reading.base[d]);
  };
  // A history that holds no File Name yet takes all the rows name first, in the order they first
  // come, those of the largest table's pool before it is shared: the writer then stores them
  // whenever it would wait for rows, instead of the rows waiting for them. Gives each pool id its
  // history id. Tables of another encoding are left to the rows, which look theirs up.
  const auto addAllFileNames = [&] {
    const LogTable* base = sharing.Base();
    std::vector<std::tuple<const LogTable*, std::size_t, std::size_t>> spans;
    for (std::size_t o = 0; o < storedOf.size(); ++o) {
      for (int d = 0; d < 2; ++d) {
        if (const auto rows = rowsToAdd(o, d)) {
          spans.emplace_back(
              TableOf(readings[*readingOf[o]].read, ClassicKindOf(sources[*readingOf[o]].role), d),
              rows->first, rows->second);
        }
      }
    }
    if (!base || spans.empty())
      return;
    addFileName.WaitBehindRows();
    idsPool = base->FileNames().get();
    fileNameIds.assign(base->FileNameIdCount(), 0);
    const bool utf8 = base->TextEncoding() == Encoding::Utf8;
    std::string decoded;
    const auto addSpans = [&] {
      for (const auto& [table, from, end] : spans) {
        if (table->FileNames().get() != idsPool || table->TextEncoding() != base->TextEncoding())
          continue;
        for (std::size_t row = from; row < end; ++row) {
          if (row + 16 < end)
            __builtin_prefetch(&fileNameIds[table->FileNameId(row + 16)]);
          std::int64_t& id = fileNameIds[table->FileNameId(row)];
          if (id != 0)
            continue;
          const std::string_view text =
              utf8 ? table->CellBytes(row, Column::FileName)
                   : std::string_view(decoded = table->CellText(row, Column::FileName));
          id = texts.fileNames.AddUnheld(text, TextIndex::Hash(text), addFileName);
        }
      }
      addFileName.Flush();
    };
    addSpans();  // the largest table's
    sharing.Share();
    fileNameIds.resize(base->FileNameIdCount(), 0);
    for (auto& [table, from, end] : spans) {
      if (table == base)
        end = from;  // done
    }
    addSpans();
  };
  const auto firstDatedOf = [&](std::size_t owner, int d) {
    for (const Part& part : parts[d]) {
      if (part.owner == owner)
        return part.firstDated;
    }
    return kUndated;
  };
  for (std::size_t o = 0; o < storedOf.size(); ++o) {
    if (!readingOf[o])
      continue;
    const Reading& reading = readings[*readingOf[o]];
    const LogSource& source = sources[*readingOf[o]];
    if (!reading.wholeDigest && !source.input.standardInput)
      continue;  // where its whole lines end is not known: kept by a later run
    const LogKind kind = ClassicKindOf(source.role);
    const LogTable* any = &ReadTable(reading.read);
    const std::string fileName = source.input.Text();
    if (!storedOf[o]) {
      if (reading.wholeRows[0] + reading.wholeRows[1] == 0)
        continue;  // nothing whole yet: a file is known by its first rows
      StoredFile made;
      made.format = reading.read.format;
      made.classicKind = kind;
      const std::string format = FormatWord(made.format, kind);
      writer.Pause();
      addFile.Bind(1, std::string_view(fileName))
          .Bind(2, std::int64_t{source.input.standardInput})
          .Bind(3, std::string_view(format))
          .Bind(4, std::int64_t{reading.read.compressed})
          .Bind(5, std::string_view(EncodingWord(any->TextEncoding())));
      for (int d = 0; d < 2; ++d) {
        made.skipped[d] = skip[o][d];
        made.firstDated[d] = firstDatedOf(o, d);
        addFile.Bind(6 + d, static_cast<std::int64_t>(made.skipped[d]));
        if (made.firstDated[d] == kUndated)
          addFile.BindNull(8 + d);
        else
          addFile.Bind(8 + d, made.firstDated[d]);
      }
      addFile.Bind(10, std::string_view(now)).Bind(11, std::string_view(now)).Run();
      made.id = sqlite3_last_insert_rowid(db);
      stored.push_back(std::move(made));
      storedOf[o] = stored.size() - 1;
    }
    StoredFile& file = stored[*storedOf[o]];
    for (int d = 0; d < 2; ++d) {
      const auto rows = rowsToAdd(o, d);
      if (!rows)
        continue;
      const LogTable* table = TableOf(reading.read, kind, d);
      const std::size_t from = file.skipped[d] + file.stored[d];
      if (needTexts) {
        writer.Drain();
        LoadTextsToAdd(sources, readings, stored, storedOf, readingOf, texts, db);
        needTexts = false;
        unheld = texts.fileNames.Whole() && texts.fileNames.LastId() == 0;
        if (unheld) {
          writer.Resume();
          addAllFileNames();
        }
        sharing.Share();
      }
      const StringPool* pool = table->FileNames().get();
      const bool fast = unheld && (!unheldPool || unheldPool == pool);
      unheld = fast;
      unheldPool = pool;
      if (pool != idsPool)
        fileNameIds.assign(table->FileNameIdCount(), 0);
      else
        fileNameIds.resize(table->FileNameIdCount(), 0);
      idsPool = pool;
      const bool utf8 = table->TextEncoding() == Encoding::Utf8;
      // A cell as UTF-8, decoded into `room` when the file is not.
      const auto cell = [&](std::size_t row, Column column, std::string& room) -> std::string_view {
        if (utf8 || column == Column::Name)
          return table->CellBytes(row, column);
        room = table->CellText(row, column);
        return room;
      };
      std::string decoded[3];
      // Addresses, names and file names are interned in the table already: each is looked up
      // once.
      std::vector<std::int64_t> addressIds(table->AddressIdCount(), 0);
      std::vector<std::int64_t> nameIds(table->NameIdCount(), 0);
      std::string lastAccount;
      std::int64_t lastAccountId = 0;
      const std::int64_t firstRow = nextRow;
      inserter.Start(firstRow);
      writer.Resume();
      // The table's rows start after the text's first `base` rows.
      const std::size_t base = reading.base[d];
      const std::size_t end = reading.wholeRows[d] - base;
      // The rows of the run's date form keep no Date/Time text: the view writes it from their
      // time. The form is the first row's that strftime can write.
      const DateForm* runForm = nullptr;
      std::optional<std::string> dateFormat;
      for (std::size_t row = from - base; row < end && !runForm; ++row) {
        if (const DateForm* form = table->DateFormOf(row)) {
          if ((dateFormat = SqlDateFormat(*form)))
            runForm = form;
          else
            break;
        }
      }
      // Most file names are new to the history, and their lookup misses the cache: a row's id
      // entry is fetched 16 rows ahead, and a new file's text hashed and its slot fetched 8 ahead.
      constexpr std::size_t kAhead = 8;
      struct Ahead {
        std::string_view text;
        std::string room;
        std::uint64_t hash = 0;
      };
      std::array<Ahead, kAhead> ahead;
      const auto lookAhead = [&](std::size_t row) {
        if (row + 2 * kAhead < end)
          __builtin_prefetch(&fileNameIds[table->FileNameId(row + 2 * kAhead)]);
        if (row + kAhead < end && fileNameIds[table->FileNameId(row + kAhead)] == 0) {
          Ahead& next = ahead[(row + kAhead) % kAhead];
          next.text = cell(row + kAhead, Column::FileName, next.room);
          next.hash = TextIndex::Hash(next.text);
          texts.fileNames.Prefetch(next.hash);
        }
      };
      for (std::size_t row = from - base; row < std::min(from - base + kAhead, end); ++row) {
        ahead[row % kAhead].text = cell(row, Column::FileName, ahead[row % kAhead].room);
        ahead[row % kAhead].hash = TextIndex::Hash(ahead[row % kAhead].text);
      }
      for (std::size_t row = from - base; row < end; ++row) {
        std::int64_t& address = addressIds[table->AddressId(row)];
        if (address == 0)
          address = texts.addresses.IdOf(cell(row, Column::Address, decoded[0]), addAddress);
        std::int64_t& userName = nameIds[table->NameId(row)];
        if (userName == 0)
          userName = texts.names.IdOf(cell(row, Column::Name, decoded[0]), addName);
        const std::string_view account = cell(row, Column::Account, decoded[1]);
        if (lastAccountId == 0 || account != lastAccount) {
          lastAccount = account;
          lastAccountId = texts.accounts.IdOf(account, addAccount);
        }
        std::int64_t& path = fileNameIds[table->FileNameId(row)];
        if (path == 0) {
          const Ahead& at = ahead[row % kAhead];
          path = fast ? texts.fileNames.AddUnheld(at.text, at.hash, addFileName)
                      : texts.fileNames.IdOf(at.text, at.hash, addFileName);
        }
        ++nextRow;
        const Timestamp time = table->Date(row);
        const bool written = runForm && table->DateFormOf(row) == runForm && InSqlRange(time);
        inserter.Add(
            {address, userName, time, path, lastAccountId},
            written ? std::nullopt : std::optional(cell(row, Column::DateTime, decoded[2])));
        // A file whose rows so far had no date takes its place by its first dated one.
        if (file.firstDated[d] == kUndated)
          file.firstDated[d] = table->Date(row);
        lookAhead(row);  // into the place this row's look ahead had
      }
      inserter.Flush();
      writer.Pause();  // before this thread uses the connection again
      Run run;
      run.firstSeq = from - file.skipped[d];
      run.firstRow = run.countedFrom = firstRow;
      run.lastRow = nextRow - 1;
      run.dateFormat = std::move(dateFormat);
      addRun.Bind(1, file.id)
          .Bind(2, std::int64_t{d})
          .Bind(3, static_cast<std::int64_t>(run.firstSeq))
          .Bind(4, run.firstRow)
          .Bind(5, run.lastRow)
          .Bind(6, run.countedFrom);
      if (run.dateFormat)
        addRun.Bind(7, std::string_view(*run.dateFormat));
      else
        addRun.BindNull(7);
      addRun.Run();
      run.id = sqlite3_last_insert_rowid(db);
      file.runs[d].push_back(run);
      added[d] += reading.wholeRows[d] - from;
      file.stored[d] = reading.wholeRows[d] - file.skipped[d];
    }
    const char* order = OrderWord(any->DatesOrder());
    writer.Pause();
    grow.Bind(1, std::string_view(fileName))
        .Bind(2, std::int64_t{reading.read.compressed})
        .Bind(3, std::string_view(EncodingWord(any->TextEncoding())));
    if (order)
      grow.Bind(4, std::string_view(order));
    else
      grow.BindNull(4);
    grow.Bind(5, static_cast<std::int64_t>(reading.wholeEnd));
    if (reading.wholeDigest && !source.input.standardInput)
      grow.BindBlob(6, *reading.wholeDigest);
    else
      grow.BindNull(6);
    grow.Bind(7, static_cast<std::int64_t>(file.stored[0]))
        .Bind(8, static_cast<std::int64_t>(file.stored[1]))
        .Bind(9, std::string_view(now));
    for (int d = 0; d < 2; ++d) {
      if (file.firstDated[d] == kUndated)
        grow.BindNull(10 + d);
      else
        grow.Bind(10 + d, file.firstDated[d]);
    }
    grow.Bind(12, file.id).Run();
    readAs.Bind(1, file.id)
        .Bind(2, std::string_view(fileName))
        .Bind(3, std::string_view(now))
        .Run();
    file.name = fileName;
    file.standardInput = source.input.standardInput;
    file.compressed = reading.read.compressed;
  }

  sharing.Share();
  for (TextAdder* adder : {&addAddress, &addAccount, &addName, &addFileName})
    adder->Flush();
  writer.Drain();
  if (!needTexts) {
    Statement files(db, "SELECT coalesce(max(id), 0) FROM file_names");
    files.Step();
    const std::int64_t lastFile = files.Int(0);
    files.Step();  // done
    texts.fileNameHashes.Save(db, lastFile, texts.fileNames);
  }

  // Where each run's counted rows begin, for the view, and how many each file leaves out.
  Statement counted(db, "UPDATE runs SET counted_from = ? WHERE id = ?");
  Statement leftOut(db,
                    "UPDATE files SET left_out_downloads = ?, left_out_uploads = ? WHERE id = ?");
  std::vector<std::array<std::size_t, 2>> overlaps(stored.size(), {0, 0});
  for (int d = 0; d < 2; ++d) {
    for (const Part& part : parts[d]) {
      if (!storedOf[part.owner])
        continue;
      StoredFile& file = stored[*storedOf[part.owner]];
      const std::size_t overlap = std::min(part.overlap, file.stored[d]);
      overlaps[*storedOf[part.owner]][d] = overlap;
      for (Run& run : file.runs[d]) {
        const std::size_t within =
            overlap <= run.firstSeq ? 0 : std::min(overlap - run.firstSeq, run.Rows());
        const std::int64_t from = run.firstRow + static_cast<std::int64_t>(within);
        if (run.countedFrom != from) {
          run.countedFrom = from;
          counted.Bind(1, from).Bind(2, run.id).Run();
        }
      }
    }
  }
  for (std::size_t i = 0; i < stored.size(); ++i) {
    StoredFile& file = stored[i];
    if (overlaps[i][0] != file.leftOut[0] || overlaps[i][1] != file.leftOut[1]) {
      file.leftOut[0] = overlaps[i][0];
      file.leftOut[1] = overlaps[i][1];
      leftOut.Bind(1, static_cast<std::int64_t>(file.leftOut[0]))
          .Bind(2, static_cast<std::int64_t>(file.leftOut[1]))
          .Bind(3, file.id)
          .Run();
    }
  }
}

}  // namespace

History::Result History::Update(const std::vector<LogSource>& sources,
                                const SourcesOptions& options) {
  Result result;
  const std::string name = InputName{path_, false}.Text();
  if (!sources.empty() && readOnly_) {
    result.failure = name + ": cannot add to it: the file is read-only";
    return result;
  }
  const bool writing = !sources.empty();
  db_->Settle();
  sqlite3* db = db_->db;
  bool inTransaction = false;
  try {
    db_->Exec(writing ? "BEGIN IMMEDIATE" : "BEGIN");
    inTransaction = true;
    std::vector<StoredFile> stored = LoadStored(db);

    // Every source is read whole, keeping every cell and the dates, as several files are.
    std::vector<Reading> readings(sources.size());
    const ReadOptions readOptions{
        options.encoding, {}, KeptCells{}, options.dates.value_or(DateOrder::Detect)};
    // Each source on a thread of its own, as several files are read.
    const auto readOne = [&](std::size_t i) {
      Reading reading = ReadSource(sources[i], readOptions, stored);
      if (reading.read.Ok() && reading.file) {
        // A file that goes on is read as it was: its text's encoding and its dates' order,
        // unless this run asks for others.
        const StoredFile& file = stored[*reading.file];
        const LogTable* any = &ReadTable(reading.read);
        ReadOptions same = readOptions;
        if (options.encoding == EncodingChoice::Auto && any->TextEncoding() != file.encoding)
          same.encoding = ChoiceOf(file.encoding);
        if (!options.dates && file.order != DateOrder::Detect && any->DatesOrder() != file.order)
          same.dates = file.order;
        if (same.encoding != readOptions.encoding || same.dates != readOptions.dates)
          reading = ReadSource(sources[i], same, stored);
      }
      return reading;
    };
    Texts texts;
    {
      // The texts an addition looks its own up in are read meanwhile (reading logs needs no
      // SQLite), so that adding a few rows to a large history costs little more than its report.
      std::future<void> textsRead;
      if (writing && !stored.empty())
        textsRead = std::async(std::launch::async, [&] { ReadTextsToAdd(db, texts); });
      std::vector<std::future<Reading>> others;
      for (std::size_t i = 1; i < sources.size(); ++i)
        others.push_back(std::async(std::launch::async, readOne, i));
      if (!sources.empty())
        readings[0] = readOne(0);
      for (std::size_t i = 1; i < sources.size(); ++i)
        readings[i] = others[i - 1].get();
      if (textsRead.valid())
        textsRead.get();  // before this thread uses the connection again
    }
    for (std::size_t i = 0; i < sources.size(); ++i) {
      if (!readings[i].read.Ok()) {
        db_->Exec("ROLLBACK");
        result.sourceFailure =
            SourceFailure{i, sources[i].input, std::move(*readings[i].read.error)};
        return result;
      }
    }
    std::vector<LogTable*> tables;
    for (std::size_t i = 0; writing && i < readings.size(); ++i) {
      for (int d = 0; d < 2; ++d) {
        if (LogTable* table = TableOf(readings[i].read, ClassicKindOf(sources[i].role), d))
          tables.push_back(table);
      }
    }
    FileNamesSharing sharing(std::move(tables));
    // Where several sources go on from one stored file, the longest stands for it: the others'
    // text is its start.
    for (std::size_t i = 0; i < readings.size(); ++i) {
      for (std::size_t j = 0; j < readings.size(); ++j) {
        if (i != j && readings[i].file && readings[i].file == readings[j].file &&
            (readings[j].wholeEnd > readings[i].wholeEnd ||
             (readings[j].wholeEnd == readings[i].wholeEnd && j < i)))
          readings[i].longest = false;
      }
    }

    // Owners of parts: each stored file (with its reading when it was read now), then each new
    // source.
    std::vector<std::optional<std::size_t>> storedOf(stored.size()), readingOf(stored.size());
    for (std::size_t i = 0; i < stored.size(); ++i)
      storedOf[i] = i;
    for (std::size_t i = 0; i < readings.size(); ++i) {
      if (!readings[i].file) {
        storedOf.emplace_back();
        readingOf.emplace_back(i);
      } else if (readings[i].longest) {
        readingOf[*readings[i].file] = i;
      }
    }
    const std::size_t ownerCount = storedOf.size();
    std::vector<std::array<std::size_t, 2>> skip(ownerCount, {0, 0});

    // Each direction's parts in order, with the overlap of each.
    std::vector<Part> parts[2];
    const auto makeParts = [&](int d) {
      parts[d].clear();
      for (std::size_t o = 0; o < ownerCount; ++o) {
        Part part;
        part.owner = o;
        part.stored = storedOf[o];
        part.reading = readingOf[o];
        const StoredFile* file = part.stored ? &stored[*part.stored] : nullptr;
        if (part.reading) {
          Reading& reading = readings[*part.reading];
          part.table = TableOf(reading.read, ClassicKindOf(sources[*part.reading].role), d);
          const std::size_t base = reading.base[d];
          const std::size_t rows = base + (part.table ? part.table->RowCount() : 0);
          const std::size_t skipped = file ? file->skipped[d] : skip[o][d];
          // A file read from where its stored rows end starts with them.
          part.storedRows = base != 0 && file ? file->stored[d] : 0;
          part.tableFrom = base != 0 ? 0 : std::min(skipped, rows);
          part.tableEnd = part.table ? part.table->RowCount() : 0;
          part.wholeRows = rows;
          part.firstDated = file && file->firstDated[d] != kUndated ? file->firstDated[d]
                                                                    : FirstDated(part.table);
          part.overlap = file ? file->leftOut[d] : 0;
        } else {
          part.storedRows = file->stored[d];
          part.wholeRows = file->skipped[d] + file->stored[d];
          part.firstDated = file->firstDated[d];
          part.overlap = file->leftOut[d];
        }
        parts[d].push_back(part);
      }
      SortParts(parts[d]);
      // What a part leaves out depends on it and the parts before it. So it stays as stored up
      // to the first place where the order differs from the stored files' own (a new file, a file
      // whose growth moved it), and up to behind the first file that grew (or to it, when all it
      // had repeated rows before it).
      std::vector<Part> before;
      for (const Part& part : parts[d]) {
        if (part.stored) {
          const StoredFile& file = stored[*part.stored];
          Part old = part;
          old.wholeRows = file.skipped[d] + file.stored[d];
          old.firstDated = file.firstDated[d];
          before.push_back(old);
        }
      }
      SortParts(before);
      std::size_t first = parts[d].size();
      for (std::size_t i = 0; i < parts[d].size() && first == parts[d].size(); ++i) {
        const Part& part = parts[d][i];
        if (i >= before.size() || before[i].owner != part.owner) {
          first = i;
          break;
        }
        if (!part.reading)
          continue;
        const StoredFile& file = stored[*part.stored];
        if (part.Rows() > file.stored[d])
          first = file.leftOut[d] >= file.stored[d] ? i : i + 1;
      }
      FindOverlaps(parts[d], first, d, db, texts, stored);
    };
    makeParts(0);
    makeParts(1);
    if (writing) {
      // A new file keeps only what the history does not hold yet: the start that repeats the
      // rows before it (standard input read again, a copy of a log's end) is left out for good.
      // What the others take stays as it is: the rows counted are the same.
      for (int d = 0; d < 2; ++d) {
        for (Part& part : parts[d]) {
          if (part.stored || !part.reading)
            continue;
          const std::size_t left = std::min(part.overlap, readings[*part.reading].wholeRows[d]);
          skip[part.owner][d] = left;
          part.tableFrom += left;
          part.overlap -= left;
        }
      }
      std::size_t added[2] = {0, 0};
      AddNew(sources, readings, stored, storedOf, readingOf, skip, parts, sharing, texts, db,
             added);
      result.downloadsAdded = added[0];
      result.uploadsAdded = added[1];
    }
    db_->Exec("COMMIT");
    inTransaction = false;
    // Readers never wait on a writer for long, nor a writer on them, with a write-ahead log. A
    // new file takes one after its first rows (so that they are written once, not to the log and
    // then to the file); a reader that has it open meanwhile makes the switch wait for a later
    // run, which is no failure of this one. The switch waits for the disk: it is made on another
    // thread once this run is done with the connection.
    bool toWal = false;
    if (!readOnly_) {
      Statement mode(db, "PRAGMA journal_mode");
      toWal = mode.Step() && mode.Text(0) != "wal";
    }

    // What each file gave the report.
    for (std::size_t i = 0; i < readings.size(); ++i) {
      SourceInfo info;
      info.input = sources[i].input;
      info.format = readings[i].read.format;
      info.classicKind = ClassicKindOf(sources[i].role);
      info.compressed = readings[i].read.compressed;
      info.unreadableLines = readings[i].read.unreadableLines;
      // Where the read stopped, for a caller that follows the file.
      info.bytesUsed = readings[i].read.bytesUsed;
      info.openTail = readings[i].read.openTail;
      info.dataEnded = readings[i].read.dataEnded;
      info.device = readings[i].read.device;
      info.inode = readings[i].read.inode;
      info.encoding = ReadTable(readings[i].read).TextEncoding();
      info.datesOrder = ReadTable(readings[i].read).DatesOrder();
      result.read.push_back(std::move(info));
    }
    result.files.resize(ownerCount);
    for (std::size_t o = 0; o < ownerCount; ++o) {
      SourceInfo& info = result.files[o];
      if (storedOf[o]) {
        const StoredFile& file = stored[*storedOf[o]];
        info.input = file.standardInput ? InputName{{}, true}
                                        : InputName{std::filesystem::path(std::u8string(
                                                        file.name.begin(), file.name.end())),
                                                    false};
        info.format = file.format;
        info.classicKind = file.classicKind;
        info.compressed = file.compressed;
      } else {
        info = result.read[*readingOf[o]];
        info.unreadableLines.clear();
      }
    }
    for (int d = 0; d < 2; ++d) {
      for (const Part& part : parts[d]) {
        SourceInfo& info = result.files[part.owner];
        const std::size_t leftOut = std::min(part.Rows(), part.overlap);
        (d == 0 ? info.downloads : info.uploads) += part.Rows() - leftOut;
        info.overlapLeftOut += leftOut;
      }
    }

    // The report's tables: the counted rows of every part, in order, with only the cells asked
    // for; a lone table read now whole is taken as it is, as a single file's load is.
    LogPair pair;
    const bool dates = options.dates.has_value();
    for (int d = 0; d < 2; ++d) {
      LogTable& table = d == 0 ? pair.downloads : pair.uploads;
      std::vector<const Part*> counted;
      for (const Part& part : parts[d]) {
        if (std::min(part.overlap, part.Rows()) < part.Rows())
          counted.push_back(&part);
      }
      if (counted.size() == 1 && counted[0]->storedRows == 0 && counted[0]->overlap == 0 &&
          counted[0]->tableFrom == 0 && counted[0]->tableEnd == counted[0]->table->RowCount()) {
        table = std::move(*counted[0]->table);
        if (!dates && options.kept.dateTime)
          table.DropDates();
        else if (!dates)
          table.DropDatesAndTheirCells();
        continue;
      }
      StoredRows rows(db, texts, options.kept, dates);
      for (const Part* part : counted)
        rows.AddPart(*part, stored, d, std::min(part->overlap, part->Rows()));
      table = std::move(rows).Finish();
    }
    LogTable::ShareFileNames(pair.downloads, pair.uploads);
    result.logs = std::move(pair);
    if (toWal) {
      db_->switching = std::async(std::launch::async, [db] {
        sqlite3_exec(db, "PRAGMA journal_mode=WAL", nullptr, nullptr, nullptr);
      });
    }
  } catch (const Failure& failure) {
    if (inTransaction)
      sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
    result = Result();
    const int code = failure.code & 0xff;
    if (code == SQLITE_BUSY || code == SQLITE_LOCKED)
      result.failure = name +
                       ": another run is adding to it and did not finish in time; nothing "
                       "was added";
    else if (code == SQLITE_FULL)
      result.failure = name + ": the disk is full; nothing was added";
    else if (code == SQLITE_CORRUPT || code == SQLITE_NOTADB)
      result.failure = name + ": is damaged (" + failure.what() + ")";
    else if (code == SQLITE_READONLY)
      result.failure = name + ": cannot add to it: " + failure.what();
    else if (code == SQLITE_IOERR)
      result.failure =
          name + ": cannot be written (" + std::string(failure.what()) + "); nothing was added";
    else
      result.failure = name + ": " + failure.what();
  } catch (const std::bad_alloc&) {
    if (inTransaction)
      sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
    result = Result();
    result.failure = name + ": there is not enough memory to read the history";
  } catch (const std::length_error&) {
    if (inTransaction)
      sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
    result = Result();
    result.failure = name + ": holds more text than this program can read at once";
  }
  return result;
}

}  // namespace quorvane
