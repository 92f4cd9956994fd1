// One sequence-of-events record as the module keeps it before it is laid out
// in one of the four event buffer types.
#pragma once

#include <cstdint>

namespace chronel::sim {

namespace kind {
inline constexpr uint8_t InputPoint = 1;
inline constexpr uint8_t OnScan = 2;
inline constexpr uint8_t OffScan = 3;
inline constexpr uint8_t PowerOnReset = 6;
inline constexpr uint8_t SerSyncLock = 7;
inline constexpr uint8_t SerSyncFail = 8;
inline constexpr uint8_t BufferOverflow = 9;
inline constexpr uint8_t ResyncOldTime = 11;
inline constexpr uint8_t ResyncNewTime = 12;
inline constexpr uint8_t HourlyTimeUpdate = 13;
inline constexpr uint8_t ResyncNewDate = 14;
inline constexpr uint8_t Reconfigure = 15;
inline constexpr uint8_t Restart = 18;
inline constexpr uint8_t GpsSyncLock = 20;
inline constexpr uint8_t GpsSyncFail = 21;
inline constexpr uint8_t IrigSyncLock = 22;
inline constexpr uint8_t IrigSyncFail = 23;
inline constexpr uint8_t TestModeOn = 24;
inline constexpr uint8_t TestModeOff = 25;
} // namespace kind

// Time-source code carried in every record.
enum class RecordSource : uint8_t { Gps = 0, FreeRunning = 1, Peer = 2, IrigB = 3 };

struct SerEvent {
    uint8_t kind = 0;
    uint8_t point = 0;   // 1 ... 32, 0 when the kind has no point
    bool state = false;  // true = on
    int64_t seconds = 0; // module local time, seconds since 1984-01-01
    uint16_t millisecond = 0;
    RecordSource source = RecordSource::Gps;
    bool dst = false;

    bool operator==(const SerEvent&) const = default;
};

} // namespace chronel::sim
