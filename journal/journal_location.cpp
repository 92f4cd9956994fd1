#include "journal_location.h"

#include "libpq_runtime.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>
#include <QUrl>

#include <algorithm>

namespace chronel {

namespace {

const QString Masked = QStringLiteral("***");

QString Decoded(QStringView part) { return QUrl::fromPercentEncoding(part.toUtf8()); }

bool AllDigits(QStringView text)
{
    return !text.isEmpty() && std::all_of(text.begin(), text.end(), [](QChar c) { return c.isDigit(); });
}

// The reasons below quote a part of the URL only where it cannot hold a
// password: a port that is a number, a parameter's key.
bool SetPort(const QString& text, JournalLocation* location, QString* error)
{
    bool ok = false;
    const int port = text.toInt(&ok);
    if (!ok || port < 1 || port > 65535 || !AllDigits(text)) {
        *error = AllDigits(text) ? QStringLiteral("port \"%1\" is not a number from 1 to 65535").arg(text)
                                 : QStringLiteral("the port is not a number from 1 to 65535");
        return false;
    }
    location->port = port;
    return true;
}

// host, host:port, [v6] or [v6]:port; only one host (libpq's lists of
// hosts to try in turn are not taken).
bool SetHostPort(QStringView text, JournalLocation* location, QString* error)
{
    if (text.contains(u',')) {
        *error = QStringLiteral("several hosts are given; a journal has one");
        return false;
    }
    QStringView host = text;
    QStringView port;
    if (text.startsWith(u'[')) {
        const auto close = text.indexOf(u']');
        if (close < 0) {
            *error = QStringLiteral("the host's [ has no closing ]");
            return false;
        }
        host = text.mid(1, close - 1);
        const QStringView after = text.mid(close + 1);
        if (!after.isEmpty() && !after.startsWith(u':')) {
            *error = QStringLiteral("something other than :port follows the host's ]");
            return false;
        }
        port = after.mid(1);
    } else if (const auto colon = text.lastIndexOf(u':'); colon >= 0) {
        host = text.left(colon);
        port = text.mid(colon + 1);
    }
    location->host = Decoded(host);
    if (!port.isEmpty() && !SetPort(port.toString(), location, error))
        return false;
    return true;
}

// The parameters the location keeps in fields of its own.
bool SetField(const QString& key, const QString& value, JournalLocation* location, QString* error, bool* known)
{
    *known = true;
    if (key == u"host")
        location->host = value;
    else if (key == u"port")
        return SetPort(value, location, error);
    else if (key == u"user")
        location->user = value;
    else if (key == u"password")
        location->password = value;
    else if (key == u"dbname")
        location->database = value;
    else
        *known = false;
    return true;
}

// Any other keyword libpq knows goes to it as it is.
bool SetParameter(const QString& key, const QString& value, JournalLocation* location, QString* error)
{
    bool field = false;
    if (!SetField(key, value, location, error, &field))
        return false;
    if (field)
        return true;
    const auto keywords = libpq::Keywords(error);
    if (!keywords) {
        *error = QStringLiteral("the parameter \"%1\" cannot be checked: %2").arg(key, *error);
        return false;
    }
    const auto keyword =
        std::find_if(keywords->begin(), keywords->end(), [&](const libpq::Keyword& k) { return k.name == key; });
    if (keyword == keywords->end()) {
        *error = QStringLiteral("\"%1\" is not a connection parameter libpq knows").arg(key);
        return false;
    }
    if (keyword->debug) {
        *error = QStringLiteral("the parameter \"%1\" is not for a journal's connection").arg(key);
        return false;
    }
    // Qt's driver turns every ; of its connection options into a space.
    if (value.contains(u';')) {
        *error = QStringLiteral("the value of \"%1\" holds a ;, which Qt's PostgreSQL driver cannot pass on").arg(key);
        return false;
    }
    location->parameters << JournalLocation::Parameter{key, value, keyword->secret};
    return true;
}

bool IsSecretKey(const QString& key)
{
    if (key == u"password")
        return true;
    QString ignored;
    const auto keywords = libpq::Keywords(&ignored);
    return keywords && std::any_of(keywords->begin(), keywords->end(), [&](const libpq::Keyword& k) {
        return k.secret && k.name == key;
    });
}

// The URL as messages quote it: the password after user:, every secret
// parameter's value and every query part that is not key=value are ***, and
// so is a port that is no number (user:password without its @ puts the
// password there).
QString ShownUrl(const QString& text, qsizetype schemeLength)
{
    const QStringView rest = QStringView(text).mid(schemeLength);
    const auto queryStart = rest.indexOf(u'?');
    QStringView beforeQuery = queryStart < 0 ? rest : rest.left(queryStart);
    QString shown = text.left(schemeLength);
    if (const auto at = beforeQuery.lastIndexOf(u'@'); at >= 0) {
        const QStringView userInfo = beforeQuery.left(at);
        const auto colon = userInfo.indexOf(u':');
        shown += colon < 0 ? userInfo.toString() : userInfo.left(colon + 1).toString() + Masked;
        shown += beforeQuery.mid(at).toString();
    } else {
        const auto slash = beforeQuery.indexOf(u'/');
        const QStringView authority = slash < 0 ? beforeQuery : beforeQuery.left(slash);
        const auto colon = authority.lastIndexOf(u':');
        const QStringView port = colon < 0 ? QStringView() : authority.mid(colon + 1);
        if (colon >= 0 && !port.contains(u']') && !port.isEmpty() && !AllDigits(port))
            shown += authority.left(colon + 1).toString() + Masked + beforeQuery.mid(authority.size()).toString();
        else
            shown += beforeQuery.toString();
    }
    if (queryStart < 0)
        return shown;
    QStringList pairs;
    for (const QStringView pair : rest.mid(queryStart + 1).split(u'&')) {
        const auto equals = pair.indexOf(u'=');
        if (pair.isEmpty())
            pairs << QString();
        else if (equals < 0)
            pairs << Masked;
        else if (IsSecretKey(Decoded(pair.left(equals))))
            pairs << pair.left(equals + 1).toString() + Masked;
        else
            pairs << pair.toString();
    }
    return shown + u'?' + pairs.join(u'&');
}

std::optional<JournalLocation> ParsePostgresUrl(const QString& text, qsizetype schemeLength, QString* error)
{
    JournalLocation location;
    location.dialect = JournalDialect::Postgres;
    const QStringView rest = QStringView(text).mid(schemeLength);
    const auto queryStart = rest.indexOf(u'?');
    const QStringView beforeQuery = queryStart < 0 ? rest : rest.left(queryStart);
    const auto slash = beforeQuery.indexOf(u'/');
    const QStringView authority = slash < 0 ? beforeQuery : beforeQuery.left(slash);
    if (slash >= 0)
        location.database = Decoded(beforeQuery.mid(slash + 1));
    if (location.database.contains(u'/')) {
        *error = QStringLiteral("the database name holds a /");
        return std::nullopt;
    }

    QStringView hostPort = authority;
    if (const auto at = authority.lastIndexOf(u'@'); at >= 0) {
        const QStringView userInfo = authority.left(at);
        hostPort = authority.mid(at + 1);
        const auto colon = userInfo.indexOf(u':');
        location.user = Decoded(colon < 0 ? userInfo : userInfo.left(colon));
        if (colon >= 0)
            location.password = Decoded(userInfo.mid(colon + 1));
    }
    if (!SetHostPort(hostPort, &location, error))
        return std::nullopt;

    if (queryStart >= 0) {
        for (const QStringView pair : rest.mid(queryStart + 1).split(u'&', Qt::SkipEmptyParts)) {
            const auto equals = pair.indexOf(u'=');
            if (equals <= 0) {
                *error = QStringLiteral("a part of the query is not key=value");
                return std::nullopt;
            }
            if (!SetParameter(Decoded(pair.left(equals)), Decoded(pair.mid(equals + 1)), &location, error))
                return std::nullopt;
        }
    }
    return location;
}

} // namespace

QString JournalLocation::displayName() const
{
    if (dialect == JournalDialect::Sqlite)
        return path;
    QString name = QStringLiteral("postgresql://");
    if (!user.isEmpty())
        name += user + u'@';
    if (!host.startsWith(u'/'))
        name += host.contains(u':') ? u'[' + host + u']' : host;
    if (port != 0)
        name += u':' + QString::number(port);
    name += u'/' + database;
    if (host.startsWith(u'/'))
        name += QStringLiteral("?host=") + host;
    return name;
}

QString JournalLocation::parameter(const QString& key) const
{
    // As libpq takes them: the last one given counts.
    for (auto p = parameters.crbegin(); p != parameters.crend(); ++p)
        if (p->key == key)
            return p->value;
    return {};
}

QString JournalLocation::withoutSecrets(QString text) const
{
    QStringList secrets{password};
    for (const Parameter& p : parameters)
        if (p.secret)
            secrets << p.value;
    for (const QString& secret : secrets)
        if (!secret.isEmpty())
            text.replace(secret, Masked);
    return text;
}

QString DefaultJournalPath()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
        QStringLiteral("/chronel/journal.sqlite");
}

std::optional<JournalLocation> ParseJournalLocation(const QString& text, QString* error)
{
    QString why;
    QString shown = text;
    auto failed = [&](const QString& reason) {
        *error = QStringLiteral("\"%1\": %2").arg(shown, reason);
        return std::nullopt;
    };
    if (text.isEmpty()) {
        JournalLocation location;
        location.path = DefaultJournalPath();
        const QString folder = QFileInfo(location.path).absolutePath();
        if (!QDir().mkpath(folder))
            return failed(QStringLiteral("cannot create the folder %1").arg(folder));
        return location;
    }
    if (text.trimmed().isEmpty())
        return failed(QStringLiteral("names no file"));
    for (const QLatin1StringView scheme : {QLatin1StringView("postgresql://"), QLatin1StringView("postgres://")}) {
        if (text.startsWith(scheme)) {
            shown = ShownUrl(text, scheme.size());
            auto location = ParsePostgresUrl(text, scheme.size(), &why);
            if (!location)
                return failed(why);
            return location;
        }
    }
    if (const auto schemeEnd = text.indexOf(QStringLiteral("://")); schemeEnd > 0) {
        shown = ShownUrl(text, schemeEnd + 3);
        return failed(
            QStringLiteral("\"%1\" is not a journal's scheme (postgresql:// or a file)").arg(text.left(schemeEnd)));
    }
    JournalLocation location;
    location.path = QFileInfo(text).absoluteFilePath();
    if (QFileInfo(location.path).isDir())
        return failed(QStringLiteral("is a folder, not a file"));
    return location;
}

} // namespace chronel
