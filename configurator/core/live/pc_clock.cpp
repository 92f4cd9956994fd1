#include "pc_clock.h"

#include "core/fields/date_text.h"
#include "status_block.h"

namespace chronel {

PcClock::PcClock(std::function<QDateTime()> now, const QLocale& locale, QObject* parent)
    : QObject(parent), now_(std::move(now)), locale_(locale)
{
    timer_.setInterval(IntervalMs);
    connect(&timer_, &QTimer::timeout, this, &PcClock::tick);
    timer_.start();
}

void PcClock::tick()
{
    const QDateTime now = now_ ? now_() : QDateTime::currentDateTime();
    time_ = ClockText(now.time().hour(), now.time().minute(), now.time().second());
    date_ = ShortDateText(now.date(), locale_);
    emit changed();
}

} // namespace chronel
