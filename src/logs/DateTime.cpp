#include "logs/DateTime.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>

namespace quorvane {

namespace {

constexpr std::int64_t kSecondsPerDay = 86400;

bool IsLeap(int year) {
  return year % 4 == 0 && (year % 100 != 0 || year % 400 == 0);
}

bool IsRealDate(int year, int month, int day) {
  static constexpr std::array<int, 12> kDays = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (month < 1 || month > 12 || day < 1)
    return false;
  return day <= kDays[static_cast<std::size_t>(month - 1)] + (month == 2 && IsLeap(year) ? 1 : 0);
}

bool IsBlank(char c) {
  return c == ' ' || c == '\t';
}
bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}
bool IsLetter(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

constexpr std::array<std::string_view, 12> kMonths = {
    "january", "february", "march",     "april",   "may",      "june",
    "july",    "august",   "september", "october", "november", "december"};
constexpr std::array<std::string_view, 7> kWeekdays = {"sunday",   "monday", "tuesday", "wednesday",
                                                       "thursday", "friday", "saturday"};

// 1 + the index of the name `word` spells in full or by its first three letters; 0 for none.
template <std::size_t N>
int NameNumber(std::string_view word, const std::array<std::string_view, N>& names) {
  for (std::size_t i = 0; i < N; ++i) {
    if (word == names[i] || (word.size() == 3 && names[i].substr(0, 3) == word))
      return static_cast<int>(i + 1);
  }
  return 0;
}

using WordBuffer = std::array<char, 9>;  // "september", "wednesday"

// Walks a cell left to right. Each step consumes what it expects or reports that it is not there.
class Scanner {
 public:
  explicit Scanner(std::string_view text) : p_(text.data()), end_(text.data() + text.size()) {}

  bool AtEnd() const { return p_ == end_; }
  std::ptrdiff_t Left() const { return end_ - p_; }
  char Peek() const { return p_ == end_ ? '\0' : *p_; }
  bool Take(char c) {
    if (p_ == end_ || *p_ != c)
      return false;
    ++p_;
    return true;
  }
  // Skips blanks; tells whether there were any.
  bool SkipBlanks() {
    const char* start = p_;
    while (p_ != end_ && IsBlank(*p_))
      ++p_;
    return p_ != start;
  }
  // Skips a run of digits of any length; returns how many there were.
  std::size_t SkipDigits() {
    const char* start = p_;
    while (p_ != end_ && IsDigit(*p_))
      ++p_;
    return static_cast<std::size_t>(p_ - start);
  }
  // Reads a run of digits; returns its length, counted up to 5 as no field is longer than 4.
  int Number(int& value) {
    const char* start = p_;
    unsigned number = 0;  // wraps harmlessly on runs too long to be used
    for (; p_ != end_ && IsDigit(*p_); ++p_)
      number = number * 10 + static_cast<unsigned>(*p_ - '0');
    const int length = p_ - start < 5 ? static_cast<int>(p_ - start) : 5;
    value = length < 5 ? static_cast<int>(number) : 0;
    return length;
  }
  // One or two digits, as a month, day or hour may be written.
  bool Short(int& value) {
    const int length = Number(value);
    return length >= 1 && length <= 2;
  }
  // Reads a run of letters, lower-cased into `buffer`; an empty view when there is none or it is
  // too long to be a month or weekday name.
  std::string_view Word(WordBuffer& buffer) {
    std::size_t length = 0;
    for (; p_ != end_ && IsLetter(*p_); ++p_) {
      if (length < buffer.size())
        buffer[length] = static_cast<char>(*p_ | 0x20);
      ++length;
    }
    return length <= buffer.size() ? std::string_view(buffer.data(), length) : std::string_view();
  }

 private:
  const char* p_;
  const char* end_;
};

// A month or weekday name; its three-letter form may carry a dot ("Jan.").
template <std::size_t N>
int ScanName(Scanner& s, const std::array<std::string_view, N>& names) {
  WordBuffer buffer;
  const std::string_view word = s.Word(buffer);
  const int number = NameNumber(word, names);
  if (number != 0 && word.size() == 3)
    s.Take('.');
  return number;
}

// The blanks or comma between the day or month and a four-digit year, then the year.
bool ScanYear(Scanner& s, int& year) {
  const bool comma = s.Take(',');
  return (s.SkipBlanks() || comma) && s.Number(year) == 4;
}

// "Jan 2, 2000", "January 2 2000" or "2 Jan 2000", each after an optional "Sun, " or "Sunday ".
bool ScanNamedDate(Scanner& s, int& year, int& month, int& day) {
  Scanner weekday = s;
  if (ScanName(weekday, kWeekdays) != 0) {
    weekday.Take(',');
    if (!weekday.SkipBlanks())
      return false;
    s = weekday;
  }
  if (IsDigit(s.Peek())) {
    return s.Short(day) && s.SkipBlanks() && (month = ScanName(s, kMonths)) != 0 &&
           ScanYear(s, year);
  }
  month = ScanName(s, kMonths);
  return month != 0 && s.SkipBlanks() && s.Short(day) && ScanYear(s, year);
}

// What a cell turned out to be: no date, a date, or a year-last date whose order is open.
enum class CellKind { Undated, Dated, YearLast };

struct ScannedDate {
  int year = 0;
  int first = 0;   // the month, or A of a year-last date
  int second = 0;  // the day, or B of a year-last date
  int seconds = 0;
};

// ISO 8601's tail behind the seconds: an optional fraction, then an optional Z, +hh:mm or +hhmm
// (or with a minus). The offset is only passed over: times count as the server's clock wrote
// them, like every other date form.
bool ScanIsoTail(Scanner& s) {
  if (s.Take('.') && s.SkipDigits() == 0)
    return false;
  if (s.Take('Z'))
    return true;
  if (!s.Take('+') && !s.Take('-'))
    return true;
  int hours = 0, minutes = 0;
  const int length = s.Number(hours);
  if (length == 4) {  // hhmm
    minutes = hours % 100;
    hours /= 100;
  } else if (length != 2 || !s.Take(':') || s.Number(minutes) != 2) {
    return false;
  }
  return hours <= 23 && minutes <= 59;
}

// The time behind a date: nothing, or blanks or a 'T' and H:MM or H:MM:SS with an optional
// AM/PM, or after a 'T' with ISO 8601's fraction and offset. Yields the seconds into the day.
bool ScanTime(Scanner& s, int& seconds) {
  seconds = 0;
  if (s.AtEnd())
    return true;
  const bool iso = s.Take('T');
  if (!iso && !s.SkipBlanks())
    return false;
  int hour = 0, minute = 0, second = 0;
  if (!s.Short(hour) || !s.Take(':') || s.Number(minute) != 2)
    return false;
  if (s.Take(':') && s.Number(second) != 2)
    return false;
  if (iso && !ScanIsoTail(s))
    return false;
  s.SkipBlanks();
  if (!s.AtEnd()) {
    WordBuffer buffer;
    const std::string_view half = s.Word(buffer);
    if ((half != "am" && half != "pm") || !s.AtEnd() || hour < 1 || hour > 12)
      return false;
    hour = hour % 12 + (half == "pm" ? 12 : 0);
  }
  if (hour > 23 || minute > 59 || second > 59)
    return false;
  seconds = hour * 3600 + minute * 60 + second;
  return true;
}

CellKind Scan(std::string_view cell, ScannedDate& date) {
  while (!cell.empty() && IsBlank(cell.front()))
    cell.remove_prefix(1);
  while (!cell.empty() && IsBlank(cell.back()))
    cell.remove_suffix(1);
  Scanner s(cell);
  CellKind kind = CellKind::Dated;
  Scanner numeric = s;
  int a = 0, b = 0, c = 0;
  const int aLength = numeric.Number(a);
  const char separator = numeric.Peek();
  if (aLength > 0 && (separator == '-' || separator == '/' || separator == '.')) {
    s = numeric;
    s.Take(separator);
    if (!s.Short(b) || !s.Take(separator))
      return CellKind::Undated;
    const int cLength = s.Number(c);
    if (aLength == 4 && cLength >= 1 && cLength <= 2) {
      date.year = a, date.first = b, date.second = c;
    } else if (aLength <= 2 && (cLength == 4 || cLength == 2)) {
      // Two-digit years: 70-99 are the 1900s, 00-69 the 2000s.
      date.year = cLength == 4 ? c : c + (c >= 70 ? 1900 : 2000);
      date.first = a, date.second = b;
      kind = CellKind::YearLast;
    } else {
      return CellKind::Undated;
    }
  } else if (!ScanNamedDate(s, date.year, date.first, date.second)) {
    return CellKind::Undated;
  }
  if (!ScanTime(s, date.seconds))
    return CellKind::Undated;
  if (kind == CellKind::Dated && !IsRealDate(date.year, date.first, date.second))
    return CellKind::Undated;
  return kind;
}

Timestamp StampOf(int year, int month, int day, int seconds) {
  return DayFromCivil({year, month, day}) * kSecondsPerDay + seconds;
}

// Until the file's order is known, a year-last date waits in its row's slot as a code just above
// kUndated, far below any timestamp a four-digit year gives: year (14 bits), A and B (7 bits
// each) and the seconds into the day (17 bits).
constexpr Timestamp kPendingBase = kUndated + 1;
constexpr Timestamp kPendingEnd = kPendingBase + (Timestamp{1} << 45);
static_assert(kPendingEnd < -(Timestamp{1} << 40), "pending codes must not meet real timestamps");

Timestamp Pending(const ScannedDate& d) {
  return kPendingBase + (Timestamp{d.year} << 31 | Timestamp{d.first} << 24 |
                         Timestamp{d.second} << 17 | Timestamp{d.seconds});
}

bool IsPending(Timestamp t) {
  return t >= kPendingBase && t < kPendingEnd;
}

// A year-last date A/B/YYYY read in the given order; kUndated when that order makes no real date.
Timestamp YearLastStamp(int year, int a, int b, int seconds, bool dayFirst) {
  const int month = dayFirst ? b : a;
  const int day = dayFirst ? a : b;
  return IsRealDate(year, month, day) ? StampOf(year, month, day, seconds) : kUndated;
}

Timestamp Settle(Timestamp pending, bool dayFirst) {
  const Timestamp code = pending - kPendingBase;
  return YearLastStamp(static_cast<int>(code >> 31), static_cast<int>(code >> 24 & 0x7F),
                       static_cast<int>(code >> 17 & 0x7F), static_cast<int>(code & 0x1FFFF),
                       dayFirst);
}

}  // namespace

std::int64_t DayFromCivil(CivilDate date) {
  // Counts in 400-year eras of March-based years, so leap days fall at the end of a year.
  const std::int64_t year = std::int64_t{date.year} - (date.month <= 2 ? 1 : 0);
  const std::int64_t era = (year >= 0 ? year : year - 399) / 400;
  const std::int64_t yearOfEra = year - era * 400;
  const std::int64_t month = date.month;
  const std::int64_t dayOfYear = (153 * (month > 2 ? month - 3 : month + 9) + 2) / 5 + date.day - 1;
  const std::int64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
  return era * 146097 + dayOfEra - 719468;
}

CivilDate CivilFromDay(std::int64_t day) {
  const std::int64_t shifted = day + 719468;
  const std::int64_t era = (shifted >= 0 ? shifted : shifted - 146096) / 146097;
  const std::int64_t dayOfEra = shifted - era * 146097;
  const std::int64_t yearOfEra =
      (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
  const std::int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
  const std::int64_t monthFromMarch = (5 * dayOfYear + 2) / 153;
  const std::int64_t month = monthFromMarch < 10 ? monthFromMarch + 3 : monthFromMarch - 9;
  return {static_cast<int>(yearOfEra + era * 400 + (month <= 2 ? 1 : 0)), static_cast<int>(month),
          static_cast<int>(dayOfYear - (153 * monthFromMarch + 2) / 5 + 1)};
}

Timestamp FromCivil(int year, int month, int day, int hour, int minute, int second) {
  return StampOf(year, month, day, hour * 3600 + minute * 60 + second);
}

std::optional<std::int64_t> ParseIsoDay(std::string_view text) {
  if (text.size() != 10 || text[4] != '-' || text[7] != '-')
    return std::nullopt;
  bool digits = true;
  const auto field = [&](std::size_t from, std::size_t length) {
    int value = 0;
    for (std::size_t i = from; i < from + length; ++i) {
      digits = digits && IsDigit(text[i]);
      value = value * 10 + (text[i] - '0');
    }
    return value;
  };
  const int year = field(0, 4), month = field(5, 2), day = field(8, 2);
  if (!digits || !IsRealDate(year, month, day))
    return std::nullopt;
  return DayFromCivil({year, month, day});
}

std::string FormatDay(std::int64_t day) {
  const CivilDate date = CivilFromDay(day);
  char text[40];
  const int length =
      std::snprintf(text, sizeof text, "%04d-%02d-%02d", date.year, date.month, date.day);
  return std::string(text, static_cast<std::size_t>(length));
}

std::string FormatTimestamp(Timestamp t) {
  if (t == kUndated)
    return {};
  const std::int64_t day = DayOf(t);
  const int seconds = static_cast<int>(t - day * kSecondsPerDay);
  char text[48];
  const int length = std::snprintf(text, sizeof text, " %02d:%02d:%02d", seconds / 3600,
                                   seconds / 60 % 60, seconds % 60);
  return FormatDay(day) + std::string(text, static_cast<std::size_t>(length));
}

std::optional<DateForm> DateForm::Of(std::string_view cell, Timestamp t) {
  if (t == kUndated)
    return std::nullopt;
  DateForm form;
  Scanner s(cell);
  int a = 0, b = 0, c = 0;
  const int aLength = s.Number(a);
  form.dateSeparator = s.Peek();
  if (aLength == 0 ||
      (form.dateSeparator != '/' && form.dateSeparator != '-' && form.dateSeparator != '.'))
    return std::nullopt;
  s.Take(form.dateSeparator);
  const int bLength = s.Number(b);
  if (!s.Take(form.dateSeparator))
    return std::nullopt;
  const int cLength = s.Number(c);
  const CivilDate date = CivilFromDay(DayOf(t));
  // Which runs are the month and the day; a run of two digits below 10 shows padding.
  int monthLength = bLength, dayLength = cLength;
  if (aLength != 4) {
    const bool monthFirst = a == date.month && b == date.day;
    form.order = monthFirst ? Order::MonthDayYear : Order::DayMonthYear;
    monthLength = monthFirst ? aLength : bLength;
    dayLength = monthFirst ? bLength : aLength;
    form.shortYear = cLength == 2;
  }
  form.padDate = (monthLength == 2 && date.month < 10) || (dayLength == 2 && date.day < 10) ||
                 (date.month >= 10 && date.day >= 10);
  if (s.AtEnd())
    return form;
  form.timeSeparator = s.Peek();
  s.Take(form.timeSeparator);
  int hour = 0, minute = 0, second = 0;
  const int hourLength = s.Number(hour);
  if (!s.Take(':') || s.Number(minute) != 2)
    return std::nullopt;
  form.seconds = s.Take(':') && s.Number(second) == 2;
  form.halfSpace = s.Take(' ');
  const char h = s.Peek();
  if ((h == 'A' || h == 'P' || h == 'a' || h == 'p') && s.Take(h)) {
    form.half = h == 'A' || h == 'P' ? 'A' : 'a';
    if (!s.Take(form.half == 'A' ? 'M' : 'm'))
      return std::nullopt;
  } else if (form.halfSpace) {
    return std::nullopt;
  }
  const int shownHour = form.half ? (hour + 11) % 12 + 1 : hour;
  form.padHour = (hourLength == 2 && shownHour < 10) || shownHour >= 10;
  std::string_view rest = cell.substr(cell.size() - static_cast<std::size_t>(s.Left()));
  if (rest.size() > form.suffix.size())
    return std::nullopt;
  form.suffixLength = static_cast<std::uint8_t>(rest.size());
  std::copy(rest.begin(), rest.end(), form.suffix.begin());
  return form;
}

std::size_t DateForm::Write(Timestamp t, char* out) const {
  const std::int64_t day = DayOf(t);
  const auto time = static_cast<int>(t - day * kSecondsPerDay);
  const CivilDate date = CivilFromDay(day);
  char* at = out;
  // Written for every row a table keeps: two digits at a time, no division by ten.
  static constexpr char kPairs[] =
      "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
      "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
      "8081828384858687888990919293949596979899";
  const auto put = [&at](int value, bool pad) {  // 0-99
    if (value >= 10 || pad)
      *at++ = kPairs[2 * value];
    *at++ = kPairs[2 * value + 1];
  };
  const auto putYear = [&](int year) {
    if (year < 0 || year > 9999)
      year = 0;  // no such cell: the form does not write it back
    if (!shortYear)
      put(year / 100, true);
    put(year % 100, true);
  };
  const bool monthFirst = order == Order::MonthDayYear;
  if (order == Order::YearMonthDay) {
    putYear(date.year);
    *at++ = dateSeparator;
  }
  put(monthFirst || order == Order::YearMonthDay ? date.month : date.day, padDate);
  *at++ = dateSeparator;
  put(monthFirst || order == Order::YearMonthDay ? date.day : date.month, padDate);
  if (order != Order::YearMonthDay) {
    *at++ = dateSeparator;
    putYear(date.year);
  }
  if (timeSeparator == 0)
    return static_cast<std::size_t>(at - out);
  *at++ = timeSeparator;
  const int hour = time / 3600;
  put(half ? (hour + 11) % 12 + 1 : hour, padHour);
  *at++ = ':';
  put(time / 60 % 60, true);
  if (seconds) {
    *at++ = ':';
    put(time % 60, true);
  }
  if (half) {
    if (halfSpace)
      *at++ = ' ';
    *at++ = static_cast<char>((hour < 12 ? 'A' : 'P') | (half == 'a' ? 0x20 : 0));
    *at++ = half == 'a' ? 'm' : 'M';
  }
  at = std::copy_n(suffix.begin(), suffixLength, at);
  return static_cast<std::size_t>(at - out);
}

DateColumnParser::DateColumnParser(DateOrder order, std::size_t expectedRows, bool firstOnly)
    : order_(order), firstOnly_(firstOnly) {
  values_.reserve(expectedRows);
}

DateForm PlainYearLastForm(bool dayFirst) {
  DateForm form;
  form.order = dayFirst ? DateForm::Order::DayMonthYear : DateForm::Order::MonthDayYear;
  form.padDate = true;
  form.timeSeparator = ' ';
  form.padHour = true;
  form.seconds = true;
  return form;
}

namespace {

// Whether the 19 bytes at `text` are "00/00/0000 00:00:00" with any digit for each 0: eight bytes
// at a time, as the dates of millions of rows are read.
bool IsPlainYearLast(const char* text) {
  constexpr std::uint64_t kOnes = 0x0101010101010101;
  // Bytes [0, 8), [8, 16) and [11, 19) each hold digits in bytes 0, 1, 3, 4, 6 and 7 (a mask that
  // reads the same from either end, as words in memory's order need) and two given bytes.
  constexpr std::uint64_t kDigits = 0xFFFF00FFFF00FFFF;
  struct Part {
    std::size_t at;
    const char* rest;
  };
  constexpr Part kParts[] = {{0, "\0\0/\0\0/\0\0"}, {8, "\0\0 \0\0:\0\0"}, {11, "\0\0:\0\0:\0\0"}};
  for (const Part& part : kParts) {
    std::uint64_t word, rest;
    std::memcpy(&word, text + part.at, 8);
    std::memcpy(&rest, part.rest, 8);
    // A digit less '0' is below 10: adding 0x76 leaves its top bit clear, and any other byte's set.
    const std::uint64_t less = (word ^ 0x30 * kOnes) & kDigits;
    const std::uint64_t notDigits = (((less & 0x7F * kOnes) + 0x76 * kOnes) | less) & kDigits;
    if ((notDigits & 0x80 * kOnes) != 0 || (word & ~kDigits) != rest)
      return false;
  }
  return true;
}

}  // namespace

bool DateColumnParser::Add(std::string_view cell) {
  if (done_) {
    ++undatedBehind_;  // filled in at the end, at once
    return false;
  }
  ScannedDate d;
  const CellKind kind = Scan(cell, d);
  if (kind == CellKind::Dated) {
    values_.push_back(StampOf(d.year, d.first, d.second, d.seconds));
    done_ = firstOnly_ && !Unsettled();
    return false;
  }
  if (kind == CellKind::Undated) {
    values_.push_back(kUndated);
    return false;
  }
  // Written back from its date only when it is exactly that form: the scan also takes blanks
  // around the cell and a field of one digit, which the form would not give back.
  const bool plain = cell.size() == 19 && IsPlainYearLast(cell.data());
  if (order_ != DateOrder::Detect) {
    values_.push_back(
        YearLastStamp(d.year, d.first, d.second, d.seconds, order_ == DateOrder::DayFirst));
    return plain && values_.back() != kUndated;
  }
  // A dated row with A past 12 shows day first; one with B past 12 shows month first.
  const bool monthFirst = IsRealDate(d.year, d.first, d.second);
  const bool dayFirst = IsRealDate(d.year, d.second, d.first);
  monthFirstRows_ += monthFirst ? 1 : 0;
  dayFirstRows_ += dayFirst ? 1 : 0;
  monthFirstSeen_ = monthFirstSeen_ || (monthFirst && d.second > 12);
  dayFirstSeen_ = dayFirstSeen_ || (dayFirst && d.first > 12);
  values_.push_back(monthFirst || dayFirst ? Pending(d) : kUndated);
  return plain && values_.back() != kUndated;
}

DateOrder DateColumnParser::Settled() const {
  if (order_ != DateOrder::Detect || (!dayFirstSeen_ && !monthFirstSeen_))
    return order_;
  return dayFirstSeen_ && (!monthFirstSeen_ || dayFirstRows_ > monthFirstRows_)
             ? DateOrder::DayFirst
             : DateOrder::MonthFirst;
}

void DateColumnParser::Append(DateColumnParser&& rest) {
  values_.insert(values_.end(), rest.values_.begin(), rest.values_.end());
  monthFirstRows_ += rest.monthFirstRows_;
  dayFirstRows_ += rest.dayFirstRows_;
  monthFirstSeen_ = monthFirstSeen_ || rest.monthFirstSeen_;
  dayFirstSeen_ = dayFirstSeen_ || rest.dayFirstSeen_;
}

std::vector<Timestamp> DateColumnParser::Finish(
    const std::function<void(std::size_t row, std::string_view cell)>& leftUndated) && {
  if (monthFirstRows_ + dayFirstRows_ > 0) {
    // When a file shows both orders, the one that dates more rows wins; a tie goes to month first.
    const bool dayFirst = dayFirstSeen_ && (!monthFirstSeen_ || dayFirstRows_ > monthFirstRows_);
    const DateForm other = PlainYearLastForm(!dayFirst);
    for (std::size_t row = 0; row < values_.size(); ++row) {
      Timestamp& value = values_[row];
      if (!IsPending(value))
        continue;
      const Timestamp pending = value;
      value = Settle(pending, dayFirst);
      if (value == kUndated && leftUndated) {
        // A waiting row is a real date in one order at least: the other one writes it.
        char cell[DateForm::kMaxLength];
        leftUndated(row, {cell, other.Write(Settle(pending, !dayFirst), cell)});
      }
    }
  }
  values_.resize(values_.size() + undatedBehind_, kUndated);
  return std::move(values_);
}

}  // namespace quorvane
