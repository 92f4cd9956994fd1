#include "drvsetup/card_selection.h"

#include "drvsetup/program_info.h"
#include "mpbridge/mpbridge.h"
#include "platform/message_box.h"

#include <array>

namespace drvsetup {

std::optional<CardChoice> SelectCard()
{
    if (MBXDriverAvailable() != 0) {
        platform::MessageBox(ProgramTitle(), QStringLiteral("MBX Drivers Not Available"));
        return std::nullopt;
    }

    // The dialog writes the name without a terminating zero over a buffer of
    // blanks; the extra byte keeps the buffer terminated whatever it writes.
    std::array<char, 65> buffer{};
    buffer.fill(' ');
    buffer.back() = '\0';
    int number = -1;
    MBXSelectDevice(&number, buffer.data());

    QString name = QString::fromLocal8Bit(buffer.data(), 64);
    const qsizetype zero = name.indexOf(QChar(u'\0'));
    if (zero >= 0)
        name.truncate(zero);
    // Control characters could not be stored as one line in PLCDRV.INI.
    for (QChar& c : name) {
        if (c.unicode() < 0x20 || c.unicode() == 0x7F)
            c = u'_';
    }
    name = name.trimmed();
    if (name.isEmpty() || number < 0)
        return std::nullopt;
    return CardChoice{name, number};
}

} // namespace drvsetup
