// Mobius logs: every record kind of both layouts, the journal's prefix, the escapes, the lines
// that are not transfers, the forms of an address, how a file is told to be one, and every form
// of line end read from memory, a file, a gzip file, standard input and a history of them.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <array>
#include <thread>

#include "logs/LogReader.h"
#include "logs/LogSources.h"
#include "logs/ServerLog.h"
#include "support/TempLogs.h"

namespace quorvane {
namespace {

constexpr ServerLineKind D = ServerLineKind::Download, U = ServerLineKind::Upload,
                         O = ServerLineKind::Other, X = ServerLineKind::Unreadable;
const std::string kTime = "2025-03-14T21:07:45-07:00";
const std::string kHead = "time=" + kTime + " level=INFO msg=";
const std::string kLegacyTime = "2024-05-01T12:34:56.789-0700";
std::string Legacy(const std::string& message, const std::string& json) {
  return kLegacyTime + "\tinfo\t" + message + "\t" + json;
}

struct LineCase {
  std::string line;
  ServerLineKind kind;
  std::array<std::string, 5> cells;  // as UTF-8: Date/Time, Address, Account, Name, File Name
};

TEST(ServerLine, ReadsEachRecordKindAndNothingElse) {
  const std::string journal = "Mar 14 21:07:45 host mobius-hotline-server[812]: ";
  const std::vector<LineCase> cases = {
      {kHead + "\"Download file\" remoteAddr=203.0.113.5:51234 login=guest Name=Alice "
               "filePath=\"/srv/Apps/Stuffit 5.5.sit\"",
       D,
       {kTime, "203.0.113.5", "guest", "Alice", "/srv/Apps/Stuffit 5.5.sit"}},
      {journal + kHead +
           "\"Start folder download\" remoteAddr=[2001:db8::5]:51240 login=bob "
           "Name=\"Bob the Builder\" path=/srv/Sounds",
       D,
       {kTime, "2001:db8::5", "bob", "Bob the Builder", "/srv/Sounds"}},
      {kHead + "\"File upload complete\" remoteAddr=198.51.100.7 login=x name=low dstFile=/u/f",
       U,
       {kTime, "198.51.100.7", "x", "low", "/u/f"}},
      // Name wins over name even when empty; no address is an empty one.
      {kHead + "\"Folder upload started\" login=x Name=\"\" name=low dstPath=/u/d extra=1",
       U,
       {kTime, "", "x", "", "/u/d"}},
      // Every escape; an address without a port as written; \x bytes that are not UTF-8 are
      // Mac Roman (the classic clients' text), and a bare value's backslash is a backslash.
      {kHead + "\"Download file\" remoteAddr=[2001:db8::5] login=\"a\\\"b\\\\c\" "
               "Name=\"\\x85d\\x9an\" filePath=\"\\n\\r\\t\\a\\b\\f\\v\\x7f\\u00e9\\U0001F600\"",
       D,
       {kTime, "[2001:db8::5]", "a\"b\\c",
        "\xC3\x96"
        "d\xC3\xB6n",
        "\n\r\t\a\b\f\v\x7F\xC3\xA9\xF0\x9F\x98\x80"}},
      {kHead + "\"Download file\" remoteAddr=::1 login=g Name=C:\\Mac\\Joe filePath=/a\\b",
       D,
       {kTime, "::1", "g", "C:\\Mac\\Joe", "/a\\b"}},
      {kHead + "\"Download file\" remoteAddr=host:port Name=\x8Et\x8E filePath=/a",
       D,
       {kTime, "host:port", "", "\xC3\xA9t\xC3\xA9", "/a"}},
      // The control connection's request, a file inside a folder, other records and other text.
      {kHead + "\"Download file\" ip=203.0.113.5 login=guest Name=Alice", O, {}},
      {kHead + "\"File download started\" remoteAddr=1.2.3.4:5 fileName=beep.aiff", O, {}},
      {kHead + "\"Login successful\" filePath=/a", O, {}},
      {"level=INFO msg=\"Download file\" filePath=/a", O, {}},
      {"panic: runtime error: time=now", O, {}},
      {"\tgoroutine 1 [running]: time=" + kTime, O, {}},
      {"", O, {}},
      // Cannot be read to its end after the path key: unreadable; before it: passed over.
      {kHead + "\"Download file\" filePath=/a Name=\"open", X, {}},
      {kHead + "\"Download file\" filePath=\"/a\\q\"", X, {}},
      {kHead + "\"Download file\" filePath=\"/a\\x4\"", X, {}},
      {kHead + "\"Download file\" filePath=\"/a\\ud800\"", X, {}},
      {kHead + "\"Download file\" filePath=\"/a\"x", X, {}},
      {kHead + "\"Download file\" filePath=/a  Name=x", X, {}},
      {kHead + "\"Download file\" filePath=/a ", X, {}},
      {kHead + "\"Download file\" Name=\"\\q\" filePath=/a", O, {}},
      {kHead + "\"Download file\" Name=\"x filePath=/a", O, {}},
      // The older layout, its four records, its JSON escapes and the journal's prefix.
      {Legacy("File download started",
              "{\"remoteAddr\": \"203.0.113.5:51234\", \"login\": \"guest\", \"name\": "
              "\"Al\\u00e9\\ud83d\\ude00\\ud800\", \"filePath\": \"/A "
              "\\\"B\\\"\\\\\\/\\t\\b\\f\\n\\r\"}"),
       D,
       {kLegacyTime, "203.0.113.5", "guest", "Al\xC3\xA9\xF0\x9F\x98\x80\xEF\xBF\xBD",
        "/A \"B\"\\/\t\b\f\n\r"}},
      {journal + Legacy("Start folder download", "{\"path\": \"/S\", \"n\": [1, {\"a\": null}]}"),
       D,
       {kLegacyTime, "", "", "", "/S"}},
      {Legacy("File upload complete", "{\"login\": 7, \"dstFile\": \"/u\", \"name\": \"\\u0085\"}"),
       U,
       {kLegacyTime, "", "", "\xC2\x85", "/u"}},
      {Legacy("Folder upload started", "{\"dstPath\": \"/d\", \"remoteAddr\": \"[::1]:9\"}"),
       U,
       {kLegacyTime, "::1", "", "", "/d"}},
      {Legacy("File upload started", "{\"dstFile\": \"/u\"}"), O, {}},
      {Legacy("File download started", "{\"fileName\": \"beep.aiff\"}"), O, {}},
      {Legacy("File download started", "{\"filePath\": 3}"), O, {}},
      {Legacy("File download started", "{\"login\": \"g\", \"filePath\": \"/a\", \"x\": "), X, {}},
      {Legacy("File download started", "{\"filePath\": \"/a\"} trailing"), X, {}},
      {Legacy("File download started", "{\"login\": \"g\" \"filePath\": \"/a\"}"), O, {}},
  };
  ServerLineReader reader;
  for (const LineCase& c : cases) {
    LogTableBuilder::Cells cells;
    const ServerLineKind kind = reader.Read(c.line, cells);
    EXPECT_EQ(kind, c.kind) << c.line;
    if (kind != c.kind || (kind != D && kind != U))
      continue;
    const std::array<std::string, 5> got = {std::string(cells.dateTime), std::string(cells.address),
                                            std::string(cells.account), std::string(cells.name),
                                            std::string(cells.fileName)};
    EXPECT_EQ(got, c.cells) << c.line;
  }
}

TEST(ServerLine, TellsWhichLinesAreRecords) {
  const std::vector<std::pair<std::string, std::optional<ServerLayout>>> cases = {
      {kHead + "\"Login successful\" login=x", ServerLayout::KeyValue},
      {"Mar 14 host mobius[1]: " + kHead + "x", ServerLayout::KeyValue},
      {Legacy("Server started", "{}"), ServerLayout::Legacy},
      {"May 01 h mobius[1]: " + Legacy("Server started", "{\"a\": [1.5e3, true]}"),
       ServerLayout::Legacy},
      {"time=2025-13-14T21:07:45Z level=INFO msg=x", std::nullopt},
      {"level=INFO time=" + kTime + " msg=x", std::nullopt},
      {kHead + "x login=\"open", std::nullopt},
      {"a\tb: " + kHead + "x", std::nullopt},
      {Legacy("Server started", "{} x"), std::nullopt},
      {kLegacyTime + "\tINFO\tServer started\t{}", std::nullopt},
      {Legacy("x", std::string(70, '[') + std::string(70, ']')), std::nullopt},
  };
  for (const auto& [line, layout] : cases)
    EXPECT_EQ(ServerRecordLayout(line), layout) << line;
}

// A record among the first 100 non-empty lines makes a server log; blank lines do not count.
TEST(ServerLog, IsToldByOneOfItsFirstHundredLines) {
  const std::string record = kHead + "\"Download file\" Name=n filePath=/f\n";
  for (const auto& [before, blanks, format] : {std::tuple{99, 0, LogFormat::Mobius},
                                               {99, 50, LogFormat::Mobius},
                                               {100, 0, LogFormat::Classic}}) {
    std::string text;
    for (int i = 0; i < before; ++i)
      text += "starting up\n" + std::string(i < blanks ? "\n\r\n" : "");
    text += record + record;
    const AnyReadResult read = ParseAnyLog(text, Expect::Either);
    EXPECT_EQ(read.format, format) << before;
    if (format == LogFormat::Mobius) {
      EXPECT_EQ(read.downloads.RowCount(), 2u);
    }
    const AnyReadResult asked = ParseAnyLog(text, Expect::ServerLog);
    EXPECT_EQ(asked.Ok(), format == LogFormat::Mobius);
  }
  const AnyReadResult classic = ParseAnyLog(record, Expect::Classic);
  ASSERT_FALSE(classic.Ok());
  EXPECT_EQ(classic.error->problem, ReadProblem::IsServerLog);
}

// A line of 64 MiB is taken, a longer one refused by its number.
TEST(ServerLog, RefusesLinesPastTheLimit) {
  std::string endless = kHead + "x\n" + std::string(kMaxLineBytes, 'x');
  EXPECT_TRUE(ParseAnyLog(endless, Expect::ServerLog).Ok());
  endless += "y\n";
  const AnyReadResult refused = ParseAnyLog(endless, Expect::ServerLog);
  ASSERT_FALSE(refused.Ok());
  EXPECT_EQ(refused.error->line, 2u);
}

// A server log written line by line, and what its lines give by the record rules, counted as
// they are written: a line ends at a line feed (or the text's end) and a carriage return right
// before that end is not its own; a bare value runs to the next space or the line's end; JSON
// takes a carriage return for a space. Numbers pick each transfer's form.
struct Written {
  explicit Written(bool olderLayout, std::string at = kTime)
      : legacy(olderLayout), time(std::move(at)) {}

  bool legacy;
  std::string time;
  std::string text;
  std::vector<std::string> rows[2];  // downloads, uploads: "Name|File Name"
  std::vector<std::uint64_t> unreadable;
  std::uint64_t lines = 0;

  void Add(const std::string& line, const std::string& end) {
    text += line + end;
    ++lines;
  }
  void Transfer(int k, const std::string& end) {
    const bool upload = k % 4 == 1, loneCr = k % 5 == 2;
    const std::string prefix = k % 3 ? "" : "Mar 14 21:07:45 host mobius-hotline-server[812]: ";
    const std::string n = std::to_string(k), name = (loneCr && !legacy ? "n\r" : "n") + n;
    std::string file = "/f" + n;
    if (legacy) {
      Add(prefix + Legacy(upload ? "File upload complete" : "File download started",
                          "{\"name\": \"" + name + "\"," + (loneCr ? "\r\"" : " \"") +
                              (upload ? "dstFile" : "filePath") + "\": \"" + file + "\"}"),
          end);
    } else {
      Add(prefix + "time=" + time + " level=INFO msg=" +
              (upload ? "\"File upload complete\" Name=" : "\"Download file\" Name=") + name +
              (upload ? " dstFile=" : " filePath=") + file,
          end);
      // The line holds its end's bytes but the line feed and one carriage return before it.
      file += end.substr(0, end.size() - (end.ends_with("\r\n") ? 2 : end.empty() ? 0 : 1));
    }
    rows[upload].push_back(name + "|" + file);
  }
  // Transfers from `k` on, with blank lines, other traffic and unreadable transfers between.
  void Block(int k, int count) {
    static const std::string kEnds[] = {"\n", "\r\n", "\r\r\n"};
    for (int last = k + count; k < last; ++k) {
      Transfer(k, kEnds[k % 3]);
      if (k % 7 == 3) {
        Add("", "\n");
        Add("", "\r\n");
      }
      if (k % 2)
        Add(legacy ? Legacy("Login successful", "{}") : kHead + "\"Logged in\" login=g", "\n");
      if (k % 11 == 6) {
        Add(legacy ? Legacy("File download started", "{\"filePath\": \"/x\", \"name\": ")
                   : kHead + "\"Download file\" filePath=/x Name=\"open",
            kEnds[k % 2]);
        unreadable.push_back(lines);
      }
    }
  }
};

std::string Difference(const LogTable& table, const std::vector<std::string>& rows) {
  for (std::size_t row = 0; row < std::max(table.RowCount(), rows.size()); ++row) {
    const std::string read = row < table.RowCount() ? table.CellText(row, Column::Name) + "|" +
                                                          table.CellText(row, Column::FileName)
                                                    : "nothing";
    if (read != (row < rows.size() ? rows[row] : "nothing"))
      return "row " + std::to_string(row) + " reads " + read;
  }
  return "";
}

// The reads' rows and unreadable lines against the writer's.
void ExpectWritten(const AnyReadResult& read, const Written& log, const std::string& how) {
  ASSERT_TRUE(read.Ok()) << how << ": " << read.error->reason;
  EXPECT_EQ(read.format, log.legacy ? LogFormat::MobiusLegacy : LogFormat::Mobius) << how;
  EXPECT_EQ(Difference(read.downloads, log.rows[0]), "") << how;
  EXPECT_EQ(Difference(read.uploads, log.rows[1]), "") << how;
  EXPECT_TRUE(read.unreadableLines == log.unreadable)
      << how << ": " << read.unreadableLines.size() << " unreadable lines, not "
      << log.unreadable.size();
}

// Runs `read` with a pipe as standard input that `text` is written into.
template <typename Read>
auto ThroughStandardInput(const std::string& text, Read read) {
  signal(SIGPIPE, SIG_IGN);  // a read that stops early leaves the writer with an error
  int fds[2];
  EXPECT_EQ(pipe(fds), 0);
  std::thread writer([&] {
    for (std::size_t at = 0; at < text.size();) {
      const ssize_t put = write(fds[1], text.data() + at, text.size() - at);
      if (put <= 0)
        break;
      at += static_cast<std::size_t>(put);
    }
    close(fds[1]);
  });
  const int saved = dup(0);
  dup2(fds[0], 0);
  close(fds[0]);
  auto result = read();
  dup2(saved, 0);
  close(saved);
  writer.join();
  return result;
}

// A file's reads are 128 KiB; past 8 MiB its transfer lines are read on a second thread.
constexpr std::size_t kRead = std::size_t{128} << 10, kRelayAfter = std::size_t{8} << 20;

TEST(ServerLog, ReadsEveryLineEndAsWrittenFromEverySource) {
  const std::pair<std::string, std::string> ends[] = {
      {"no", ""}, {"CR", "\r"}, {"LF", "\n"}, {"CRLF", "\r\n"}};
  std::vector<std::pair<std::string, Written>> logs;
  for (bool legacy : {false, true}) {
    // The last line with and without its end.
    for (const auto& [name, end] : ends) {
      Written log(legacy);
      log.Block(0, 40);
      log.Transfer(41, end);
      logs.emplace_back("last line end " + name, log);
    }
    // A line end's last byte at the first read's last byte or around it: CR and LF apart.
    for (int shift = -2; shift <= 2; ++shift) {
      for (const auto& [name, end] : {ends[2], ends[3]}) {
        Written log(legacy, "2025-03-17T10:00:00Z"), probe = log;
        log.Transfer(0, "\n");
        log.Transfer(1, "\n");
        probe.Transfer(2, end);
        log.Add(std::string(kRead + shift - log.text.size() - probe.text.size(), 'x'), "\n");
        log.Transfer(2, end);
        log.Block(3, 30);
        logs.emplace_back(name + " split " + std::to_string(shift), log);
      }
    }
    Written big(legacy, "2025-03-20T10:00:00Z");
    for (int k = 0; big.text.size() < kRelayAfter + kRead * 8; k += 50)
      big.Block(k, 50);
    logs.emplace_back("past the relay", big);
  }
  testing::TempDir dir;
  for (const auto& [what, log] : logs) {
    const std::string how = what + (log.legacy ? " legacy" : "");
    ExpectWritten(ParseAnyLog(log.text, Expect::Either), log, how + " in memory");
    ExpectWritten(ReadAnyLog({dir.Write("log", log.text), false}, Expect::Either), log, how);
    ExpectWritten(
        ReadAnyLog({dir.Write("log.gz", testing::Gzip(log.text, 1)), false}, Expect::Either), log,
        how + " gzip");
    ExpectWritten(ThroughStandardInput(log.text,
                                       [] {
                                         return ReadAnyLog({{}, true}, Expect::ServerLog);
                                       }),
                  log, how + " standard input");
  }

  // Five in one history, each file's rows by its first date: the older layout, then the newer by
  // date whatever the order given. The last file is the one before it cut between CR and LF:
  // its three transfers, read within the longer file's read, are left out of that one's.
  const auto log = [&](const std::string& what, bool legacy) -> const Written& {
    return std::find_if(logs.begin(), logs.end(),
                        [&](const auto& named) {
                          return named.first == what && named.second.legacy == legacy;
                        })
        ->second;
  };
  const Written* const given[] = {&log("last line end no", false), &log("last line end CR", true),
                                  &log("past the relay", false), &log("CRLF split 0", false)};
  const std::vector<LogSource> sources = {
      {{dir.Write("a", given[0]->text), false}, SourceRole::ServerLog},
      {{dir.Write("b.gz", testing::Gzip(given[1]->text)), false}, SourceRole::ServerLog},
      {{{}, true}, SourceRole::DownloadOrServerLog},
      {{dir.Write("d", given[3]->text), false}, SourceRole::UploadOrServerLog},
      {{dir.Write("e", given[3]->text.substr(0, kRead)), false}, SourceRole::ServerLog}};
  const SourcesResult history =
      ThroughStandardInput(given[2]->text, [&] { return LoadSources(sources); });
  ASSERT_TRUE(history.Ok()) << history.failure->Describe();
  for (std::size_t table = 0; table < 2; ++table) {
    std::vector<std::string> rows;
    for (std::size_t i : {1, 0, 3, 2})
      rows.insert(rows.end(), given[i]->rows[table].begin(), given[i]->rows[table].end());
    EXPECT_EQ(Difference(table ? history.logs->uploads : history.logs->downloads, rows), "");
  }
  for (std::size_t i = 0; i < 4; ++i)
    EXPECT_TRUE(history.sources[i].unreadableLines == given[i]->unreadable) << "file " << i;
  EXPECT_EQ(std::tuple(history.sources[3].overlapLeftOut, history.sources[4].downloads,
                       history.sources[4].uploads),
            std::tuple(3u, 2u, 1u));
}

}  // namespace
}  // namespace quorvane
