#include "module_clock.h"

#include <QTimeZone>

namespace chronel {

namespace {

// Seconds the record may be ahead of a clock read to whole seconds.
constexpr qint64 ClockToleranceMs = 2000;

} // namespace

void ModuleClock::set(int year, int month, int day, int hour, int minute, int second)
{
    EventRecord fields;
    fields.year = year;
    fields.month = month;
    fields.day = day;
    fields.hour = hour;
    fields.minute = minute;
    fields.second = second;
    reading_ = ModuleDateTimeOf(fields).value_or(QDateTime());
    since_.start();
}

std::optional<QDateTime> ModuleClock::now() const
{
    if (!reading_.isValid())
        return std::nullopt;
    return reading_.addMSecs(since_.elapsed());
}

std::optional<QDateTime> ModuleDateTimeOf(const EventRecord& r)
{
    const QDate date(r.year, r.month, r.day);
    if (r.year < 1 || r.year > 9999 || !date.isValid())
        return std::nullopt;
    if (r.hour < 0 || r.hour > 23 || r.minute < 0 || r.minute > 59 || r.second < 0 || r.second > 59 ||
        r.millisecond < 0 || r.millisecond > 999)
        return std::nullopt;
    return QDateTime(date, QTime(r.hour, r.minute, r.second, r.millisecond), QTimeZone::utc());
}

QDateTime ModuleTimeBefore(const QDateTime& clockNow, const QTime& timeOfDay)
{
    const QDateTime limit = clockNow.addMSecs(ClockToleranceMs);
    QDateTime candidate(limit.date(), timeOfDay, QTimeZone::utc());
    if (candidate > limit)
        candidate = candidate.addDays(-1);
    return candidate;
}

} // namespace chronel
