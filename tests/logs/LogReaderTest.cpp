#include <gtest/gtest.h>

#include <atomic>
#include <iterator>
#include <stdexcept>
#include <thread>
#include <unordered_map>

#include "logs/LogLoader.h"
#include "logs/LogReader.h"
#include "logs/LogSources.h"
#include "logs/SharedWork.h"
#include "logs/TextEncoding.h"
#include "support/TempLogs.h"

namespace quorvane {
namespace {

ReadOptions Encoded(EncodingChoice encoding) {
  ReadOptions options;
  options.encoding = encoding;
  return options;
}

using testing::TempDir;

// The table's cells as text, '|' between cells and ';' after each row.
std::string Cells(const LogTable& table) {
  std::string cells;
  for (std::size_t r = 0; r < table.RowCount(); ++r) {
    for (int c = 0; c < kColumnCount; ++c)
      cells += table.CellText(r, Column(c)) + (c + 1 < kColumnCount ? "|" : ";");
  }
  return cells;
}

const std::string kHeader = "Date/Time\tAddress\tAccount\tName\tFile Name";

struct GoodCase {
  const char* label;
  std::string bytes;
  std::string expected;
  EncodingChoice encoding = EncodingChoice::Auto;
};

const std::string kA = "d1\ta1\tc1\tn1\tf1";
const std::string kB = "d2\ta2\tc2\tn2\tf2";
const std::string kRowA = "d1|a1|c1|n1|f1;";
const std::string kRowB = "d2|a2|c2|n2|f2;";

// Line ends, fields and encodings.
TEST(ReaderAccepts, YieldsTheseRows) {
  const GoodCase cases[] = {
      {"HeaderOnly", kHeader + "\r\n", ""},
      {"CrLf", kHeader + "\r\n" + kA + "\r\n" + kB + "\r\n", kRowA + kRowB},
      {"CrOnly", kHeader + "\r" + kA + "\r" + kB + "\r", kRowA + kRowB},
      {"LfOnly", kHeader + "\n" + kA + "\n" + kB + "\n", kRowA + kRowB},
      {"LastLineWithoutEnd", kHeader + "\r\n" + kA + "\r\n" + kB, kRowA + kRowB},
      // Lines read many bytes at a time: tabs, a line end and a code page's byte far in, the
      // last line's end not among the bytes.
      {"LongLines",
       kHeader + "\r\n" + std::string(40, 'd') + "\ta\tc\tn\tf\r\n" + std::string(40, 'd') +
           "\ta\tc\tM\xFC" + std::string(30, 'x') + "\tf",
       std::string(40, 'd') + "|a|c|n|f;" + std::string(40, 'd') + "|a|c|M\xC3\xBC" +
           std::string(30, 'x') + "|f;"},
      // The first line end decides: a file that starts with CR LF treats a bare LF as data, one
      // that starts with a bare LF a CR that is not before an LF.
      {"BareLfIsDataInCrFile", kHeader + "\r\nd1\ta\nb\tc1\tn1\tf1\r\n", "d1|a\nb|c1|n1|f1;"},
      {"LoneCrIsDataInLfFile", kHeader + "\nd1\ta\rb\tc1\tn1\tf1\r\n" + kB + "\n",
       "d1|a\rb|c1|n1|f1;" + kRowB},
      // Nothing behind it counts, not even a line that could not be read.
      {"EmptyLineEndsData",
       kHeader + "\r\n" + kA + "\r\n\r\n" + kB + "\r\n" + kB + "\r\n" + kB + "\r\n" + kB +
           "\r\nx\r\n",
       kRowA},
      {"ExtraFieldsIgnored", kHeader + "\r\n" + kA + "\tx\ty\r\n", kRowA},
      {"EmptyCellsAndBlanksKept", kHeader + "\r\n d1 \t\tc1\tn1 \t\r\n", " d1 ||c1|n1 |;"},
      {"Windows1252Decoded", kHeader + "\r\nd\ta\tc\tM\xFCller \x80\x81\tf\r\n",
       "d|a|c|M\xC3\xBCller \xE2\x82\xAC\xC2\x81|f;"},
      // Only the data decides: bytes after the empty line are never read.
      {"Utf8UpToTheEmptyLine", kHeader + "\r\nd\ta\tc\tM\xC3\xBCller\tf\r\n\r\n\xFC\r\n",
       "d|a|c|M\xC3\xBCller|f;"},
      // Classic Mac OS servers: lines end in CR alone, text in Mac Roman.
      {"MacRomanWithBareCr", kHeader + "\rd\ta\tc\tM\x9Fller \xDB\tf\r",
       "d|a|c|M\xC3\xBCller \xE2\x82\xAC|f;"},
      {"ForcedMacRoman", kHeader + "\r\nd\ta\tc\tM\x9Fller\tf\r\n", "d|a|c|M\xC3\xBCller|f;",
       EncodingChoice::MacRoman}};
  for (const GoodCase& c : cases) {
    ReadResult result = ParseLog(c.bytes, Encoded(c.encoding));
    ASSERT_TRUE(result.Ok()) << c.label << ": line " << result.error.line << ": "
                             << result.error.reason;
    EXPECT_EQ(Cells(*result.table), c.expected) << c.label;
  }
}

struct BadCase {
  const char* label;
  std::string bytes;
  std::uint64_t line;
  const char* reasonPart;
  EncodingChoice encoding = EncodingChoice::Auto;
};

TEST(ReaderRejects, WithLineAndReason) {
  const BadCase cases[] = {
      {"ZeroBytes", "", 1, "no header"},
      {"FirstLineEmpty", "\r\n" + kHeader + "\r\n", 1, "no header"},
      {"FirstLineEmptyLf", "\n" + kHeader + "\n", 1, "no header"},
      {"ShortHeader", "a\tb\tc\r\n" + kA + "\r\n", 1, "has 3 fields"},
      {"ShortRecord", kHeader + "\r\n" + kA + "\r\nd\ta\tc\tn\r\n", 3, "has 4 fields"},
      {"BlanksOnlyIsNotEmpty", kHeader + "\r\n   \r\n", 2, "has 1 field;"},
      {"ShortLfRecord", kHeader + "\n" + kA + "\n" + kB + "\nx\ty\n", 4, "has 2 fields"},
      {"ForcedUtf8InvalidBeforeShort", kHeader + "\n" + kA + "\nd\ta\tc\tM\xFCller\tf\nx\n", 3,
       "not valid UTF-8", EncodingChoice::Utf8}};
  for (const BadCase& c : cases) {
    ReadResult result = ParseLog(c.bytes, Encoded(c.encoding));
    ASSERT_FALSE(result.Ok()) << c.label;
    EXPECT_EQ(result.error.line, c.line) << c.label;
    EXPECT_NE(result.error.reason.find(c.reasonPart), std::string::npos) << result.error.reason;
  }
}

// A line of exactly the longest length is read; one byte more is refused by its number.
TEST(ReaderRejects, LinesPastTheLongestLength) {
  std::string text = kHeader;
  text.append("\r\nd\ta\tc\tn\t").append(kMaxLineBytes - 8, 'x').append("\r\n");
  const ReadResult at = ParseLog(text);
  ASSERT_TRUE(at.Ok()) << at.error.reason;
  EXPECT_EQ(at.table->CellText(0, Column::FileName).size(), kMaxLineBytes - 8);
  text.pop_back();
  text.back() = 'x';
  text.append("\r\n");
  const ReadResult over = ParseLog(text);
  ASSERT_FALSE(over.Ok());
  EXPECT_EQ(over.error.line, 2u);
}

// A log long enough to be read in several pieces, with lines across their boundaries.
std::string ManyRows(std::size_t rows) {
  std::string text = kHeader + "\r\n";
  for (std::size_t i = 0; i < rows; ++i) {
    text +=
        "d\t10.0.0." + std::to_string(i % 250) + "\tc\tuser" + std::to_string(i % 1000) + "\tf\r\n";
  }
  return text;
}

// A log whose second half brings more new addresses than a second core is worth (read in two
// pieces, the rest's are joined on it), some of them the first half's: every row keeps its own
// address, and one text keeps one id whichever piece brought it. Its Date/Time cells, in both
// pieces, are plain and odd ones, dates that the file's order (day first, by most rows) dates or
// leaves undated: each reads as written.
TEST(ReaderJoinsPieces, ManyAddressesAndDatesInTheSecondHalf) {
  TempDir dir;
  constexpr std::size_t kHalf = 80000;
  std::string text = kHeader + "\r\n";
  std::vector<std::string> addresses, dates;
  std::vector<Timestamp> expected;
  char cell[32];
  for (std::size_t row = 0; row < 2 * kHalf; ++row) {
    const std::size_t j = row % kHalf;
    addresses.emplace_back(1, row < kHalf || j % 4 == 0 ? 'h' : 'r');
    addresses.back() += std::to_string(j);
    const int a = static_cast<int>(j % 12) + 1, b = static_cast<int>(j % 16) + 13;
    const int h = static_cast<int>(j % 24), m = static_cast<int>(j % 60);
    Timestamp date = kUndated;
    if (row % 4 == 0 || row % 4 == 1) {  // day first, or either
      const int day = row % 4 == 0 ? b : a;
      std::snprintf(cell, sizeof cell, "%02d/%02d/2026 %02d:%02d:%02d", day, a, h, m, 59 - m);
      date = FromCivil(2026, a, day, h, m, 59 - m);
    } else if (row % 8 == 2) {  // month first only: left undated
      std::snprintf(cell, sizeof cell, "%02d/%02d/2026 %02d:%02d:%02d", a, b, h, m, m);
    } else {
      // The last four are dated as a plain cell is, and of its length, but not written so.
      const char* const odd[] = {
          "2026-01-01 00:00:00", "3/4/2026 9:07 PM",    "soon",
          "01/02/2026 1:02:03",  " 1/02/2026 01:02:03", "01/02/2026  1:02:03",
          "01/02/2026T01:02:03"};
      constexpr std::size_t kOdd = std::size(odd);
      std::snprintf(cell, sizeof cell, "%s", odd[j % kOdd]);
      const Timestamp plain = FromCivil(2026, 2, 1, 1, 2, 3);
      const Timestamp odds[kOdd] = {FromCivil(2026, 1, 1),
                                    FromCivil(2026, 4, 3, 21, 7),
                                    kUndated,
                                    plain,
                                    plain,
                                    plain,
                                    plain};
      date = odds[j % kOdd];
    }
    dates.emplace_back(cell);
    expected.push_back(date);
    text += dates.back() + "\t" + addresses.back() + "\tacct" + std::to_string(row % 5) + "\tuser" +
            std::to_string(j % 97) + "\tfile" + std::to_string(row % 501) + "\r\n";
  }
  ReadOptions options;
  options.dates = DateOrder::Detect;
  const ReadResult read = ReadLogFile(dir.Write("big.txt", text), options);
  ASSERT_TRUE(read.Ok()) << read.error.reason;
  const LogTable& table = *read.table;
  ASSERT_EQ(table.RowCount(), addresses.size());
  std::unordered_map<std::string, std::uint32_t> idOf;
  for (std::size_t row = 0; row < addresses.size(); ++row) {
    ASSERT_EQ(table.Address(row), addresses[row]) << "row " << row;
    const auto [known, added] = idOf.try_emplace(addresses[row], table.AddressId(row));
    ASSERT_EQ(known->second, table.AddressId(row)) << addresses[row] << " has two ids";
    ASSERT_EQ(table.FileNameBytes(row), "file" + std::to_string(row % 501)) << "row " << row;
    ASSERT_EQ(table.Name(row), "user" + std::to_string(row % kHalf % 97)) << "row " << row;
    ASSERT_EQ(table.CellBytes(row, Column::Account), "acct" + std::to_string(row % 5)) << row;
    ASSERT_EQ(table.CellBytes(row, Column::DateTime), dates[row]) << "row " << row;
    ASSERT_EQ(table.Date(row), expected[row]) << dates[row];
  }
  EXPECT_EQ(table.AddressIdCount(), idOf.size());
}

// Both logs read at once, in many pieces: every row there, each log's progress rising to its size,
// told on the calling thread only.
TEST(LoadLogPair, ReadsManyRowsAndReportsBothLogsProgressOnTheCallingThread) {
  TempDir dir;
  const std::size_t rows = 200000;
  const std::string text = ManyRows(rows);
  const auto caller = std::this_thread::get_id();
  bool elsewhere = false;
  std::vector<std::uint64_t> done[2];
  const auto record = [&](int log) {
    return [&, log](std::uint64_t bytes, std::uint64_t total) {
      elsewhere = elsewhere || std::this_thread::get_id() != caller || total != text.size();
      done[log].push_back(bytes);
    };
  };
  const LoadResult loaded = LoadLogPair(dir.Write("d.txt", text), dir.Write("u.txt", text), [&] {
    LoadOptions options;
    options.downloadProgress = record(0);
    options.uploadProgress = record(1);
    return options;
  }());
  ASSERT_TRUE(loaded.Ok());
  EXPECT_FALSE(elsewhere);
  EXPECT_GT(done[0].size(), 1u) << "the download log is read on this thread, told as it goes";
  for (const auto& calls : done) {
    ASSERT_FALSE(calls.empty());
    EXPECT_TRUE(std::is_sorted(calls.begin(), calls.end()));
    EXPECT_EQ(calls.back(), text.size());
  }
  const LogTable& table = loaded.logs->uploads;
  ASSERT_EQ(table.RowCount(), rows);
  EXPECT_EQ(table.CellText(rows - 1, Column::Address) + std::string(table.Name(rows - 1)),
            "10.0.0.249user999");
  EXPECT_EQ(table.AddressIdCount(), 250u);
}

// A pair loaded on two threads, whose longer log the load reads in two pieces (once the tests
// lower the size that takes), the first piece its share of all the bytes: the rows are those
// written, whichever log is the longer; a failing line is named by its number in either piece;
// an empty line in either piece ends the data there.
TEST(ReaderPiecesOfAPair, GiveTheRowsWrittenAndTheLineThatFails) {
  struct Case {
    const char* label;
    std::size_t downloads, uploads;
    std::size_t badLine = 0;    // a line of 2 fields instead of this one (1 is the header)
    std::size_t emptyLine = 0;  // an empty line instead of this one
  };
  const Case cases[] = {
      {"LongerDownloadLog", 30000, 6000},  {"LongerUploadLog", 5000, 40000},
      {"EqualLogs", 20000, 20000},         {"DownloadLogAlone", 30000, 0},
      {"FailsEarly", 30000, 6000, 4000},   {"FailsLate", 30000, 6000, 29000},
      {"EndsEarly", 30000, 6000, 0, 3000}, {"EndsLate", 30000, 6000, 0, 28000},
  };
  for (const Case& c : cases) {
    TempDir dir;
    const auto log = [&](std::size_t rows, char kind, std::size_t bad, std::size_t empty) {
      std::string text = kHeader + "\r\n";
      for (std::size_t i = 0; i < rows; ++i) {
        const std::size_t line = i + 2;
        if (line == bad)
          text += "x\ty\r\n";
        else if (line == empty)
          text += "\r\n";
        else
          text += "d\t10.0." + std::to_string(i % 300) + "." + kind + "\tc\tuser" +
                  std::to_string(i % 977) + kind + "\tf" + std::to_string(i) + "\r\n";
      }
      return text;
    };
    std::vector<LogSource> sources = {
        {{dir.Write("d.txt", log(c.downloads, 'd', c.badLine, c.emptyLine)), false},
         SourceRole::Download}};
    if (c.uploads != 0)
      sources.push_back(
          {{dir.Write("u.txt", log(c.uploads, 'u', 0, 0)), false}, SourceRole::Upload});
    const SourcesResult loaded = LoadSources(sources);
    if (c.badLine != 0) {
      ASSERT_FALSE(loaded.Ok()) << c.label;
      EXPECT_EQ(loaded.failure->source, 0u) << c.label;
      EXPECT_EQ(loaded.failure->error.line, c.badLine) << c.label;
      continue;
    }
    ASSERT_TRUE(loaded.Ok()) << c.label << ": " << loaded.failure->Describe();
    const LogTable* tables[] = {&loaded.logs->downloads, &loaded.logs->uploads};
    const std::size_t written[] = {c.emptyLine != 0 ? c.emptyLine - 2 : c.downloads, c.uploads};
    for (int t = 0; t < 2; ++t) {
      const LogTable& table = *tables[t];
      const char kind = t == 0 ? 'd' : 'u';
      ASSERT_EQ(table.RowCount(), written[t]) << c.label;
      std::unordered_map<std::string, std::uint32_t> idOf;
      for (std::size_t row = 0; row < written[t]; ++row) {
        const std::string address = "10.0." + std::to_string(row % 300) + "." + kind;
        ASSERT_EQ(table.Address(row), address) << c.label << " row " << row;
        ASSERT_EQ(table.Name(row), "user" + std::to_string(row % 977) + kind) << c.label;
        ASSERT_EQ(table.CellText(row, Column::FileName), "f" + std::to_string(row)) << c.label;
        const auto [known, added] = idOf.try_emplace(address, table.AddressId(row));
        ASSERT_EQ(known->second, table.AddressId(row)) << c.label << " " << address;
      }
      EXPECT_EQ(table.NameIdCount(), std::min<std::size_t>(written[t], 977)) << c.label;
    }
  }
}

// A pair whose long download log comes second, so that the calling thread mostly reads the
// upload log and then the download log's second piece: the progress of both is told on the
// calling thread only, each rising to its file's size.
TEST(ReaderPiecesOfAPair, TellTheirProgressOnTheCallingThread) {
  TempDir dir;
  const std::string downloads = ManyRows(600000), uploads = ManyRows(20000);
  const std::vector<LogSource> sources = {
      {{dir.Write("u.txt", uploads), false}, SourceRole::Upload},
      {{dir.Write("d.txt", downloads), false}, SourceRole::Download}};
  const auto caller = std::this_thread::get_id();
  bool elsewhere = false;
  std::vector<std::uint64_t> done[2];
  SourcesOptions options;
  options.progress = [&](std::size_t source, std::uint64_t bytes, std::uint64_t) {
    elsewhere = elsewhere || std::this_thread::get_id() != caller;
    done[source].push_back(bytes);
  };
  const SourcesResult loaded = LoadSources(sources, options);
  ASSERT_TRUE(loaded.Ok()) << loaded.failure->Describe();
  EXPECT_FALSE(elsewhere);
  const std::size_t sizes[] = {uploads.size(), downloads.size()};
  for (int i = 0; i < 2; ++i) {
    ASSERT_FALSE(done[i].empty());
    EXPECT_TRUE(std::is_sorted(done[i].begin(), done[i].end())) << i;
    EXPECT_EQ(done[i].back(), sizes[i]) << i;
  }
  EXPECT_EQ(loaded.logs->downloads.RowCount(), 600000u);
}

#ifdef QUORVANE_READ_IN_PARALLEL
// Work shared between a helper and the thread that needs it runs once, whoever gets to it; work
// withdrawn before anyone took it never runs; what it throws reaches the thread that waits.
TEST(ReaderPieces, SharedWorkRunsOnceWhoeverTakesIt) {
  for (int round = 0; round < 200; ++round) {
    std::atomic<int> runs{0};
    WorkQueue queue;
    // Work that lasts, so that the other thread comes to it while it runs.
    auto work = std::make_shared<SharedWork>([&](const std::function<void()>&) {
      ++runs;
      std::this_thread::sleep_for(std::chrono::microseconds(round % 3 * 300));
    });
    queue.Post(work);
    std::thread helper([&] {
      while (std::shared_ptr<SharedWork> taken = queue.Take())
        taken->RunIfFree();
    });
    if (round % 2 == 0)
      std::this_thread::yield();
    work->Finish();
    EXPECT_EQ(runs, 1) << round;
    queue.Close();
    helper.join();
    EXPECT_EQ(runs, 1) << round;
  }
  int runs = 0;
  SharedWork withdrawn([&](const std::function<void()>&) { ++runs; });
  withdrawn.Withdraw();
  withdrawn.RunIfFree();
  EXPECT_EQ(runs, 0);
  SharedWork throwing([](const std::function<void()>&) { throw std::runtime_error("broken"); });
  EXPECT_THROW(throwing.Finish(), std::runtime_error);
  // The thread that runs the work gives it what it does meanwhile.
  int ticks = 0;
  SharedWork ticking([](const std::function<void()>& meanwhile) { meanwhile(); });
  ticking.Finish([&] { ++ticks; });
  EXPECT_EQ(ticks, 1);
  SharedWork taken([](const std::function<void()>& meanwhile) { meanwhile(); });
  taken.RunIfFree([&] { ticks += 10; });
  taken.Finish([&] { ++ticks; });
  EXPECT_EQ(ticks, 11);
  int told = 0;
  WorkQueue empty;
  std::thread closer([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(70));
    empty.Close();
  });
  EXPECT_EQ(empty.Take([&] { ++told; }), nullptr);
  closer.join();
  EXPECT_GE(told, 1) << "the waiting thread does its work meanwhile";
}
#endif

}  // namespace
}  // namespace quorvane
