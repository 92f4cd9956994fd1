#include "web/user_command.h"

#include "journal/journal_audit.h"
#include "journal/journal_location.h"
#include "journal/journal_store.h"
#include "journal/web_accounts.h"
#include "web/auth_api.h"
#include "web/password_hash.h"
#include "web/web_config.h"

#include <QDateTime>
#include <QFileInfo>

#include <pwd.h>
#include <termios.h>
#include <unistd.h>

#include <optional>

namespace chronel {

namespace {

constexpr qsizetype ShortestPassword = 8;
constexpr qsizetype LongestPassword = 1024;

const char* const Usage = "usage: chronel-web user add|del|passwd|list [--config FILE] [--journal JOURNAL] [NAME] "
                          "[--role viewer|engineer|admin]";

struct UserArguments {
    QString action;
    QString name;
    std::optional<QString> journal;
    QString configFile;
    std::optional<QString> role;
};

std::optional<UserArguments> Parse(const QStringList& arguments, QString* error)
{
    UserArguments parsed;
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QString& word = arguments[i];
        const bool hasValue = i + 1 < arguments.size();
        if (word == u"--journal" || word == u"--config" || word == u"--role") {
            if (!hasValue) {
                *error = QStringLiteral("%1 needs a value").arg(word);
                return std::nullopt;
            }
            const QString value = arguments[++i];
            if (word == u"--journal")
                parsed.journal = value;
            else if (word == u"--config")
                parsed.configFile = value;
            else
                parsed.role = value;
        } else if (word.startsWith(u"--")) {
            *error = QStringLiteral("unknown option %1").arg(word);
            return std::nullopt;
        } else if (parsed.action.isEmpty()) {
            parsed.action = word;
        } else if (parsed.name.isEmpty()) {
            parsed.name = word;
        } else {
            *error = QStringLiteral("one name at a time: \"%1\" is one too many").arg(word);
            return std::nullopt;
        }
    }
    static const QStringList actions{
        QStringLiteral("add"), QStringLiteral("del"), QStringLiteral("passwd"), QStringLiteral("list")};
    if (!actions.contains(parsed.action)) {
        *error = parsed.action.isEmpty() ? QStringLiteral("no action given")
                                         : QStringLiteral("unknown action \"%1\"").arg(parsed.action);
        return std::nullopt;
    }
    if (parsed.action == u"list" ? !parsed.name.isEmpty() : parsed.name.isEmpty()) {
        *error = parsed.action == u"list" ? QStringLiteral("list takes no name")
                                          : QStringLiteral("%1 needs an account name").arg(parsed.action);
        return std::nullopt;
    }
    if (parsed.role && parsed.action != u"add") {
        *error = QStringLiteral("--role is for add only");
        return std::nullopt;
    }
    if (!parsed.name.isEmpty() && !IsAccountName(parsed.name)) {
        *error = QStringLiteral("\"%1\" is not an account name: 1 to 64 of A-Z a-z 0-9 . _ @ -").arg(parsed.name);
        return std::nullopt;
    }
    return parsed;
}

// One line from the terminal with its echo off, the prompt on stderr. The
// echo goes off before the prompt shows: a password typed or pasted as soon
// as the prompt appears is neither echoed nor thrown away with the input
// typed before it.
std::optional<QByteArray> ReadHidden(const char* prompt, std::FILE* err)
{
    termios saved{};
    const bool terminal = tcgetattr(STDIN_FILENO, &saved) == 0;
    if (terminal) {
        termios quiet = saved;
        quiet.c_lflag &= ~tcflag_t(ECHO);
        tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet);
    }
    std::fputs(prompt, err);
    std::fflush(err);
    QByteArray line;
    char c = 0;
    bool ended = false;
    while (line.size() <= LongestPassword) {
        const ssize_t n = ::read(STDIN_FILENO, &c, 1);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0 || c == '\n') {
            ended = n > 0 || !line.isEmpty();
            break;
        }
        line.append(c);
    }
    if (terminal) {
        tcsetattr(STDIN_FILENO, TCSANOW, &saved);
        std::fputc('\n', err);
    }
    if (line.endsWith('\r'))
        line.chop(1);
    if (!ended)
        return std::nullopt;
    return line;
}

std::optional<QByteArray> ReadPassword(const QString& name, std::FILE* err, QString* error)
{
    const bool terminal = isatty(STDIN_FILENO) == 1;
    const QByteArray prompt = QStringLiteral("Password for %1: ").arg(name).toLocal8Bit();
    const std::optional<QByteArray> first = ReadHidden(terminal ? prompt.constData() : "", err);
    if (!first) {
        *error = QStringLiteral("no password was given");
        return std::nullopt;
    }
    if (first->size() < ShortestPassword || first->size() > LongestPassword) {
        *error = QStringLiteral("a password has %1 to %2 characters").arg(ShortestPassword).arg(LongestPassword);
        return std::nullopt;
    }
    if (terminal) {
        const std::optional<QByteArray> again = ReadHidden("Once more: ", err);
        if (!again || *again != *first) {
            *error = QStringLiteral("the two passwords differ");
            return std::nullopt;
        }
    }
    return first;
}

std::optional<QString> Hashed(const QString& name, std::FILE* err, QString* error)
{
    const std::optional<QByteArray> password = ReadPassword(name, err, error);
    if (!password)
        return std::nullopt;
    const std::optional<QString> hash = HashPassword(*password);
    if (!hash)
        *error = QStringLiteral("the password cannot be hashed (out of memory?)");
    return hash;
}

void Print(std::FILE* file, const QString& line)
{
    std::fputs(line.toLocal8Bit().constData(), file);
    std::fputc('\n', file);
}

} // namespace

QString CommandLineAuditor()
{
    const passwd* entry = getpwuid(geteuid());
    const QString user = entry && entry->pw_name ? QString::fromLocal8Bit(entry->pw_name) : QString::number(geteuid());
    return QStringLiteral("cli:") + user;
}

int RunUserCommand(const QStringList& arguments, std::FILE* out, std::FILE* err)
{
    QString error;
    const std::optional<UserArguments> parsed = Parse(arguments, &error);
    if (!parsed) {
        Print(err, QStringLiteral("chronel-web user: %1").arg(error));
        Print(err, QString::fromLatin1(Usage));
        return 2;
    }

    QString journal;
    if (parsed->journal) {
        journal = *parsed->journal;
    } else {
        WebOverrides overrides;
        overrides.configFile = parsed->configFile;
        const std::optional<WebConfig> config = LoadWebConfig(overrides, &error);
        if (!config) {
            Print(err, QStringLiteral("chronel-web user: %1").arg(error));
            return 1;
        }
        journal = config->journal;
    }
    const std::optional<JournalLocation> location = ParseJournalLocation(journal, &error);
    if (!location) {
        Print(err, QStringLiteral("chronel-web user: --journal %1").arg(error));
        return 2;
    }
    if (location->dialect == JournalDialect::Sqlite && !QFileInfo::exists(location->path)) {
        Print(err,
            QStringLiteral("chronel-web user: the journal %1 does not exist (the collector makes it; this "
                           "command does not)")
                .arg(location->path));
        return 1;
    }
    if (!PasswordHashReady()) {
        Print(err, QStringLiteral("chronel-web user: libsodium cannot start"));
        return 1;
    }

    JournalStore store;
    if (!store.open(*location, &error)) {
        Print(err, QStringLiteral("chronel-web user: %1").arg(error));
        return 1;
    }
    const AuditContext auditor{CommandLineAuditor(), QString()};
    const QString& name = parsed->name;

    if (parsed->action == u"list") {
        const std::optional<QList<WebAccount>> accounts = WebAccounts(store, &error);
        if (!accounts) {
            Print(err, QStringLiteral("chronel-web user: %1").arg(error));
            return 1;
        }
        Print(out,
            QStringLiteral("%1 %2 %3 %4")
                .arg(QStringLiteral("NAME"), -24)
                .arg(QStringLiteral("ROLE"), -9)
                .arg(QStringLiteral("CREATED"), -24)
                .arg(QStringLiteral("CHANGED")));
        for (const WebAccount& account : *accounts) {
            Print(out,
                QStringLiteral("%1 %2 %3 %4")
                    .arg(account.name, -24)
                    .arg(WebRoleText(account.role), -9)
                    .arg(account.created, -24)
                    .arg(account.changed));
        }
        return 0;
    }

    if (parsed->action == u"del") {
        if (!RemoveWebAccount(store, name, auditor, &error)) {
            Print(err, QStringLiteral("chronel-web user: cannot remove %1: %2").arg(name, error));
            return 1;
        }
        Print(out, QStringLiteral("removed %1").arg(name));
        return 0;
    }

    if (parsed->action == u"add") {
        const std::optional<WebRole> role =
            parsed->role ? ParseWebRole(*parsed->role) : std::optional<WebRole>(WebRole::Viewer);
        if (!role) {
            Print(err,
                QStringLiteral("chronel-web user: \"%1\" is not a role: viewer, engineer or admin").arg(*parsed->role));
            return 2;
        }
        const std::optional<std::optional<WebAccount>> existing = FindWebAccount(store, name, &error);
        if (!existing) {
            Print(err, QStringLiteral("chronel-web user: %1").arg(error));
            return 1;
        }
        if (*existing) {
            Print(err, QStringLiteral("chronel-web user: an account %1 exists already").arg(name));
            return 1;
        }
        const std::optional<QString> hash = Hashed(name, err, &error);
        if (!hash) {
            Print(err, QStringLiteral("chronel-web user: %1").arg(error));
            return 1;
        }
        const QString now = QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs);
        if (!AddWebAccount(store, WebAccount{name, *role, *hash, now, now}, auditor, &error)) {
            Print(err, QStringLiteral("chronel-web user: cannot add %1: %2").arg(name, error));
            return 1;
        }
        Print(out, QStringLiteral("added %1 (%2)").arg(name, WebRoleText(*role)));
        return 0;
    }

    // passwd
    const std::optional<std::optional<WebAccount>> existing = FindWebAccount(store, name, &error);
    if (!existing || !*existing) {
        Print(err,
            existing ? QStringLiteral("chronel-web user: there is no account %1").arg(name)
                     : QStringLiteral("chronel-web user: %1").arg(error));
        return 1;
    }
    const std::optional<QString> hash = Hashed(name, err, &error);
    if (!hash) {
        Print(err, QStringLiteral("chronel-web user: %1").arg(error));
        return 1;
    }
    if (!SetWebPassword(store, name, *hash, auditor, &error)) {
        Print(err, QStringLiteral("chronel-web user: cannot change the password of %1: %2").arg(name, error));
        return 1;
    }
    Print(out, QStringLiteral("changed the password of %1").arg(name));
    return 0;
}

} // namespace chronel
