#include <gtest/gtest.h>

#include <numeric>
#include <random>

#include "analysis/Averages.h"
#include "analysis/Period.h"
#include "analysis/RatioText.h"
#include "analysis/Report.h"
#include "analysis/Totals.h"
#include "analysis/UserReport.h"
#include "support/TempLogs.h"

namespace quorvane {
namespace {

using testing::Rows;
using testing::TableOf;

LogTable AddressTable(const std::string& addresses) {
  std::vector<std::pair<std::string, std::string>> rows;
  for (const char a : addresses)
    rows.push_back({a == '_' ? "" : std::string(1, a), "u"});
  return TableOf(Rows(rows));
}

// Each row counts its address's rows; the averages' ratio is that of the averages as shown.
TEST(Averages, RowsPerAddressOverRowsAndTheRatioOfTheShownFigures) {
  // Download and upload addresses (one character a row, '_' empty), then the totals' ratio, the
  // averages and their ratio.
  const std::vector<std::tuple<const char*, const char*, const char*>> cases = {
      {"AAAB", "AAB", "1.33/1 2.50 1.67 1.50/1"},
      {"ABB", "AABBBB", "1/2.00 1.67 3.33 1/1.99"},  // 3.33 / 1.67, not (10/3) / (5/3) = 2
      {"123", "xxxxx", "1/1.67 1.00 5.00 1/5.00"},
      {"aA", "__b", "1/1.50 1.00 1.67 1/1.67"},  // case makes another address, empty is one
      {"", "aa", "0/2.00 .00 2.00 0/2.00"},      // no rows: taken as zero
      {"aa", "", "2.00/0 2.00 .00 2.00/0"},
      {"", "", "0/.00 .00 .00 0/.00"}};
  // Every figure again with the separators of other locales: a comma, and Arabic's, two bytes.
  for (const auto& [downloads, uploads, expected] : cases) {
    const LogTable d = AddressTable(downloads), u = AddressTable(uploads);
    for (const std::string separator : {".", ",", "\xD9\xAB"}) {
      const Averages averages = ComputeAverages(d, u, separator);
      std::string shown;
      for (const char c : std::string_view(expected))
        shown += c == '.' ? separator : std::string(1, c);
      EXPECT_EQ(ComputeTotals(d, u, separator).ratio + ' ' + averages.downloadsText + ' ' +
                    averages.uploadsText + ' ' + averages.ratio,
                shown)
          << downloads << " / " << uploads;
    }
  }
}

// A pass reports every kProgressStride rows and once at its end, the uploads counted on after the
// downloads.
// Rows dated at the edges of days (the last second of one, the first of the next, before 1970),
// undated, and in and out of time order: a period takes the rows whose written day lies in it, in
// the table's order, with their own cells and dates. The days are compared as the texts the log
// wrote, not as the program counts them.
TEST(SelectPeriod, TakesTheRowsWhoseDayIsInItInTheirOrder) {
  const std::vector<std::string> days = {"1969-12-31", "1970-01-01", "2026-02-28",
                                         "2026-03-01", "2026-03-02", "2026-12-31"};
  const std::vector<std::string> clocks = {"00:00:00", "23:59:59", "12:00:00"};
  std::mt19937 random(7);
  std::vector<std::vector<std::string>> rows;
  std::vector<std::string> dayOf;  // "" undated
  for (int run = 0; run < 60; ++run) {
    // Runs of one day, as a log in time order writes them, between rows of any day.
    const std::size_t day = random() % days.size();
    for (std::size_t i = 0, n = random() % 4; i <= n; ++i) {
      const bool undated = rows.empty() || random() % 9 == 0;
      const std::string index = std::to_string(rows.size());
      rows.push_back({undated ? "soon" : days[day] + ' ' + clocks[random() % clocks.size()],
                      "10.0.0." + index, "acct", "user" + index, "file" + index});
      dayOf.push_back(undated ? "" : days[day]);
    }
  }
  LogTable table = TableOf(rows);
  table.ReadDates(DateOrder::Detect);
  std::size_t undated = 0;
  for (const std::string& day : dayOf)
    undated += day.empty() ? 1 : 0;
  ASSERT_GT(undated, 0u);
  const auto day = [](const char* text) { return ParseIsoDay(text); };
  const std::vector<std::pair<const char*, const char*>> periods = {
      {"2026-03-01", "2026-03-01"}, {"1969-12-31", "1970-01-01"}, {"", "2026-02-28"},
      {"2026-03-01", ""},           {"2026-03-02", "2026-03-01"}, {"1970-01-02", "2026-02-27"}};
  for (const auto& [from, to] : periods) {
    const Period period{*from ? day(from) : std::nullopt, *to ? day(to) : std::nullopt};
    const PeriodLogs selected = SelectPeriod(table, table, period);
    EXPECT_EQ(selected.undatedLeftOut, 2 * undated);
    std::vector<std::string> expected, got;
    for (std::size_t row = 0; row < rows.size(); ++row) {
      if (!dayOf[row].empty() && (!*from || dayOf[row] >= from) && (!*to || dayOf[row] <= to))
        expected.push_back(rows[row][0] + '|' + rows[row][3] + '|' + rows[row][4]);
    }
    for (const LogTable* picked : {&selected.logs.downloads, &selected.logs.uploads}) {
      got.clear();
      for (std::size_t row = 0; row < picked->RowCount(); ++row) {
        EXPECT_EQ(FormatTimestamp(picked->Date(row)), picked->CellBytes(row, Column::DateTime));
        got.push_back(std::string(picked->CellBytes(row, Column::DateTime)) + '|' +
                      std::string(picked->Name(row)) + '|' +
                      std::string(picked->FileNameBytes(row)));
      }
      EXPECT_EQ(got, expected) << from << " to " << to;
    }
  }
}

TEST(UserReport, ReportsProgressEveryStrideAndAtTheEnd) {
  const LogTable downloads = TableOf(
      Rows(std::vector<std::pair<std::string, std::string>>(kProgressStride + 1, {"a", "u"})));
  const LogTable uploads = TableOf(Rows({{"b", "u"}}));
  std::vector<std::size_t> seen;
  const UserReport report =
      BuildUserReport(downloads, uploads, "u", ".", [&](std::size_t n) { seen.push_back(n); });
  EXPECT_EQ(seen, (std::vector{kProgressStride, kProgressStride + 1, kProgressStride + 2}));
  EXPECT_EQ(report.downloads + report.uploads, kProgressStride + 2);
}

TEST(FormatHundredths, RoundsHalfAwayFromZeroAtFifteenDigits) {
  // clang-format off
  const std::pair<double, const char*> cases[] = {
      {0, ".00"}, {0.5, ".50"}, {1.125, "1.13"}, {0.125, ".13"}, {1.005, "1.01"}, {2.675, "2.68"},
      {1.0049999, "1.00"}, {0.004, ".00"}, {0.005, ".01"}, {9.995, "10.00"}, {99.999, "100.00"},
      {1e-300, ".00"}, {1e20, "100000000000000000000.00"}, {123456, "123456.00"},
      {5.0 / 3.0, "1.67"}, {-1.125, "-1.13"}, {-0.001, ".00"}};
  // clang-format on
  for (const auto& [value, text] : cases) {
    EXPECT_EQ(FormatHundredths(value), text) << value;
    std::string comma = text;
    std::replace(comma.begin(), comma.end(), '.', ',');
    EXPECT_EQ(FormatHundredths(value, ","), comma) << value;
  }
}

// Counts written from their digits read as the general ratio text does: every pair up to 60,
// around the largest whole number it still writes that way, and the largest counts of all; a
// name's counts (below 2^32) also as a user's line of the text report, whose room is made ahead.
TEST(AppendRatioText, EqualsTheRatioTextOfTheCounts) {
  std::vector<std::uint64_t> counts(61);
  std::iota(counts.begin(), counts.end(), 0);
  for (std::uint64_t big : {999999999999999ull, 1000000000000000ull, 333333333333333ull})
    counts.insert(counts.end(), {big, big * 2, big * 3});
  counts.insert(counts.end(),
                {UINT32_MAX, UINT32_MAX - 1, UINT64_MAX, UINT64_MAX - 1, UINT64_MAX / 3});
  Report report;
  report.users.emplace();
  std::string lines;
  for (std::uint64_t d : counts) {
    for (std::uint64_t u : counts) {
      std::string text = "x", expected = "x";
      AppendRatioText(text, d, u);
      expected += RatioText(static_cast<double>(d), static_cast<double>(u));
      EXPECT_EQ(text, expected) << d << " " << u;
      if (d > 1000 && u > 1000 && d <= UINT32_MAX && u <= UINT32_MAX) {
        report.users->users.push_back(
            {"n", static_cast<std::uint32_t>(d), static_cast<std::uint32_t>(u)});
        lines += "n\t" + std::to_string(d) + "\t" + std::to_string(u) + "\t" + expected.substr(1);
        lines += "\n";
      }
    }
  }
  const std::string text = FormatTextReport(report);
  EXPECT_EQ(text.substr(text.find('\n', text.find("\nUsers:") + 1) + 1), lines);
}

// Tens of thousands of users listed, counted and written on two cores: every line as worked out
// here (names numbered so that their display order is their numbers').
TEST(CountEveryUser, ALongListIsEveryUsersCountsInDisplayOrder) {
  std::vector<std::pair<std::string, std::string>> downloads, uploads;
  std::string expected = "\nUsers: 70000\n";
  for (std::size_t i = 0; i < 70000; ++i) {
    std::string name = std::to_string(1000000 + i);
    name[0] = 'u';
    const std::size_t down = i % 3, up = i % 3 == 0 ? 1 + i % 2 : i % 5 == 0;
    downloads.insert(downloads.end(), down, {std::to_string(i % 9), name});
    uploads.insert(uploads.end(), up, {"2.2.2.2", name});
    for (const std::string& cell : {name, std::to_string(down), std::to_string(up)})
      expected.append(cell).push_back('\t');
    expected.append(RatioText(static_cast<double>(down), static_cast<double>(up))).push_back('\n');
  }
  Report report;
  report.users = CountEveryUser(TableOf(Rows(downloads)), TableOf(Rows(uploads)));
  const std::string text = FormatTextReport(report);
  const std::string users = text.substr(text.find("\nUsers:"));
  const std::size_t at =
      std::mismatch(users.begin(), users.end(), expected.begin(), expected.end()).first -
      users.begin();
  EXPECT_EQ(users.substr(at, 60), expected.substr(at, 60)) << "from byte " << at;
}

TEST(DisplayedValue, IsTheNumberAsShown) {
  EXPECT_DOUBLE_EQ(DisplayedValue(5.0 / 3.0), 1.67);
  EXPECT_DOUBLE_EQ(DisplayedValue(2.499), 2.5);
  EXPECT_DOUBLE_EQ(DisplayedValue(0.001), 0);
  EXPECT_DOUBLE_EQ(DisplayedValue(1.005), 1.01);
}

}  // namespace
}  // namespace quorvane
