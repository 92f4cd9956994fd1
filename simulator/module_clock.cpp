#include "module_clock.h"

#include <utility>

namespace chronel::sim {
namespace {

int64_t FloorDiv(int64_t a, int64_t b) { return a / b - ((a % b != 0) && ((a < 0) != (b < 0))); }

int Weekday(int64_t daysSince1984)
{
    // 1984-01-01 was a Sunday (0).
    int64_t w = daysSince1984 % 7;
    return static_cast<int>(w < 0 ? w + 7 : w);
}

// Day of month of the n-th (1-based) Sunday, or the last one for n = 0.
int SundayOfMonth(int year, int month, int n)
{
    if (n == 0) {
        int last = DaysInMonth(year, month);
        int wd = Weekday(DaysFromCivil(year, month, last));
        return last - wd;
    }
    int wd = Weekday(DaysFromCivil(year, month, 1));
    int first = 1 + (7 - wd) % 7;
    return first + 7 * (n - 1);
}

struct Boundary {
    int month, day, hour;
};

int64_t BoundarySeconds(int year, Boundary b)
{
    return (DaysFromCivil(year, b.month, b.day)) * 86400 + int64_t{b.hour} * 3600;
}

} // namespace

int64_t DaysFromCivil(int year, int month, int day)
{
    // Days since 1984-01-01 by the era algorithm, valid for any year.
    int64_t y = year - (month <= 2 ? 1 : 0);
    int64_t era = FloorDiv(y, 400);
    int64_t yoe = y - era * 400;
    int64_t mp = (month + 9) % 12;
    int64_t doy = (153 * mp + 2) / 5 + day - 1;
    int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    int64_t daysSince1970 = era * 146097 + doe - 719468;
    return daysSince1970 - kUnixToModuleEpoch / 86400;
}

CivilTime CivilFromSeconds(int64_t seconds)
{
    int64_t days = FloorDiv(seconds, 86400);
    int64_t rem = seconds - days * 86400;
    int64_t z = days + kUnixToModuleEpoch / 86400 + 719468;
    int64_t era = FloorDiv(z, 146097);
    int64_t doe = z - era * 146097;
    int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    int64_t y = yoe + era * 400;
    int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    int64_t mp = (5 * doy + 2) / 153;
    CivilTime t;
    t.day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    t.month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    t.year = static_cast<int>(y + (t.month <= 2 ? 1 : 0));
    t.hour = static_cast<int>(rem / 3600);
    t.minute = static_cast<int>(rem % 3600 / 60);
    t.second = static_cast<int>(rem % 60);
    return t;
}

int64_t SecondsFromCivil(const CivilTime& t)
{
    return DaysFromCivil(t.year, t.month, t.day) * 86400 + int64_t{t.hour} * 3600 + t.minute * 60 + t.second;
}

int DaysInMonth(int year, int month)
{
    static constexpr int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (month < 1 || month > 12)
        return 0;
    bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    return kDays[month - 1] + (month == 2 && leap ? 1 : 0);
}

bool IsValidCivil(const CivilTime& t)
{
    return t.year >= 1984 && t.year <= 2150 && t.month >= 1 && t.month <= 12 && t.day >= 1 &&
        t.day <= DaysInMonth(t.year, t.month) && t.hour >= 0 && t.hour <= 23 && t.minute >= 0 && t.minute <= 59 &&
        t.second >= 0 && t.second <= 59;
}

bool DstInForce(const DstRule& rule, int64_t standardSeconds)
{
    CivilTime now = CivilFromSeconds(standardSeconds);
    Boundary start{}, stop{};
    switch (rule.location) {
    case 1:
        if (rule.startMonth < 1 || rule.startMonth > 12 || rule.stopMonth < 1 || rule.stopMonth > 12)
            return false;
        start = {rule.startMonth, rule.startDay, rule.startHour};
        stop = {rule.stopMonth, rule.stopDay, rule.stopHour};
        // Manual days are clamped into the month so a 31 in a short month still works.
        start.day = start.day < 1
            ? 1
            : (start.day > DaysInMonth(now.year, start.month) ? DaysInMonth(now.year, start.month) : start.day);
        stop.day = stop.day < 1
            ? 1
            : (stop.day > DaysInMonth(now.year, stop.month) ? DaysInMonth(now.year, stop.month) : stop.day);
        break;
    case 2:
    case 5:
        start = {3, SundayOfMonth(now.year, 3, 2), 2};
        stop = {11, SundayOfMonth(now.year, 11, 1), 2};
        break;
    case 3:
        start = {3, SundayOfMonth(now.year, 3, 0), 1};
        stop = {10, SundayOfMonth(now.year, 10, 0), 1};
        break;
    case 4:
        start = {4, SundayOfMonth(now.year, 4, 1), 2};
        stop = {10, SundayOfMonth(now.year, 10, 0), 2};
        break;
    default: return false;
    }
    int64_t a = BoundarySeconds(now.year, start);
    int64_t b = BoundarySeconds(now.year, stop);
    if (a == b)
        return false;
    // A start after the stop is a southern-hemisphere rule spanning New Year.
    return a < b ? (standardSeconds >= a && standardSeconds < b) : (standardSeconds >= a || standardSeconds < b);
}

ModuleClock::ModuleClock(HostClock host) : host_(std::move(host)) { }

int64_t ModuleClock::standardMs() const
{
    return host_() - kUnixToModuleEpoch * 1000 + int64_t{gpsOffsetHours_} * 3600000 + adjustMs_;
}

bool ModuleClock::dst() const { return DstInForce(rule_, FloorDiv(standardMs(), 1000)); }

int64_t ModuleClock::localMs() const { return standardMs() + (dst() ? 3600000 : 0); }

void ModuleClock::setLocal(const CivilTime& t)
{
    int64_t local = SecondsFromCivil(t);
    int64_t standard = local - (DstInForce(rule_, local) ? 3600 : 0);
    int64_t unadjusted = host_() - kUnixToModuleEpoch * 1000 + int64_t{gpsOffsetHours_} * 3600000;
    adjustMs_ = standard * 1000 - unadjusted;
}

} // namespace chronel::sim
