#pragma once
// A point's state over time as a timing chart draws it: from the journal's
// events of one point to the spans in which it was On, Off or unknown. No
// widgets, so the chart's picture is tested as numbers.
#include "journal/journal_order.h"

#include <QList>
#include <QString>
#include <QtGlobal>
#include <limits>
#include <optional>

namespace chronel {

// NoData: nothing was collected from the point's module yet.
enum class PointState { Unknown, Off, On, NoData };

// What an event line says about its point.
struct EventEffect {
    PointState state = PointState::Unknown;
    // The module's scan reports the state it found ("On Scan", "Off Scan");
    // a change record ("Input Point  5  On") also says what the state was.
    bool scan = false;
};

// From the event line as the window shows it (EventLineBody): "Input Point
// 5  On" and "Output Point  5  Off" are changes, "On Scan" and "Off Scan"
// scans; chatter and events without a point leave the state unknown.
EventEffect EventEffectOf(const QString& text);

// The inverse of JournalTimeMs (journal/journal_order.h), which puts a
// module time on an axis without zones: the stored form.
QString ModuleTimeText(qint64 ms);

struct TraceEvent {
    qint64 ms = 0;
    EventEffect effect;
};

struct TraceSegment {
    qint64 from = 0;
    qint64 to = 0;
    PointState state = PointState::Unknown;

    friend bool operator==(const TraceSegment&, const TraceSegment&) = default;
};

// The spans covering [from, to) in which a point was On, Off or unknown,
// from its events in time order (some may lie outside the span). Before
// `dataFrom`, the time of its module's first collected event, nothing is
// known: NoData. From then until its first event of known state the point was
// in the other state when that event is a change, unknown when it is a scan;
// events of unknown state and repeats of the state change nothing, so
// neighbouring spans always differ.
QList<TraceSegment> TraceSegments(
    const QList<TraceEvent>& events, qint64 from, qint64 to, qint64 dataFrom = std::numeric_limits<qint64>::min());

// The state at `ms` among `segments`; Unknown outside them.
PointState StateAt(const QList<TraceSegment>& segments, qint64 ms);

} // namespace chronel
