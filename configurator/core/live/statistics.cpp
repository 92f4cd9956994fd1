#include "statistics.h"

#include "core/fields/calendar_text.h"
#include "core/fields/number_rule.h"
#include "core/model/module_time.h"

namespace chronel {

namespace {

qint32 LongAt(std::span<const qint16> words, int longIndex)
{
    const auto low = quint32(quint16(words[std::size_t(2 * longIndex)]));
    const auto high = quint32(quint16(words[std::size_t(2 * longIndex + 1)]));
    return qint32(low | high << 16);
}

} // namespace

const std::array<QString, statsblock::TaskCount>& TaskNames()
{
    static const std::array<QString, statsblock::TaskCount> names = {QStringLiteral("SER Sync"),
        QStringLiteral("GPS Sync"), QStringLiteral("IRIG-B Sync"), QStringLiteral("Process Event"),
        QStringLiteral("Modbus RS232"), QStringLiteral("Modbus RS485"), QStringLiteral("Modbus TC/IP"),
        QStringLiteral("Idle")};
    return names;
}

QString NtpHourCaption(int hour)
{
    if (hour == 0)
        return QStringLiteral("12:00 Midnight");
    if (hour == 12)
        return QStringLiteral("12:00 Noon");
    return QStringLiteral("%1:00 %2").arg(hour % 12).arg(hour < 12 ? QStringLiteral("AM") : QStringLiteral("PM"));
}

QString TaskShareText(qint32 count, qint64 total)
{
    if (total == 0)
        return QStringLiteral("0.%");
    // Tenths of a percent in integers, so that 1/8 is exactly 12.5.
    const bool negative = (count < 0) != (total < 0) && count != 0;
    const quint64 c = count < 0 ? 0 - quint64(qint64(count)) : quint64(count);
    const quint64 t = total < 0 ? 0 - quint64(total) : quint64(total);
    const quint64 tenths = (2 * c * 1000 + t) / (2 * t);
    QString text = negative && tenths != 0 ? QStringLiteral("-") : QString();
    text += QString::number(tenths / 10) + QLatin1Char('.');
    if (tenths % 10 != 0)
        text += QString::number(tenths % 10);
    return text + QLatin1Char('%');
}

QString ModuleErrorText(int code)
{
    switch (code) {
    case 0: return {};
    case 1: return QStringLiteral("Real Time Clock Error");
    case 2: return QStringLiteral("Ethernet Controller Reset");
    case 3: return QStringLiteral("Non-Volital RAM Reset");
    case 4: return QStringLiteral("Configuration Write Fail");
    default: return QStringLiteral("Invalid Error Code");
    }
}

QString ErrorEntryText(qint32 seconds, int code, const QLocale& locale)
{
    const ModuleDateTime t = ModuleSecondsToDateTime(seconds);
    return FieldsDateText(t.year, t.month, t.day, locale) + QStringLiteral("  ") + ZeroPadded(t.hour, 2) +
        QLatin1Char(':') + ZeroPadded(t.minute, 2) + QLatin1Char(':') + ZeroPadded(t.second, 2) + QStringLiteral("  ") +
        ModuleErrorText(code);
}

void ApplyStatisticsBlock(std::span<const qint16> words, StatisticsDisplay& d, const QLocale& locale)
{
    using namespace statsblock;
    if (words.size() < std::size_t(StatisticsBlockWordCount))
        return;
    auto word = [&](int k) { return int(words[std::size_t(k)]); };

    for (int k = 0; k < NtpHourWords; ++k)
        d.ntpCounts[std::size_t(k)] = NumberText(word(k));

    std::array<qint32, TaskCount> counts{};
    qint64 total = 0;
    for (int k = 0; k < TaskCount; ++k) {
        counts[std::size_t(k)] = LongAt(words, TaskLong + k);
        total += counts[std::size_t(k)];
    }
    for (int k = 0; k < TaskCount; ++k)
        d.taskShares[std::size_t(k)] = TaskShareText(counts[std::size_t(k)], total);

    d.openSockets = NumberText(word(OpenSocketsWord));
    d.droppedPackets = NumberText(word(DroppedPacketsWord));

    for (int j = 0; j < ErrorCount; ++j) {
        const int code = word(ErrorCodeWord + j);
        if (code != 0)
            d.errorLines[std::size_t(j)] = ErrorEntryText(LongAt(words, ErrorTimeLong + j), code, locale);
    }

    d.testModeOn = words[std::size_t(TestModeWord)] == TestModeOn;
}

} // namespace chronel
