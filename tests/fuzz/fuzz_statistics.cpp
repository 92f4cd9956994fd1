// Statistics blocks of any content into the NTP, run-time and test-mode
// windows: task counters whose sum overflows or is zero, error times far
// from any calendar, unknown error codes.
#include "core/live/statistics.h"

#include <cstdint>
#include <cstring>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static const QLocale german(QLocale::German, QLocale::Germany);
    std::vector<qint16> words(size / 2);
    if (!words.empty())
        std::memcpy(words.data(), data, words.size() * 2);
    chronel::StatisticsDisplay display;
    chronel::ApplyStatisticsBlock(words, display, QLocale::c());
    chronel::ApplyStatisticsBlock(words, display, german);
    return 0;
}
