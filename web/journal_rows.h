#pragma once
// The journal as the web API answers it: a request's filter read from its
// query, strictly (a field that is not what it must be is refused with its
// name, never guessed at or dropped); a row as JSON, the same object for the
// table and the live feed; the state changes of points for the timing chart.
// Everything reaches the database as bound values of the journal's queries.
#include "journal/clock_state.h"
#include "journal/journal_event.h"
#include "journal/journal_order.h"
#include "journal/journal_query.h"
#include "journal/journal_store.h"

#include <QByteArray>
#include <QJsonObject>
#include <QList>
#include <QMap>
#include <QString>
#include <QStringList>

#include <optional>

namespace chronel {

using Query = QMap<QString, QString>;

// Longest text a filter field or a series list takes, in characters.
constexpr int MaxFilterTextLength = 200;
constexpr int MaxSeriesListLength = 2000;
// Rows of one page, and of one chart series (a chattering point's changes
// beyond it are cut, which the answer says).
constexpr int MaxPageLimit = 500;
constexpr int DefaultPageLimit = 100;
constexpr int MaxChartSeries = 16;
constexpr int MaxSeriesChanges = 20000;

// Refuses a parameter outside `known`: a misspelt field would otherwise
// widen the selection without a word. False with `*error` naming it.
bool OnlyKnownParameters(const Query& query, const QStringList& known, QString* error);

// A non-negative integer of at most 18 digits, nothing else (no sign,
// space, or leading '+'); none otherwise.
std::optional<qint64> ParseCount(const QString& text);

// The filter fields from, to (JournalFilter::setFrom's forms), module (an
// address or a name), point (0 … 32) and grep; an empty or absent field
// leaves its part open. False with `*error` naming the field and why.
bool ParseFilterQuery(const Query& query, JournalFilter* filter, QString* error);

// "utc" or "module time".
QString TimeOrderText(JournalTimeOrder order);

// One row: id, module, moduleName, moduleTime, utcTime ("" without one),
// zone, point, pointDescription, stateText, text, marks, clock, clockDoubt,
// chattering, comments.
QJsonObject RowJson(
    const JournalEvent& row, bool chattering, int comments, int maxClockOffsetMs = DefaultMaxClockOffsetMs);
// The same as compact JSON text, to be put together with others unchanged.
QByteArray RowJsonText(
    const JournalEvent& row, bool chattering, int comments, int maxClockOffsetMs = DefaultMaxClockOffsetMs);

// The largest row id in the journal (0 when it is empty): where a live feed
// opened after a page goes on from.
std::optional<qint64> JournalLastId(const JournalStore& store, QString* error);

struct ChartSeriesKey {
    QString module; // an address or a name
    int point = 0;

    friend bool operator==(const ChartSeriesKey&, const ChartSeriesKey&) = default;
};

// The chart's series: `series=MODULE:POINT,...` (a module's name may hold
// ':'; the point is after the last one), or one `module=` and `point=`.
// False with `*error` naming the field.
bool ParseChartSeries(const Query& query, QList<ChartSeriesKey>* series, QString* error);

// {"series":[{"module","point","description","changes":[{"t","state"}],
// "truncated"}],"order"}: each point's changes (lines ending On or Off) in
// `period`, ms on the one time line of all of them (UTC where every change
// has a UTC time, else module time read as UTC).
std::optional<QJsonObject> ChartJson(
    const JournalStore& store, const JournalFilter& period, const QList<ChartSeriesKey>& series, QString* error);

} // namespace chronel
