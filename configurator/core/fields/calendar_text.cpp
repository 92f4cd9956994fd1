#include "calendar_text.h"

#include "date_text.h"

#include <QDate>
#include <cstdlib>

namespace chronel {

QString FieldsDateText(int year, int month, int day, const QLocale& locale)
{
    const QDate date(year, month, day);
    if (date.isValid())
        return ShortDateText(date, locale);
    return QStringLiteral("%1-%2-%3").arg(year).arg(month).arg(day);
}

QString ZeroPadded(int value, int width)
{
    const QString digits = QString::number(std::abs(qint64(value))).rightJustified(width, QLatin1Char('0'));
    return value < 0 ? QLatin1Char('-') + digits : digits;
}

QString LocaleTimeText(const QTime& time, const QLocale& locale)
{
    if (locale.language() == QLocale::C)
        return time.toString(QStringLiteral("HH:mm:ss"));
    // The long format carries the seconds; its zone name ('t') is dropped.
    QString format = locale.timeFormat(QLocale::LongFormat);
    format.remove(QLatin1Char('t'));
    return locale.toString(time, format.trimmed());
}

} // namespace chronel
