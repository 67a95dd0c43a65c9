#include "history/History.h"

#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>
#include <xxhash.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <ctime>
#include <fstream>
#include <new>
#include <stdexcept>
#include <string_view>
#include <unordered_map>

namespace quorvane {

namespace {

// "QRVH": what tells a history file from another program's database.
constexpr std::int32_t kApplicationId = 0x51525648;
// The layout this program writes; an older file is brought up to it, a newer one refused.
constexpr int kSchemaVersion = 1;

constexpr const char* kSchema = R"sql(
CREATE TABLE history(key TEXT PRIMARY KEY, value TEXT NOT NULL) WITHOUT ROWID;
CREATE TABLE texts(id INTEGER PRIMARY KEY, text TEXT NOT NULL);
-- One row per log known by its text. A file's rows are its parse's rows from `skipped_*` on
-- (the start left out because the history already held it when the file came), `stored_*` of
-- them; the report leaves out the first `left_out_*` of those as repeated from another file.
-- Files are taken in the order of `first_dated_*`, their whole text's first dated row.
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
CREATE TABLE file_names(
  file INTEGER NOT NULL REFERENCES files(id), name TEXT NOT NULL, last_read TEXT NOT NULL,
  PRIMARY KEY(file, name)) WITHOUT ROWID;
-- direction: 0 download, 1 upload; seq: the row's place among its file's rows of that direction;
-- time: seconds since 1970-01-01 as the reports count them, NULL when undated.
CREATE TABLE rows(
  id INTEGER PRIMARY KEY,
  file INTEGER NOT NULL,
  direction INTEGER NOT NULL,
  seq INTEGER NOT NULL,
  time INTEGER,
  date_text TEXT NOT NULL,
  address INTEGER NOT NULL,
  account INTEGER NOT NULL,
  name INTEGER NOT NULL,
  file_name INTEGER NOT NULL);
CREATE VIEW transfers AS
  SELECT CASE r.direction WHEN 0 THEN 'download' ELSE 'upload' END AS direction,
         CASE WHEN r.time IS NULL THEN NULL ELSE datetime(r.time, 'unixepoch') END AS time,
         r.date_text AS date_text, a.text AS address, c.text AS account, n.text AS name,
         p.text AS file
  FROM rows r
  JOIN files f ON f.id = r.file
  JOIN texts a ON a.id = r.address
  JOIN texts c ON c.id = r.account
  JOIN texts n ON n.id = r.name
  JOIN texts p ON p.id = r.file_name
  WHERE r.seq >= CASE r.direction WHEN 0 THEN f.left_out_downloads ELSE f.left_out_uploads END;
)sql";

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
  const bool hasWal = !error && walSize > 0;
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
    Check(sqlite3_bind_text64(statement_, column, text.data(), text.size(), SQLITE_STATIC,
                              SQLITE_UTF8));
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
  std::string firstRead;
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
  bool longest = true;                // the longest reading of its stored file
};

}  // namespace

struct History::Db {
  sqlite3* db = nullptr;
  ~Db() { sqlite3_close_v2(db); }

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
  bool readOnly = access == Access::Read && !fresh;
  if (!fresh) {
    using std::filesystem::perms;
    std::error_code statusError;
    const perms permissions = std::filesystem::status(path, statusError).permissions();
    if (statusError ||
        (permissions & (perms::owner_write | perms::group_write | perms::others_write)) ==
            perms::none ||
        ::access(path.c_str(), W_OK) != 0)
      readOnly = true;
  }
  auto db = std::make_unique<Db>();
  const int flags = (readOnly ? SQLITE_OPEN_READONLY : SQLITE_OPEN_READWRITE) |
                    (fresh ? SQLITE_OPEN_CREATE : 0) | SQLITE_OPEN_NOMUTEX;
  const int opened = sqlite3_open_v2(path.c_str(), &db->db, flags, nullptr);
  if (opened != SQLITE_OK) {
    error = name + ": cannot be opened: " +
            (db->db ? sqlite3_errmsg(db->db) : std::string(sqlite3_errstr(opened)));
    return nullptr;
  }
  sqlite3_extended_result_codes(db->db, 1);
  sqlite3_busy_timeout(db->db, static_cast<int>(std::min<std::int64_t>(wait.count(), INT32_MAX)));
  try {
    if (fresh) {
      db->Exec("PRAGMA journal_mode=WAL");
      db->Exec("BEGIN IMMEDIATE");
      // Another run may have made it meanwhile.
      if (db->Pragma("application_id") == 0) {
        db->Exec(kSchema);
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
        if (readOnly)
          throw Failure("is an older history and read-only, so it cannot be brought up to date");
        // Each older layout's step to the next goes here, all in one transaction.
        db->Exec("BEGIN IMMEDIATE");
        db->Exec(("PRAGMA user_version=" + std::to_string(kSchemaVersion)).c_str());
        db->Exec("COMMIT");
      }
      if (!readOnly)
        db->Exec("PRAGMA journal_mode=WAL");
    }
    db->Exec("PRAGMA synchronous=NORMAL");
    db->Exec("PRAGMA cache_size=-65536");
  } catch (const Failure& failure) {
    error = name + ": " + failure.what();
    return nullptr;
  }
  return std::unique_ptr<History>(new History(path, std::move(db), readOnly));
}

std::string History::Since() const {
  try {
    Statement since(db_->db, "SELECT value FROM history WHERE key = 'created'");
    return since.Step() ? std::string(since.Text(0)) : std::string();
  } catch (const Failure&) {
    return {};
  }
}

namespace {

Expect ExpectOf(SourceRole role) {
  switch (role) {
    case SourceRole::Download:
    case SourceRole::Upload:
      return Expect::Classic;
    case SourceRole::ServerLog:
      return Expect::ServerLog;
    case SourceRole::DownloadOrServerLog:
    case SourceRole::UploadOrServerLog:
      break;
  }
  return Expect::Either;
}

LogKind ClassicKindOf(SourceRole role) {
  return role == SourceRole::Upload || role == SourceRole::UploadOrServerLog ? LogKind::Upload
                                                                             : LogKind::Download;
}

// The rows a read gives a table (0: downloads, 1: uploads).
LogTable* TableOf(AnyReadResult& read, LogKind classicKind, int direction) {
  if (read.format != LogFormat::Classic)
    return direction == 0 ? &read.downloads : &read.uploads;
  return (classicKind == LogKind::Upload) == (direction == 1) ? &read.table : nullptr;
}

// Reads one source, its text watched for the stored files' lengths, and tells which stored file
// it continues and what of it may be kept.
Reading ReadSource(const LogSource& source, const ReadOptions& options,
                   const std::vector<StoredFile>& stored) {
  std::vector<std::uint64_t> lengths;
  for (const StoredFile& file : stored) {
    if (file.digest)
      lengths.push_back(file.textBytes);
  }
  TextWatcher watcher(std::move(lengths));
  ReadOptions watched = options;
  watched.observeText = [&watcher](std::string_view text) { watcher.See(text); };
  Reading reading;
  reading.read = ReadAnyLog(source.input, ExpectOf(source.role), watched);
  AnyReadResult& read = reading.read;
  if (!read.Ok())
    return reading;
  const LogKind kind = ClassicKindOf(source.role);
  reading.wholeEnd = read.bytesUsed - read.openTail;
  // The rows of a last line without its line end are reported but not kept: it may still be
  // being written. A classic log's is its last row; a server log's line reads alone.
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
  if (whole || reading.wholeEnd == 0) {
    if (whole) {
      reading.wholeDigest = whole->digest;
    } else {
      XXH3_state_t* empty = XXH3_createState();
      XXH3_128bits_reset(empty);
      reading.wholeDigest = ToDigest(XXH3_128bits_digest(empty));
      XXH3_freeState(empty);
    }
  }
  for (int d = 0; d < 2; ++d) {
    const LogTable* table = TableOf(read, kind, d);
    const std::size_t rows = table ? table->RowCount() : 0;
    reading.wholeRows[d] = rows - std::min(rows, tail[d]);
  }
  // The stored file it continues: the longest whose text its text starts with.
  std::uint64_t longest = 0;
  for (std::size_t i = 0; i < stored.size(); ++i) {
    const StoredFile& file = stored[i];
    const bool sameKind = file.format == read.format &&
                          (file.format != LogFormat::Classic || file.classicKind == kind);
    if (!file.digest || !sameKind || file.textBytes < longest || file.textBytes > reading.wholeEnd)
      continue;
    if (watcher.At(file.textBytes) == file.digest) {
      reading.file = i;
      longest = file.textBytes;
    }
  }
  return reading;
}

struct TextHash {
  using is_transparent = void;
  std::size_t operator()(std::string_view text) const {
    return XXH3_64bits(text.data(), text.size());
  }
};
using TextIds = std::unordered_map<std::string, std::int64_t, TextHash, std::equal_to<>>;

// What each part of the report is: a stored file, read now or not.
struct Owner {
  std::optional<std::size_t> stored;   // its stored file
  std::optional<std::size_t> reading;  // its reading in this run
  LogTable tables[2];                  // the rows of a stored file not read now
  LogTable* part[2] = {nullptr, nullptr};
  std::size_t skip[2] = {0, 0};  // a reading's first rows not part of it
  std::size_t overlap[2] = {0, 0};
  // What orders it among the others: its whole text's first dated row, even when its start is
  // left out.
  Timestamp firstDated[2] = {kUndated, kUndated};
  std::size_t leftBefore[2] = {0, 0};  // the start of its text the history left out
  LogTable selected[2];

  std::size_t WholeRows(int d) const {
    return leftBefore[d] + part[d]->RowCount();
  }  // a reading's rows from `skip` on
};

}  // namespace

History::Result History::Update(const std::vector<LogSource>& sources,
                                const SourcesOptions& options) {
  Result result;
  const std::string name = InputName{path_, false}.Text();
  if (!sources.empty() && readOnly_) {
    result.failure = name + ": cannot add to it: the file is read-only";
    return result;
  }
  sqlite3* db = db_->db;
  bool inTransaction = false;
  try {
    db_->Exec(sources.empty() ? "BEGIN" : "BEGIN IMMEDIATE");
    inTransaction = true;
    std::vector<StoredFile> stored;
    {
      Statement files(db,
                      "SELECT id, name, standard_input, format, compressed, encoding, date_order, "
                      "text_bytes, digest, skipped_downloads, skipped_uploads, stored_downloads, "
                      "stored_uploads, left_out_downloads, left_out_uploads, first_read, "
                      "first_dated_downloads, first_dated_uploads "
                      "FROM files ORDER BY id");
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
        }
        file.firstRead = files.Text(15);
        for (int d = 0; d < 2; ++d)
          file.firstDated[d] = files.Null(16 + d) ? kUndated : files.Int(16 + d);
        stored.push_back(std::move(file));
      }
    }

    // Every source is read whole, keeping every cell and the dates, as several files are.
    std::vector<Reading> readings(sources.size());
    ReadOptions readOptions{
        options.encoding, {}, KeptCells{}, options.dates.value_or(DateOrder::Detect)};
    for (std::size_t i = 0; i < sources.size(); ++i) {
      readings[i] = ReadSource(sources[i], readOptions, stored);
      if (readings[i].read.Ok() && readings[i].file) {
        // A file that goes on goes on as it was read: its text's encoding and its dates' order,
        // unless this run asks for others.
        const StoredFile& file = stored[*readings[i].file];
        const LogTable* any = TableOf(readings[i].read, ClassicKindOf(sources[i].role), 0);
        if (!any)
          any = TableOf(readings[i].read, ClassicKindOf(sources[i].role), 1);
        ReadOptions same = readOptions;
        if (options.encoding == EncodingChoice::Auto && any->TextEncoding() != file.encoding)
          same.encoding = ChoiceOf(file.encoding);
        if (!options.dates && file.order != DateOrder::Detect && any->DatesOrder() != file.order)
          same.dates = file.order;
        if (same.encoding != readOptions.encoding || same.dates != readOptions.dates)
          readings[i] = ReadSource(sources[i], same, stored);
      }
      if (!readings[i].read.Ok()) {
        db_->Exec("ROLLBACK");
        result.sourceFailure =
            SourceFailure{i, sources[i].input, std::move(*readings[i].read.error)};
        return result;
      }
    }
    // Where several sources continue one stored file, the longest stands for it; the others'
    // text is its start.
    for (std::size_t i = 0; i < readings.size(); ++i) {
      for (std::size_t j = 0; j < readings.size(); ++j) {
        if (i != j && readings[i].file && readings[i].file == readings[j].file &&
            (readings[j].wholeEnd > readings[i].wholeEnd ||
             (readings[j].wholeEnd == readings[i].wholeEnd && j < i)))
          readings[i].longest = false;
      }
    }

    // The texts, by id, and (to add) their ids.
    std::vector<std::string> texts;
    TextIds ids;
    {
      Statement all(db, "SELECT id, text FROM texts ORDER BY id");
      while (all.Step()) {
        const auto id = static_cast<std::size_t>(all.Int(0));
        if (id >= texts.size())
          texts.resize(id + 1);
        texts[id] = all.Text(1);
        if (!sources.empty())
          ids.emplace(texts[id], static_cast<std::int64_t>(id));
      }
    }

    // The parts: each stored file (as read now when it was), then each new source.
    std::vector<Owner> owners(stored.size());
    std::vector<std::size_t> ownerOfStored(stored.size());
    for (std::size_t i = 0; i < stored.size(); ++i) {
      owners[i].stored = i;
      ownerOfStored[i] = i;
      owners[i].firstDated[0] = stored[i].firstDated[0];
      owners[i].firstDated[1] = stored[i].firstDated[1];
    }
    for (std::size_t i = 0; i < readings.size(); ++i) {
      if (readings[i].file) {
        if (readings[i].longest)
          owners[*readings[i].file].reading = i;
      } else {
        Owner& owner = owners.emplace_back();
        owner.reading = i;
        for (int d = 0; d < 2; ++d) {
          const LogTable* table = TableOf(readings[i].read, ClassicKindOf(sources[i].role), d);
          for (std::size_t row = 0; table && row < table->RowCount(); ++row) {
            if (table->Date(row) != kUndated) {
              owner.firstDated[d] = table->Date(row);
              break;
            }
          }
        }
      }
    }
    {
      // The rows of the stored files not read now.
      std::vector<std::optional<LogTableBuilder>> builders(stored.size() * 2);
      std::vector<std::vector<Timestamp>> dates(stored.size() * 2);
      std::unordered_map<std::int64_t, std::size_t> indexOf;
      for (std::size_t i = 0; i < stored.size(); ++i) {
        if (!owners[i].reading)
          indexOf.emplace(stored[i].id, i);
      }
      if (!indexOf.empty()) {
        Statement rows(db,
                       "SELECT file, direction, time, date_text, address, account, name, "
                       "file_name FROM rows ORDER BY id");
        const auto text = [&texts](std::int64_t id) -> std::string_view {
          if (id < 0 || static_cast<std::size_t>(id) >= texts.size())
            throw Failure("a row names a text it does not hold", SQLITE_CORRUPT);
          return texts[static_cast<std::size_t>(id)];
        };
        while (rows.Step()) {
          const auto found = indexOf.find(rows.Int(0));
          if (found == indexOf.end())
            continue;
          const std::size_t slot = found->second * 2 + (rows.Int(1) != 0 ? 1 : 0);
          if (!builders[slot])
            builders[slot].emplace(KeptCells{}, std::nullopt);
          const LogTableBuilder::Cells cells{rows.Text(3), text(rows.Int(4)), text(rows.Int(5)),
                                             text(rows.Int(6)), text(rows.Int(7))};
          builders[slot]->AddRows(&cells, 1);
          dates[slot].push_back(rows.Null(2) ? kUndated : rows.Int(2));
        }
      }
      for (std::size_t i = 0; i < stored.size(); ++i) {
        for (int d = 0; d < 2; ++d) {
          auto& builder = builders[i * 2 + static_cast<std::size_t>(d)];
          if (!builder)
            continue;
          owners[i].tables[d] = std::move(*builder).Finish(Encoding::Utf8);
          owners[i].tables[d].SetDates(std::move(dates[i * 2 + static_cast<std::size_t>(d)]),
                                       stored[i].order);
          builder.reset();
        }
      }
    }
    // Each part's table: a stored file's rows, or a reading's from the start the history left out.
    const auto choose = [&](Owner& owner) {
      for (int d = 0; d < 2; ++d) {
        if (!owner.reading) {
          owner.part[d] = &owner.tables[d];
          owner.leftBefore[d] = stored[*owner.stored].skipped[d];
          continue;
        }
        Reading& reading = readings[*owner.reading];
        LogTable* table = TableOf(reading.read, ClassicKindOf(sources[*owner.reading].role), d);
        const std::size_t skip = owner.stored ? stored[*owner.stored].skipped[d] : owner.skip[d];
        owner.leftBefore[d] = table ? std::min(skip, table->RowCount()) : 0;
        if (!table || skip == 0) {
          owner.part[d] = table ? table : &owner.tables[d];
          continue;
        }
        std::vector<std::size_t> rows;
        for (std::size_t row = skip; row < table->RowCount(); ++row)
          rows.push_back(row);
        owner.selected[d] = table->SelectRows(rows);
        owner.part[d] = &owner.selected[d];
      }
    };
    const SourcesOptions orderOnly{};
    const auto overlaps = [&] {
      for (int d = 0; d < 2; ++d) {
        std::vector<TablePart> parts;
        for (std::size_t o = 0; o < owners.size(); ++o)
          parts.push_back({o, owners[o].part[d], owners[o].part[d]->RowCount(),
                           owners[o].firstDated[d], owners[o].WholeRows(d)});
        CombineParts(parts, orderOnly, true, false);
        for (const TablePart& part : parts)
          owners[part.source].overlap[d] = part.overlap;
      }
    };
    for (Owner& owner : owners)
      choose(owner);
    // A new file keeps only what the history does not hold yet: the start that repeats the rows
    // before it is left out for good (standard input read again, a copy of a log's end).
    overlaps();
    bool skipped = false;
    for (Owner& owner : owners) {
      if (owner.stored)
        continue;
      const Reading& reading = readings[*owner.reading];
      for (int d = 0; d < 2; ++d) {
        owner.skip[d] = std::min(owner.overlap[d], reading.wholeRows[d]);
        skipped = skipped || owner.skip[d] != 0;
      }
    }
    if (skipped) {
      for (Owner& owner : owners)
        choose(owner);
      overlaps();
    }

    // What is added: each reading's whole rows behind those held.
    const std::string now = NowText();
    if (!sources.empty()) {
      Statement addText(db, "INSERT INTO texts(id, text) VALUES(?, ?)");
      const auto idOf = [&](std::string_view text) {
        if (const auto found = ids.find(text); found != ids.end())
          return found->second;
        // Ids count up from 1; `texts` keeps one place for each id taken.
        const auto id = static_cast<std::int64_t>(std::max<std::size_t>(texts.size(), 1));
        texts.resize(static_cast<std::size_t>(id) + 1);
        addText.Bind(1, id).Bind(2, text).Run();
        ids.emplace(std::string(text), id);
        return id;
      };
      Statement addRow(db,
                       "INSERT INTO rows(file, direction, seq, time, date_text, address, account, "
                       "name, file_name) VALUES(?, ?, ?, ?, ?, ?, ?, ?, ?)");
      Statement addFile(db,
                        "INSERT INTO files(name, standard_input, format, compressed, encoding, "
                        "date_order, text_bytes, digest, skipped_downloads, skipped_uploads, "
                        "stored_downloads, stored_uploads, left_out_downloads, left_out_uploads, "
                        "first_read, last_read, first_dated_downloads, first_dated_uploads) "
                        "VALUES(?, ?, ?, ?, ?, ?, 0, NULL, ?, ?, 0, 0, 0, 0, ?, ?, ?, ?)");
      Statement grow(db,
                     "UPDATE files SET name = ?, compressed = ?, encoding = ?, date_order = ?, "
                     "text_bytes = ?, digest = ?, stored_downloads = ?, stored_uploads = ?, "
                     "last_read = ? WHERE id = ?");
      Statement named(db,
                      "INSERT INTO file_names(file, name, last_read) VALUES(?, ?, ?) "
                      "ON CONFLICT(file, name) DO UPDATE SET last_read = excluded.last_read");
      for (Owner& owner : owners) {
        if (!owner.reading)
          continue;
        const std::size_t r = *owner.reading;
        Reading& reading = readings[r];
        const LogSource& source = sources[r];
        if (!reading.wholeDigest && !source.input.standardInput)
          continue;  // where its whole lines end is not known: kept on a later run
        const LogKind kind = ClassicKindOf(source.role);
        const LogTable* any = TableOf(reading.read, kind, 0);
        if (!any)
          any = TableOf(reading.read, kind, 1);
        const std::string fileName = source.input.Text();
        StoredFile* file = owner.stored ? &stored[*owner.stored] : nullptr;
        if (!file) {
          if (reading.wholeRows[0] + reading.wholeRows[1] == 0)
            continue;  // nothing whole yet: a file is known by its first rows
          StoredFile made;
          made.format = reading.read.format;
          made.classicKind = kind;
          made.skipped[0] = owner.skip[0];
          made.skipped[1] = owner.skip[1];
          const std::string format = FormatWord(made.format, kind);
          addFile.Bind(1, std::string_view(fileName))
              .Bind(2, std::int64_t{source.input.standardInput})
              .Bind(3, std::string_view(format))
              .Bind(4, std::int64_t{reading.read.compressed})
              .Bind(5, std::string_view(EncodingWord(any->TextEncoding())))
              .BindNull(6)
              .Bind(7, static_cast<std::int64_t>(owner.skip[0]))
              .Bind(8, static_cast<std::int64_t>(owner.skip[1]))
              .Bind(9, std::string_view(now))
              .Bind(10, std::string_view(now));
          for (int d = 0; d < 2; ++d) {
            if (owner.firstDated[d] == kUndated)
              addFile.BindNull(11 + d);
            else
              addFile.Bind(11 + d, owner.firstDated[d]);
          }
          addFile.Run();
          made.id = sqlite3_last_insert_rowid(db);
          stored.push_back(std::move(made));
          owner.stored = stored.size() - 1;
          file = &stored.back();
        }
        for (int d = 0; d < 2; ++d) {
          const LogTable* table = TableOf(reading.read, kind, d);
          if (!table)
            continue;
          const bool utf8 = table->TextEncoding() == Encoding::Utf8;
          std::string decoded[4];
          const auto cell = [&](std::size_t row, Column column, int slot) -> std::string_view {
            if (utf8 || column == Column::Name)
              return table->CellBytes(row, column);
            decoded[slot] = table->CellText(row, column);
            return decoded[slot];
          };
          const std::size_t from = file->skipped[d] + file->stored[d];
          for (std::size_t row = from; row < reading.wholeRows[d]; ++row) {
            addRow.Bind(1, file->id)
                .Bind(2, std::int64_t{d})
                .Bind(3, static_cast<std::int64_t>(row - file->skipped[d]));
            if (table->Date(row) == kUndated)
              addRow.BindNull(4);
            else
              addRow.Bind(4, table->Date(row));
            addRow.Bind(5, cell(row, Column::DateTime, 0))
                .Bind(6, idOf(cell(row, Column::Address, 1)))
                .Bind(7, idOf(cell(row, Column::Account, 2)))
                .Bind(8, idOf(cell(row, Column::Name, 3)))
                .Bind(9, idOf(cell(row, Column::FileName, 3)))
                .Run();
          }
          if (reading.wholeRows[d] > from) {
            (d == 0 ? result.downloadsAdded : result.uploadsAdded) += reading.wholeRows[d] - from;
            file->stored[d] = reading.wholeRows[d] - file->skipped[d];
          }
        }
        const char* order = OrderWord(any->DatesOrder());
        grow.Bind(1, std::string_view(fileName)).Bind(2, std::int64_t{reading.read.compressed});
        grow.Bind(3, std::string_view(EncodingWord(any->TextEncoding())));
        if (order)
          grow.Bind(4, std::string_view(order));
        else
          grow.BindNull(4);
        grow.Bind(5, static_cast<std::int64_t>(reading.wholeEnd));
        if (reading.wholeDigest && !source.input.standardInput)
          grow.BindBlob(6, *reading.wholeDigest);
        else
          grow.BindNull(6);
        grow.Bind(7, static_cast<std::int64_t>(file->stored[0]))
            .Bind(8, static_cast<std::int64_t>(file->stored[1]))
            .Bind(9, std::string_view(now))
            .Bind(10, file->id)
            .Run();
        named.Bind(1, file->id)
            .Bind(2, std::string_view(fileName))
            .Bind(3, std::string_view(now))
            .Run();
        file->name = fileName;
        file->standardInput = source.input.standardInput;
        file->compressed = reading.read.compressed;
      }
      // What the report leaves out of each file's start, for the view to leave out too.
      Statement leftOut(db,
                        "UPDATE files SET left_out_downloads = ?, left_out_uploads = ? "
                        "WHERE id = ?");
      for (Owner& owner : owners) {
        if (!owner.stored)
          continue;
        StoredFile& file = stored[*owner.stored];
        std::size_t counted[2];
        for (int d = 0; d < 2; ++d)
          counted[d] = std::min(owner.overlap[d], file.stored[d]);
        if (counted[0] != file.leftOut[0] || counted[1] != file.leftOut[1]) {
          leftOut.Bind(1, static_cast<std::int64_t>(counted[0]))
              .Bind(2, static_cast<std::int64_t>(counted[1]))
              .Bind(3, file.id)
              .Run();
        }
      }
    }
    db_->Exec("COMMIT");
    inTransaction = false;

    // The report's tables and what each file gave them.
    for (std::size_t i = 0; i < readings.size(); ++i) {
      SourceInfo info;
      info.input = sources[i].input;
      info.format = readings[i].read.format;
      info.classicKind = ClassicKindOf(sources[i].role);
      info.compressed = readings[i].read.compressed;
      info.unreadableLines = readings[i].read.unreadableLines;
      result.read.push_back(std::move(info));
    }
    for (Owner& owner : owners) {
      SourceInfo info;
      if (owner.stored) {
        const StoredFile& file = stored[*owner.stored];
        info.input = file.standardInput ? InputName{{}, true}
                                        : InputName{std::filesystem::path(std::u8string(
                                                        file.name.begin(), file.name.end())),
                                                    false};
        info.format = file.format;
        info.classicKind = file.classicKind;
        info.compressed = file.compressed;
      } else {
        info = result.read[*owner.reading];
        info.unreadableLines.clear();
      }
      info.downloads = owner.part[0]->RowCount() - owner.overlap[0];
      info.uploads = owner.part[1]->RowCount() - owner.overlap[1];
      info.overlapLeftOut = owner.overlap[0] + owner.overlap[1];
      result.files.push_back(std::move(info));
    }
    LogPair pair;
    for (int d = 0; d < 2; ++d) {
      std::vector<TablePart> parts;
      for (std::size_t o = 0; o < owners.size(); ++o) {
        if (owners[o].part[d]->RowCount() != 0)
          parts.push_back({o, owners[o].part[d], owners[o].part[d]->RowCount(),
                           owners[o].firstDated[d], owners[o].WholeRows(d)});
      }
      std::optional<LogTable> joined = CombineParts(parts, options);
      (d == 0 ? pair.downloads : pair.uploads) = std::move(*joined);
    }
    result.logs = std::move(pair);
  } catch (const Failure& failure) {
    if (inTransaction)
      sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
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
  }
  return result;
}

}  // namespace quorvane
