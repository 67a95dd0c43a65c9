#pragma once

#include <QDate>
#include <QString>
#include <cstdint>

#include "logs/DateTime.h"

namespace quorvane {

// Between the core's day numbers and QDate, and dates written as the person's locale writes them.
// Years are written in full: a log may reach back past the century a two-digit year guesses.

QDate ToQDate(std::int64_t day);
std::int64_t DayNumber(QDate date);

// The locale's short date format with four-digit years, for date fields and labels.
QString ShortDateFormat();
QString ShortDate(std::int64_t day);
// A timestamp in the locale's short date and time; empty for kUndated.
QString ShortDateTime(Timestamp time);

}  // namespace quorvane
