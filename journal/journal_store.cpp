#include "journal_store.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QRegularExpression>
#include <QSqlError>
#include <QSqlQuery>
#include <QThread>

#include <atomic>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace chronel {

namespace {

constexpr int BusyTimeoutMs = 5000;

QString NewConnectionName()
{
    static std::atomic<quint64> next{0};
    return QStringLiteral("chronel-journal-%1").arg(++next);
}

// The oldest SQLite that knows INSERT … ON CONFLICT DO NOTHING.
bool SqliteTooOld(const QString& version)
{
    const QStringList parts = version.split(u'.');
    const int major = parts.value(0).toInt();
    const int minor = parts.value(1).toInt();
    return major < 3 || (major == 3 && minor < 24);
}

// The row's fields that order and identify it must have their stored form.
QString CheckEvent(const JournalEvent& event)
{
    static const QRegularExpression moduleTime(QStringLiteral("^\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d\\.\\d{3}$"));
    if (event.module.isEmpty())
        return QStringLiteral("no module");
    if (!moduleTime.match(event.moduleTime).hasMatch())
        return QStringLiteral("module time \"%1\" is not yyyy-MM-ddTHH:mm:ss.zzz").arg(event.moduleTime);
    if (!event.received.isValid())
        return QStringLiteral("no received time");
    return {};
}

// A journal holds what happened at a site; its file is its owner's alone.
// SQLite gives the -wal and -shm files the main file's mode.
constexpr mode_t JournalFileMode = 0600;

// SQLite would create a missing file under the umask (0644 as a rule): it is
// created here first, empty, which SQLite takes for a new database. A
// failure is left for SQLite's open to report.
void CreateJournalFile(const QString& path)
{
    const int fd =
        ::open(QFile::encodeName(path).constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, JournalFileMode);
    if (fd >= 0)
        ::close(fd);
}

// The drivers bind a null string as NULL; every column but the id is NOT NULL.
QString NotNull(const QString& text) { return text.isNull() ? QStringLiteral("") : text; }

} // namespace

JournalStore::~JournalStore() { close(); }

JournalDialect JournalStore::dialect() const
{
    return location_.kind == JournalLocation::Kind::Sqlite ? JournalDialect::Sqlite : JournalDialect::Postgres;
}

QSqlDatabase JournalStore::database() const { return QSqlDatabase::database(connection_, false); }

void JournalStore::close()
{
    if (connection_.isEmpty())
        return;
    {
        QSqlDatabase db = QSqlDatabase::database(connection_, false);
        db.close();
    }
    QSqlDatabase::removeDatabase(connection_);
    connection_.clear();
}

bool JournalStore::open(const JournalLocation& location, QString* error)
{
    close();
    location_ = location;
    connection_ = NewConnectionName();
    if (location.kind == JournalLocation::Kind::Sqlite)
        CreateJournalFile(location.path);
    if (!openDatabase(error)) {
        close();
        return false;
    }
    if (!migrate(error)) {
        close();
        return false;
    }
    return true;
}

bool JournalStore::migrate(QString* error)
{
    QSqlDatabase db = database();
    // A journal another writer is creating or migrating right now waits for
    // it: the migration takes the write lock first.
    const QDeadlineTimer deadline(WriteTimeoutMs);
    bool busy = false;
    while (!MigrateJournal(db, dialect(), location_.displayName(), error, &busy)) {
        if (!busy || deadline.hasExpired())
            return false;
        QThread::msleep(50);
    }
    return true;
}

bool JournalStore::openDatabase(QString* error)
{
    const bool sqlite = location_.kind == JournalLocation::Kind::Sqlite;
    const QString driver = sqlite ? QStringLiteral("QSQLITE") : QStringLiteral("QPSQL");
    const QString name = location_.displayName();
    if (!QSqlDatabase::isDriverAvailable(driver)) {
        *error =
            QStringLiteral("journal %1: Qt's %2 driver is not installed (Debian package %3)")
                .arg(name, driver, sqlite ? QStringLiteral("libqt6sql6-sqlite") : QStringLiteral("libqt6sql6-psql"));
        return false;
    }
    QSqlDatabase db = QSqlDatabase::addDatabase(driver, connection_);
    if (sqlite) {
        db.setDatabaseName(location_.path);
        db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=%1").arg(BusyTimeoutMs));
    } else {
        db.setHostName(location_.host);
        if (location_.port != 0)
            db.setPort(location_.port);
        db.setUserName(location_.user);
        db.setPassword(location_.password);
        db.setDatabaseName(location_.database);
        db.setConnectOptions(QStringLiteral("connect_timeout=10"));
    }
    if (!db.open()) {
        *error = QStringLiteral("journal %1: cannot open: %2").arg(name, db.lastError().text());
        return false;
    }
    QSqlQuery query(db);
    auto fail = [&](const QString& what) {
        *error = QStringLiteral("journal %1: %2: %3").arg(name, what, query.lastError().text());
        return false;
    };
    if (!sqlite)
        return query.exec(QStringLiteral("SET client_min_messages = warning")) ||
            fail(QStringLiteral("cannot set up the session"));

    if (!query.exec(QStringLiteral("SELECT sqlite_version()")) || !query.next())
        return fail(QStringLiteral("cannot ask SQLite's version"));
    if (const QString version = query.value(0).toString(); SqliteTooOld(version)) {
        *error = QStringLiteral("journal %1: SQLite %2 is too old, 3.24 or later is needed").arg(name, version);
        return false;
    }
    // The first read of the file: one that is no SQLite database fails here.
    if (!query.exec(QStringLiteral("PRAGMA schema_version")))
        return fail(QStringLiteral("cannot read"));
    const QDeadlineTimer deadline(WriteTimeoutMs);
    for (;;) {
        if (query.exec(QStringLiteral("PRAGMA journal_mode = WAL")) && query.next())
            break;
        if (!IsJournalBusy(query.lastError()) || deadline.hasExpired())
            return fail(QStringLiteral("cannot switch to WAL mode"));
        QThread::msleep(50);
    }
    if (const QString mode = query.value(0).toString(); mode.compare(u"wal", Qt::CaseInsensitive) != 0) {
        *error = QStringLiteral("journal %1: stays in journal mode %2 instead of WAL").arg(name, mode);
        return false;
    }
    if (!query.exec(QStringLiteral("PRAGMA synchronous = FULL")))
        return fail(QStringLiteral("cannot set synchronous = FULL"));
    return true;
}

bool JournalStore::append(const QList<JournalEvent>& events, QString* error, int* added)
{
    int count = 0;
    if (added)
        *added = 0;
    if (!isOpen()) {
        *error = QStringLiteral("journal %1: not open").arg(location_.displayName());
        return false;
    }
    for (qsizetype i = 0; i < events.size(); ++i) {
        if (const QString wrong = CheckEvent(events[i]); !wrong.isEmpty()) {
            *error = QStringLiteral("journal %1: row %2 of the block has %3; nothing stored")
                         .arg(location_.displayName())
                         .arg(i + 1)
                         .arg(wrong);
            return false;
        }
    }
    if (events.isEmpty())
        return true;
    const QDeadlineTimer deadline(WriteTimeoutMs);
    for (int wait = 10;; wait = qMin(wait * 2, 200)) {
        switch (tryAppend(events, error, &count)) {
        case Attempt::Done:
            if (added)
                *added = count;
            return true;
        case Attempt::Failed: return false;
        case Attempt::Busy:
            if (deadline.hasExpired()) {
                *error += QStringLiteral(" (still locked after %1 s)").arg(WriteTimeoutMs / 1000);
                return false;
            }
            QThread::msleep(wait);
            break;
        }
    }
}

JournalStore::Attempt JournalStore::tryAppend(const QList<JournalEvent>& events, QString* error, int* added)
{
    QSqlDatabase db = database();
    const bool sqlite = dialect() == JournalDialect::Sqlite;
    QSqlQuery control(db);
    QSqlError failure;
    QString what;
    {
        QSqlQuery insert(db);
        auto attempt = [&]() {
            // IMMEDIATE: the write lock now, so that a busy file is met before
            // any row rather than at COMMIT.
            if (!control.exec(sqlite ? QStringLiteral("BEGIN IMMEDIATE") : QStringLiteral("BEGIN"))) {
                failure = control.lastError();
                what = QStringLiteral("cannot begin a transaction");
                return false;
            }
            if (!sqlite && !control.exec(QStringLiteral("LOCK TABLE journal_events IN SHARE ROW EXCLUSIVE MODE"))) {
                failure = control.lastError();
                what = QStringLiteral("cannot lock journal_events");
                return false;
            }
            if (!insert.prepare(
                    QStringLiteral("INSERT INTO journal_events (module, module_name, module_time, date_source, point,"
                                   " point_description, state_text, text, quality, scan_flags, received, raw)"
                                   " VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)"
                                   " ON CONFLICT (module, module_time, raw) DO NOTHING"))) {
                failure = insert.lastError();
                what = QStringLiteral("cannot prepare the insert");
                return false;
            }
            for (const JournalEvent& event : events) {
                insert.addBindValue(event.module);
                insert.addBindValue(NotNull(event.moduleName));
                insert.addBindValue(event.moduleTime);
                insert.addBindValue(NotNull(event.dateSource));
                insert.addBindValue(event.point);
                insert.addBindValue(NotNull(event.pointDescription));
                insert.addBindValue(NotNull(event.stateText));
                insert.addBindValue(NotNull(event.text));
                insert.addBindValue(event.quality);
                insert.addBindValue(event.scanFlags);
                insert.addBindValue(JournalReceivedText(event.received));
                insert.addBindValue(event.raw.isNull() ? QByteArray("") : event.raw);
                if (!insert.exec()) {
                    failure = insert.lastError();
                    what = QStringLiteral("cannot store the event at %1 of %2").arg(event.moduleTime, event.module);
                    return false;
                }
                *added += insert.numRowsAffected() > 0 ? 1 : 0;
            }
            // SQLite will not commit while a statement is still running.
            insert.finish();
            if (!control.exec(QStringLiteral("COMMIT"))) {
                failure = control.lastError();
                what = QStringLiteral("cannot commit");
                return false;
            }
            return true;
        };
        *added = 0;
        if (attempt())
            return Attempt::Done;
        // A failed COMMIT may leave the transaction open (SQLite keeps it
        // when busy); rolling back is then what makes "nothing stored" true.
        // Before the insert goes: PostgreSQL frees its prepared statement
        // only outside an aborted transaction.
        insert.finish();
        control.exec(QStringLiteral("ROLLBACK"));
    }
    *added = 0;
    *error = QStringLiteral("journal %1: %2: %3; nothing of the block stored")
                 .arg(location_.displayName(), what, failure.text());
    return sqlite && IsJournalBusy(failure) ? Attempt::Busy : Attempt::Failed;
}

} // namespace chronel
