#pragma once
// Date and time texts built from the module's separate date and time fields.
// The fields come straight from the module's registers and need not form a
// calendar date (a time record seen before any date record carries month 0);
// such a date is written as its raw numbers so the line still shows what the
// module sent.
#include <QLocale>
#include <QString>
#include <QTime>

namespace chronel {

// The locale's short date of year/month/day (the ISO form in the C locale);
// for fields that are no calendar date, "year-month-day" from the raw numbers
// ("0-0-0" before the first date record).
QString FieldsDateText(int year, int month, int day, const QLocale& locale = QLocale::system());

// `value` with at least `width` digits, leading zeros (a negative value keeps
// its sign in front: −5 with width 2 gives "-05").
QString ZeroPadded(int value, int width);

// The locale's time with seconds, without a time-zone name; "HH:mm:ss" in
// the C locale.
QString LocaleTimeText(const QTime& time, const QLocale& locale = QLocale::system());

} // namespace chronel
