#include "journal_audit.h"

#include "journal_error.h"
#include "journal_event.h"
#include "web_tables.h"

#include <QCryptographicHash>
#include <QRegularExpression>
#include <QSqlError>
#include <QSqlQuery>

#include <algorithm>
#include <array>
#include <utility>

namespace chronel {

namespace {

constexpr std::array<std::pair<AuditAction, const char*>, 10> ActionTexts{{
    {AuditAction::Login, "login"},
    {AuditAction::LoginFailed, "login failed"},
    {AuditAction::Logout, "logout"},
    {AuditAction::IncidentAdded, "incident added"},
    {AuditAction::IncidentChanged, "incident changed"},
    {AuditAction::CommentAdded, "comment added"},
    {AuditAction::AccountAdded, "account added"},
    {AuditAction::AccountRemoved, "account removed"},
    {AuditAction::AccountPasswordChanged, "account password changed"},
    {AuditAction::AccountRoleChanged, "account role changed"},
}};

const QString& ZeroHash()
{
    static const QString zeros(64, u'0');
    return zeros;
}

bool IsHash(const QString& text)
{
    static const QRegularExpression form(QStringLiteral("^[0-9a-f]{64}$"));
    return form.match(text).hasMatch();
}

// The row's fields as stored, in the order the hash covers them.
struct StoredRow {
    qint64 id = 0;
    QString at, who, address, action, before, after, prevHash, hash;
};

QString HashOf(const StoredRow& row)
{
    QByteArray input = row.prevHash.toUtf8();
    // Each field as "<bytes>:<UTF-8>", so no field's end can pass for the
    // next one's start.
    for (const QString& field :
        {QString::number(row.id), row.at, row.who, row.address, row.action, row.before, row.after}) {
        const QByteArray bytes = field.toUtf8();
        input += QByteArray::number(bytes.size()) + ':' + bytes;
    }
    return QString::fromLatin1(QCryptographicHash::hash(input, QCryptographicHash::Sha256).toHex());
}

const char* const RowColumns = "id, at, who, address, action, before, after, prev_hash, hash";

StoredRow RowOf(const QSqlQuery& query)
{
    StoredRow row;
    row.id = query.value(0).toLongLong();
    row.at = query.value(1).toString();
    row.who = query.value(2).toString();
    row.address = query.value(3).toString();
    row.action = query.value(4).toString();
    row.before = query.value(5).toString();
    row.after = query.value(6).toString();
    row.prevHash = query.value(7).toString();
    row.hash = query.value(8).toString();
    return row;
}

// The chain's head as journal_meta keeps it: "<id> <hash>".
struct Head {
    qint64 id = 0;
    QString hash;
};

constexpr const char* HeadKey = "audit_head";

// The head; none when journal_meta keeps none. False with `*failure` when
// it cannot be read, with `*why` when what is kept is no head.
bool ReadHead(QSqlDatabase db, std::optional<Head>* head, QString* why, QSqlError* failure)
{
    QSqlQuery query(db);
    query.setForwardOnly(true);
    query.prepare(QStringLiteral("SELECT value FROM journal_meta WHERE key = ?"));
    query.addBindValue(QString::fromLatin1(HeadKey));
    if (!query.exec()) {
        *failure = query.lastError();
        return false;
    }
    head->reset();
    if (!query.next())
        return true;
    const QStringList parts = query.value(0).toString().split(u' ');
    bool ok = false;
    const qint64 id = parts.value(0).toLongLong(&ok);
    if (parts.size() != 2 || !ok || id < 1 || !IsHash(parts[1])) {
        *why = QStringLiteral("the audit record's head in journal_meta (\"%1\") is not \"<id> <hash>\": it was changed "
                              "outside this program")
                   .arg(query.value(0).toString().left(100));
        return false;
    }
    *head = Head{id, parts[1]};
    return true;
}

} // namespace

QString AuditActionText(AuditAction action)
{
    for (const auto& [known, text] : ActionTexts)
        if (known == action)
            return QString::fromLatin1(text);
    return {};
}

std::optional<AuditAction> ParseAuditAction(const QString& text)
{
    for (const auto& [action, known] : ActionTexts)
        if (text == QLatin1StringView(known))
            return action;
    return std::nullopt;
}

QString AuditEntryHash(const AuditEntry& entry)
{
    return HashOf({entry.id, JournalReceivedText(entry.at), entry.who, entry.address,
        entry.actionText.isEmpty() ? AuditActionText(entry.action) : entry.actionText, entry.before, entry.after,
        entry.prevHash, {}});
}

bool AppendAudit(QSqlDatabase db, JournalDialect dialect, const AuditEntry& entry, QString* error)
{
    QSqlQuery query(db);
    auto fail = [&](const QString& what) {
        *error = QStringLiteral("%1: %2").arg(what, JournalErrorText(query.lastError(), dialect));
        return false;
    };
    // Held already where the caller took it; a second LOCK in the same
    // transaction is free.
    if (dialect == JournalDialect::Postgres &&
        !query.exec(QStringLiteral("LOCK TABLE journal_audit IN EXCLUSIVE MODE")))
        return fail(QStringLiteral("cannot lock the audit record"));
    std::optional<Head> head;
    QSqlError failure;
    if (!ReadHead(db, &head, error, &failure)) {
        if (failure.isValid())
            *error = QStringLiteral("cannot read the audit record's head: %1").arg(JournalErrorText(failure, dialect));
        return false;
    }
    if (!head) {
        // A record without a head must be empty: one whose head was removed
        // is not continued as if its end were where it now seems to be.
        if (!query.exec(QStringLiteral("SELECT count(*) FROM journal_audit")) || !query.next())
            return fail(QStringLiteral("cannot read the audit record"));
        if (query.value(0).toLongLong() != 0) {
            *error = QStringLiteral("the audit record holds rows but journal_meta keeps no head for it: it was changed "
                                    "outside this program (chronel-cli journal audit --verify)");
            return false;
        }
        query.finish();
    }
    StoredRow row;
    row.id = head ? head->id + 1 : 1;
    row.at = JournalReceivedText(entry.at.isValid() ? entry.at : QDateTime::currentDateTimeUtc());
    row.who = entry.who.isNull() ? QStringLiteral("") : entry.who;
    row.address = entry.address.isNull() ? QStringLiteral("") : entry.address;
    row.action = AuditActionText(entry.action);
    row.before = entry.before.isNull() ? QStringLiteral("") : entry.before;
    row.after = entry.after.isNull() ? QStringLiteral("") : entry.after;
    row.prevHash = head ? head->hash : ZeroHash();
    row.hash = HashOf(row);

    query.prepare(QStringLiteral("INSERT INTO journal_audit (%1) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?)")
                      .arg(QLatin1StringView(RowColumns)));
    for (const QVariant& value :
        {QVariant(row.id), QVariant(row.at), QVariant(row.who), QVariant(row.address), QVariant(row.action),
            QVariant(row.before), QVariant(row.after), QVariant(row.prevHash), QVariant(row.hash)})
        query.addBindValue(value);
    if (!query.exec())
        return fail(QStringLiteral("cannot append to the audit record"));
    query.prepare(QStringLiteral(
        "INSERT INTO journal_meta (key, value) VALUES (?, ?) ON CONFLICT (key) DO UPDATE SET value = excluded.value"));
    query.addBindValue(QString::fromLatin1(HeadKey));
    query.addBindValue(QStringLiteral("%1 %2").arg(row.id).arg(row.hash));
    if (!query.exec())
        return fail(QStringLiteral("cannot keep the audit record's head"));
    query.finish();
    return true;
}

bool RecordAudit(
    JournalStore& store, AuditAction action, const AuditContext& context, QString before, QString after, QString* error)
{
    return AuditedChange(
        store, action, context,
        [&](QSqlQuery&, AuditEntry& entry, ChangeFailure&) {
            entry.before = std::move(before);
            entry.after = std::move(after);
            return ChangeOutcome::Done;
        },
        error);
}

std::optional<AuditVerdict> VerifyAudit(const JournalStore& store, QString* error)
{
    if (!CheckWebTables(store, QStringLiteral("audit record"), error))
        return std::nullopt;
    std::optional<Head> head;
    QString headProblem;
    QSqlError failure;
    if (!ReadHead(store.database(), &head, &headProblem, &failure) && failure.isValid()) {
        *error = WebTableFailure(store, QStringLiteral("read the audit record's head"), failure);
        return std::nullopt;
    }
    QSqlQuery query(store.database());
    query.setForwardOnly(true);
    if (!query.exec(QStringLiteral("SELECT %1 FROM journal_audit ORDER BY id").arg(QLatin1StringView(RowColumns)))) {
        *error = WebTableFailure(store, QStringLiteral("read the audit record"), query.lastError());
        return std::nullopt;
    }
    AuditVerdict verdict;
    auto bad = [&verdict](std::optional<qint64> id, const QString& why) {
        verdict.sound = false;
        verdict.firstBadId = id;
        verdict.why = why;
    };
    qint64 expected = 1;
    QString previous = ZeroHash();
    while (query.next()) {
        ++verdict.rows;
        if (!verdict.sound)
            continue; // counting the rows only
        const StoredRow row = RowOf(query);
        if (row.id != expected) {
            if (row.id < expected) // the ids ascend, so only a row id 0 or below
                bad(row.id, QStringLiteral("row %1 has an id the chain never gives (the first is 1)").arg(row.id));
            else if (expected == 1)
                bad(1,
                    row.id == 2 ? QStringLiteral("row 1, the first, was deleted: the record begins at row 2")
                                : QStringLiteral("rows 1 to %1, the first, were deleted: the record begins at row %2")
                                      .arg(row.id - 1)
                                      .arg(row.id));
            else
                bad(expected,
                    QStringLiteral("row %1 was deleted: the ids go from %2 to %3")
                        .arg(expected)
                        .arg(expected - 1)
                        .arg(row.id));
            continue;
        }
        if (row.prevHash != previous) {
            if (row.id == 1)
                bad(1, QStringLiteral("row 1 does not begin the chain: its previous hash is not 64 zeros"));
            else
                bad(row.id - 1,
                    QStringLiteral("the link from row %1 to row %2 is broken: row %1 was changed and its hash "
                                   "recomputed, or row %2's previous hash was changed")
                        .arg(row.id - 1)
                        .arg(row.id));
            continue;
        }
        if (!IsHash(row.hash) || HashOf(row) != row.hash) {
            bad(row.id,
                QStringLiteral("row %1 was changed after it was written: its fields no longer give its hash")
                    .arg(row.id));
            continue;
        }
        previous = row.hash;
        ++expected;
    }
    if (query.lastError().isValid()) {
        *error = WebTableFailure(store, QStringLiteral("read the audit record"), query.lastError());
        return std::nullopt;
    }
    if (!verdict.sound)
        return verdict;
    const qint64 last = expected - 1;
    // A head that is damaged or gone names no row.
    if (!headProblem.isEmpty())
        bad(std::nullopt, headProblem);
    else if (!head && last > 0)
        bad(std::nullopt,
            QStringLiteral("journal_meta keeps no head for the record: it was removed outside this program, so "
                           "rows deleted from the end would not show"));
    else if (head && head->id > last)
        bad(last + 1,
            head->id == last + 1
                ? QStringLiteral("row %1, the last, was deleted: the head says the record ends at row %1").arg(head->id)
                : QStringLiteral("rows %1 to %2, the last, were deleted: the head says the record ends at row %2")
                      .arg(last + 1)
                      .arg(head->id));
    else if (head && head->id < last)
        bad(head->id + 1,
            QStringLiteral("rows %1 to %2 were added outside this program: the head says the record ends at row %3")
                .arg(head->id + 1)
                .arg(last)
                .arg(head->id));
    else if (head && head->hash != previous)
        bad(last,
            QStringLiteral("row %1, the last, does not have the hash the head keeps: the record was rewritten (or the "
                           "head changed)")
                .arg(last));
    return verdict;
}

std::optional<QList<AuditEntry>> AuditRows(const JournalStore& store, QString* error, int limit)
{
    if (!CheckWebTables(store, QStringLiteral("audit record"), error))
        return std::nullopt;
    QSqlQuery query(store.database());
    query.setForwardOnly(true);
    const QString columns = QLatin1StringView(RowColumns);
    // The last rows by the newest first, turned round below.
    query.prepare(limit < 0 ? QStringLiteral("SELECT %1 FROM journal_audit ORDER BY id").arg(columns)
                            : QStringLiteral("SELECT %1 FROM journal_audit ORDER BY id DESC LIMIT ?").arg(columns));
    if (limit >= 0)
        query.addBindValue(limit);
    if (!query.exec()) {
        *error = WebTableFailure(store, QStringLiteral("read the audit record"), query.lastError());
        return std::nullopt;
    }
    QList<AuditEntry> entries;
    while (query.next()) {
        const StoredRow row = RowOf(query);
        AuditEntry entry;
        entry.id = row.id;
        entry.at = QDateTime::fromString(row.at, Qt::ISODateWithMs);
        entry.who = row.who;
        entry.address = row.address;
        entry.action = ParseAuditAction(row.action).value_or(AuditAction::Login);
        entry.actionText = row.action;
        entry.before = row.before;
        entry.after = row.after;
        entry.prevHash = row.prevHash;
        entry.hash = row.hash;
        entries << entry;
    }
    if (query.lastError().isValid()) {
        *error = WebTableFailure(store, QStringLiteral("read the audit record"), query.lastError());
        return std::nullopt;
    }
    if (limit >= 0)
        std::reverse(entries.begin(), entries.end());
    return entries;
}

} // namespace chronel
