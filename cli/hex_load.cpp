#include "hex_load.h"

#include "console.h"
#include "core/flash/flash_loader.h"

#include <QFile>

namespace chronelcli {

void PrintFlashStatus(chronel::FlashStatus& status, Console& console)
{
    QObject::connect(&status, &chronel::FlashStatus::textReplaced, &status, [&status, &console] {
        for (const QString& line : status.lines())
            console.line(line);
    });
    QObject::connect(&status, &chronel::FlashStatus::lineAppended, &status,
        [&console](const QString& message) { console.line(message); });
}

bool LoadHex(const QString& path, chronel::FlashImage& image, chronel::FlashStatus& status, Console& console)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        console.error(QStringLiteral("%1: %2").arg(path, file.errorString()));
        return false;
    }
    return chronel::LoadHexFile(file, path, image, status).ok;
}

} // namespace chronelcli
