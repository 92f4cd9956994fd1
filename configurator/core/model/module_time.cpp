#include "module_time.h"

#include <array>

namespace chronel {

namespace {

constexpr int EpochYear = 1984;
constexpr qint64 SecondsPerDay = 86400;
constexpr qint64 SecondsPerCommonYear = 365 * SecondsPerDay;

// Seconds from the start of the year to the end of each month but December.
constexpr std::array<qint64, 11> LeapMonthEnds = {
    2678400, 5184000, 7862400, 10454400, 13132800, 15724800, 18403200, 21081600, 23673600, 26352000, 28944000};
constexpr std::array<qint64, 11> CommonMonthEnds = {
    2678400, 5097600, 7776000, 10368000, 13046400, 15638400, 18316800, 20995200, 23587200, 26265600, 28857600};

static_assert(LeapMonthEnds.back() + 31 * SecondsPerDay == ModuleSecondsPerLeapYear);
static_assert(CommonMonthEnds.back() + 31 * SecondsPerDay == SecondsPerCommonYear);
static_assert(ModuleSecondsPerLeapYear + 3 * SecondsPerCommonYear == ModuleSecondsPerCycle);

} // namespace

ModuleDateTime ModuleSecondsToDateTime(qint32 seconds)
{
    // Floor division keeps the remainder in 0 … cycle − 1 for negative counts.
    const qint64 s = seconds;
    qint64 cycle = s / ModuleSecondsPerCycle;
    qint64 r = s % ModuleSecondsPerCycle;
    if (r < 0) {
        r += ModuleSecondsPerCycle;
        --cycle;
    }

    ModuleDateTime t;
    t.year = int(EpochYear + 4 * cycle);
    bool leap = true;
    if (r >= ModuleSecondsPerLeapYear) {
        r -= ModuleSecondsPerLeapYear;
        const qint64 commonYears = r / SecondsPerCommonYear; // 0 … 2
        t.year += int(1 + commonYears);
        r -= commonYears * SecondsPerCommonYear;
        leap = false;
    }

    const auto& ends = leap ? LeapMonthEnds : CommonMonthEnds;
    int month = 0;
    while (month < int(ends.size()) && r >= ends[std::size_t(month)])
        ++month;
    if (month > 0)
        r -= ends[std::size_t(month - 1)];
    t.month = month + 1;

    t.day = int(r / SecondsPerDay) + 1;
    r %= SecondsPerDay;
    t.hour = int(r / 3600);
    r %= 3600;
    t.minute = int(r / 60);
    t.second = int(r % 60);
    return t;
}

} // namespace chronel
