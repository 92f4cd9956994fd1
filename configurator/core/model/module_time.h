#pragma once
// The module counts time as seconds since 1 January 1984 00:00:00 (a leap
// year) and treats every fourth year as a leap year, so its calendar is a
// plain cycle of 1461 days. The configurator converts with the same rule so
// that it reads back exactly what the module meant, also past 2100.
#include <QtGlobal>

namespace chronel {

struct ModuleDateTime {
    int year = 0;
    int month = 0;
    int day = 0;
    int hour = 0;
    int minute = 0;
    int second = 0;

    friend bool operator==(const ModuleDateTime&, const ModuleDateTime&) = default;
};

constexpr qint64 ModuleSecondsPerCycle = 126230400; // 1461 days
constexpr qint64 ModuleSecondsPerLeapYear = 31622400;

// Any 32-bit count converts; a negative one counts back from 1984 with the
// same four-year cycle (−1 is 31 December 1983 23:59:59).
ModuleDateTime ModuleSecondsToDateTime(qint32 seconds);

} // namespace chronel
