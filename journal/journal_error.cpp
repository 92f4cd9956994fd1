#include "journal_error.h"

#include <QRegularExpression>
#include <QStringList>

namespace chronel {

namespace {

// SQLite's primary result codes (the low byte of an extended one).
enum SqliteCode {
    SqlitePerm = 3,
    SqliteBusy = 5,
    SqliteLocked = 6,
    SqliteReadOnly = 8,
    SqliteIoError = 10,
    SqliteCorrupt = 11,
    SqliteFull = 13,
    SqliteCantOpen = 14,
    SqliteAuth = 23,
    SqliteNotADatabase = 26,
};

QString SqliteText(const QSqlError& error)
{
    const QString native = error.databaseText().trimmed();
    bool ok = false;
    const int code = error.nativeErrorCode().toInt(&ok) & 0xff;
    if (!ok)
        return native;
    switch (code) {
    case SqliteNotADatabase: return QStringLiteral("the file is not a database, so it holds no journal");
    case SqliteCorrupt: return QStringLiteral("the file is damaged (SQLite: %1)").arg(native);
    case SqliteCantOpen:
        return QStringLiteral("the file cannot be opened: it is missing, or this user may not read it or create "
                              "its -wal and -shm files beside it");
    case SqlitePerm:
    case SqliteAuth: return QStringLiteral("this user may not read it");
    case SqliteReadOnly: return QStringLiteral("it is read-only to this user");
    case SqliteBusy:
    case SqliteLocked: return QStringLiteral("another program holds it locked");
    case SqliteFull: return QStringLiteral("the disk is full");
    case SqliteIoError: return QStringLiteral("the disk could not be read or written (SQLite: %1)").arg(native);
    default: break;
    }
    static const QRegularExpression noTable(QStringLiteral("^no such table: (\\S+)"));
    if (const auto match = noTable.match(native); match.hasMatch())
        return QStringLiteral("it holds no table %1, so no journal of this program").arg(match.captured(1));
    return native.isEmpty() ? error.text().trimmed() : native;
}

// libpq's message, which may run over several lines ("connection to server
// … failed: Connection refused", then "\tIs the server running …?"), as one
// line; its severity words ("FATAL:  ") say nothing here.
QString PostgresText(const QSqlError& error)
{
    static const QRegularExpression severity(QStringLiteral("\\b(?:FATAL|ERROR|DETAIL|HINT):\\s*"));
    static const QRegularExpression spaces(QStringLiteral("\\s+"));
    QStringList parts;
    for (QString line : error.databaseText().split(u'\n')) {
        line = line.trimmed().replace(spaces, QStringLiteral(" ")).remove(severity);
        if (line.isEmpty())
            continue;
        if (!parts.isEmpty())
            line[0] = line[0].toLower();
        parts << line;
    }
    if (parts.isEmpty()) {
        QString driver = error.driverText().trimmed();
        return driver.remove(QRegularExpression(QStringLiteral("^QPSQL:\\s*"))).toLower();
    }
    return parts.join(QStringLiteral("; "));
}

} // namespace

QString JournalErrorText(const QSqlError& error, JournalDialect dialect)
{
    return dialect == JournalDialect::Sqlite ? SqliteText(error) : PostgresText(error);
}

} // namespace chronel
