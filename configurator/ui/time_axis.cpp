#include "time_axis.h"

#include <QDateTime>
#include <QTimeZone>

#include <algorithm>
#include <cmath>

namespace chronel {

namespace {

constexpr qint64 Second = 1000;
constexpr qint64 Minute = 60 * Second;
constexpr qint64 Hour = 60 * Minute;
constexpr qint64 Day = 24 * Hour;

// Steps a reader counts in: decimal below a second, then the clock's.
constexpr qint64 Steps[] = {1, 2, 5, 10, 20, 50, 100, 200, 500, Second, 2 * Second, 5 * Second, 10 * Second,
    15 * Second, 30 * Second, Minute, 2 * Minute, 5 * Minute, 10 * Minute, 15 * Minute, 30 * Minute, Hour, 2 * Hour,
    3 * Hour, 6 * Hour, 12 * Hour, Day, 2 * Day, 7 * Day, 14 * Day, 28 * Day, 91 * Day, 364 * Day};

} // namespace

void TimeAxis::setSpan(qint64 from, qint64 to)
{
    from_ = from;
    to_ = std::max(to, from + 1);
    clamp();
}

void TimeAxis::setWidth(int pixels)
{
    const double shown = width_ * msPerPixel_;
    width_ = std::max(pixels, 1);
    msPerPixel_ = shown / width_;
    clamp();
}

void TimeAxis::showAll()
{
    start_ = double(from_);
    msPerPixel_ = maxMsPerPixel();
}

double TimeAxis::maxMsPerPixel() const { return std::max(double(to_ - from_) / width_, MinMsPerPixel); }

void TimeAxis::clamp()
{
    msPerPixel_ = std::clamp(msPerPixel_, MinMsPerPixel, maxMsPerPixel());
    const double latestStart = std::max(double(from_), double(to_) - width_ * msPerPixel_);
    start_ = std::clamp(start_, double(from_), latestStart);
}

void TimeAxis::zoom(double factor, double anchorX)
{
    if (!(factor > 0))
        return;
    const double anchor = toMs(anchorX);
    msPerPixel_ = std::clamp(msPerPixel_ / factor, MinMsPerPixel, maxMsPerPixel());
    start_ = anchor - anchorX * msPerPixel_;
    clamp();
}

void TimeAxis::scroll(double pixels)
{
    start_ += pixels * msPerPixel_;
    clamp();
}

void TimeAxis::setViewStart(double ms)
{
    start_ = ms;
    clamp();
}

qint64 TimeAxis::tickStep(int minSpacing) const
{
    const double least = std::max(minSpacing, 1) * msPerPixel_;
    for (qint64 step : Steps) {
        if (step >= least)
            return step;
    }
    return std::ceil(least / double(Steps[std::size(Steps) - 1])) * Steps[std::size(Steps) - 1];
}

QList<TimeAxis::Tick> TimeAxis::ticks(int minSpacing) const
{
    const qint64 step = tickStep(minSpacing);
    const QString format = step < Second ? QStringLiteral("HH:mm:ss.zzz")
        : step < Minute                  ? QStringLiteral("HH:mm:ss")
        : step < Day                     ? QStringLiteral("HH:mm")
                                         : QStringLiteral("yyyy-MM-dd");
    // Round multiples of the step from the epoch: midnight of the module's
    // clock, since the axis has no zone.
    qint64 ms = qint64(std::ceil(start_ / double(step))) * step;
    QList<Tick> ticks;
    for (const double end = viewEnd(); ms <= end; ms += step)
        ticks.append({ms, QDateTime::fromMSecsSinceEpoch(ms, QTimeZone::utc()).toString(format)});
    return ticks;
}

} // namespace chronel
