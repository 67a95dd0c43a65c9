#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <limits>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace quorvane {

// Seconds since 1970-01-01 00:00:00 on the proleptic Gregorian calendar, negative before. Logs
// carry no time zone, so a time is taken as written and none is applied.
using Timestamp = std::int64_t;
// A cell that holds no date this reader understands.
inline constexpr Timestamp kUndated = std::numeric_limits<Timestamp>::min();

// Which number comes first in a date such as 3/4/2024. Detect settles it once per file.
enum class DateOrder { Detect, MonthFirst, DayFirst };

struct CivilDate {
  int year = 1970;
  int month = 1;  // 1-12
  int day = 1;    // 1-31
  friend bool operator==(const CivilDate&, const CivilDate&) = default;
};

// Day numbers count days since 1970-01-01, negative before. The fields are taken as given, not
// checked: callers pass real dates.
std::int64_t DayFromCivil(CivilDate date);
CivilDate CivilFromDay(std::int64_t day);
Timestamp FromCivil(int year, int month, int day, int hour = 0, int minute = 0, int second = 0);

// The day number a timestamp falls on (not meaningful for kUndated).
constexpr std::int64_t DayOf(Timestamp t) {
  return t / 86400 - (t % 86400 < 0 ? 1 : 0);
}

// Exactly YYYY-MM-DD naming a real calendar day; nothing else (no blanks, no single digits).
std::optional<std::int64_t> ParseIsoDay(std::string_view text);
// YYYY-MM-DD HH:MM:SS; an empty string for kUndated.
std::string FormatTimestamp(Timestamp t);
// YYYY-MM-DD.
std::string FormatDay(std::int64_t day);

// How a file writes its numeric dates, learnt from one of its cells: a cell that its form writes
// back byte for byte from the cell's timestamp need not be kept as text.
struct DateForm {
  static constexpr std::size_t kMaxLength = 48;
  // The form `cell` seems written in, dated `t`; none when it is no numeric date. The form is a
  // guess (a day past 9 does not show whether days are padded): Write tells whether it holds.
  static std::optional<DateForm> Of(std::string_view cell, Timestamp t);
  // `t` (not kUndated) in this form, into `out` of kMaxLength bytes; returns the length.
  std::size_t Write(Timestamp t, char* out) const;
  friend bool operator==(const DateForm&, const DateForm&) = default;

  enum class Order : std::uint8_t { YearMonthDay, MonthDayYear, DayMonthYear };
  Order order = Order::YearMonthDay;
  char dateSeparator = '/';
  bool padDate = false;    // 03 for March, not 3 (and for the day)
  bool shortYear = false;  // 25 for 2025
  char timeSeparator = 0;  // ' ' or 'T' before the time; 0 for a date alone
  bool padHour = false;
  bool seconds = false;
  char half = 0;  // 'A' for AM/PM, 'a' for am/pm, 0 for a 24-hour clock
  bool halfSpace = false;
  std::uint8_t suffixLength = 0;  // a text every cell ends in, such as a zone's offset
  std::array<char, 8> suffix{};
};

// The form "AA/BB/YYYY hh:mm:ss", every field padded and the clock 24-hour, day or month first.
DateForm PlainYearLastForm(bool dayFirst);

// Reads one file's Date/Time column: Add every cell in row order, then Finish. Numeric dates with
// the year last are kept aside until Finish, when the file's day/month order is known. A cell is
// scanned in place, with no allocation; the only memory is the result, one value per row.
class DateColumnParser {
 public:
  // `firstOnly`: once a row is dated and no row before it waits for the order, the cells behind
  // it are not read and their rows are undated.
  explicit DateColumnParser(DateOrder order = DateOrder::Detect, std::size_t expectedRows = 0,
                            bool firstOnly = false);

  // Returns whether the cell is a date, or one waiting for the order, in the plain year-last
  // form: PlainYearLastForm of the order the parser settles on (day first when Settled() says so)
  // then writes it again from its date, unless Finish reports the row left undated.
  bool Add(std::string_view cell);
  // The order the cells added so far are read in: the one given, or the one they show (Detect
  // while they show none).
  DateOrder Settled() const;
  // One timestamp per added cell, kUndated where the cell is not a date. `leftUndated` is called
  // for each row waiting for the order that the order settled on leaves undated, with the cell
  // as it was if Add said it was plain.
  std::vector<Timestamp> Finish(
      const std::function<void(std::size_t row, std::string_view cell)>& leftUndated = {}) &&;
  // Whether a row added so far waits for the file's day/month order (so that rows still to come
  // may change its date).
  bool Unsettled() const { return monthFirstRows_ + dayFirstRows_ > 0; }
  // Takes the cells `rest` read (in the same order, not `firstOnly`) as added behind these, as
  // when one file's rows were read in two pieces: the order is then settled by all of them.
  void Append(DateColumnParser&& rest);

 private:
  DateOrder order_;
  std::vector<Timestamp> values_;
  // Year-last rows that each order can date, and whether a dated row has shown the order.
  std::size_t monthFirstRows_ = 0;
  std::size_t dayFirstRows_ = 0;
  bool monthFirstSeen_ = false;
  bool dayFirstSeen_ = false;
  bool firstOnly_ = false;
  bool done_ = false;
  std::size_t undatedBehind_ = 0;  // rows added once done
};

// Parses the cells of one file: `cell(row)` yields a view of that row's Date/Time cell.
template <typename CellAt>
std::vector<Timestamp> ParseDateColumn(std::size_t rows, const CellAt& cell,
                                       DateOrder order = DateOrder::Detect) {
  DateColumnParser parser(order, rows);
  for (std::size_t row = 0; row < rows; ++row)
    parser.Add(cell(row));
  return std::move(parser).Finish();
}

}  // namespace quorvane
