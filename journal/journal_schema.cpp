#include "journal_schema.h"

#include "journal_columns.h"

#include <QSqlError>
#include <QSqlQuery>
#include <QStringList>

namespace chronel {

namespace {

static_assert(
    [] {
        for (const JournalColumn& column : JournalColumns)
            if (column.since > JournalSchemaVersion)
                return false;
        return true;
    }(),
    "a journal column comes with a schema version and its step");

// Keys pg_advisory_xact_lock takes for the migration ("chronel" in ASCII).
constexpr qint64 PostgresMigrationLock = 0x6368726f6e656cLL;

// The columns the table of `version` has (journal_columns.h), each as a
// CREATE TABLE lists it.
QStringList ColumnDefinitions(int version, JournalDialect dialect)
{
    QStringList definitions;
    for (const JournalColumn& column : JournalColumns)
        if (column.since <= version)
            definitions << QString::fromLatin1(column.name) + u' ' + column.definition(dialect);
    return definitions;
}

QString ColumnNames(int version)
{
    QStringList names;
    for (const JournalColumn& column : JournalColumns)
        if (column.since <= version)
            names << QString::fromLatin1(column.name);
    return names.join(QStringLiteral(", "));
}

// The columns `version` brings, added to a table of the version before.
QStringList AddedColumns(int version, JournalDialect dialect)
{
    QStringList statements;
    for (const JournalColumn& column : JournalColumns)
        if (column.since == version)
            statements << QStringLiteral("ALTER TABLE journal_events ADD COLUMN %1 %2")
                              .arg(QLatin1StringView(column.name), column.definition(dialect));
    return statements;
}

// The columns come from the column table; a step says what else its version
// changes (keys, indexes, other tables).
QStringList StepStatements(int version, JournalDialect dialect)
{
    const bool sqlite = dialect == JournalDialect::Sqlite;
    switch (version) {
    case 1:
        return {
            QStringLiteral("CREATE TABLE journal_meta (key TEXT PRIMARY KEY, value TEXT NOT NULL)"),
            QStringLiteral("CREATE TABLE journal_events (%1, UNIQUE (module, module_time, raw))")
                .arg(ColumnDefinitions(1, dialect).join(QStringLiteral(", "))),
            QStringLiteral("CREATE INDEX journal_events_time ON journal_events (module_time)"),
            QStringLiteral("CREATE INDEX journal_events_point ON journal_events (point, module_time)"),
        };
    case 2:
        return AddedColumns(2, dialect) +
            QStringList{
                QStringLiteral("CREATE INDEX journal_events_name ON journal_events (module_name, module_time)"),
            };
    case 3: {
        // A module's rows in time order (its first row, the module filter):
        // the unique key of versions 1 and 2 began with them, the identity
        // does not.
        const QString moduleTimeIndex =
            QStringLiteral("CREATE INDEX journal_events_module ON journal_events (module, module_time)");
        const QString modules = QStringLiteral("CREATE TABLE journal_modules ("
                                               "module TEXT%1 PRIMARY KEY,"
                                               " module_id INTEGER,"
                                               " block %2 NOT NULL DEFAULT 0,"
                                               " unconfirmed %3,"
                                               " decoder TEXT NOT NULL DEFAULT '',"
                                               " updated TEXT NOT NULL)")
                                    .arg(sqlite ? QString() : QStringLiteral(" COLLATE \"C\""),
                                        sqlite ? QStringLiteral("INTEGER") : QStringLiteral("BIGINT"),
                                        sqlite ? QStringLiteral("BLOB") : QStringLiteral("BYTEA"));
        if (!sqlite)
            return AddedColumns(3, dialect) +
                QStringList{
                    QStringLiteral(
                        "ALTER TABLE journal_events DROP CONSTRAINT journal_events_module_module_time_raw_key"),
                    QStringLiteral("ALTER TABLE journal_events ADD CONSTRAINT journal_events_identity"
                                   " UNIQUE (module, block, record)"),
                    moduleTimeIndex,
                    modules,
                };
        // SQLite drops a table constraint only by building the table anew;
        // the ids are copied, so a reader following them misses nothing.
        return {
            QStringLiteral("CREATE TABLE journal_events_new (%1, UNIQUE (module, block, record))")
                .arg(ColumnDefinitions(3, dialect).join(QStringLiteral(", "))),
            QStringLiteral("INSERT INTO journal_events_new (%1) SELECT %1 FROM journal_events").arg(ColumnNames(2)),
            QStringLiteral("DROP TABLE journal_events"),
            QStringLiteral("ALTER TABLE journal_events_new RENAME TO journal_events"),
            QStringLiteral("CREATE INDEX journal_events_time ON journal_events (module_time)"),
            QStringLiteral("CREATE INDEX journal_events_point ON journal_events (point, module_time)"),
            QStringLiteral("CREATE INDEX journal_events_name ON journal_events (module_name, module_time)"),
            moduleTimeIndex,
            modules,
        };
    }
    case 4:
        return AddedColumns(4, dialect) +
            QStringList{
                QStringLiteral("ALTER TABLE journal_modules ADD COLUMN zone TEXT NOT NULL DEFAULT ''"),
            };
    case 5: {
        // The modules' clocks as the collectors read them, a row at each
        // change and now and then (clock_state.h), for `clocks`; and the
        // rows' UTC times indexed for periods given in UTC and for UTC order,
        // also within a point (as module times are).
        const QString byteOrder = sqlite ? QString() : QStringLiteral(" COLLATE \"C\"");
        return {
            QStringLiteral("CREATE TABLE journal_clocks (module TEXT%1 NOT NULL, at TEXT%1 NOT NULL,"
                           " source INTEGER NOT NULL, quality INTEGER NOT NULL, offset_ms INTEGER)")
                .arg(byteOrder),
            QStringLiteral("CREATE INDEX journal_clocks_module ON journal_clocks (module, at)"),
            QStringLiteral("CREATE INDEX journal_events_utc ON journal_events (utc_time)"),
            QStringLiteral("CREATE INDEX journal_events_point_utc ON journal_events (point, utc_time)"),
        };
    }
    case 6: {
        // Names sort by their bytes on both kinds, as the lists show them.
        const QString byteOrder = sqlite ? QString() : QStringLiteral(" COLLATE \"C\"");
        const QString id = sqlite ? QStringLiteral("INTEGER PRIMARY KEY AUTOINCREMENT")
                                  : QStringLiteral("BIGINT GENERATED BY DEFAULT AS IDENTITY PRIMARY KEY");
        const QString reference = sqlite ? QStringLiteral("INTEGER") : QStringLiteral("BIGINT");
        QStringList statements{
            QStringLiteral("CREATE TABLE web_users (name TEXT%1 PRIMARY KEY, role TEXT NOT NULL, hash TEXT NOT NULL,"
                           " created TEXT NOT NULL, changed TEXT NOT NULL)")
                .arg(byteOrder),
            QStringLiteral("CREATE TABLE incidents (id %1, title TEXT NOT NULL, from_time TEXT NOT NULL,"
                           " to_time TEXT NOT NULL, modules TEXT NOT NULL, comment TEXT NOT NULL,"
                           " author TEXT NOT NULL, created TEXT NOT NULL)")
                .arg(id),
            QStringLiteral("CREATE TABLE comments (id %1, incident_id %2 REFERENCES incidents (id), event_id %2,"
                           " author TEXT NOT NULL, text TEXT NOT NULL, created TEXT NOT NULL,"
                           " CHECK ((incident_id IS NULL) <> (event_id IS NULL)))")
                .arg(id, reference),
            QStringLiteral("CREATE INDEX comments_incident ON comments (incident_id)"),
            QStringLiteral("CREATE INDEX comments_event ON comments (event_id)"),
            // The chain gives each row its id (journal_audit.cpp), so that
            // the hash covers it.
            QStringLiteral("CREATE TABLE journal_audit (id %1 PRIMARY KEY, at TEXT NOT NULL, who TEXT NOT NULL,"
                           " address TEXT NOT NULL, action TEXT NOT NULL, before TEXT NOT NULL, after TEXT NOT NULL,"
                           " prev_hash TEXT NOT NULL, hash TEXT NOT NULL)")
                .arg(reference),
        };
        // The web table's pages (journal_page.cpp): the count of a period's
        // rows, those without a UTC time and their UTC span come from the
        // index alone, not from a visit to each row; it serves every use of
        // (module_time) as well, which it replaces.
        statements << QStringLiteral("DROP INDEX journal_events_time")
                   << QStringLiteral("CREATE INDEX journal_events_time_utc ON journal_events (module_time, utc_time)");
        return statements;
    }
    }
    return {};
}

QString Failure(const QString& displayName, const QString& what, const QSqlError& error)
{
    return QStringLiteral("journal %1: %2: %3").arg(displayName, what, error.text());
}

} // namespace

bool IsJournalBusy(const QSqlError& error)
{
    bool ok = false;
    const int code = error.nativeErrorCode().toInt(&ok);
    // The primary code is the low byte of an extended one.
    return ok && ((code & 0xff) == 5 || (code & 0xff) == 6);
}

int JournalVersion(QSqlDatabase& db, JournalDialect dialect, QString* error)
{
    QSqlQuery query(db);
    const QString exists = dialect == JournalDialect::Sqlite
        ? QStringLiteral("SELECT count(*) FROM sqlite_master WHERE type = 'table' AND name = 'journal_meta'")
        : QStringLiteral("SELECT count(*) FROM pg_catalog.pg_tables"
                         " WHERE tablename = 'journal_meta' AND schemaname = current_schema()");
    if (!query.exec(exists) || !query.next()) {
        *error = query.lastError().text();
        return -1;
    }
    if (query.value(0).toInt() == 0)
        return 0;
    if (!query.exec(QStringLiteral("SELECT value FROM journal_meta WHERE key = 'schema_version'"))) {
        *error = query.lastError().text();
        return -1;
    }
    bool ok = false;
    const int version = query.next() ? query.value(0).toString().toInt(&ok) : 0;
    if (!ok || version < 1) {
        *error = QStringLiteral("journal_meta holds no valid schema_version");
        return -1;
    }
    return version;
}

bool MigrateJournal(
    QSqlDatabase& db, JournalDialect dialect, const QString& displayName, QString* error, bool* busy, int target)
{
    QSqlQuery query(db);
    if (busy)
        *busy = false;
    auto fail = [&](const QString& what) {
        *error = Failure(displayName, what, query.lastError());
        if (busy)
            *busy = IsJournalBusy(query.lastError());
        query.exec(QStringLiteral("ROLLBACK"));
        return false;
    };
    // IMMEDIATE takes SQLite's write lock before the version is read; on
    // PostgreSQL an advisory lock does that.
    if (!query.exec(dialect == JournalDialect::Sqlite ? QStringLiteral("BEGIN IMMEDIATE") : QStringLiteral("BEGIN")))
        return fail(QStringLiteral("cannot begin the schema's transaction"));
    if (dialect == JournalDialect::Postgres &&
        !query.exec(QStringLiteral("SELECT pg_advisory_xact_lock(%1)").arg(PostgresMigrationLock)))
        return fail(QStringLiteral("cannot lock the schema"));
    QString why;
    const int version = JournalVersion(db, dialect, &why);
    if (version < 0) {
        query.exec(QStringLiteral("ROLLBACK"));
        *error = QStringLiteral("journal %1: cannot read the schema version: %2").arg(displayName, why);
        return false;
    }
    if (version > JournalSchemaVersion) {
        query.exec(QStringLiteral("ROLLBACK"));
        *error = QStringLiteral("journal %1 has schema version %2, newer than this program's %3")
                     .arg(displayName)
                     .arg(version)
                     .arg(JournalSchemaVersion);
        return false;
    }
    for (int step = version + 1; step <= target; ++step) {
        for (const QString& statement : StepStatements(step, dialect)) {
            if (!query.exec(statement))
                return fail(QStringLiteral("schema step to version %1 failed").arg(step));
        }
    }
    if (target > version) {
        const QString record = version == 0
            ? QStringLiteral("INSERT INTO journal_meta (key, value) VALUES ('schema_version', ?)")
            : QStringLiteral("UPDATE journal_meta SET value = ? WHERE key = 'schema_version'");
        query.prepare(record);
        query.addBindValue(QString::number(target));
        if (!query.exec())
            return fail(QStringLiteral("cannot record schema version %1").arg(target));
    }
    if (!query.exec(QStringLiteral("COMMIT")))
        return fail(QStringLiteral("cannot commit the schema"));
    return true;
}

} // namespace chronel
