#pragma once
// Chatter: an input point that changes more than N times within T. The
// journal keeps every change a module sent; chatter is found as the journal
// is read, so the limits stay the reader's and journals of any age get it.
// No change is dropped or merged: each change of an episode is marked
// "chattering" and an episode is listed beside the rows, never for them.
//
// A window is half-open: N + 1 changes chatter only when the last comes less
// than T after the first, so a point changing at exactly N per T does not.
// Every change in such a window belongs to an episode, and windows that share
// a change are one episode. The changes of a point must come in time order
// (on the time line of journal_order.h), the point's changes within one
// millisecond in the order they were stored.
#include "journal_event.h"
#include "journal_order.h"

#include <QDateTime>
#include <QHash>
#include <QList>
#include <QSet>
#include <QString>

#include <deque>
#include <optional>

namespace chronel {

struct ChatterLimits {
    int changes = 10;       // more than this many changes of one point …
    qint64 windowMs = 1000; // … within this long
};

// What a chattering change is marked with after its record's marks.
inline constexpr char ChatteringMark[] = "chattering";

// Whether `row` is a change of one of the module's input points ("Input
// Point  4  On", "… Off"): not a scan's report of its state, not an output.
bool IsInputChange(const JournalEvent& row);
// The module's own report of a chattering input point, "Chatter On Scan" or
// "Chatter Off Scan"; empty for any other row.
QString ModuleChatterReport(const JournalEvent& row);

struct ChatterChange {
    QString module;
    QString moduleName;
    int point = 0;
    qint64 ms = 0; // on the rows' time line
    qint64 id = 0;
    // In the period asked for; changes read around it only complete the
    // episodes that cross its ends.
    bool counted = true;
    QString moduleTime;
    QDateTime utcTime;
};

struct ChatterEpisode {
    QString module;
    QString moduleName;
    int point = 0;
    // Its first and last change on the time line, as (ms, id): a change of
    // its point between them, both included, is one of it.
    qint64 firstMs = 0;
    qint64 firstId = 0;
    qint64 lastMs = 0;
    qint64 lastId = 0;
    // Its changes in the period, the first and last of them, and whether it
    // has changes before or after them (it crosses the period's start or end).
    int changes = 0;
    ChatterChange first;
    ChatterChange last;
    bool beganBefore = false;
    bool goesOnAfter = false;
};

class ChatterDetector {
public:
    explicit ChatterDetector(ChatterLimits limits) : limits_(limits) { }

    // The next change; the changes of one point in time order.
    void add(const ChatterChange& change);
    // Every episode, its last ones closed, by first change, then module and
    // point.
    QList<ChatterEpisode> finish();

private:
    struct Seen {
        ChatterChange change;
        qint64 seq;
    };
    struct PointState {
        std::deque<Seen> window; // its latest changes, at most N + 1
        qint64 seen = 0;
        std::optional<ChatterEpisode> open;
        qint64 openLast = 0; // the number of the open episode's last change
    };

    static void extend(ChatterEpisode& episode, const ChatterChange& change);
    void close(PointState& state);

    ChatterLimits limits_;
    QHash<QString, PointState> points_;
    QList<ChatterEpisode> closed_;
};

// Which changes belong to episodes: each episode's (ms, id) span of its point.
class ChatterIndex {
public:
    ChatterIndex() = default;
    explicit ChatterIndex(const QList<ChatterEpisode>& episodes);

    bool holds(const QString& module, int point, qint64 ms, qint64 id) const;

private:
    // By module and point, in time order; the episodes of a point never
    // overlap.
    QHash<QString, QList<ChatterEpisode>> spans_;
};

// The ids of the changes among `rows` that chatter, on the time line
// TimeOrderOf(rows) chooses. Nothing is found for changes outside `rows`.
QSet<qint64> ChatteringIds(const QList<JournalEvent>& rows, ChatterLimits limits = {});

// `marks` with "chattering" after them.
QString WithChatteringMark(const QString& marks);

} // namespace chronel
