#include "app/DateText.h"

#include <QDateTime>
#include <QLocale>
#include <QRegularExpression>
#include <QTime>

namespace quorvane {

namespace {

const QDate kEpoch(1970, 1, 1);

QString WithFullYears(QString format) {
  static const QRegularExpression twoDigitYear(QStringLiteral("(?<!y)yy(?!y)"));
  return format.replace(twoDigitYear, QStringLiteral("yyyy"));
}

}  // namespace

QDate ToQDate(std::int64_t day) {
  return kEpoch.addDays(day);
}

std::int64_t DayNumber(QDate date) {
  return kEpoch.daysTo(date);
}

QString ShortDateFormat() {
  return WithFullYears(QLocale().dateFormat(QLocale::ShortFormat));
}

QString ShortDate(std::int64_t day) {
  return QLocale().toString(ToQDate(day), ShortDateFormat());
}

QString ShortDateTime(Timestamp time) {
  if (time == kUndated)
    return {};
  const std::int64_t day = DayOf(time);
  // As written, in no time zone: UTC, so no daylight-saving change moves or skips a time.
  const QDateTime shown(ToQDate(day), QTime(0, 0).addSecs(static_cast<int>(time - day * 86400)),
                        Qt::UTC);
  const QLocale locale;
  return locale.toString(shown, WithFullYears(locale.dateTimeFormat(QLocale::ShortFormat)));
}

}  // namespace quorvane
