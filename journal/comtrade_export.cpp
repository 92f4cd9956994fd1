#include "comtrade_export.h"

#include "clock_state.h"

#include <QHash>
#include <QSysInfo>

#include <algorithm>
#include <cstdlib>

namespace chronel {

namespace {

constexpr int TmqLocked = 0x0;
constexpr int TmqWithinOneSecond = 0xA;
constexpr int TmqWithinTenSeconds = 0xB;
constexpr int TmqUnreliable = 0xF;

QString KindOfLine(const QString& line)
{
    return line.contains(QLatin1String("Output Point")) ? QStringLiteral("Output Point")
                                                        : QStringLiteral("Input Point");
}

} // namespace

std::optional<int> PointStateOfLine(const QString& line)
{
    if (line.endsWith(QLatin1String("  On")))
        return 1;
    if (line.endsWith(QLatin1String("  Off")))
        return 0;
    return std::nullopt;
}

int TimeQualityCode(const JournalEvent& row)
{
    if (!row.clockSource || !row.clockQuality || !ClockSynchronised(*row.clockSource))
        return TmqUnreliable;
    int code = TmqUnreliable;
    switch (ClockQuality(*row.clockQuality & ClockQualityMask)) {
    case ClockQuality::Good: code = TmqLocked; break;
    case ClockQuality::Fair: code = TmqWithinOneSecond; break;
    case ClockQuality::Poor: code = TmqWithinTenSeconds; break;
    case ClockQuality::Bad: break;
    }
    // A measured offset bounds the error from below: the clock read whole
    // seconds, so only offsets beyond a second say anything.
    if (row.clockOffsetMs) {
        const qint64 offset = std::abs(qint64(*row.clockOffsetMs));
        if (offset > 10000)
            code = TmqUnreliable;
        else if (offset > 1500)
            code = std::max(code, TmqWithinTenSeconds);
    }
    return code;
}

bool HasUtcPeriod(const JournalFilter& filter) { return !filter.fromUtc.isEmpty() && !filter.toUtc.isEmpty(); }

bool ExportComtrade(const JournalStore& store, const JournalFilter& filter, const ComtradeExport& how,
    ComtradeFiles* files, int* changes, QString* error)
{
    if (!HasUtcPeriod(filter)) {
        *error = QStringLiteral("a COMTRADE record holds UTC times: give the period's start and end with Z or an "
                                "offset (2026-10-25T00:30Z), for modules whose zone is declared");
        return false;
    }
    std::vector<JournalEvent> rows;
    const bool read = ForEachJournalRow(
        store, filter,
        [&rows](const JournalEvent& e) {
            if (e.point > 0 && e.utcTime.isValid() && PointStateOfLine(e.text))
                rows.push_back(e);
            return true;
        },
        error);
    if (!read)
        return false;
    // A period in UTC selects rows with UTC times only, so they come in UTC
    // order already, ties by module; a record's ties go in the order the
    // rows were stored in.
    std::stable_sort(rows.begin(), rows.end(), [](const JournalEvent& a, const JournalEvent& b) {
        return a.utcTime != b.utcTime ? a.utcTime < b.utcTime : a.id < b.id;
    });

    ComtradeRecording recording;
    recording.station = how.station.isEmpty() ? QSysInfo::machineHostName() : how.station;
    recording.device = !how.device.isEmpty() ? how.device
        : filter.module.isEmpty()            ? QStringLiteral("site journal")
                                             : filter.module;
    recording.from = QDateTime::fromString(filter.fromUtc, Qt::ISODateWithMs);
    recording.to = QDateTime::fromString(filter.toUtc, Qt::ISODateWithMs);
    recording.timeQuality = rows.empty() ? TmqUnreliable : TmqLocked;
    QHash<QString, int> channelOf;
    for (const JournalEvent& row : rows) {
        const QString kind = KindOfLine(row.text);
        const QString key = row.module + u'\n' + kind + u'\n' + QString::number(row.point);
        auto found = channelOf.constFind(key);
        if (found == channelOf.constEnd()) {
            const QString module = row.moduleName.isEmpty() ? row.module : row.moduleName;
            ComtradeChannel channel;
            channel.name = QStringLiteral("%1 %2 %3").arg(module, kind).arg(row.point);
            if (!row.pointDescription.trimmed().isEmpty())
                channel.name += QStringLiteral(" ") + row.pointDescription.trimmed();
            channel.component = row.pointDescription.trimmed();
            // Its state before the period: the last line of the point before it.
            std::optional<QString> before;
            if (!JournalLineBefore(store, row.module, row.point, kind, filter.fromUtc, &before, error))
                return false;
            recording.initialStates.push_back(before ? PointStateOfLine(*before).value_or(0) : 0);
            recording.channels.push_back(channel);
            found = channelOf.insert(key, int(recording.channels.size()) - 1);
        }
        recording.changes.push_back({row.utcTime, *found, *PointStateOfLine(row.text)});
        recording.timeQuality = std::max(recording.timeQuality, TimeQualityCode(row));
    }
    if (!WriteComtrade(recording, how.dir, how.format, files, error))
        return false;
    *changes = int(recording.changes.size());
    return true;
}

} // namespace chronel
