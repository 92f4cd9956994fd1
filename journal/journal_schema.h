#pragma once
// The journal's tables, the same on SQLite and PostgreSQL but for the
// spelling of the id and byte columns, and the steps that bring a journal of
// an earlier version up to this one. The version is the row schema_version
// of journal_meta; a journal without that table is empty (version 0). The
// columns of journal_events, each with the version that brought it, are
// those of journal_columns.h: a step adds its version's columns and says
// what else the version changes.
//
//   1  journal_events: module, module_name, module_time, point,
//      point_description, state_text, text, quality, received, raw;
//      unique (module, module_time, raw); indexes (module_time),
//      (point, module_time)
//   2  + date_source, scan_flags; index (module_name, module_time) for the
//      module filter by name
//   3  + module_id, block, record, marks; the unique key becomes the event's
//      identity (module, block, record), which numbers genuine repeats apart
//      (module time and bytes dropped them); index (module, module_time);
//      journal_modules: per module the last block stored, whether its
//      acknowledge is still unconfirmed, and the event decoder's state after
//      it, so that a collector started again neither stores a block twice nor
//      loses the last date record
//   4  + utc_time, zone (the module's declared zone), clock_source,
//      clock_quality, clock_offset_ms; journal_modules + zone
//   5  journal_clocks: the modules' clocks as the collectors read them;
//      indexes (utc_time), (point, utc_time) for periods in UTC and UTC order
//   6  what the web view keeps beside the events: web_users (its accounts),
//      incidents, comments (each on an incident or on one event row;
//      indexes by either), journal_audit (who changed what, each row
//      chained to the one before by a hash: journal_audit.h); index
//      (module_time, utc_time) in place of (module_time), so that a page's
//      count and time line read the index alone (journal_page.h)
#include "journal_dialect.h"

#include <QSqlDatabase>
#include <QSqlError>
#include <QString>

namespace chronel {

constexpr int JournalSchemaVersion = 6;
// The first version that keeps the web view's accounts, incidents, comments
// and audit record.
constexpr int JournalWebSchemaVersion = 6;

// Brings the journal on `db` to `target` (at most JournalSchemaVersion) in
// one transaction, taken exclusively so that writers opening a new journal at
// once do not both create it. A journal newer than this program is refused.
// `*error` names `displayName` and what failed; `*busy` says whether it
// failed because another connection held the lock.
bool MigrateJournal(QSqlDatabase& db, JournalDialect dialect, const QString& displayName, QString* error,
    bool* busy = nullptr, int target = JournalSchemaVersion);

// The version of the journal on `db` (0: none), or -1 with `*error` set.
int JournalVersion(QSqlDatabase& db, JournalDialect dialect, QString* error);

// Whether a failure is another connection holding the lock (SQLite's BUSY or
// LOCKED), worth another try.
bool IsJournalBusy(const QSqlError& error);

} // namespace chronel
