#pragma once
// The audit record: who changed what through the web view (logins, accounts,
// incidents, comments), a row per change in journal_audit, committed in the
// same transaction as the change itself.
//
// Each row is chained to the one before: its hash is the hex SHA-256 of the
// previous row's hash and of the row's own fields (id, at, who, address,
// action, before, after), each length-prefixed so that no two rows encode
// alike; the first row's previous hash is 64 zeros. journal_meta keeps the
// chain's head (the last row's id and hash), written with every row, so
// that deleting the last rows breaks the chain as deleting one in the middle
// does.
//
// What the chain proves: a row changed, inserted or deleted by someone who
// did not also rewrite every row after it and the head is found, and named.
// What it cannot prove: someone who may write the journal can rewrite the
// whole chain from the changed row on, hashes and head included; the chain
// then verifies. It catches edits, not a determined owner of the database.
//
// Writers: an append takes the journal's write lock before it reads the
// head (SQLite: the transaction begins IMMEDIATE; PostgreSQL: LOCK TABLE
// journal_audit IN EXCLUSIVE MODE), so that writers in several threads or
// processes never fork the chain.
//
// Before and after never hold a password or a password's hash.
#include "journal_dialect.h"
#include "journal_store.h"

#include <QDateTime>
#include <QList>
#include <QSqlDatabase>
#include <QString>

#include <optional>

namespace chronel {

enum class AuditAction {
    Login,
    LoginFailed,
    Logout,
    IncidentAdded,
    IncidentChanged,
    CommentAdded,
    AccountAdded,
    AccountRemoved,
    AccountPasswordChanged,
    AccountRoleChanged,
};

// The stored text: "login", "login failed", "account added", ...
QString AuditActionText(AuditAction action);
// The action a stored text names; none for a text of no action known here.
std::optional<AuditAction> ParseAuditAction(const QString& text);

// Who acts and from where: the user's name (a web account, or "cli:<unix
// user>" from the command line) and the client's address.
struct AuditContext {
    QString who;
    QString address;
};

struct AuditEntry {
    qint64 id = 0;
    QDateTime at; // UTC, to the millisecond
    QString who;
    QString address;
    AuditAction action = AuditAction::Login;
    // The text as stored; a row read back whose text names no known action
    // keeps it here (`action` is then Login, and means nothing).
    QString actionText;
    QString before;
    QString after;
    QString prevHash;
    QString hash;
};

// The hash a row's fields give (see above): `entry`'s prevHash, id, at (as
// stored, "yyyy-MM-ddTHH:mm:ss.zzzZ"), who, address, actionText (or the
// action's text when empty), before and after.
QString AuditEntryHash(const AuditEntry& entry);

// Appends `entry` as the chain's next row, within the transaction the caller
// has open on `db`, so that the change and its row commit together: the id,
// previous hash and hash come from the chain (entry's are ignored), `at` is
// now when not valid. On SQLite the caller's transaction must hold the
// write lock already (BEGIN IMMEDIATE); on PostgreSQL the table lock is
// taken here if the caller has not. False with `*error` saying why.
bool AppendAudit(QSqlDatabase db, JournalDialect dialect, const AuditEntry& entry, QString* error);

// Appends one row in a transaction of its own: logins, logouts, failed
// logins (whose `who` is the name tried).
bool RecordAudit(JournalStore& store, AuditAction action, const AuditContext& context, QString before, QString after,
    QString* error);

// The whole chain checked: every row's hash recomputed, ids consecutive from
// 1, each row's previous hash the hash of the row before, the head in
// journal_meta the last row. `firstBadId` is the first id that is not as
// written (a changed row, a missing one, or the first row after the changed
// link); `why` says what failed and what that means.
struct AuditVerdict {
    bool sound = true;
    qint64 rows = 0;
    std::optional<qint64> firstBadId;
    QString why;
};
// Nothing, with `*error`, when the record cannot be read (or the journal's
// schema keeps none).
std::optional<AuditVerdict> VerifyAudit(const JournalStore& store, QString* error);

// The last `limit` rows (all for a negative limit), oldest first.
std::optional<QList<AuditEntry>> AuditRows(const JournalStore& store, QString* error, int limit = -1);

} // namespace chronel
