#include "clock_state.h"

#include <QStringList>

#include <cstdlib>

namespace chronel {

namespace {

QString SourceText(int source)
{
    switch (ClockSource(source & ClockSourceMask)) {
    case ClockSource::Gps: return QStringLiteral("GPS");
    case ClockSource::IrigB: return QStringLiteral("IRIG-B");
    case ClockSource::Ser: return QStringLiteral("SER");
    case ClockSource::Internal:
        return (source & ClockGpsSeenMask) != 0 ? QStringLiteral("internal clock (GPS seen)")
                                                : QStringLiteral("internal clock");
    }
    return QStringLiteral("source %1").arg(source & ClockSourceMask);
}

QString QualityText(int quality)
{
    switch (ClockQuality(quality & ClockQualityMask)) {
    case ClockQuality::Good: return QStringLiteral("good");
    case ClockQuality::Fair: return QStringLiteral("fair");
    case ClockQuality::Poor: return QStringLiteral("poor");
    case ClockQuality::Bad: return QStringLiteral("bad");
    }
    return {};
}

QString SecondsText(qint64 ms, bool sign)
{
    const qint64 magnitude = ms < 0 ? -ms : ms;
    const QString number = QString::number(magnitude / 1000.0, 'f', magnitude % 1000 == 0 ? 0 : 1);
    if (!sign)
        return number + QStringLiteral(" s");
    return (ms < 0 ? QStringLiteral("-") : QStringLiteral("+")) + number + QStringLiteral(" s");
}

} // namespace

bool ClockSynchronised(int source)
{
    switch (ClockSource(source & ClockSourceMask)) {
    case ClockSource::Gps:
    case ClockSource::IrigB:
    case ClockSource::Ser: return true;
    case ClockSource::Internal: break;
    }
    return false; // internal, or a source the module does not define
}

QString ClockStateText(const JournalEvent& row)
{
    if (!row.clockSource && !row.clockQuality)
        return QStringLiteral("unknown");
    QStringList words;
    words << (row.clockSource ? SourceText(*row.clockSource) : QStringLiteral("source unknown"));
    if (row.clockQuality)
        words << QualityText(*row.clockQuality);
    if (row.clockOffsetMs)
        words << SecondsText(*row.clockOffsetMs, true);
    return words.join(QStringLiteral(", "));
}

QString ClockDoubts(const JournalEvent& row, int maxOffsetMs)
{
    QStringList doubts;
    if (row.clockSource && !ClockSynchronised(*row.clockSource))
        doubts << QStringLiteral("clock not synchronised");
    if (row.clockQuality) {
        const auto quality = ClockQuality(*row.clockQuality & ClockQualityMask);
        if (quality == ClockQuality::Poor || quality == ClockQuality::Bad)
            doubts << QStringLiteral("clock quality %1").arg(QualityText(*row.clockQuality));
    }
    if (row.clockOffsetMs && std::abs(qint64(*row.clockOffsetMs)) > maxOffsetMs)
        doubts << QStringLiteral("clock off by %1").arg(SecondsText(*row.clockOffsetMs, false));
    return doubts.join(QStringLiteral(", "));
}

} // namespace chronel
