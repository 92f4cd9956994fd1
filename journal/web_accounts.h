#pragma once
// The web view's accounts, in the journal's web_users table: a name, a role
// and the password's hash (Argon2id, made and checked by chronel-web; the
// journal only keeps it). Every change commits with its audit row
// (journal_audit.h), whose before and after show an account as "name role",
// never its hash.
//
// Names: 1 to 64 characters of A-Z, a-z, 0-9, ".", "_", "@", "-".
// Roles: a viewer reads; an engineer also adds incidents and comments; an
// admin also manages accounts.
#include "journal_audit.h"
#include "journal_store.h"

#include <QList>
#include <QString>

#include <optional>

namespace chronel {

enum class WebRole { Viewer, Engineer, Admin };

// "viewer", "engineer", "admin": the stored and typed words.
QString WebRoleText(WebRole role);
std::optional<WebRole> ParseWebRole(const QString& text);

struct WebAccount {
    QString name;
    WebRole role = WebRole::Viewer;
    QString hash;
    // UTC, "yyyy-MM-ddTHH:mm:ss.zzzZ"; set by the store when empty.
    QString created;
    QString changed;

    friend bool operator==(const WebAccount&, const WebAccount&) = default;
};

// Whether `name` may name an account; else false with `*why` in words.
bool IsValidWebAccountName(const QString& name, QString* why = nullptr);

// The account named `name` (none when there is none); nothing with `*error`
// when the journal cannot be read or holds a role this program does not know.
std::optional<std::optional<WebAccount>> FindWebAccount(const JournalStore& store, const QString& name, QString* error);
// Every account, by name, hashes included.
std::optional<QList<WebAccount>> WebAccounts(const JournalStore& store, QString* error);

// Each refuses, in words and storing nothing, a name taken (add) or missing
// (the others), a name not valid, an empty hash.
bool AddWebAccount(JournalStore& store, const WebAccount& account, const AuditContext& context, QString* error);
bool RemoveWebAccount(JournalStore& store, const QString& name, const AuditContext& context, QString* error);
bool SetWebPassword(
    JournalStore& store, const QString& name, const QString& hash, const AuditContext& context, QString* error);
bool SetWebRole(JournalStore& store, const QString& name, WebRole role, const AuditContext& context, QString* error);

} // namespace chronel
