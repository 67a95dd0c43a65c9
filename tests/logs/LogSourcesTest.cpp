// Several files as one history: the parts' order, the overlap left out, compressed files, and
// tables joined from files of different encodings.
#include <gtest/gtest.h>

#include <random>

#include "logs/LogSources.h"
#include "support/TempLogs.h"

namespace quorvane {
namespace {

using testing::Gzip;
using testing::TempDir;

// The overlap against the plain definition: the longest k with part[0, k) == taken's last k.
TEST(Overlap, IsTheLongestStartThatEndsTheRowsTaken) {
  std::mt19937 random(15);
  for (int round = 0; round < 3000; ++round) {
    std::vector<int> part(random() % 9), taken(random() % 9);
    const int letters = 1 + static_cast<int>(random() % 3);
    for (std::vector<int>* rows : {&part, &taken}) {
      for (int& row : *rows)
        row = static_cast<int>(random()) % letters;
    }
    std::size_t expected = 0;
    for (std::size_t k = 1; k <= std::min(part.size(), taken.size()); ++k) {
      if (std::equal(part.begin(), part.begin() + static_cast<std::ptrdiff_t>(k),
                     taken.end() - static_cast<std::ptrdiff_t>(k)))
        expected = k;
    }
    const std::size_t m = std::min(part.size(), taken.size());
    const std::size_t got = OverlapLength(
        part.size(), taken.size(), [&](std::size_t i, std::size_t j) { return part[i] == part[j]; },
        [&](std::size_t i, std::size_t j) { return part[i] == taken[taken.size() - m + j]; });
    ASSERT_EQ(got, expected) << round;
  }
}

std::string Record(int n, bool upload = false, const std::string& day = "2025-03-14") {
  return "time=" + day + "T10:00:" + (n < 10 ? "0" : "") + std::to_string(n) +
         "+01:00 level=INFO msg=" +
         (upload ? "\"File upload complete\" dstFile=/u" : "\"Download file\" filePath=/d") +
         std::to_string(n) + " remoteAddr=10.0.0.1:5 login=g Name=n\n";
}

std::string Records(std::initializer_list<int> numbers, const std::string& day = "2025-03-14") {
  std::string text = "time=2025-01-01T00:00:00Z level=INFO msg=Started\n";
  for (int n : numbers) {
    text += Record(n, false, day);
    if (n % 2)
      text += Record(n, true, day);
  }
  return text;
}

// The download table's File Names, joined with spaces.
std::string Files(const LogTable& table) {
  std::string files;
  for (std::size_t row = 0; row < table.RowCount(); ++row) {
    if (row != 0)
      files += ' ';
    files += table.CellText(row, Column::FileName);
  }
  return files;
}

struct HistoryCase {
  const char* what;
  std::vector<std::string> logs;  // server logs, in the order given
  std::string downloads;
  std::vector<std::size_t> overlaps;
};

TEST(History, OrdersThePartsAndCountsRepeatedRowsOnce) {
  const std::vector<HistoryCase> cases = {
      {"a copy made in June after one made in March",
       {Records({1, 2, 3, 4, 5}), Records({1, 2, 3})},
       "/d1 /d2 /d3 /d4 /d5",
       {3 + 2, 0}},
      {"rotated files given newest first",
       {Records({4, 5}), Records({1, 2, 3})},
       "/d1 /d2 /d3 /d4 /d5",
       {0, 0}},
      {"a part repeating only the end taken",
       {Records({1, 2, 3}), Records({3, 9})},
       "/d1 /d2 /d3 /d9",
       {0, 1 + 1}},
      {"a later part repeating rows further back keeps them",
       {Records({1, 2, 3}), Records({2, 7})},
       "/d1 /d2 /d3 /d2 /d7",
       {0, 0}},
      {"equal rows inside one file, the shorter file first on a tie",
       {Records({1, 1, 1}), Records({1, 1})},
       "/d1 /d1 /d1",
       {2 + 2, 0}},
      {"an undated file after the dated ones",
       {Records({8}, "undated"), Records({1})},
       "/d1 /d8",
       {0, 0}},
      {"a file with no transfers at all",
       {"no records here\n" + Records({}), Records({2})},
       "/d2",
       {0, 0}},
  };
  for (const HistoryCase& c : cases) {
    TempDir dir;
    std::vector<LogSource> sources;
    for (std::size_t i = 0; i < c.logs.size(); ++i)
      sources.push_back({{dir.Write("log" + std::to_string(i), c.logs[i]), false},
                         i % 2 ? SourceRole::ServerLog : SourceRole::DownloadOrServerLog});
    SourcesOptions options;
    options.kept.account = false;  // the overlap still compares every cell
    const SourcesResult result = LoadSources(sources, options);
    ASSERT_TRUE(result.Ok()) << c.what << ": " << result.failure->Describe();
    EXPECT_EQ(Files(result.logs->downloads), c.downloads) << c.what;
    std::size_t downloads = 0, uploads = 0;
    for (std::size_t i = 0; i < c.logs.size(); ++i) {
      EXPECT_EQ(result.sources[i].overlapLeftOut, c.overlaps[i]) << c.what << " file " << i;
      downloads += result.sources[i].downloads;
      uploads += result.sources[i].uploads;
    }
    EXPECT_EQ(downloads, result.logs->downloads.RowCount()) << c.what;
    EXPECT_EQ(uploads, result.logs->uploads.RowCount()) << c.what;
    EXPECT_FALSE(result.logs->downloads.HasDates() && result.logs->downloads.RowCount() != 0)
        << "dates were not asked for";
  }
}

void ExpectSameLoads(const SourcesResult& shared, const SourcesResult& plain, int round) {
  for (std::size_t i = 0; i < plain.sources.size(); ++i) {
    const SourceInfo &a = shared.sources[i], &b = plain.sources[i];
    EXPECT_EQ(std::tie(a.format, a.compressed, a.downloads, a.uploads, a.overlapLeftOut,
                       a.unreadableLines),
              std::tie(b.format, b.compressed, b.downloads, b.uploads, b.overlapLeftOut,
                       b.unreadableLines))
        << round << " file " << i;
  }
  for (auto table : {&LogPair::downloads, &LogPair::uploads}) {
    const LogTable &a = *shared.logs.*table, &b = *plain.logs.*table;
    ASSERT_EQ(std::tuple(a.RowCount(), a.HasDates(), a.TextEncoding()),
              std::tuple(b.RowCount(), b.HasDates(), b.TextEncoding()))
        << round;
    for (std::size_t row = 0; row < a.RowCount(); ++row) {
      EXPECT_EQ(std::tuple(a.Date(row), a.NameId(row), a.AddressId(row)),
                std::tuple(b.Date(row), b.NameId(row), b.AddressId(row)))
          << round;
      for (int c = 0; c < kColumnCount; ++c)
        EXPECT_EQ(a.CellText(row, Column(c)), b.CellText(row, Column(c))) << round;
    }
  }
}

// Files whose text starts another's are read within the longer read; the oracle reads each.
TEST(History, ReadingSharedStartsOnceChangesNothing) {
  std::mt19937 random(19);
  const auto pick = [&](std::size_t n) { return static_cast<std::size_t>(random() % n); };
  const char* days[] = {"2025-03-14", "2025-03-15", "3/4/2025", "13/4/2025", "undated"};
  for (int round = 0; round < 120; ++round) {
    // A growing log: transfers, other records, broken transfers, dates of either order.
    // Some start with a long line, so that files differ only past the first 64 KiB.
    std::string log = (round % 4 ? "" : "x=" + std::string(70000, 'a') + "\n") + Records({});
    std::vector<std::size_t> ends = {log.size()};
    for (int n = 0; n < 30; ++n) {
      log += pick(8) == 0
                 ? "time=1 level=INFO msg=\"Download file\" filePath=/x Name=\"o\n"
                 : Record(static_cast<int>(pick(9)), pick(2), days[pick(round % 2 ? 5 : 2)]);
      ends.push_back(log.size());
    }
    TempDir dir;
    std::vector<LogSource> sources;
    for (std::size_t f = 0, files = 2 + pick(3); f < files; ++f) {
      const std::size_t from = pick(4) == 0 ? ends[pick(ends.size())] : 0;  // rotated
      std::size_t to = std::max(from, ends[pick(ends.size())]);
      to = pick(6) == 0 && to > from ? to - 1 : pick(4) == 0 ? log.size() : to;  // no line end
      std::string text = pick(9) == 0 ? testing::LogText({{"1/1/2025", "a", "b", "c", "d"}})
                                      : log.substr(from, to - from);
      if (pick(5) == 0)  // a copy that parts from the others
        text.insert(std::min(text.size(), ends[pick(ends.size())]), Record(8, true));
      sources.push_back({{dir.Write("log" + std::to_string(f), text), false},
                         static_cast<SourceRole>(2 + pick(3))});
    }
    SourcesOptions options;
    options.kept.fileName = pick(2);
    options.dates = pick(2) ? std::optional<DateOrder>() : DateOrder::Detect;
    const SourcesResult shared = LoadSources(sources, options);
    options.readPrefixesOnce = false;
    const SourcesResult plain = LoadSources(sources, options);
    ASSERT_EQ(shared.Ok(), plain.Ok()) << round;
    if (!plain.Ok()) {
      EXPECT_EQ(shared.failure->Describe(), plain.failure->Describe());
      continue;
    }
    ExpectSameLoads(shared, plain, round);
  }
}

// Past its first megabytes a log's transfer lines are read on a second thread, within a shared
// read too; the oracle parses the text in one piece, on one thread.
TEST(History, ABigLogReadsAsItsTextParses) {
  std::string log = Records({});
  std::vector<std::size_t> ends;
  for (int n = 0; log.size() < (std::size_t{10} << 20); ++n) {
    log += n % 9 == 0   ? "time=1 level=INFO msg=\"Download file\" filePath=/x Name=\"o\n"
           : n % 5 == 0 ? "time=1 level=INFO msg=\"Logged in\" login=g\n"
                        : Record(n % 60, n % 3 == 0, n % 7 ? "2025-03-14" : "undated");
    ends.push_back(log.size());
  }
  TempDir dir;
  const std::vector<LogSource> sources = {
      {{dir.Write("old", log.substr(0, ends[ends.size() * 9 / 10])), false}, SourceRole::ServerLog},
      {{dir.Write("new", log), false}, SourceRole::ServerLog}};
  SourcesOptions options;
  options.dates = DateOrder::Detect;
  const SourcesResult shared = LoadSources(sources, options);
  options.readPrefixesOnce = false;
  const SourcesResult plain = LoadSources(sources, options);
  ASSERT_TRUE(shared.Ok() && plain.Ok());
  ExpectSameLoads(shared, plain, 0);

  ReadOptions read;
  read.dates = DateOrder::Detect;
  AnyReadResult whole = ParseAnyLog(log, Expect::ServerLog, read);
  ASSERT_TRUE(whole.Ok());
  EXPECT_EQ(plain.sources[1].unreadableLines, whole.unreadableLines);
  EXPECT_GT(whole.unreadableLines.back(), 90000u);
  SourcesResult parsed;
  parsed.logs = LogPair{std::move(whole.downloads), std::move(whole.uploads)};
  parsed.sources = shared.sources;
  ExpectSameLoads(parsed, plain, 1);
}

// A compressed file reads as its text, whatever its role; a damaged or cut one names the file.
TEST(History, ReadsGzipFilesAndRefusesBrokenOnes) {
  TempDir dir;
  const std::string classic =
      testing::LogText({{"1/2/2025", "1.1.1.1", "g", "caf\xE9", "f\xE9"}});  // Windows-1252
  const std::string gz = Gzip(Records({1, 2, 3}));
  const std::vector<LogSource> sources = {
      {{dir.Write("a.gz", gz + Gzip(Records({4}))), false}, SourceRole::ServerLog},
      {{dir.Write("b", Gzip(classic)), false}, SourceRole::Download},
      {{dir.Write("c", testing::LogText({{"1/1/2025", "1.1.1.1", "g", "caf\xC3\xA9", "x"}})),
        false},
       SourceRole::Download}};
  EXPECT_EQ(ProbeLog(sources[0].input)->format, LogFormat::Mobius);
  EXPECT_EQ(ProbeLog(sources[1].input)->format, LogFormat::Classic);
  EXPECT_EQ(ProbeLog({dir.Path() / "missing", false}), std::nullopt);
  EXPECT_TRUE(ProbeLog({dir.Write("none.gz", Gzip("")), false})->empty);
  EXPECT_FALSE(ProbeLog(sources[1].input)->empty);
  const SourcesResult result = LoadSources(sources);
  ASSERT_TRUE(result.Ok()) << result.failure->Describe();
  EXPECT_TRUE(result.sources[0].compressed && result.sources[1].compressed);
  EXPECT_FALSE(result.sources[2].compressed);
  EXPECT_EQ(result.sources[1].FormatName(), "classic-download");
  const LogTable& downloads = result.logs->downloads;
  EXPECT_EQ(Files(downloads), "x f\xC3\xA9 /d1 /d2 /d3 /d4");
  // Both spellings of the name are one user once the Windows-1252 file is made UTF-8.
  EXPECT_EQ(downloads.NameId(0), downloads.NameId(1));
  EXPECT_EQ(downloads.Name(1), "caf\xC3\xA9");

  for (const auto& [bytes, reason] :
       {std::pair{gz.substr(0, gz.size() - 5), "ends early"},
        std::pair{gz.substr(0, 12) + std::string(40, '\x55') + gz.substr(52), "damaged"},
        std::pair{gz + "junk", "damaged"}}) {
    const SourcesResult broken =
        LoadSources({sources[2], {{dir.Write("broken.gz", bytes), false}, SourceRole::ServerLog}});
    ASSERT_FALSE(broken.Ok());
    EXPECT_EQ(broken.failure->source, 1u);
    EXPECT_NE(broken.failure->Describe().find("broken.gz: the compressed file"), std::string::npos);
    EXPECT_NE(broken.failure->Describe().find(reason), std::string::npos) << reason;
  }
  // A bomb: the limits hold for the unpacked text.
  const SourcesResult bomb =
      LoadSources({{{dir.Write("bomb", Gzip(std::string(kMaxLineBytes + 2, 'a'), 9)), false},
                    SourceRole::DownloadOrServerLog}});
  ASSERT_FALSE(bomb.Ok());
  EXPECT_NE(bomb.failure->error.reason.find("64 MiB"), std::string::npos);
}

}  // namespace
}  // namespace quorvane
