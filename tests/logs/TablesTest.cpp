// The decoders and the calendar checked whole against tables Python wrote from its own codecs and
// calendar (tests/data/make_tables.py), so no sample can hide a wrong entry.
#include <gtest/gtest.h>

#include <cctype>
#include <fstream>
#include <iterator>
#include <sstream>

#include "logs/DateTime.h"
#include "logs/TextEncoding.h"

namespace quorvane {
namespace {

// The data lines of a table file, each split at blanks.
std::vector<std::vector<std::string>> Table(const char* name) {
  std::ifstream in(std::string(QUORVANE_TEST_DATA_DIR) + "/" + name);
  EXPECT_TRUE(in) << name;
  std::vector<std::vector<std::string>> lines;
  for (std::string line; std::getline(in, line);) {
    if (line.empty() || line[0] == '#')
      continue;
    std::istringstream words(line);
    lines.emplace_back(std::istream_iterator<std::string>(words),
                       std::istream_iterator<std::string>());
  }
  return lines;
}

char32_t Hex(const std::string& text) {
  return static_cast<char32_t>(std::stoul(text, nullptr, 16));
}

TEST(CodePages, EveryByteDecodesAsPythonsCodecs) {
  const auto table = Table("codepages.txt");
  ASSERT_EQ(table.size(), 128u);
  std::string all;
  for (int b = 0; b < 256; ++b)
    all.push_back(static_cast<char>(b));
  const std::u32string cp1252 = Utf8ToCodePoints(DecodeToUtf8(all, Encoding::Windows1252));
  const std::u32string macRoman = Utf8ToCodePoints(DecodeToUtf8(all, Encoding::MacRoman));
  ASSERT_EQ(cp1252.size(), 256u);
  ASSERT_EQ(macRoman.size(), 256u);
  for (char32_t b = 0; b < 0x80; ++b) {
    EXPECT_EQ(cp1252[b], b);
    EXPECT_EQ(macRoman[b], b);
  }
  for (const auto& line : table) {
    const char32_t byte = Hex(line[0]);
    EXPECT_EQ(cp1252[byte], Hex(line[1])) << "Windows-1252 byte " << line[0];
    EXPECT_EQ(macRoman[byte], Hex(line[2])) << "Mac Roman byte " << line[0];
  }
  EXPECT_EQ(DecodeToUtf8(all, Encoding::Utf8), all);
}

// Every lead byte with second bytes at each edge of the ranges UTF-8 allows, whole and cut short.
TEST(Utf8, ValidExactlyWherePythonsStrictDecoderIs) {
  const auto table = Table("utf8.txt");
  ASSERT_GT(table.size(), 3000u);
  for (const auto& line : table) {
    std::string bytes;
    for (std::size_t i = 0; i < line[0].size(); i += 2)
      bytes.push_back(static_cast<char>(Hex(line[0].substr(i, 2))));
    const bool valid = line[1] == "1";
    EXPECT_EQ(IsValidUtf8(bytes), valid) << line[0];
    // The same sequence behind eight ASCII bytes, where the quick scan hands over.
    EXPECT_EQ(IsValidUtf8("abcdefgh" + bytes), valid) << line[0];
    if (valid) {
      EXPECT_EQ(Utf8ToCodePoints(bytes).find(U'\uFFFD'), std::u32string::npos) << line[0];
    }
  }
}

// Every month of the years around each leap rule: its last day at, and just past, its length, in
// the ISO form and the year-last forms, and the day numbers against Python's.
TEST(Calendar, MonthLengthsAndDayNumbersAsPythonsCalendar) {
  const auto table = Table("calendar.txt");
  ASSERT_EQ(table.size(), 192u);
  char text[16];
  for (const auto& line : table) {
    const int year = std::stoi(line[0]), month = std::stoi(line[1]), days = std::stoi(line[2]);
    const std::int64_t first = std::stoll(line[3]);
    const std::string where = line[0] + "-" + line[1];
    std::snprintf(text, sizeof text, "%04d-%02d-01", year, month);
    EXPECT_EQ(ParseIsoDay(text), first) << where;
    EXPECT_EQ(FormatDay(first), text);
    EXPECT_EQ((CivilFromDay(first + days - 1)), (CivilDate{year, month, days})) << where;
    for (const int day : {days, days + 1}) {
      const std::optional<std::int64_t> expected =
          day == days ? std::optional(first + days - 1) : std::nullopt;
      std::snprintf(text, sizeof text, "%04d-%02d-%02d", year, month, day);
      EXPECT_EQ(ParseIsoDay(text), expected) << text;
      const std::string monthFirst =
          std::to_string(month) + "/" + std::to_string(day) + "/" + std::to_string(year);
      const std::string dayFirst =
          std::to_string(day) + "." + std::to_string(month) + "." + std::to_string(year);
      for (const auto& [cell, order] : {std::pair{monthFirst, DateOrder::MonthFirst},
                                        std::pair{dayFirst, DateOrder::DayFirst}}) {
        const std::vector<Timestamp> stamp = ParseDateColumn(
            1, [&](std::size_t) { return std::string_view(cell); }, order);
        EXPECT_EQ(stamp[0], expected ? *expected * 86400 : kUndated) << cell;
      }
    }
  }
}

// Every month and weekday name, full and short, in any case, in each named form.
TEST(Calendar, EveryMonthAndWeekdayNameAsPythonsCalendar) {
  const auto table = Table("names.txt");
  ASSERT_EQ(table.size(), 19u);
  const auto read = [](const std::string& cell) {
    const std::vector<Timestamp> stamp =
        ParseDateColumn(1, [&](std::size_t) { return std::string_view(cell); });
    return stamp[0] == kUndated ? std::string("undated") : FormatDay(DayOf(stamp[0]));
  };
  for (const auto& line : table) {
    std::string upper = line[2];
    for (char& c : upper)
      c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    if (line[0] == "month") {
      const std::string day =
          "2000-" + std::string(line[1].size() == 1 ? "0" : "") + line[1] + "-02";
      for (const std::string& name : {line[2], line[3], upper, line[3] + "."}) {
        EXPECT_EQ(read(name + " 2, 2000"), day) << name;
        EXPECT_EQ(read("2 " + name + " 2000"), day) << name;
      }
      // Four letters name a month only when they are all of it.
      EXPECT_EQ(read(line[2].substr(0, 4) + " 2 2000"), line[2].size() <= 4 ? day : "undated");
    } else {
      for (const std::string& name : {line[2], line[3], upper})
        EXPECT_EQ(read(name + ", Jan 2 2000"), "2000-01-02") << name;
    }
  }
}

}  // namespace
}  // namespace quorvane
