#include "journal_location.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>
#include <QUrl>

namespace chronel {

namespace {

QString Decoded(QStringView part) { return QUrl::fromPercentEncoding(part.toUtf8()); }

bool SetPort(const QString& text, JournalLocation* location, QString* error)
{
    bool ok = false;
    const int port = text.toInt(&ok);
    if (!ok || port < 1 || port > 65535 || !text.front().isDigit()) {
        *error = QStringLiteral("port \"%1\" is not a number from 1 to 65535").arg(text);
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
            *error = QStringLiteral("the host \"%1\" has no closing ]").arg(text);
            return false;
        }
        host = text.mid(1, close - 1);
        const QStringView after = text.mid(close + 1);
        if (!after.isEmpty() && !after.startsWith(u':')) {
            *error = QStringLiteral("\"%1\" follows the host's ]").arg(after);
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

bool SetParameter(const QString& key, const QString& value, JournalLocation* location, QString* error)
{
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
    else {
        *error = QStringLiteral("unknown parameter \"%1\" (host, port, user, password and dbname are known)").arg(key);
        return false;
    }
    return true;
}

std::optional<JournalLocation> ParsePostgresUrl(const QString& text, qsizetype schemeLength, QString* error)
{
    JournalLocation location;
    location.kind = JournalLocation::Kind::Postgres;
    const QStringView rest = QStringView(text).mid(schemeLength);
    const auto queryStart = rest.indexOf(u'?');
    const QStringView beforeQuery = queryStart < 0 ? rest : rest.left(queryStart);
    const auto slash = beforeQuery.indexOf(u'/');
    const QStringView authority = slash < 0 ? beforeQuery : beforeQuery.left(slash);
    if (slash >= 0)
        location.database = Decoded(beforeQuery.mid(slash + 1));
    if (location.database.contains(u'/')) {
        *error = QStringLiteral("the database name \"%1\" holds a /").arg(location.database);
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
                *error = QStringLiteral("the parameter \"%1\" is not key=value").arg(pair);
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
    if (kind == Kind::Sqlite)
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

QString DefaultJournalPath()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
        QStringLiteral("/chronel/journal.sqlite");
}

std::optional<JournalLocation> ParseJournalLocation(const QString& text, QString* error)
{
    QString why;
    auto failed = [&](const QString& reason) {
        *error = QStringLiteral("--journal \"%1\": %2").arg(text, reason);
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
            auto location = ParsePostgresUrl(text, scheme.size(), &why);
            if (!location)
                return failed(why);
            return location;
        }
    }
    if (const auto schemeEnd = text.indexOf(QStringLiteral("://")); schemeEnd > 0)
        return failed(
            QStringLiteral("\"%1\" is not a journal's scheme (postgresql:// or a file)").arg(text.left(schemeEnd)));
    JournalLocation location;
    location.path = QFileInfo(text).absoluteFilePath();
    if (QFileInfo(location.path).isDir())
        return failed(QStringLiteral("is a folder, not a file"));
    return location;
}

} // namespace chronel
