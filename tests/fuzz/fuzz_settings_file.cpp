// Settings files as users hand them over: the reader must stop cleanly on
// anything, and whatever it accepted must survive File > Save and File > Open
// again: the saved file reads back without a message, and saving what was
// read back gives the same bytes.
#include "core/transfer/settings_file.h"

#include <QBuffer>
#include <QByteArray>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

QByteArray ReadAndSave(QByteArray bytes, chronel::SettingsReadResult& result, bool& replaced)
{
    chronel::ModuleSettings settings;
    chronel::PointTable points;
    chronel::FillPointDefaults(points);
    QBuffer file(&bytes);
    file.open(QIODevice::ReadOnly);
    QStringList controls;
    result = chronel::ReadSettingsFile(file, settings, points, &controls);
    replaced = false;
    return chronel::SettingsFileText(settings, points, &replaced);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    chronel::SettingsReadResult first;
    bool replaced = false;
    const QByteArray saved =
        ReadAndSave(QByteArray(reinterpret_cast<const char*>(data), qsizetype(size)), first, replaced);

    chronel::SettingsReadResult second;
    bool replacedAgain = false;
    const QByteArray savedAgain = ReadAndSave(saved, second, replacedAgain);
    if (second.runTimeError || !second.messages.isEmpty() || second.recordsRead != chronel::SettingsRecordCount) {
        std::fprintf(stderr, "a saved settings file does not read back: %s\n",
            second.messages.join(u'|').toLocal8Bit().constData());
        std::abort();
    }
    if (replacedAgain || savedAgain != saved) {
        std::fprintf(stderr, "saving what was read back changes the file\n");
        std::abort();
    }
    return 0;
}
