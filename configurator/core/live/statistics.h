#pragma once
// The module's statistics block (StatisticsBlockRegister, 100 words, word k =
// register 1501 + k) as the three statistics and test-mode windows show it:
// NTP requests per hour, task loading shares, sockets, dropped packets, the
// error list and the test-mode state.
#include "core/model/module_map.h"

#include <QLocale>
#include <QString>
#include <QStringList>
#include <array>
#include <optional>
#include <span>

namespace chronel {

namespace statsblock {
constexpr int NtpHourWords = 24;
constexpr int TaskLong = 24; // longs 24 … 31 = words 48 … 63
constexpr int TaskCount = 8;
constexpr int OpenSocketsWord = 75;
constexpr int TestModeWord = TestModeRegister - StatisticsBlockRegister;        // 76
constexpr int TestInputsLowWord = TestInputsRegister - StatisticsBlockRegister; // 77
constexpr int DroppedPacketsWord = 79;
constexpr int ErrorTimeLong = 40; // longs 40 … 44 = words 80 … 89
constexpr int ErrorCodeWord = 90;
constexpr int ErrorCount = 5;
constexpr qint16 TestModeOn = 21930; // 0x55AA
static_assert(TestModeWord == 76 && TestInputsLowWord == 77);
} // namespace statsblock

// Captions of the task rows, k = 0 … 7.
const std::array<QString, statsblock::TaskCount>& TaskNames();
// Captions beside txtNtpCount(k): "12:00 Midnight", "1:00 AM", … "12:00 Noon",
// "1:00 PM", … "11:00 PM".
QString NtpHourCaption(int hour);

struct StatisticsDisplay {
    std::array<QString, statsblock::NtpHourWords> ntpCounts; // txtNtpCount(k)
    std::array<QString, statsblock::TaskCount> taskShares;   // lblRtsTrTaskRatioData(k)
    QString openSockets;                                     // lblRtsOpenSocketsCount
    QString droppedPackets;                                  // lblRtsDroppedPacketsData
    std::array<QString, statsblock::ErrorCount> errorLines;  // lblRtsErrorText(j)
    // The module's test-mode word as last read; unknown until the first
    // statistics read, when both mode buttons stay available.
    std::optional<bool> testModeOn;

    bool normalEnabled() const { return testModeOn.value_or(true); }
    bool testEnabled() const { return !testModeOn.value_or(false); }
};

// count / total in the pattern "##0.#%": the share in percent with at most
// one decimal, rounded half away from zero, the point kept when the decimal
// is 0 ("50.%"). A total of 0 gives the pattern's zero, "0.%". `total` is
// the sum of eight 32-bit counters.
QString TaskShareText(qint32 count, qint64 total);

// Text of a module error code; 0 has none (an empty entry).
QString ModuleErrorText(int code);
// "<short date>  hh:mm:ss  <error text>" for an error list entry.
QString ErrorEntryText(qint32 seconds, int code, const QLocale& locale = QLocale::system());

// Updates every field from a block of 100 words (a shorter block changes
// nothing). Entries with code 0 keep their line.
void ApplyStatisticsBlock(
    std::span<const qint16> words, StatisticsDisplay& display, const QLocale& locale = QLocale::system());

} // namespace chronel
