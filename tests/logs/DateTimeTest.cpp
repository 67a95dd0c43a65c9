#include <gtest/gtest.h>

#include "logs/DateTime.h"

namespace quorvane {
namespace {

// The cells as one file's Date/Time column, read back as text ("" for an undated row).
std::vector<std::string> Read(const std::vector<std::string>& cells,
                              DateOrder order = DateOrder::Detect) {
  const std::vector<Timestamp> stamps = ParseDateColumn(
      cells.size(), [&](std::size_t row) { return std::string_view(cells[row]); }, order);
  std::vector<std::string> texts;
  for (Timestamp t : stamps)
    texts.push_back(FormatTimestamp(t));
  return texts;
}

// Each cell alone in its file, so a year-last date is its own only clue to the order.
TEST(DateCell, ReadsEveryForm) {
  const std::vector<std::pair<const char*, std::vector<const char*>>> cases = {
      {"2000-01-02 00:00:00",
       {"2000-01-02", "2000-01-02 12:00 AM", "1/2/2000 \t", "Jan 2, 2000", "2 Jan 2000",
        "2 Jan, 2000", "Sunday 2 JANUARY 2000"}},
      {"2000-01-02 03:04:00", {"2000/1/2 3:04"}},
      {"2000-12-31 23:59:59", {"2000.12.31T23:59:59"}},
      {"2024-02-29 10:00:00", {" \t2024-02-29  10:00 \t"}},
      {"1969-12-31 23:59:59", {"1969-12-31 23:59:59"}},
      {"2000-02-29 00:00:00", {"2000-02-29", "29/2/2000"}},
      {"2000-01-02 12:30:15", {"2000-01-02 12:30:15pm"}},
      {"2000-01-02 13:05:00", {"2000-01-02 1:05 Pm"}},
      {"2000-01-02 23:59:59", {"2000-01-02 11:59:59PM"}},
      {"2000-02-13 13:00:00", {"13-2-2000 1:00 pm"}},
      {"2000-02-13 08:00:00", {"2.13.2000T08:00"}},
      {"2069-01-02 00:00:00", {"1/2/69"}},
      {"1970-01-02 00:00:00", {"1/2/70"}},
      {"1999-12-31 00:00:00", {"12/31/99"}},
      {"2000-01-02 23:00:00", {"1/2/00 23:00"}},
      {"2000-01-02 10:00:00", {"January 2 2000 10:00"}},
      {"2000-01-02 09:00:00", {"sun, jan 2, 2000 9:00 am"}},
      {"2024-09-30 00:00:00", {"Mon. Sep. 30,2024"}},
      // ISO 8601 as servers write it: the offset is passed over, the clock counts as written.
      {"2025-03-14 21:07:45",
       {"2025-03-14T21:07:45-07:00", "2025-03-14T21:07:45Z", "2025-03-14T21:07:45.000+0000",
        "2025-03-14T21:07:45.123456789+23:59", "2025-03-14T21:07:45-2359"}}};
  for (const auto& [expected, cells] : cases) {
    for (const char* cell : cells)
      EXPECT_EQ(Read({cell}), std::vector<std::string>{expected}) << '"' << cell << '"';
  }
}

TEST(DateCell, RefusesEverythingElse) {
  const std::vector<std::vector<const char*>> groups = {
      // Days that do not exist; digit counts and separators that no form has.
      {"1900-02-29", "2023-02-29", "2024-04-31", "2000-13-01", "2000-00-10", "2000-01-00",
       "2000-1/02", "20000-01-02", "2000-001-02", "2000-01-002"},
      // Times out of range or badly written.
      {"2000-01-02 24:00", "2000-01-02 23:60", "2000-01-02 23:59:60", "2000-01-02 10:0",
       "2000-01-02 100:00", "2000-01-02 10:00:5", "2000-01-02 10:00:", "2000-01-02T",
       "2000-01-02T 10:00", "2000-01-02t10:00", "2000-01-02 0:30 AM", "2000-01-02 13:00 PM",
       "2000-01-02 10:00 XM", "2000-01-02 10:00 AMX", "2000-01-02 10:00 PM."},
      // ISO 8601 tails that are not one.
      {"2025-03-14T21:07:45.", "2025-03-14T21:07:45+7", "2025-03-14T21:07:45+07",
       "2025-03-14T21:07:45+0760", "2025-03-14T21:07:45+24:00", "2025-03-14T21:07:45+07:0",
       "2025-03-14T21:07:45+07:000", "2025-03-14T21:07:45ZZ", "2025-03-14T21:07:45z",
       "2025-03-14 21:07:45Z", "2025-03-14T21:07:45Z PM"},
      // Year last and names.
      {"2/29/1900", "1/2/200", "1/2/02000", "001/2/2000", "1/2-2000", "Janu 2 2000", "Sept 2 2000",
       "January. 2 2000", "Feb 29 2001", "Jan 32 2000", "Jan 2, 00", "Jan 2 2000 x",
       "Sun, 2000-01-02", "Sun,Jan 2 2000", "Funday, Jan 2 2000"},
      // Garbage and a time alone.
      {"", "   ", "12:30:00", "2000-01-02 12:30 extra", "2000-01-02x", "99999999999999999999-01-01",
       "d1"}};
  for (const auto& group : groups) {
    for (const char* cell : group)
      EXPECT_EQ(Read({cell}), std::vector<std::string>{""}) << '"' << cell << '"';
  }
}

// A file's A/B/YYYY dates are read in the order most of its rows show (a tie: month first) unless
// the order is given; a row that fits neither order, or another form, tells nothing.
TEST(DateColumn, SettlesTheDayMonthOrderPerFile) {
  using Texts = std::vector<std::string>;
  const std::vector<std::tuple<Texts, DateOrder, Texts>> cases = {
      {{"1/2/2000", "3/4/2000", "13/4/2000"},
       DateOrder::Detect,
       {"2000-02-01", "2000-04-03", "2000-04-13"}},
      {{"13/1/2000", "14/1/2000", "1/13/2000", "5/6/2000"},
       DateOrder::Detect,
       {"2000-01-13", "2000-01-14", "", "2000-06-05"}},
      {{"13/1/2000", "1/13/2000"}, DateOrder::Detect, {"", "2000-01-13"}},
      {{"31/4/2000", "31/2/2000", "4/5/2000"}, DateOrder::Detect, {"", "", "2000-04-05"}},
      {{"2000-12-01", "Jan 13 2000", "2/1/2000"},
       DateOrder::Detect,
       {"2000-12-01", "2000-01-13", "2000-02-01"}},
      {{"1/2/2000", "1/13/2000", "2000-01-02"},
       DateOrder::DayFirst,
       {"2000-02-01", "", "2000-01-02"}},
      {{"13/1/2000", "1/2/2000"}, DateOrder::MonthFirst, {"", "2000-01-02"}},
      // 12 fits both places, so it shows nothing; 13 is the first number that does.
      {{"12/5/2000"}, DateOrder::Detect, {"2000-12-05"}},
      {{"5/12/2000"}, DateOrder::Detect, {"2000-05-12"}},
      {{"12/5/2000", "13/5/2000"}, DateOrder::Detect, {"2000-05-12", "2000-05-13"}},
      {{"12/5/2000", "5/13/2000"}, DateOrder::Detect, {"2000-12-05", "2000-05-13"}},
      // Both orders shown: two rows against one decides, either way.
      {{"13/1/2000", "14/1/2000", "1/13/2000"},
       DateOrder::Detect,
       {"2000-01-13", "2000-01-14", ""}},
      {{"13/1/2000", "1/13/2000", "1/14/2000"},
       DateOrder::Detect,
       {"", "2000-01-13", "2000-01-14"}}};
  for (const auto& [cells, order, expected] : cases) {
    Texts days;
    for (const std::string& text : Read(cells, order))
      days.push_back(text.substr(0, 10));
    EXPECT_EQ(days, expected) << cells[0];
  }
}

// Days and seconds count from 1970-01-01 as written, without a time zone.
TEST(ParseIsoDay, TakesExactlyRealDays) {
  EXPECT_EQ(FromCivil(2000, 1, 2, 3, 4, 5), 946782245);
  for (auto [t, day] : {std::pair<Timestamp, std::int64_t>{86399, 0}, {-1, -1}, {-86401, -2}})
    EXPECT_EQ(DayOf(t), day) << t;
  EXPECT_EQ(ParseIsoDay("1970-01-01"), 0);
  EXPECT_EQ(ParseIsoDay("2000-01-02"), 10958);
  EXPECT_EQ(ParseIsoDay("1969-12-31"), -1);
  for (const char* bad : {"2023-02-29", "1900-02-29", "2000-04-31", "2000-13-01", "2000-00-10",
                          "2000-01-00", "2000-1-02", "2000/01/02", " 2000-01-02", "2000-01-02 ",
                          "2000-01-02T00:00", "", "20a0-01-02", "2000-0x-02", "2000-01/02"})
    EXPECT_EQ(ParseIsoDay(bad), std::nullopt) << bad;
}

}  // namespace
}  // namespace quorvane
