#pragma once
// The module's own clock as last read from its status block (words 4 … 9,
// whole seconds), carried forward on a monotonic timer. Events whose record
// carries no date (type-0 time records before any date record) or no time
// at all (type-3 text) are filed by it, never by the computer's clock.
//
// Module times have no zone. They are held in QDateTimes set to Qt::UTC
// only so that no arithmetic on them meets a daylight-saving change of the
// zone the collector runs in.
#include "event_record.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <optional>

namespace chronel {

class ModuleClock {
public:
    // The clock as the status block gives it; an impossible date or time
    // leaves the clock unknown.
    void set(int year, int month, int day, int hour, int minute, int second);
    void clear() { reading_ = QDateTime(); }
    bool known() const { return reading_.isValid(); }
    // The module's time now: the reading plus the time since it was read.
    std::optional<QDateTime> now() const;

private:
    QDateTime reading_;
    QElapsedTimer since_;
};

// A record's fields as a module time, if they can be one: a calendar date of
// the years 1 … 9999, hours, minutes, seconds and milliseconds in range.
std::optional<QDateTime> ModuleDateTimeOf(const EventRecord& record);

// The module time of a record stamped at `timeOfDay` while the module's clock
// reads `clockNow`: the latest day on which that time of day is not later
// than the clock. The clock is read to whole seconds, so a record up to two
// seconds ahead of it still belongs to its day.
QDateTime ModuleTimeBefore(const QDateTime& clockNow, const QTime& timeOfDay);

} // namespace chronel
