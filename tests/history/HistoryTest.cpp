#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <fstream>
#include <future>
#include <map>
#include <random>
#include <sstream>

#include "history/History.h"
#include "support/TempLogs.h"

namespace quorvane {
namespace {

namespace fs = std::filesystem;
using testing::RunShell;
using testing::TempDir;

std::string Quoted(const fs::path& path) {
  std::string quoted = "'";
  quoted += path.string();
  return quoted += "'";
}

// A run of the built command: its stdout, and its stderr and status checked by the caller. A run
// that hangs fails in seconds (status 124), not at the test's time limit.
testing::ShellRun Report(const std::string& args) {
  return RunShell("timeout 20 " + std::string(QUORVANE_REPORT_BINARY) + " " + args);
}

// The figures of a JSON report (users and files), without the list of files read.
std::string Figures(const std::string& json) {
  const std::size_t totals = json.find("\"totals\"");
  return totals == std::string::npos ? "(no report) " + json : json.substr(totals);
}

std::string ReadAll(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

// How many texts the history file holds more than once or for no row (by the sqlite3 tool): each
// is kept once, and only for the rows that name it (none for a record that was cut).
std::string TextsNotHeldOnce(const fs::path& db) {
  std::string sql = "SELECT 0";
  const std::pair<const char*, int> tables[] = {
      {"addresses", 0}, {"names", 1}, {"file_names", 3}, {"accounts", 4}};
  for (const auto& [table, at] : tables) {
    sql += std::string(" + (SELECT count(*) - count(DISTINCT text) FROM ") + table +
           ") + (SELECT count(*) FROM " + table + " WHERE id NOT IN (SELECT value ->> " +
           std::to_string(at) + " FROM row_chunks, json_each(rows)))";
  }
  const testing::ShellRun run = RunShell("sqlite3 " + Quoted(db) + " '" + sql + "'");
  return run.status == 0 ? run.out : "sqlite3 failed: " + run.err;
}

// Lines a Mobius server writes: transfers of a few users and files, and other traffic.
std::string MobiusLine(std::minstd_rand& random, int& clock) {
  clock += static_cast<int>(random() % 50);
  char time[32];
  std::snprintf(time, sizeof time, "2025-03-%02dT%02d:%02d:%02dZ", 1 + clock / 86400 % 28,
                clock / 3600 % 24, clock / 60 % 60, clock % 60);
  const int user = static_cast<int>(random() % 5), file = static_cast<int>(random() % 6);
  const std::string who = " remoteAddr=10.0.0." + std::to_string(user) +
                          ":5000 login=guest Name=user" + std::to_string(user);
  switch (random() % 4) {
    case 0:
      return "time=" + std::string(time) + " level=INFO msg=\"Login successful\"" + who + "\n";
    case 1:
      return "time=" + std::string(time) + " level=INFO msg=\"File upload complete\"" + who +
             " dstFile=/srv/Files/f" + std::to_string(file) + "\n";
    default:
      return "time=" + std::string(time) + " level=INFO msg=\"Download file\"" + who +
             " filePath=/srv/Files/f" + std::to_string(file) + "\n";
  }
}

// A classic record, written the classic way: its CR before it.
std::string ClassicRecord(std::minstd_rand& random, int& clock) {
  clock += static_cast<int>(random() % 50);
  const int user = static_cast<int>(random() % 4);
  return "\r3/" + std::to_string(1 + clock / 86400 % 28) + "/2025 " +
         std::to_string(1 + clock / 3600 % 12) + ":" + std::to_string(10 + clock / 60 % 50) + ":" +
         std::to_string(10 + clock % 50) + " PM\t10.0.0." + std::to_string(user) + "\tguest\tuser" +
         std::to_string(user) + "\tfile" + std::to_string(random() % 5);
}

const std::string kClassicHeader = "Date/time\tAddress\tAccount\tName\tFile Name";

// Up to its last line end: what a history may keep of a file it no longer sees.
std::string Whole(const std::string& text) {
  const std::size_t end = text.find_last_of("\r\n");
  return end == std::string::npos ? std::string() : text.substr(0, end + 1);
}

// Simulated servers writing logs beside a history file. After every step the history run must
// report what the plain reading reports of every text ever given to it, as it stands: each file
// given now as it is, each file no longer given as it was last given up to its last line end.
class HistoryContract : public ::testing::TestWithParam<unsigned> {
 protected:
  // A log's life: the names it had and the text it was last given with.
  struct Log {
    std::string name, text, given;
    std::string option;  // --log, --download or --upload
    bool exists = true;
  };

  void Give(const std::vector<std::size_t>& logs, const std::string& stdinText = {}) {
    std::string args = "--history " + Quoted(db_) + " --users --files --format json";
    for (std::size_t i : logs) {
      logs_[i].given = logs_[i].text;
      args += " " + logs_[i].option + " " + Quoted(dir_.Path() / logs_[i].name);
    }
    if (!stdinText.empty()) {
      journals_.push_back(stdinText);
      dir_.Write("stdin.txt", stdinText);
      args += " --log - < " + Quoted(dir_.Path() / "stdin.txt");
    }
    const testing::ShellRun run = Report(args);
    ASSERT_EQ(run.status, 0) << run.err;
    // The plain reading of every text the history was ever given.
    std::string plain = "--users --files --format json";
    std::size_t n = 0;
    for (std::size_t i = 0; i < logs_.size(); ++i) {
      if (logs_[i].given.empty())
        continue;
      const bool now = std::find(logs.begin(), logs.end(), i) != logs.end();
      const std::string text = now ? logs_[i].given : Whole(logs_[i].given);
      if (text.empty())
        continue;  // a file with no bytes yet gave nothing
      const fs::path copy = oracle_.Write(std::to_string(n++) + ".log", text);
      plain += " " + logs_[i].option + " " + Quoted(copy);
    }
    for (std::size_t j = 0; j < journals_.size(); ++j) {
      const bool now = j + 1 == journals_.size() && !stdinText.empty();
      plain += " --log " + Quoted(oracle_.Write(std::to_string(n++) + ".log",
                                                now ? journals_[j] : Whole(journals_[j])));
    }
    if (n == 0) {
      EXPECT_NE(run.out.find("\"totals\": {\"downloads\": 0, \"uploads\": 0"), std::string::npos);
      return;
    }
    const testing::ShellRun expected = Report(plain);
    ASSERT_EQ(expected.status, 0) << expected.err;
    ASSERT_EQ(Figures(run.out), Figures(expected.out)) << "step " << step_;
    EXPECT_EQ(TextsNotHeldOnce(db_), "0\n") << "step " << step_;
    // The same from the history alone, after this run has kept what it may.
    const testing::ShellRun alone =
        Report("--history " + Quoted(db_) + " --users --files --format json");
    ASSERT_EQ(alone.status, 0) << alone.err;
  }

  TempDir dir_, oracle_;
  fs::path db_ = dir_.Path() / "history.db";
  std::vector<Log> logs_;
  std::vector<std::string> journals_;
  int step_ = 0;
};

TEST_P(HistoryContract, MobiusLogRotatedPackedCopiedAndDeleted) {
  std::minstd_rand random(GetParam());
  int clock = 0;
  logs_.push_back({"mobius.log", "", "", "--log"});
  std::size_t live = 0;
  int backups = 0;
  for (step_ = 0; step_ < 24; ++step_) {
    Log& log = logs_[live];
    const unsigned what = static_cast<unsigned>(random() % 10);
    if (what < 5) {
      for (auto k = random() % 6; k > 0; --k)
        log.text += MobiusLine(random, clock);
      if (!log.text.empty() && random() % 3 == 0) {  // a line still being written
        const std::string next = MobiusLine(random, clock);
        log.text += next.substr(0, 20 + random() % (next.size() - 21));
      }
    } else if (what < 7 && !log.text.empty()) {
      // Rotation: the live log (its last line finished) becomes a dated backup.
      if (log.text.back() != '\n')
        dir_.Write(log.name, log.text += "\n");
      const std::string backup = "mobius-" + std::to_string(++backups) + ".log";
      fs::rename(dir_.Path() / log.name, dir_.Path() / backup);
      Log rotated = log;
      rotated.name = backup;
      logs_[live] = rotated;
      logs_.push_back({"mobius.log", "", "", "--log"});
      live = logs_.size() - 1;
    } else if (what == 7) {
      // The oldest backup deleted, or packed with gzip.
      for (Log& old : logs_) {
        if (!old.exists || &old == &logs_[live])
          continue;
        if (random() % 2)
          fs::remove(dir_.Path() / old.name), old.exists = false;
        else if (old.name.find(".gz") == std::string::npos &&
                 RunShell("gzip " + Quoted(dir_.Path() / old.name)).status == 0)
          old.name += ".gz";
        break;
      }
    } else if (what == 8) {
      // A copy of the live log taken now, under another name.
      Log copy = log;
      copy.name = "copy-" + std::to_string(step_) + ".log";
      dir_.Write(copy.name, copy.text);
      logs_.push_back(copy);
    }
    dir_.Write(logs_[live].name, logs_[live].text);
    // Every file that exists, or now and then only some of them, or none.
    std::vector<std::size_t> given;
    const auto which = random() % 5;
    for (std::size_t i = 0; i < logs_.size(); ++i) {
      if (logs_[i].exists && (which != 0 || i == live) && which != 1)
        given.push_back(i);
    }
    ASSERT_NO_FATAL_FAILURE(Give(given));
  }
}

TEST_P(HistoryContract, ClassicPairGrowingAndClearedByHand) {
  std::minstd_rand random(GetParam());
  int clock = 0;
  logs_.push_back({"Download Log.txt", kClassicHeader, "", "--download"});
  logs_.push_back({"Upload Log.txt", kClassicHeader, "", "--upload"});
  for (step_ = 0; step_ < 16; ++step_) {
    for (std::size_t kind = 0; kind < 2; ++kind) {
      // The live log of its kind is the last one of that kind.
      std::size_t live = 0;
      for (std::size_t i = 0; i < logs_.size(); ++i) {
        if (logs_[i].option == (kind == 0 ? "--download" : "--upload"))
          live = i;
      }
      if (random() % 6 == 0) {
        // Cleared by hand: a new file under the old name.
        logs_[live].exists = false;
        logs_.push_back({logs_[live].name, kClassicHeader, "", logs_[live].option});
        live = logs_.size() - 1;
      }
      for (auto k = random() % 4; k > 0; --k)
        logs_[live].text += ClassicRecord(random, clock);
      dir_.Write(logs_[live].name, logs_[live].text);
    }
    std::vector<std::size_t> given;
    for (std::size_t i = 0; i < logs_.size(); ++i) {
      if (logs_[i].exists)
        given.push_back(i);
    }
    ASSERT_NO_FATAL_FAILURE(Give(given));
  }
}

TEST_P(HistoryContract, JournalReadAgainFromStandardInput) {
  std::minstd_rand random(GetParam());
  int clock = 0;
  std::vector<std::string> journal;
  for (step_ = 0; step_ < 12; ++step_) {
    for (auto k = 1 + random() % 8; k > 0; --k)
      journal.push_back(MobiusLine(random, clock));
    // The journal keeps what its size allows: its oldest lines go.
    while (journal.size() > 20)
      journal.erase(journal.begin());
    std::string text;
    for (const std::string& line : journal)
      text += line;
    ASSERT_NO_FATAL_FAILURE(Give({}, text));
  }
  // Read again and again, the journal is kept once: the file holds no more rows than it gave.
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open_v2(db_.c_str(), &db, SQLITE_OPEN_READONLY, nullptr), SQLITE_OK);
  sqlite3_stmt* rows = nullptr;
  sqlite3_prepare_v2(db,
                     "SELECT (SELECT sum(json_array_length(rows)) FROM row_chunks), "
                     "(SELECT count(*) FROM transfers)",
                     -1, &rows, nullptr);
  ASSERT_EQ(sqlite3_step(rows), SQLITE_ROW);
  EXPECT_EQ(sqlite3_column_int(rows, 0), sqlite3_column_int(rows, 1));
  sqlite3_finalize(rows);
  sqlite3_close(db);
}

INSTANTIATE_TEST_SUITE_P(Seeds, HistoryContract, ::testing::Range(1u, 9u));

// A Mobius log of `lines` transfers.
std::string MobiusLog(unsigned seed, int lines) {
  std::minstd_rand random(seed);
  int clock = 0;
  std::string text;
  while (lines > 0) {
    const std::string line = MobiusLine(random, clock);
    if (line.find("Login") == std::string::npos) {
      text += line;
      --lines;
    }
  }
  return text;
}

// A file that is no history is left exactly as it was, and the run says why in one line.
TEST(HistoryFile, RefusesWhatIsNotItsOwnAndChangesNothing) {
  TempDir dir;
  const fs::path log = dir.Write("m.log", MobiusLog(1, 5));
  const fs::path made = dir.Path() / "made.db";
  ASSERT_EQ(Report("--history " + Quoted(made) + " --log " + Quoted(log)).status, 0);
  const std::string history = ReadAll(made);
  fs::create_directory(dir.Path() / "folder.db");
  RunShell("sqlite3 " + Quoted(dir.Path() / "other.db") +
           " 'CREATE TABLE t(x); INSERT INTO t VALUES(1)'");
  const struct {
    const char* name;
    std::string bytes;
    const char* says;
  } cases[] = {
      {"text.db", "Date/time\tAddress\n", "not a SQLite database"},
      {"short.db", "SQLite format 3", "not a SQLite database"},
      {"cut.db", history.substr(0, history.size() / 2), "cut short"},
      {"other.db", "", "another program"},
      {"folder.db", "", "folder"},
  };
  for (const auto& c : cases) {
    const fs::path file = dir.Path() / c.name;
    if (!c.bytes.empty())
      dir.Write(c.name, c.bytes);
    const std::string before = fs::is_regular_file(file) ? ReadAll(file) : "";
    for (const std::string& logs : {std::string(), " --log " + Quoted(log)}) {
      const testing::ShellRun run = Report("--history " + Quoted(file) + logs);
      EXPECT_EQ(run.status, 1) << c.name;
      EXPECT_NE(run.err.find(c.says), std::string::npos) << c.name << ": " << run.err;
      EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
      EXPECT_EQ(fs::is_regular_file(file) ? ReadAll(file) : "", before) << c.name;
      EXPECT_FALSE(fs::exists(file.string() + "-wal")) << c.name;
    }
  }
  // A history from a newer program is refused; its version is in the header at byte 60.
  std::string newer = history;
  newer[63] = static_cast<char>(newer[63] + 1);
  const fs::path future = dir.Write("future.db", newer);
  const testing::ShellRun run = Report("--history " + Quoted(future));
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.err.find("newer"), std::string::npos) << run.err;
  EXPECT_EQ(ReadAll(future), newer);
  // Its folder must exist.
  EXPECT_EQ(Report("--history " + Quoted(dir.Path() / "none" / "h.db")).status, 1);
}

// A read-only history still reports; adding to it says why not.
TEST(HistoryFile, ReadOnlyReportsButTakesNothing) {
  TempDir dir;
  const fs::path db = dir.Path() / "h.db";
  const fs::path log = dir.Write("m.log", MobiusLog(2, 8));
  const std::string plain = Report("--format json --log " + Quoted(log)).out;
  ASSERT_EQ(Report("--history " + Quoted(db) + " --log " + Quoted(log)).status, 0);
  fs::permissions(db, fs::perms::owner_read | fs::perms::group_read);
  const std::string before = ReadAll(db);
  const testing::ShellRun report = Report("--format json --history " + Quoted(db));
  EXPECT_EQ(report.status, 0) << report.err;
  EXPECT_EQ(Figures(report.out), Figures(plain));
  const testing::ShellRun add =
      Report("--history " + Quoted(db) + " --log " + Quoted(dir.Write("n.log", MobiusLog(3, 2))));
  EXPECT_EQ(add.status, 1);
  EXPECT_NE(add.err.find("read-only"), std::string::npos) << add.err;
  EXPECT_EQ(ReadAll(db), before);
}

// A writer waits for another one, a bounded time; then it gives up having added nothing. A
// reader meanwhile sees the last whole batch.
TEST(HistoryFile, SecondWriterWaitsThenGivesUpCleanly) {
  TempDir dir;
  const fs::path db = dir.Path() / "h.db";
  const fs::path first = dir.Write("a.log", MobiusLog(4, 6));
  ASSERT_EQ(Report("--history " + Quoted(db) + " --log " + Quoted(first)).status, 0);
  sqlite3* other = nullptr;
  ASSERT_EQ(sqlite3_open(db.c_str(), &other), SQLITE_OK);
  ASSERT_EQ(
      sqlite3_exec(other, "BEGIN IMMEDIATE; DELETE FROM row_chunks", nullptr, nullptr, nullptr),
      SQLITE_OK);
  std::string error;
  auto history = History::Open(db, History::Access::Write, std::chrono::milliseconds(300), error);
  ASSERT_TRUE(history) << error;
  const auto started = std::chrono::steady_clock::now();
  std::future<History::Result> update = std::async(std::launch::async, [&] {
    return history->Update(
        {{InputName{dir.Write("b.log", MobiusLog(5, 3)), false}, SourceRole::ServerLog}}, {});
  });
  if (update.wait_for(std::chrono::seconds(10)) != std::future_status::ready) {
    sqlite3_exec(other, "ROLLBACK", nullptr, nullptr, nullptr);  // so that it ends
    FAIL() << "the second writer still waits after 10 s";
  }
  const History::Result blocked = update.get();
  EXPECT_GE(std::chrono::steady_clock::now() - started, std::chrono::milliseconds(300));
  ASSERT_TRUE(blocked.failure);
  EXPECT_NE(blocked.failure->find("another run"), std::string::npos) << *blocked.failure;
  // A reader is not held up, and does not see the other writer's half-done batch.
  const History::Result read = history->Update({}, {});
  ASSERT_TRUE(read.logs) << read.failure.value_or("");
  EXPECT_EQ(read.logs->downloads.RowCount() + read.logs->uploads.RowCount(), 6u);
  sqlite3_exec(other, "ROLLBACK", nullptr, nullptr, nullptr);
  sqlite3_close(other);
  const History::Result added =
      history->Update({{InputName{dir.Path() / "b.log", false}, SourceRole::ServerLog}}, {});
  ASSERT_TRUE(added.logs) << added.failure.value_or("");
  EXPECT_EQ(added.downloadsAdded + added.uploadsAdded, 3u);
}

// A disk that fills up, or a run killed at any moment, leaves the file whole: as it was before
// the run or after it, and the next run goes on from there exactly.
TEST(HistoryFile, FullDiskAndKillLoseNothingCommitted) {
  TempDir dir;
  const fs::path db = dir.Path() / "h.db";
  const fs::path small = dir.Write("a.log", MobiusLog(6, 5));
  ASSERT_EQ(Report("--history " + Quoted(db) + " --log " + Quoted(small)).status, 0);
  const fs::path big = dir.Write("big.log", MobiusLog(7, 60000));
  // Files may grow by no more than a few KiB: the next writes fail as on a full disk.
  const testing::ShellRun full =
      RunShell("ulimit -f 64; exec timeout 20 " + std::string(QUORVANE_REPORT_BINARY) +
               " --history " + Quoted(db) + " --log " + Quoted(big));
  EXPECT_EQ(full.status, 1) << full.err;
  EXPECT_EQ(std::count(full.err.begin(), full.err.end(), '\n'), 1) << full.err;
  const std::string plainBoth =
      Figures(Report("--format json --log " + Quoted(small) + " --log " + Quoted(big)).out);
  for (int attempt = 0; attempt < 4; ++attempt) {
    const pid_t child = fork();
    if (child == 0) {
      freopen("/dev/null", "w", stdout);
      execl(QUORVANE_REPORT_BINARY, "quorvane-report", "--history", db.c_str(), "--log",
            big.c_str(), "--log", small.c_str(), static_cast<char*>(nullptr));
      _exit(127);
    }
    usleep(static_cast<useconds_t>(20000 + attempt * 60000));
    kill(child, SIGKILL);
    waitpid(child, nullptr, 0);
    EXPECT_EQ(RunShell("sqlite3 " + Quoted(db) + " 'PRAGMA integrity_check'").out, "ok\n");
  }
  const testing::ShellRun after =
      Report("--format json --history " + Quoted(db) + " --log " + Quoted(big));
  ASSERT_EQ(after.status, 0) << after.err;
  EXPECT_EQ(Figures(after.out), plainBoth);
}

// The view any SQLite tool reads counts what the report counts.
TEST(HistoryFile, TransfersViewAgreesWithTheReport) {
  TempDir dir;
  // A record still being written is not kept, nor is the File Name only it has.
  const fs::path cut = dir.Write("cut.txt", kClassicHeader +
                                                "\n1/2/2026 10:00:00\t10.0.0.1\tguest\tann\tkept"
                                                "\n1/2/2026 10:00:01\t10.0.0.2\tguest\tbo\tcut sh");
  ASSERT_EQ(
      Report("--history " + Quoted(dir.Path() / "cut.db") + " --download " + Quoted(cut)).status,
      0);
  EXPECT_EQ(TextsNotHeldOnce(dir.Path() / "cut.db"), "0\n");
  const fs::path db = dir.Path() / "h.db";
  const fs::path older = dir.Write("old.log", MobiusLog(8, 40));
  // A copy of the older log's end begins the newer one: its rows count once.
  const std::string text = MobiusLog(8, 40);
  const fs::path newer = dir.Write("new.log", text.substr(text.size() / 2) + MobiusLog(9, 10));
  ASSERT_EQ(Report("--history " + Quoted(db) + " --log " + Quoted(newer)).status, 0);
  ASSERT_EQ(Report("--history " + Quoted(db) + " --log " + Quoted(older)).status, 0);
  // A log of many names and files, given as it grows: a run of a few rows finds which of their
  // files the history holds by what it keeps of their hashes, in rows of 4096 ids. Those are lost
  // from a file made before they were kept, and cut short by damage: texts stay once all the same.
  std::string many;
  for (int i = 0; i < 9200; ++i) {
    const int file = i < 5000 ? i : i < 5500 ? (i - 5000) * 9 : i < 9000 ? i : (i - 9000) * 41;
    many += "time=2025-04-01T10:00:00Z level=INFO msg=\"Download file\" remoteAddr=10.1.0." +
            std::to_string(i % 250) + ":1 login=guest Name=u" + std::to_string(i % 70) +
            " filePath=/srv/Files/m" + std::to_string(file) + "\n";
    if (i == 99 || i == 4999 || i == 5999 || i == 8999 || i == 9199) {
      const fs::path log = dir.Write("many.log", many);
      ASSERT_EQ(Report("--history " + Quoted(db) + " --log " + Quoted(log)).status, 0);
      ASSERT_EQ(TextsNotHeldOnce(db), "0\n") << "row " << i;
      const char* damage = i == 99     ? "DROP TABLE file_name_hashes"
                           : i == 4999 ? "UPDATE file_name_hashes SET hashes = substr(hashes, 9)"
                                       : "SELECT 1";
      ASSERT_EQ(RunShell("sqlite3 " + Quoted(db) + " '" + damage + "'").status, 0);
    }
  }
  const std::string users = Report("--users --history " + Quoted(db)).out;
  const testing::ShellRun view = RunShell(
      "sqlite3 -separator '\t' " + Quoted(db) +
      " \"SELECT name, sum(direction = 'download'), sum(direction = 'upload') FROM transfers "
      "GROUP BY name ORDER BY name\"");
  ASSERT_EQ(view.status, 0) << view.err;
  std::string fromReport;
  std::map<std::string, std::string> counts;
  std::istringstream lines(users.substr(users.find("Users:")));
  std::string line;
  std::getline(lines, line);
  while (std::getline(lines, line) && !line.empty()) {
    const std::size_t ratio = line.rfind('\t');
    counts[line.substr(0, line.find('\t'))] = line.substr(0, ratio);
  }
  for (const auto& [name, row] : counts)
    fromReport += row + "\n";
  EXPECT_EQ(view.out, fromReport);
}

// Every cell of the tables a history gives back, and the view's Date/Time texts and times, against
// the plain reading of its logs: the Date/Time forms a history writes back from the time (padded,
// a zone's suffix, at the ends of SQLite's years) and those it keeps (unpadded, a 12-hour clock,
// no date, JSON's special characters); again once a file of the first layout (a table row a
// transfer, each with its text) is brought up to date by a reader. A File Name that logs of two
// encodings share is held once.
TEST(HistoryFile, CellsAndViewEqualThePlainReadingAlsoAfterAnUpgrade) {
  TempDir dir;
  const std::vector<std::string> dates = {
      "22/07/2026 02:35:20", "05/04/2026 10:24:51",       "31/12/9999 23:59:59",
      "01/01/0000 00:00:00", "01/01/1900 00:00:07",       "3/4/2026 1:05:07 PM",
      "3/4/26 13:05",        "not \"a\" date\\ \x01\x1f", "",
      "07/08/2026 11:00 Z",  "07/08/2026 11:00 Z",        "08/08/2026 11:00:01"};
  std::string down = kClassicHeader + "\n", up = kClassicHeader + "\n";
  for (std::size_t i = 0; i < dates.size(); ++i) {
    const std::string user = std::to_string(i % 3);
    down += dates[i] + "\t10.0.0." + user + "\tguest\tuser" + user + "\tfile" +
            std::to_string(i % 4) + "\n";
    up += dates[dates.size() - 1 - i] + "\t10.0.1." + user + "\tguest\tJos\xe9" + user + "\tfile" +
          std::to_string(i % 5 + 2) + "\n";
  }
  const std::vector<LogSource> logs = {{{dir.Write("d.log", down), false}, SourceRole::Download},
                                       {{dir.Write("u.log", up), false}, SourceRole::Upload}};
  const fs::path db = dir.Path() / "h.db";
  ASSERT_EQ(Report("--history " + Quoted(db) + " --download " + Quoted(logs[0].input.path) +
                   " --upload " + Quoted(logs[1].input.path))
                .status,
            0);
  ASSERT_EQ(TextsNotHeldOnce(db), "0\n");
  SourcesOptions options;
  options.dates = DateOrder::Detect;
  const SourcesResult plain = LoadSources(logs, options);
  ASSERT_TRUE(plain.Ok());
  ASSERT_NE(plain.logs->downloads.TextEncoding(), plain.logs->uploads.TextEncoding());
  const auto check = [&](const char* when) {
    std::string error;
    const auto history = History::Open(db, History::Access::Read, std::chrono::seconds(5), error);
    ASSERT_TRUE(history) << error;
    const History::Result held = history->Update({}, options);
    ASSERT_TRUE(held.logs) << when << ": " << held.failure.value_or("");
    std::vector<std::string> expected;
    for (int d = 0; d < 2; ++d) {
      const LogTable& want = d == 0 ? plain.logs->downloads : plain.logs->uploads;
      const LogTable& got = d == 0 ? held.logs->downloads : held.logs->uploads;
      ASSERT_EQ(got.RowCount(), want.RowCount()) << when;
      for (std::size_t row = 0; row < want.RowCount(); ++row) {
        for (int c = 0; c < kColumnCount; ++c)
          ASSERT_EQ(got.CellText(row, Column(c)), want.CellText(row, Column(c)))
              << when << ": row " << row << ", column " << c << " of table " << d;
        ASSERT_EQ(got.Date(row), want.Date(row)) << when << ": row " << row;
        expected.push_back((d == 0 ? "download|" : "upload|") +
                           want.CellText(row, Column::DateTime) + "|" +
                           FormatTimestamp(want.Date(row)));
      }
    }
    const testing::ShellRun view =
        RunShell("sqlite3 " + Quoted(db) + " \"SELECT direction, date_text, time FROM transfers\"");
    ASSERT_EQ(view.status, 0) << view.err;
    std::vector<std::string> lines;
    std::istringstream in(view.out);
    for (std::string line; std::getline(in, line);)
      lines.push_back(line);
    std::sort(lines.begin(), lines.end());
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(lines, expected) << when;
  };
  check("made");
  // The same rows as the first layout held them.
  const fs::path older = dir.Write("older.sql", R"sql(
BEGIN;
DROP VIEW transfers;
CREATE TABLE rows(id INTEGER PRIMARY KEY, address INTEGER NOT NULL, name INTEGER NOT NULL,
  time INTEGER, file_name INTEGER NOT NULL, account INTEGER NOT NULL, date_text TEXT NOT NULL);
INSERT INTO rows SELECT k.first_row + j.key, json_extract(j.value, '$[0]'),
    json_extract(j.value, '$[1]'), json_extract(j.value, '$[2]'), json_extract(j.value, '$[3]'),
    json_extract(j.value, '$[4]'), coalesce(json_extract(j.value, '$[5]'),
    strftime(u.date_format, json_extract(j.value, '$[2]'), 'unixepoch'), '')
  FROM runs u JOIN row_chunks k ON k.first_row BETWEEN u.first_row AND u.last_row,
    json_each(k.rows) j;
DROP TABLE row_chunks;
ALTER TABLE runs DROP COLUMN date_format;
PRAGMA user_version = 1;
COMMIT;
)sql");
  ASSERT_EQ(RunShell("sqlite3 " + Quoted(db) + " < " + Quoted(older)).status, 0);
  ASSERT_EQ(RunShell("sqlite3 " + Quoted(db) + " 'PRAGMA user_version'").out, "1\n");
  check("brought up to date");
  EXPECT_EQ(RunShell("sqlite3 " + Quoted(db) + " 'PRAGMA user_version'").out, "2\n");
  EXPECT_EQ(RunShell("sqlite3 " + Quoted(db) + " 'PRAGMA integrity_check'").out, "ok\n");
}

// --follow --history keeps the file as the server writes: rows written, rotated away (the last of
// them into the backup after the rename) and deleted all stay, and the page, replaced whole,
// ends equal to the history's own report.
TEST(HistoryFile, FollowKeepsWhatARotationMovesAway) {
  TempDir dir;
  const fs::path db = dir.Path() / "h.db", page = dir.Path() / "page.json";
  const fs::path live = dir.Path() / "mobius.log", backup = dir.Path() / "mobius-1.log";
  const std::string text = MobiusLog(11, 12);
  std::vector<std::string> lines;
  for (std::size_t at = 0, end; (end = text.find('\n', at)) != std::string::npos; at = end + 1)
    lines.push_back(text.substr(at, end + 1 - at));
  const auto append = [](const fs::path& file, const std::string& line) {
    std::ofstream(file, std::ios::app | std::ios::binary) << line;
  };
  append(live, lines[0]);
  const pid_t child = fork();
  if (child == 0) {
    freopen("/dev/null", "w", stderr);
    execl(QUORVANE_REPORT_BINARY, "quorvane-report", "--follow", "--history", db.c_str(),
          "--format", "json", "--output", page.c_str(), "--every", "1", "--log", live.c_str(),
          static_cast<char*>(nullptr));
    _exit(127);
  }
  // A follow left running would hold the test's output open: it ends with the test, however.
  struct Stop {
    pid_t child;
    ~Stop() {
      if (child > 0 && kill(child, SIGKILL) == 0)
        waitpid(child, nullptr, 0);
    }
  } stop{child};
  const auto waitFor = [&](std::size_t rows) {
    // Until the history holds `rows` transfers, for at most ten seconds.
    for (int tries = 0; tries < 100; ++tries) {
      const std::string count =
          RunShell("sqlite3 " + Quoted(db) + " 'SELECT count(*) FROM transfers' 2>/dev/null").out;
      if (count == std::to_string(rows) + "\n")
        return true;
      usleep(100000);
    }
    return false;
  };
  ASSERT_TRUE(waitFor(1)) << "the first row was not kept";
  for (std::size_t i = 1; i < 5; ++i)
    append(live, lines[i]);
  ASSERT_TRUE(waitFor(5));
  fs::rename(live, backup);
  append(backup, lines[5]);  // written through the old handle after the rename
  append(live, lines[6]);
  ASSERT_TRUE(waitFor(7)) << "rows around the rotation were lost";
  fs::remove(backup);
  for (std::size_t i = 7; i < lines.size(); ++i)
    append(live, lines[i]);
  ASSERT_TRUE(waitFor(lines.size()));
  kill(child, SIGTERM);
  EXPECT_EQ(testing::ExitStatusWithin(child, 10), 0) << "-2: it had not ended after 10 s";
  stop.child = -1;
  const std::string plain = Report("--format json --log " + Quoted(dir.Write("all.log", text))).out;
  EXPECT_EQ(Figures(ReadAll(page)), Figures(plain));
  EXPECT_EQ(Figures(Report("--format json --history " + Quoted(db)).out), Figures(plain));
}

}  // namespace
}  // namespace quorvane
