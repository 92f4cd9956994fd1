#pragma once
// The journal's columns, described once: each column of journal_events with
// the member of JournalEvent it holds, the schema version that brought it,
// its SQL, and where it goes out. The schema's steps, the store's INSERT,
// the queries' SELECT, the csv and jsonl writers and the window's table and
// its CSV export all read this table; the text format ("<name>  <line>
// [marks]", journal_format.h) has a fixed layout and reads none of it.
//
// The table's order is the database's (ALTER TABLE adds at the end, so it
// goes by version), chronel-cli's csv's and the window's table's. Programs
// reading the csv count on the columns they know staying in their place: a
// new column goes at the end.
//
// Adding a column: a member of JournalEvent, a row at the end of
// JournalColumns with the next schema version as `since`, and that version's
// step in journal_schema.cpp.
#include "journal_dialect.h"
#include "journal_event.h"

#include <QJsonValue>
#include <QString>
#include <QVariant>

#include <iterator>
#include <optional>
#include <string_view>
#include <variant>

namespace chronel {

// The member of a row a column holds. Its type gives the column's SQL type
// and how it is bound, read and written out.
using JournalField = std::variant<QString JournalEvent::*, int JournalEvent::*, qint64 JournalEvent::*,
    std::optional<int> JournalEvent::*, QDateTime JournalEvent::*, QByteArray JournalEvent::*>;

namespace columnflag {
// The store assigns it (the row's id): the INSERT leaves it out.
constexpr unsigned AssignedByStore = 1 << 0;
// A part of the event's identity (module, block, record): NULL on a row that
// has none (block 0), so such rows never meet another.
constexpr unsigned IdentityPart = 1 << 1;
// Compared byte by byte on PostgreSQL (COLLATE "C") as on SQLite: it orders
// or identifies rows.
constexpr unsigned ByteOrder = 1 << 2;
// In chronel-cli's csv.
constexpr unsigned InCsv = 1 << 3;
// The window sorts it as it reads (an address, a fixed-width time), not as
// words in the user's language.
constexpr unsigned SortedAsRead = 1 << 4;
// The window shows and exports 0 as empty (an event without a point).
constexpr unsigned ZeroAsEmpty = 1 << 5;
// The window shows a module time with a space for its T.
constexpr unsigned TimeWithSpace = 1 << 6;
// The window shows the row's marks after it, as the text format does.
constexpr unsigned MarksAfter = 1 << 7;
// The window shows the row's clock here in words (clock_state.h: source,
// quality and offset) with its doubts marked, sorts by those three and
// exports the words: a bare source code means nothing to a reader.
constexpr unsigned ClockWords = 1 << 8;
} // namespace columnflag

struct JournalColumn {
    // In journal_events.
    const char* name;
    JournalField field;
    // The schema version that brought it.
    int since = 1;
    // Its SQL after the type: NOT NULL, DEFAULT. A column a later version
    // adds has a DEFAULT or allows NULL; that default (or NULL) is also what
    // a journal of an earlier version, read as it is, gives for it.
    const char* constraint = "";
    // Its key in jsonl (every column is there) and in chronel-cli's csv header.
    const char* key = nullptr;
    unsigned flags = 0;
    // The window's column header; none: not in the window's table.
    const char* title = nullptr;
    // Its name in the header of the window's CSV export; none: `key`.
    const char* exportName = nullptr;

    // The column's SQL for a CREATE TABLE or ADD COLUMN, without its name:
    // "TEXT COLLATE "C" NOT NULL".
    QString definition(JournalDialect dialect) const;
    // What a journal of a version before `since` gives instead, as SQL.
    QString absent() const;
    // The value an INSERT binds for `event`.
    QVariant bound(const JournalEvent& event) const;
    // Sets the member of `event` from what a SELECT read.
    void load(JournalEvent* event, const QVariant& value) const;
    // The value as a text in the csv files: numbers in digits, none as
    // empty, the received time as stored, bytes in hex.
    QString text(const JournalEvent& event) const;
    QJsonValue json(const JournalEvent& event) const;
};

// clang-format off
inline constexpr JournalColumn JournalColumns[] = {
    {.name = "id", .field = &JournalEvent::id, .key = "id", .flags = columnflag::AssignedByStore},
    {.name = "module", .field = &JournalEvent::module, .constraint = "NOT NULL", .key = "module",
        .flags = columnflag::ByteOrder | columnflag::InCsv | columnflag::SortedAsRead, .title = "Module"},
    {.name = "module_name", .field = &JournalEvent::moduleName, .constraint = "NOT NULL DEFAULT ''", .key = "name",
        .flags = columnflag::ByteOrder | columnflag::InCsv, .title = "Name"},
    {.name = "module_time", .field = &JournalEvent::moduleTime, .constraint = "NOT NULL", .key = "module_time",
        .flags = columnflag::ByteOrder | columnflag::InCsv | columnflag::SortedAsRead | columnflag::TimeWithSpace,
        .title = "Module time"},
    {.name = "point", .field = &JournalEvent::point, .constraint = "NOT NULL DEFAULT 0", .key = "point",
        .flags = columnflag::InCsv | columnflag::ZeroAsEmpty, .title = "Point"},
    {.name = "point_description", .field = &JournalEvent::pointDescription, .constraint = "NOT NULL DEFAULT ''",
        .key = "point_description", .title = "Description", .exportName = "description"},
    {.name = "state_text", .field = &JournalEvent::stateText, .constraint = "NOT NULL DEFAULT ''", .key = "state",
        .flags = columnflag::InCsv, .title = "State"},
    {.name = "text", .field = &JournalEvent::text, .constraint = "NOT NULL", .key = "text",
        .flags = columnflag::InCsv | columnflag::MarksAfter, .title = "Event text"},
    {.name = "quality", .field = &JournalEvent::quality, .constraint = "NOT NULL DEFAULT 0", .key = "quality",
        .flags = columnflag::InCsv, .title = "Quality"},
    {.name = "received", .field = &JournalEvent::received, .constraint = "NOT NULL", .key = "received",
        .flags = columnflag::InCsv, .title = "Received"},
    {.name = "raw", .field = &JournalEvent::raw, .constraint = "NOT NULL", .key = "raw"},
    {.name = "date_source", .field = &JournalEvent::dateSource, .since = 2, .constraint = "NOT NULL DEFAULT ''",
        .key = "date_source", .flags = columnflag::InCsv},
    {.name = "scan_flags", .field = &JournalEvent::scanFlags, .since = 2, .constraint = "NOT NULL DEFAULT 0",
        .key = "scan_flags"},
    {.name = "module_id", .field = &JournalEvent::moduleId, .since = 3, .key = "module_id",
        .flags = columnflag::InCsv},
    {.name = "block", .field = &JournalEvent::block, .since = 3, .key = "block", .flags = columnflag::IdentityPart},
    {.name = "record", .field = &JournalEvent::record, .since = 3, .key = "record",
        .flags = columnflag::IdentityPart},
    {.name = "marks", .field = &JournalEvent::marks, .since = 3, .constraint = "NOT NULL DEFAULT ''", .key = "marks",
        .flags = columnflag::InCsv},
    {.name = "utc_time", .field = &JournalEvent::utcTime, .since = 4, .constraint = "NOT NULL DEFAULT ''",
        .key = "utc_time", .flags = columnflag::InCsv | columnflag::ByteOrder},
    {.name = "zone", .field = &JournalEvent::zone, .since = 4, .constraint = "NOT NULL DEFAULT ''", .key = "zone",
        .flags = columnflag::InCsv},
    {.name = "clock_source", .field = &JournalEvent::clockSource, .since = 4, .key = "clock_source",
        .flags = columnflag::InCsv | columnflag::ClockWords, .title = "Clock", .exportName = "clock"},
    {.name = "clock_quality", .field = &JournalEvent::clockQuality, .since = 4, .key = "clock_quality",
        .flags = columnflag::InCsv},
    {.name = "clock_offset_ms", .field = &JournalEvent::clockOffsetMs, .since = 4, .key = "clock_offset_ms",
        .flags = columnflag::InCsv},
};
// clang-format on

namespace detail {
// The rules above that a new row can break, checked when it is compiled.
consteval bool InVersionOrder()
{
    for (std::size_t i = 1; i < std::size(JournalColumns); ++i)
        if (JournalColumns[i].since < JournalColumns[i - 1].since)
            return false;
    return true;
}
// ALTER TABLE cannot add a NOT NULL column without a DEFAULT to rows stored
// already.
consteval bool LaterColumnsTakeOldRows()
{
    for (const JournalColumn& column : JournalColumns) {
        const std::string_view constraint = column.constraint;
        if (column.since > 1 && constraint.find("NOT NULL") != std::string_view::npos &&
            constraint.find("DEFAULT") == std::string_view::npos)
            return false;
    }
    return true;
}
consteval bool EveryColumnHasAKey()
{
    for (const JournalColumn& column : JournalColumns)
        if (column.key == nullptr)
            return false;
    return true;
}
} // namespace detail
static_assert(detail::InVersionOrder(), "journal columns go in the order of their versions");
static_assert(detail::LaterColumnsTakeOldRows(), "a column a later version adds needs a DEFAULT or NULL");
static_assert(detail::EveryColumnHasAKey(), "every journal column has its jsonl key");

} // namespace chronel
