#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "logs/LogReader.h"
#include "support/TempLogs.h"

namespace quorvane {
namespace {

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
  friend void PrintTo(const GoodCase& c, std::ostream* os) { *os << c.label; }
};

class ReaderAccepts : public ::testing::TestWithParam<GoodCase> {};

TEST_P(ReaderAccepts, YieldsTheseRows) {
  ReadResult result = ParseLog(GetParam().bytes);
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
                 {{"d", "a", "c", "M\xC3\xBCller", "f"}}}),
    [](const auto& testCase) { return std::string(testCase.param.label); });

struct BadCase {
  const char* label;
  std::string bytes;
  std::uint64_t line;
  const char* reasonPart;
  friend void PrintTo(const BadCase& c, std::ostream* os) { *os << c.label; }
};

class ReaderRejects : public ::testing::TestWithParam<BadCase> {};

TEST_P(ReaderRejects, WithLineAndReason) {
  ReadResult result = ParseLog(GetParam().bytes);
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
        BadCase{"ShortLfRecord", kHeader + "\n" + kA + "\n" + kB + "\nx\ty\n", 4, "has 2 fields"}),
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

  ReadResult directory = ReadLogFile(dir.Path());
  ASSERT_FALSE(directory.Ok());
  EXPECT_NE(directory.error.reason.find("directory"), std::string::npos) << directory.error.reason;
}

TEST(ParseLog, ManyRowsWithNoLimit) {
  std::string text = kHeader + "\r\n";
  const std::size_t rows = 100000;
  for (std::size_t i = 0; i < rows; ++i) {
    text +=
        "d\t10.0.0." + std::to_string(i % 250) + "\tc\tuser" + std::to_string(i % 1000) + "\tf\r\n";
  }
  ReadResult result = ParseLog(std::move(text));
  ASSERT_TRUE(result.Ok());
  ASSERT_EQ(result.table->RowCount(), rows);
  EXPECT_EQ(result.table->CellText(rows - 1, Column::Address),
            "10.0.0." + std::to_string(99999 % 250));
  EXPECT_EQ(result.table->AddressIdCount(), 250u);
}

}  // namespace
}  // namespace quorvane

namespace quorvane {
namespace {

TEST(ReadLogFile, RefusesFilesBeyondFourGibibytesWithoutReadingThem) {
  testing::TempDir dir;
  const auto path = dir.Write("huge.txt", "");
  std::error_code error;
  std::filesystem::resize_file(path, kMaxLogBytes + 1, error);  // sparse: takes no disk space
  if (error)
    GTEST_SKIP() << "cannot make a sparse file here: " << error.message();
  ReadResult result = ReadLogFile(path);
  ASSERT_FALSE(result.Ok());
  EXPECT_NE(result.error.reason.find("larger than 4 GiB"), std::string::npos);
}

}  // namespace
}  // namespace quorvane
