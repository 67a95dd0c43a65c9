#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "logs/LogLoader.h"
#include "logs/LogReader.h"
#include "support/TempLogs.h"

namespace quorvane {
namespace {

ReadOptions Encoded(EncodingChoice encoding) {
  ReadOptions options;
  options.encoding = encoding;
  return options;
}

using testing::TempDir;

std::vector<std::vector<std::string>> Cells(const LogTable& table) {
  std::vector<std::vector<std::string>> cells;
  for (std::size_t r = 0; r < table.RowCount(); ++r) {
    std::vector<std::string> row;
    for (int c = 0; c < kColumnCount; ++c)
      row.push_back(table.CellText(r, Column(c)));
    cells.push_back(row);
  }
  return cells;
}

const std::string kHeader = "Date/Time\tAddress\tAccount\tName\tFile Name";

struct GoodCase {
  const char* label;
  std::string bytes;
  std::vector<std::vector<std::string>> expected;
  EncodingChoice encoding = EncodingChoice::Auto;
  friend void PrintTo(const GoodCase& c, std::ostream* os) { *os << c.label; }
};

class ReaderAccepts : public ::testing::TestWithParam<GoodCase> {};

TEST_P(ReaderAccepts, YieldsTheseRows) {
  ReadResult result = ParseLog(GetParam().bytes, Encoded(GetParam().encoding));
  ASSERT_TRUE(result.Ok()) << "line " << result.error.line << ": " << result.error.reason;
  EXPECT_EQ(Cells(*result.table), GetParam().expected);
}

const std::vector<std::string> kRowA = {"d1", "a1", "c1", "n1", "f1"};
const std::vector<std::string> kRowB = {"d2", "a2", "c2", "n2", "f2"};
const std::string kA = "d1\ta1\tc1\tn1\tf1";
const std::string kB = "d2\ta2\tc2\tn2\tf2";

INSTANTIATE_TEST_SUITE_P(
    LineEndsAndFields, ReaderAccepts,
    ::testing::Values(
        GoodCase{"HeaderOnly", kHeader + "\r\n", {}}, GoodCase{"HeaderWithoutLineEnd", kHeader, {}},
        GoodCase{"CrLf", kHeader + "\r\n" + kA + "\r\n" + kB + "\r\n", {kRowA, kRowB}},
        GoodCase{"CrOnly", kHeader + "\r" + kA + "\r" + kB + "\r", {kRowA, kRowB}},
        GoodCase{"LfOnly", kHeader + "\n" + kA + "\n" + kB + "\n", {kRowA, kRowB}},
        GoodCase{"LastLineWithoutEnd", kHeader + "\r\n" + kA + "\r\n" + kB, {kRowA, kRowB}},
        // The first line end decides: a file that starts with CR LF treats a bare LF as data.
        GoodCase{"BareLfIsDataInCrFile",
                 kHeader + "\r\nd1\ta\nb\tc1\tn1\tf1\r\n",
                 {{"d1", "a\nb", "c1", "n1", "f1"}}},
        // A file that starts with a bare LF treats a CR that is not before an LF as data.
        GoodCase{"LoneCrIsDataInLfFile",
                 kHeader + "\nd1\ta\rb\tc1\tn1\tf1\r\n" + kB + "\n",
                 {{"d1", "a\rb", "c1", "n1", "f1"}, kRowB}},
        GoodCase{"EmptyLineEndsData", kHeader + "\r\n" + kA + "\r\n\r\n" + kB + "\r\n", {kRowA}},
        GoodCase{"EmptyLineEndsDataLf", kHeader + "\n" + kA + "\n\r\n" + kB + "\n", {kRowA}},
        GoodCase{"ExtraFieldsIgnored", kHeader + "\r\n" + kA + "\tx\ty\r\n", {kRowA}},
        GoodCase{"EmptyCells", kHeader + "\r\nd1\t\tc1\t\t\r\n", {{"d1", "", "c1", "", ""}}},
        GoodCase{"BlanksKept",
                 kHeader + "\r\n d1 \t a1\tc1\tn1 \tf1\r\n",
                 {{" d1 ", " a1", "c1", "n1 ", "f1"}}},
        GoodCase{"Windows1252Decoded",
                 kHeader + "\r\nd\ta\tc\tM\xFCller \x80\x81\tf\r\n",
                 {{"d", "a", "c", "M\xC3\xBCller \xE2\x82\xAC\xC2\x81", "f"}}},
        GoodCase{"Utf8Kept",
                 kHeader + "\r\nd\ta\tc\tM\xC3\xBCller\tf\r\n",
                 {{"d", "a", "c", "M\xC3\xBCller", "f"}}},
        // Only the data decides: bytes after the empty line are never read.
        GoodCase{"Utf8UpToTheEmptyLine",
                 kHeader + "\r\nd\ta\tc\tM\xC3\xBCller\tf\r\n\r\n\xFC\r\n",
                 {{"d", "a", "c", "M\xC3\xBCller", "f"}}},
        // Classic Mac OS servers: lines end in CR alone, text in Mac Roman.
        GoodCase{"MacRomanWithBareCr",
                 kHeader + "\rd\ta\tc\tM\x9Fller \xDB\tf\r",
                 {{"d", "a", "c", "M\xC3\xBCller \xE2\x82\xAC", "f"}}},
        GoodCase{"ForcedWindows1252",
                 kHeader + "\rd\ta\tc\tM\xC3\xBCller\tf\r",
                 {{"d", "a", "c", "M\xC3\x83\xC2\xBCller", "f"}},
                 EncodingChoice::Windows1252},
        GoodCase{"ForcedMacRoman",
                 kHeader + "\r\nd\ta\tc\tM\x9Fller\tf\r\n",
                 {{"d", "a", "c", "M\xC3\xBCller", "f"}},
                 EncodingChoice::MacRoman}),
    [](const auto& testCase) { return std::string(testCase.param.label); });

struct BadCase {
  const char* label;
  std::string bytes;
  std::uint64_t line;
  const char* reasonPart;
  EncodingChoice encoding = EncodingChoice::Auto;
  friend void PrintTo(const BadCase& c, std::ostream* os) { *os << c.label; }
};

class ReaderRejects : public ::testing::TestWithParam<BadCase> {};

TEST_P(ReaderRejects, WithLineAndReason) {
  ReadResult result = ParseLog(GetParam().bytes, Encoded(GetParam().encoding));
  ASSERT_FALSE(result.Ok());
  EXPECT_EQ(result.error.line, GetParam().line);
  EXPECT_NE(result.error.reason.find(GetParam().reasonPart), std::string::npos)
      << result.error.reason;
}

INSTANTIATE_TEST_SUITE_P(
    Failures, ReaderRejects,
    ::testing::Values(
        BadCase{"ZeroBytes", "", 1, "no header"},
        BadCase{"FirstLineEmpty", "\r\n" + kHeader + "\r\n", 1, "no header"},
        BadCase{"FirstLineEmptyLf", "\n" + kHeader + "\n", 1, "no header"},
        BadCase{"ShortHeader", "a\tb\tc\r\n" + kA + "\r\n", 1, "has 3 fields"},
        BadCase{"ShortRecord", kHeader + "\r\n" + kA + "\r\nd\ta\tc\tn\r\n", 3, "has 4 fields"},
        BadCase{"BlanksOnlyIsNotEmpty", kHeader + "\r\n   \r\n", 2, "has 1 field;"},
        BadCase{"ShortLfRecord", kHeader + "\n" + kA + "\n" + kB + "\nx\ty\n", 4, "has 2 fields"},
        BadCase{"ForcedUtf8InvalidBeforeShort",
                kHeader + "\n" + kA + "\nd\ta\tc\tM\xFCller\tf\nx\n", 3, "not valid UTF-8",
                EncodingChoice::Utf8}),
    [](const auto& testCase) { return std::string(testCase.param.label); });

TEST(ReadLogFile, ReadsTheFileAndNamesTheSystemReason) {
  TempDir dir;
  const auto good = dir.Write("Download Log.txt", kHeader + "\r\n" + kA + "\r\n");
  ReadResult ok = ReadLogFile(good);
  ASSERT_TRUE(ok.Ok());
  EXPECT_EQ(ok.table->RowCount(), 1u);

  ReadResult missing = ReadLogFile(dir.Path() / "nope.txt");
  ASSERT_FALSE(missing.Ok());
  EXPECT_EQ(missing.error.line, 0u);
  EXPECT_NE(missing.error.reason.find("No such file"), std::string::npos) << missing.error.reason;
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

TEST(ReadLogFile, ManyRowsWithNoLimitAndProgressOnTheWay) {
  const std::size_t rows = 200000;
  const std::string text = ManyRows(rows);
  TempDir dir;
  std::vector<std::pair<std::uint64_t, std::uint64_t>> progress;
  ReadResult result = ReadLogFile(dir.Write("log.txt", text), [&] {
    ReadOptions options;
    options.progress = [&](auto done, auto total) { progress.emplace_back(done, total); };
    return options;
  }());
  ASSERT_TRUE(result.Ok());
  ASSERT_EQ(result.table->RowCount(), rows);
  for (std::size_t row : {std::size_t{0}, rows / 2, rows - 1}) {
    EXPECT_EQ(result.table->CellText(row, Column::Address), "10.0.0." + std::to_string(row % 250));
    EXPECT_EQ(result.table->Name(row), "user" + std::to_string(row % 1000));
  }
  EXPECT_EQ(result.table->AddressIdCount(), 250u);
  ASSERT_GT(progress.size(), 1u);
  EXPECT_TRUE(std::is_sorted(progress.begin(), progress.end()));
  EXPECT_EQ(progress.back(),
            std::make_pair(std::uint64_t{text.size()}, std::uint64_t{text.size()}));
}

TEST(LoadLogPair, ReportsBothLogsProgressOnTheCallingThreadOnly) {
  TempDir dir;
  const std::string text = ManyRows(200000);
  const auto caller = std::this_thread::get_id();
  bool elsewhere = false;
  std::vector<std::uint64_t> done[2];
  const auto record = [&](int log) {
    return [&, log](std::uint64_t bytes, std::uint64_t) {
      elsewhere = elsewhere || std::this_thread::get_id() != caller;
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
  for (const auto& calls : done) {
    ASSERT_FALSE(calls.empty());
    EXPECT_TRUE(std::is_sorted(calls.begin(), calls.end()));
    EXPECT_EQ(calls.back(), text.size());
  }
}

}  // namespace
}  // namespace quorvane
