#include "timing_trace.h"

#include <QDateTime>
#include <QRegularExpression>
#include <QTimeZone>

#include <algorithm>

namespace chronel {

EventEffect EventEffectOf(const QString& text)
{
    // The bodies of EventLineBody with a point: "  Input Point NN  On",
    // "  Output Point NN  Off", "  Input Point NN  On Scan", …; chatter is
    // left out on purpose, it says the point is bouncing, not where it is.
    static const QRegularExpression body(QStringLiteral("(?:Input|Output) Point +\\d+ +(On|Off)( Scan)?\\s*$"));
    const auto match = body.match(text);
    if (!match.hasMatch())
        return {};
    return {match.captured(1) == u"On" ? PointState::On : PointState::Off, !match.captured(2).isEmpty()};
}

QString ModuleTimeText(qint64 ms)
{
    return QDateTime::fromMSecsSinceEpoch(ms, QTimeZone::utc()).toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss.zzz"));
}

QList<TraceSegment> TraceSegments(const QList<TraceEvent>& events, qint64 from, qint64 to, qint64 dataFrom)
{
    QList<TraceSegment> segments;
    if (to <= from)
        return segments;
    // An event is data whatever the time given for the module's first.
    if (!events.isEmpty())
        dataFrom = std::min(dataFrom, events.first().ms);

    const auto firstKnown = std::find_if(
        events.begin(), events.end(), [](const TraceEvent& e) { return e.effect.state != PointState::Unknown; });
    PointState state = PointState::Unknown;
    if (firstKnown != events.end() && !firstKnown->effect.scan)
        state = firstKnown->effect.state == PointState::On ? PointState::Off : PointState::On;

    // Two changes in one millisecond leave no span between them.
    const auto add = [&segments](qint64 begin, qint64 end, PointState s) {
        if (!segments.isEmpty() && segments.last().state == s)
            segments.last().to = end;
        else
            segments.append({begin, end, s});
    };
    qint64 start = from;
    if (dataFrom > from) {
        add(from, std::min(dataFrom, to), PointState::NoData);
        start = std::min(dataFrom, to);
        if (start == to)
            return segments;
    }
    for (const TraceEvent& event : events) {
        if (event.effect.state == PointState::Unknown || event.effect.state == state)
            continue;
        if (event.ms >= to)
            break;
        if (event.ms > start) {
            add(start, event.ms, state);
            start = event.ms;
        }
        state = event.effect.state;
    }
    add(start, to, state);
    return segments;
}

PointState StateAt(const QList<TraceSegment>& segments, qint64 ms)
{
    const auto after = std::upper_bound(
        segments.begin(), segments.end(), ms, [](qint64 t, const TraceSegment& s) { return t < s.from; });
    if (after == segments.begin())
        return PointState::Unknown;
    const TraceSegment& segment = *(after - 1);
    return ms < segment.to ? segment.state : PointState::Unknown;
}

} // namespace chronel
