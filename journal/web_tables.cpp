#include "web_tables.h"

#include "journal_error.h"
#include "journal_schema.h"
#include "postgres_connection.h"

#include <QDeadlineTimer>
#include <QSqlQuery>
#include <QThread>

namespace chronel {

bool CheckWebTables(const JournalStore& store, const QString& what, QString* error)
{
    const QString name = store.location().displayName();
    if (!store.isOpen()) {
        *error = QStringLiteral("journal %1: not open").arg(name);
        return false;
    }
    if (store.schemaVersion() >= JournalWebSchemaVersion)
        return true;
    // A reader opened before a writer migrated the journal still reads it.
    QSqlDatabase db = store.database();
    QString why;
    const int version = JournalVersion(db, store.dialect(), &why);
    if (version >= JournalWebSchemaVersion)
        return true;
    if (version < 0) {
        *error = QStringLiteral("journal %1: cannot read the schema version: %2")
                     .arg(name, store.location().withoutSecrets(why));
        return false;
    }
    *error = QStringLiteral("journal %1 has schema version %2, which keeps no %3 (chronel-web's first start, or any "
                            "writer of this program, brings it to version %4)")
                 .arg(name)
                 .arg(version)
                 .arg(what)
                 .arg(JournalWebSchemaVersion);
    return false;
}

QString WebTableFailure(const JournalStore& store, const QString& what, const QSqlError& error)
{
    return QStringLiteral("journal %1: cannot %2: %3")
        .arg(store.location().displayName(), what,
            store.location().withoutSecrets(JournalErrorText(error, store.dialect())));
}

bool AuditedChange(
    JournalStore& store, AuditAction action, const AuditContext& context, const AuditedStep& step, QString* error)
{
    if (!CheckWebTables(store, QStringLiteral("audit record"), error))
        return false;
    const QString name = store.location().displayName();
    if (store.readOnly()) {
        *error = QStringLiteral("journal %1: opened for reading only, so nothing is changed").arg(name);
        return false;
    }
    QSqlDatabase db = store.database();
    const bool sqlite = store.dialect() == JournalDialect::Sqlite;
    // A server that stops answering fails the change within PostgresAnswerMs.
    const PostgresDeadline answer(db, PostgresAnswerMs, error);
    QSqlQuery control(db);
    const QDeadlineTimer deadline(JournalStore::WriteTimeoutMs);
    for (int wait = 10;; wait = qMin(wait * 2, 200)) {
        // IMMEDIATE: the write lock before the chain's head is read, so two
        // writers never chain a row to the same predecessor.
        if (control.exec(sqlite ? QStringLiteral("BEGIN IMMEDIATE") : QStringLiteral("BEGIN")))
            break;
        if (!sqlite || !IsJournalBusy(control.lastError()) || deadline.hasExpired()) {
            *error = WebTableFailure(store, QStringLiteral("begin a transaction"), control.lastError());
            return false;
        }
        QThread::msleep(wait);
    }
    auto rollback = [&] { QSqlQuery(db).exec(QStringLiteral("ROLLBACK")); };
    // Every change takes this lock first, so changes never wait on each
    // other in two orders.
    if (!sqlite && !control.exec(QStringLiteral("LOCK TABLE journal_audit IN EXCLUSIVE MODE"))) {
        *error = WebTableFailure(store, QStringLiteral("lock the audit record"), control.lastError());
        rollback();
        return false;
    }
    AuditEntry entry;
    entry.who = context.who;
    entry.address = context.address;
    entry.action = action;
    ChangeFailure failure;
    QSqlQuery query(db);
    switch (step(query, entry, failure)) {
    case ChangeOutcome::Done: break;
    case ChangeOutcome::Refused:
        rollback();
        *error = QStringLiteral("journal %1: %2").arg(name, failure.why);
        return false;
    case ChangeOutcome::Failed:
        rollback();
        *error = WebTableFailure(store, failure.why, failure.sql);
        return false;
    }
    QString why;
    if (!AppendAudit(db, store.dialect(), entry, &why)) {
        rollback();
        *error = QStringLiteral("journal %1: cannot append to the audit record, so nothing is changed: %2")
                     .arg(name, store.location().withoutSecrets(why));
        return false;
    }
    if (!control.exec(QStringLiteral("COMMIT"))) {
        *error = WebTableFailure(store, QStringLiteral("commit"), control.lastError());
        rollback();
        return false;
    }
    return true;
}

} // namespace chronel
