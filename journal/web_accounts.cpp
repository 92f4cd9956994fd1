#include "web_accounts.h"

#include "journal_event.h"
#include "platform/printable_text.h"
#include "web_tables.h"

#include <QRegularExpression>
#include <QSqlQuery>

namespace chronel {

namespace {

constexpr int MaxNameLength = 64;

const QString& Accounts()
{
    static const QString what = QStringLiteral("web accounts");
    return what;
}

// An account's row as stored; its role a text, which may be no role known
// here (a row written outside this program).
struct StoredAccount {
    QString name, role, hash, created, changed;
};

// The row of `name`, none when missing; false with `*failure` when it
// cannot be read.
bool ReadAccount(QSqlQuery& query, const QString& name, std::optional<StoredAccount>* account, ChangeFailure& failure)
{
    query.prepare(QStringLiteral("SELECT name, role, hash, created, changed FROM web_users WHERE name = ?"));
    query.addBindValue(name);
    if (!query.exec()) {
        failure = {QStringLiteral("read web account %1").arg(name), query.lastError()};
        return false;
    }
    account->reset();
    if (query.next())
        *account = StoredAccount{query.value(0).toString(), query.value(1).toString(), query.value(2).toString(),
            query.value(3).toString(), query.value(4).toString()};
    query.finish();
    return true;
}

// The account a row gives; an unknown role gives none (and no access), with
// `*error` saying so.
std::optional<WebAccount> AccountOf(const JournalStore& store, const StoredAccount& row, QString* error)
{
    const std::optional<WebRole> role = ParseWebRole(row.role);
    if (!role) {
        *error = QStringLiteral("journal %1: web account %2 has role \"%3\", which this program does not know")
                     .arg(store.location().displayName(), platform::PrintableText(row.name),
                         platform::PrintableText(row.role.left(40)));
        return std::nullopt;
    }
    return WebAccount{row.name, *role, row.hash, row.created, row.changed};
}

// What the audit row shows of an account.
QString Shown(const QString& name, const QString& role) { return name + u' ' + role; }
QString Shown(const QString& name, WebRole role) { return Shown(name, WebRoleText(role)); }

QString Now() { return JournalReceivedText(QDateTime::currentDateTimeUtc()); }

// An account's change: the row must exist; `change` runs on it, `after`
// says how the audit row shows it then. `doing`: "remove", "change the
// password of", ...
bool ChangeAccount(JournalStore& store, const QString& name, AuditAction action, const AuditContext& context,
    const std::function<bool(QSqlQuery&)>& change, const std::function<QString(const StoredAccount&)>& after,
    const QString& doing, QString* error)
{
    QString why;
    if (!IsValidWebAccountName(name, &why)) {
        *error = why;
        return false;
    }
    return AuditedChange(
        store, action, context,
        [&](QSqlQuery& query, AuditEntry& entry, ChangeFailure& failure) {
            std::optional<StoredAccount> account;
            if (!ReadAccount(query, name, &account, failure))
                return ChangeOutcome::Failed;
            if (!account) {
                failure.why = QStringLiteral("there is no web account %1 to %2").arg(name, doing);
                return ChangeOutcome::Refused;
            }
            if (!change(query)) {
                failure = {QStringLiteral("%1 web account %2").arg(doing, name), query.lastError()};
                return ChangeOutcome::Failed;
            }
            entry.before = Shown(account->name, account->role);
            entry.after = after(*account);
            return ChangeOutcome::Done;
        },
        error);
}

} // namespace

QString WebRoleText(WebRole role)
{
    switch (role) {
    case WebRole::Viewer: return QStringLiteral("viewer");
    case WebRole::Engineer: return QStringLiteral("engineer");
    case WebRole::Admin: return QStringLiteral("admin");
    }
    return {};
}

std::optional<WebRole> ParseWebRole(const QString& text)
{
    for (WebRole role : {WebRole::Viewer, WebRole::Engineer, WebRole::Admin})
        if (text == WebRoleText(role))
            return role;
    return std::nullopt;
}

bool IsValidWebAccountName(const QString& name, QString* why)
{
    static const QRegularExpression form(QStringLiteral("^[A-Za-z0-9._@-]{1,%1}$").arg(MaxNameLength));
    if (form.match(name).hasMatch())
        return true;
    if (why)
        *why = name.isEmpty() ? QStringLiteral("a web account's name is empty")
            : name.size() > MaxNameLength
            ? QStringLiteral("web account name \"%1...\" is longer than %2 characters")
                  .arg(platform::PrintableText(name.left(20)))
                  .arg(MaxNameLength)
            : QStringLiteral("web account name \"%1\" holds a character other than A-Z, a-z, 0-9, \".\", \"_\", "
                             "\"@\" and \"-\"")
                  .arg(platform::PrintableText(name));
    return false;
}

std::optional<std::optional<WebAccount>> FindWebAccount(const JournalStore& store, const QString& name, QString* error)
{
    if (!CheckWebTables(store, Accounts(), error))
        return std::nullopt;
    if (!IsValidWebAccountName(name))
        return std::optional<WebAccount>{};
    std::optional<StoredAccount> row;
    ChangeFailure failure;
    QSqlQuery query(store.database());
    query.setForwardOnly(true);
    if (!ReadAccount(query, name, &row, failure)) {
        *error = WebTableFailure(store, failure.why, failure.sql);
        return std::nullopt;
    }
    if (!row)
        return std::optional<WebAccount>{};
    const std::optional<WebAccount> account = AccountOf(store, *row, error);
    if (!account)
        return std::nullopt;
    return account;
}

std::optional<QList<WebAccount>> WebAccounts(const JournalStore& store, QString* error)
{
    if (!CheckWebTables(store, Accounts(), error))
        return std::nullopt;
    QSqlQuery query(store.database());
    query.setForwardOnly(true);
    if (!query.exec(QStringLiteral("SELECT name, role, hash, created, changed FROM web_users ORDER BY name"))) {
        *error = WebTableFailure(store, QStringLiteral("read the web accounts"), query.lastError());
        return std::nullopt;
    }
    QList<WebAccount> accounts;
    while (query.next()) {
        const std::optional<WebAccount> account = AccountOf(store,
            {query.value(0).toString(), query.value(1).toString(), query.value(2).toString(), query.value(3).toString(),
                query.value(4).toString()},
            error);
        if (!account)
            return std::nullopt;
        accounts << *account;
    }
    if (query.lastError().isValid()) {
        *error = WebTableFailure(store, QStringLiteral("read the web accounts"), query.lastError());
        return std::nullopt;
    }
    return accounts;
}

bool AddWebAccount(JournalStore& store, const WebAccount& account, const AuditContext& context, QString* error)
{
    QString why;
    if (!IsValidWebAccountName(account.name, &why)) {
        *error = why;
        return false;
    }
    if (account.hash.isEmpty()) {
        *error = QStringLiteral("web account %1 has no password hash").arg(account.name);
        return false;
    }
    return AuditedChange(
        store, AuditAction::AccountAdded, context,
        [&](QSqlQuery& query, AuditEntry& entry, ChangeFailure& failure) {
            std::optional<StoredAccount> existing;
            if (!ReadAccount(query, account.name, &existing, failure))
                return ChangeOutcome::Failed;
            if (existing) {
                failure.why = QStringLiteral("web account %1 exists already").arg(account.name);
                return ChangeOutcome::Refused;
            }
            const QString created = account.created.isEmpty() ? Now() : account.created;
            query.prepare(
                QStringLiteral("INSERT INTO web_users (name, role, hash, created, changed) VALUES (?, ?, ?, ?, ?)"));
            query.addBindValue(account.name);
            query.addBindValue(WebRoleText(account.role));
            query.addBindValue(account.hash);
            query.addBindValue(created);
            query.addBindValue(account.changed.isEmpty() ? created : account.changed);
            if (!query.exec()) {
                failure = {QStringLiteral("add web account %1").arg(account.name), query.lastError()};
                return ChangeOutcome::Failed;
            }
            entry.after = Shown(account.name, account.role);
            return ChangeOutcome::Done;
        },
        error);
}

bool RemoveWebAccount(JournalStore& store, const QString& name, const AuditContext& context, QString* error)
{
    return ChangeAccount(
        store, name, AuditAction::AccountRemoved, context,
        [&](QSqlQuery& query) {
            query.prepare(QStringLiteral("DELETE FROM web_users WHERE name = ?"));
            query.addBindValue(name);
            return query.exec();
        },
        [](const StoredAccount&) { return QString(); }, QStringLiteral("remove"), error);
}

bool SetWebPassword(
    JournalStore& store, const QString& name, const QString& hash, const AuditContext& context, QString* error)
{
    if (hash.isEmpty()) {
        *error = QStringLiteral("web account %1: the new password hash is empty").arg(name);
        return false;
    }
    return ChangeAccount(
        store, name, AuditAction::AccountPasswordChanged, context,
        [&](QSqlQuery& query) {
            query.prepare(QStringLiteral("UPDATE web_users SET hash = ?, changed = ? WHERE name = ?"));
            query.addBindValue(hash);
            query.addBindValue(Now());
            query.addBindValue(name);
            return query.exec();
        },
        [](const StoredAccount& account) { return Shown(account.name, account.role); },
        QStringLiteral("change the password of"), error);
}

bool SetWebRole(JournalStore& store, const QString& name, WebRole role, const AuditContext& context, QString* error)
{
    return ChangeAccount(
        store, name, AuditAction::AccountRoleChanged, context,
        [&](QSqlQuery& query) {
            query.prepare(QStringLiteral("UPDATE web_users SET role = ?, changed = ? WHERE name = ?"));
            query.addBindValue(WebRoleText(role));
            query.addBindValue(Now());
            query.addBindValue(name);
            return query.exec();
        },
        [role](const StoredAccount& account) { return Shown(account.name, role); },
        QStringLiteral("change the role of"), error);
}

} // namespace chronel
