// The module's clock: local time counted in seconds since 1 January 1984,
// derived from the host clock, the GPS offset, a user adjustment made by the
// time-set command, and the configured daylight-saving rule.
#pragma once

#include <cstdint>
#include <functional>

namespace chronel::sim {

// Seconds between 1970-01-01 and the module epoch 1984-01-01.
inline constexpr int64_t kUnixToModuleEpoch = 441763200;

struct CivilTime {
    int year = 1984;
    int month = 1; // 1 ... 12
    int day = 1;   // 1 ... 31
    int hour = 0;
    int minute = 0;
    int second = 0;
};

// Proleptic Gregorian conversions; seconds are counted from the module epoch.
int64_t DaysFromCivil(int year, int month, int day);
CivilTime CivilFromSeconds(int64_t seconds);
int64_t SecondsFromCivil(const CivilTime& t);
int DaysInMonth(int year, int month);
bool IsValidCivil(const CivilTime& t);

// Daylight-saving rule as the configuration block stores it.
struct DstRule {
    int location = 0; // 0 disabled, 1 manual, 2 Canada, 3 EU, 4 Mexico, 5 US
    int startMonth = 0, startDay = 0, startHour = 0;
    int stopMonth = 0, stopDay = 0, stopHour = 0;
};

// True when daylight-saving time is in force at the given standard time.
bool DstInForce(const DstRule& rule, int64_t standardSeconds);

class ModuleClock {
public:
    // Host time source: milliseconds since 1970-01-01 UTC.
    using HostClock = std::function<int64_t()>;

    explicit ModuleClock(HostClock host);

    void setGpsOffsetHours(int hours) { gpsOffsetHours_ = hours; }
    void setDstRule(const DstRule& rule) { rule_ = rule; }

    int64_t hostMs() const { return host_(); }
    // Standard (non-DST) time in milliseconds since the module epoch.
    int64_t standardMs() const;
    bool dst() const;
    // Local time as shown by the module (DST applied), ms since the module epoch.
    int64_t localMs() const;

    // Loads a local time as the time-set command does; the DST state is
    // judged from the new time itself.
    void setLocal(const CivilTime& t);
    int64_t adjustmentMs() const { return adjustMs_; }
    void resetAdjustment() { adjustMs_ = 0; }

private:
    HostClock host_;
    int gpsOffsetHours_ = 0;
    int64_t adjustMs_ = 0;
    DstRule rule_;
};

} // namespace chronel::sim
