#pragma once
// Reading the journal: the rows a filter selects in time order (UTC order
// when every one of them has a UTC time, else module-time order, then module,
// then id: journal_order.h); the rows after an id, for a view that follows the
// journal as it grows; the modules and points there are, for a filter's
// choices.
//
// Each call reads through the store's connection, so on the store's thread.
//
// The period is half-open, from ≤ module time < to, so one hour is 13:00 to
// 14:00 and consecutive periods never share a row; a `to` given as a date
// alone takes in that whole day. Times are module times and have no zone.
#include "journal_event.h"
#include "journal_order.h"
#include "journal_store.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

namespace chronel {

struct JournalFilter {
    // Bounds in the stored form, "yyyy-MM-ddTHH:mm:ss.zzz"; empty: open.
    QString from;
    QString to;
    // Bounds on the rows' UTC times, "yyyy-MM-ddTHH:mm:ss.zzzZ", for a
    // period given with its zone; a row without a UTC time (its module's
    // zone undeclared) is not in such a period. Empty: open.
    QString fromUtc;
    QString toUtc;
    // A module's address or its name; empty: every module.
    QString module;
    // Any of these modules, each an address or a name, as an incident names
    // the modules it concerns; empty: every module. Applies as well as
    // `module` when both are set.
    QStringList modules;
    std::optional<int> point;
    // A part of the event's text, its point's description, its state's text
    // or its module's name, in any case (ASCII letters on SQLite, whose
    // lower() folds no others).
    QString grep;
    // Only rows of a point (1 … 32).
    bool pointRows = false;

    // From a user's text: a date "yyyy-MM-dd", then optionally " " or "T"
    // and "HH:mm", ":ss", ".z" … ".zzz": a module time; with "Z" or an
    // offset ("+02:00", "-0530") after the time, ISO 8601's way, a UTC time.
    // False with `*error` naming the text when it is none of these.
    bool setFrom(const QString& text, QString* error);
    bool setTo(const QString& text, QString* error);
    void setFrom(const QDateTime& time) { from = JournalTimeText(time); }
    void setTo(const QDateTime& time) { to = JournalTimeText(time); }
};

// The rows a filter selects as one time line: the order they go in, the
// zones behind them and which of them have no UTC time.
struct JournalTimeline {
    JournalTimeOrder order = JournalTimeOrder::Utc;
    qint64 rows = 0;
    // Rows without a UTC time (their module's zone undeclared, or a time in
    // an hour the zone repeats or skips), and their modules' names (the
    // address of one without a name), sorted.
    qint64 rowsWithoutUtc = 0;
    QStringList modulesWithoutUtc;
    // The zones declared for the rows, sorted.
    QStringList zones;
    // The first and last of the rows' module times and UTC times, in the
    // stored forms; empty when there is none.
    QString firstModuleTime;
    QString lastModuleTime;
    QString firstUtc;
    QString lastUtc;
};

// One pass over the rows `filter` selects, without keeping them.
std::optional<JournalTimeline> JournalTimelineOf(
    const JournalStore& store, const JournalFilter& filter, QString* error);

// Hands each row `filter` selects, in order, to `sink` until it returns
// false; rows are read in pages, so a result of any size takes little memory.
// The order is `timeline`'s, JournalTimelineOf's when none is given; in UTC
// order only rows with a UTC time are read, and within the timeline's UTC
// span when it has one.
bool ForEachJournalRow(const JournalStore& store, const JournalFilter& filter,
    const std::function<bool(const JournalEvent&)>& sink, QString* error, const JournalTimeline* timeline = nullptr);

// At most `limit` rows (all for a negative limit) that `filter` selects.
std::optional<QList<JournalEvent>> JournalRows(
    const JournalStore& store, const JournalFilter& filter, QString* error, int limit = -1);

// The rows stored after row `id` (0: from the first) that `filter` selects,
// in id order, at most `limit`; the last one's id is the next call's `id`.
std::optional<QList<JournalEvent>> JournalRowsAfter(
    const JournalStore& store, qint64 id, const JournalFilter& filter, int limit, QString* error);

struct JournalModule {
    QString module;
    // The name its latest row (by module time) carries.
    QString name;

    friend bool operator==(const JournalModule&, const JournalModule&) = default;
};

// The modules in the journal, by address.
std::optional<QList<JournalModule>> JournalModules(const JournalStore& store, QString* error);
// The points in the journal (0 for events without one), ascending.
std::optional<QList<int>> JournalPoints(const JournalStore& store, QString* error);

struct JournalPoint {
    int point = 0;
    QString description;

    friend bool operator==(const JournalPoint&, const JournalPoint&) = default;
};

// The points in the journal, ascending, each with the description of its
// latest row (by module time) of `module` (an address or a name), or of any
// module when `module` is empty or has no row of that point.
std::optional<QList<JournalPoint>> JournalPointList(const JournalStore& store, const QString& module, QString* error);

// The module time of the earliest row of the module at `address`; empty
// when it has none.
// The newest line (`text`) of `module`'s `point` that holds `kind` ("Input
// Point", "Output Point") and has a UTC time before `utcBound`; `*line`
// none when there is none. False with `*error` when the journal cannot be read.
bool JournalLineBefore(const JournalStore& store, const QString& module, int point, const QString& kind,
    const QString& utcBound, std::optional<QString>* line, QString* error);

// The clock readings of every module from `since` on, in module and time
// order, each module's led by its last reading before `since` (the state its
// clock was in then); empty on a journal of a version that kept none.
std::optional<QList<JournalClockReading>> JournalClockReadings(
    const JournalStore& store, const QDateTime& since, QString* error);

std::optional<QString> JournalFirstModuleTime(const JournalStore& store, const QString& address, QString* error);

} // namespace chronel
