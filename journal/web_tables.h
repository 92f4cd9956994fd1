#pragma once
// What the web view's tables (schema 6: accounts, incidents, comments, the
// audit record) share: the check that the journal has them, and the one
// transaction in which every change to them commits with its audit row.
#include "journal_audit.h"
#include "journal_store.h"

#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QString>

#include <functional>

namespace chronel {

// Whether `store` is open on a journal that keeps the web view's tables;
// else false with `*error` saying so (`what`: "web accounts", "incidents").
// A store opened read-only on an older journal still finds them once a
// writer has migrated it.
bool CheckWebTables(const JournalStore& store, const QString& what, QString* error);

// "journal NAME: cannot WHAT: reason", the reason in words without secrets.
QString WebTableFailure(const JournalStore& store, const QString& what, const QSqlError& error);

// How a change went: done, refused for a reason of its own (a name taken, an
// incident missing: `why` says it), or failed in the database.
enum class ChangeOutcome { Done, Refused, Failed };

struct ChangeFailure {
    QString why;   // Refused: the reason; Failed: what could not be done
    QSqlError sql; // Failed: the database's error
};

// Makes the change inside the transaction and fills the audit row's
// action-specific fields (before, after). `query` is on the store's
// connection and outlives the transaction: PostgreSQL frees a prepared
// statement only outside a failed transaction.
using AuditedStep = std::function<ChangeOutcome(QSqlQuery& query, AuditEntry& entry, ChangeFailure& failure)>;

// Begins a transaction holding the write lock (SQLite IMMEDIATE, waiting out
// other writers up to JournalStore::WriteTimeoutMs; PostgreSQL LOCK TABLE
// journal_audit first, so every change serialises on one lock), runs
// `step`, appends its audit row (action, context) and commits. On any
// failure or refusal nothing is stored; `*error` names the journal and why.
bool AuditedChange(
    JournalStore& store, AuditAction action, const AuditContext& context, const AuditedStep& step, QString* error);

} // namespace chronel
