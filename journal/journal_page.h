#pragma once
// One page of the rows a filter selects, for a table that shows a journal of
// millions of rows a page at a time (the web view): the page's rows in the
// order asked for, how many rows the filter selects in all, and the time line
// they are on — each answered by the database through its indexes, so that
// the first page of a day costs milliseconds whatever the journal's size.
//
// Sorted by time the rows go in the journal's order (journal_order.h: UTC
// order when every selected row has a UTC time, else module time; then
// module, then id) exactly as ForEachJournalRow hands them out, or that
// order reversed. Sorted by module, point or text, ties go in that time
// order, so a page boundary never splits rows of equal keys arbitrarily.
//
// The filter's texts are bound as values, never written into the SQL, so a
// filter from a web page selects rows and does nothing else.
//
// Each call reads through the store's connection, so on the store's thread.
#include "chatter.h"
#include "journal_event.h"
#include "journal_order.h"
#include "journal_query.h"
#include "journal_store.h"

#include <QList>
#include <QSet>
#include <QString>

#include <optional>

namespace chronel {

enum class JournalSortKey { Time, Module, Point, Text, Id };

struct JournalPageRequest {
    JournalFilter filter;
    JournalSortKey key = JournalSortKey::Time;
    bool descending = false;
    qint64 offset = 0;
    // 1 … MaxRows.
    int limit = 100;

    static constexpr int MaxRows = 500;
};

struct JournalPage {
    QList<JournalEvent> rows;
    // The rows the filter selects in all.
    qint64 total = 0;
    JournalTimeOrder order = JournalTimeOrder::ModuleTime;
    // Rows follow this page.
    bool more = false;
    // The page holds every row between its first and last on its time line
    // that the filter's period selects (sorted by time, nothing but a period
    // asked for).
    bool contiguous = false;
};

// The page `request` asks for; none with `*error` naming the journal and why
// (or what is wrong with the request: a negative offset, a limit outside
// 1 … MaxRows).
std::optional<JournalPage> JournalPageOf(const JournalStore& store, const JournalPageRequest& request, QString* error);

// JournalTimelineOf's answer from a few aggregates over the indexes instead
// of a pass that groups every selected row: the zones and the modules without
// UTC times are looked for only among the (few) distinct values there are.
std::optional<JournalTimeline> JournalQuickTimeline(
    const JournalStore& store, const JournalFilter& filter, QString* error);

// Whether the SQL of the filter selects `row`, decided without the database,
// for rows a live view gets as they come. The text search folds ASCII letters
// only, as SQLite's lower() and PostgreSQL's in the C locale do; on a
// PostgreSQL journal of another locale a row whose non-ASCII letters differ
// only in case from the search can be selected there and not here.
bool JournalFilterMatches(const JournalFilter& filter, const JournalEvent& row);

// The ids of the rows among `rows` (a page) that are changes of a chatter
// episode: ReadJournalChatter's answer for them, on the time line `order`
// (the page's; none: TimeOrderOf(rows)). The changes of the rows' modules
// and points are read in one statement, each over T either side of the
// rows' changes, rather than one read per module and point. A filter that
// names a module by a name it has had only for part of T reads the rest of
// its changes there, not here.
std::optional<QSet<qint64>> ChatteringRowsAmong(const JournalStore& store, const QList<JournalEvent>& rows,
    QString* error, std::optional<JournalTimeOrder> order = std::nullopt, ChatterLimits limits = {});

// ChatteringRowsAmong's answer for a page's rows, read for a contiguous page
// as one span of the time line when that costs less.
std::optional<QSet<qint64>> ChatteringRowsOfPage(
    const JournalStore& store, const JournalPage& page, QString* error, ChatterLimits limits = {});

} // namespace chronel
