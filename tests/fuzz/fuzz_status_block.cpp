// Status blocks of any length and content (the event scan reads 100 words,
// Time Setup 24) into the Time Setup and GPS Data fields: floats that are
// NaN or huge, dates that do not exist, unknown fix and source values.
#include "core/live/status_block.h"

#include <cstdint>
#include <cstring>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static const QLocale german(QLocale::German, QLocale::Germany);
    std::vector<qint16> words(size / 2);
    if (!words.empty())
        std::memcpy(words.data(), data, words.size() * 2);
    chronel::StatusDisplay display;
    chronel::ApplyStatusBlock(words, display, QLocale::c());
    chronel::ApplyStatusBlock(words, display, german);
    if (words.size() > chronel::statusblock::GpsFixWord)
        (void)chronel::GpsFixText(words[chronel::statusblock::GpsFixWord]);
    return 0;
}
