#include "journal_store.h"

#include "journal_columns.h"
#include "journal_error.h"
#include "postgres_connection.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSqlError>
#include <QSqlQuery>
#include <QThread>

#include <algorithm>
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
    if (event.moduleTime.isEmpty() ? !event.marks.contains(QLatin1String("undated"))
                                   : !moduleTime.match(event.moduleTime).hasMatch())
        return QStringLiteral("module time \"%1\" is not yyyy-MM-ddTHH:mm:ss.zzz").arg(event.moduleTime);
    if (!event.received.isValid())
        return QStringLiteral("no received time");
    return {};
}

// A journal holds what happened at a site; its file is its owner's alone,
// unless it is made in a folder shared through its group (setgid, as the
// collector's state directory is for the web view): there the group gets
// read and write, less what the umask takes. SQLite gives the -wal and -shm
// files the main file's mode.
constexpr mode_t JournalFileMode = 0600;
constexpr mode_t SharedJournalFileMode = 0660;

mode_t NewJournalFileMode(const QString& path)
{
    struct stat folder { };
    const QByteArray dir = QFile::encodeName(QFileInfo(path).absolutePath());
    if (::stat(dir.constData(), &folder) == 0 && (folder.st_mode & S_ISGID))
        return SharedJournalFileMode;
    return JournalFileMode;
}

// SQLite would create a missing file under the umask (0644 as a rule): it is
// created here first, empty, which SQLite takes for a new database. A
// failure is left for SQLite's open to report.
void CreateJournalFile(const QString& path)
{
    const int fd =
        ::open(QFile::encodeName(path).constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, NewJournalFileMode(path));
    if (fd >= 0)
        ::close(fd);
}

// The drivers bind a null string as NULL.
QString NotNull(const QString& text) { return text.isNull() ? QStringLiteral("") : text; }

// A row into every column but the id; a row whose identity is stored
// already is skipped.
const QString& InsertStatement()
{
    static const QString statement = [] {
        QStringList names;
        for (const JournalColumn& column : JournalColumns)
            if (!(column.flags & columnflag::AssignedByStore))
                names << QString::fromLatin1(column.name);
        QStringList placeholders;
        placeholders.fill(QStringLiteral("?"), names.size());
        return QStringLiteral(
            "INSERT INTO journal_events (%1) VALUES (%2) ON CONFLICT (module, block, record) DO NOTHING")
            .arg(names.join(QStringLiteral(", ")), placeholders.join(QStringLiteral(", ")));
    }();
    return statement;
}

// What is left of an open's time for the server's answers; a connection
// that took it all (a connect_timeout raised above it) still gets a second.
int RemainingMs(const QDeadlineTimer& deadline) { return int(std::max<qint64>(deadline.remainingTime(), 1000)); }

} // namespace

JournalStore::~JournalStore() { close(); }

QSqlDatabase JournalStore::database() const { return QSqlDatabase::database(connection_, false); }

void JournalStore::close()
{
    files_ = {};
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
    readOnly_ = false;
    connection_ = NewConnectionName();
    if (location.dialect == JournalDialect::Sqlite)
        CreateJournalFile(location.path);
    const QDeadlineTimer answer(PostgresAnswerMs);
    if (!openDatabase(answer, error)) {
        close();
        return false;
    }
    if (!migrate(answer, error)) {
        close();
        return false;
    }
    version_ = JournalSchemaVersion;
    files_ = currentFiles();
    return true;
}

bool JournalStore::openReadOnly(const JournalLocation& location, QString* error)
{
    close();
    location_ = location;
    readOnly_ = true;
    if (location.dialect == JournalDialect::Sqlite && !QFileInfo(location.path).isFile()) {
        *error = QStringLiteral("journal %1: no such file").arg(location.displayName());
        return false;
    }
    connection_ = NewConnectionName();
    if (!openDatabase(QDeadlineTimer(PostgresAnswerMs), error) || !checkVersion(error)) {
        close();
        return false;
    }
    // After the first reads: the connection holds its -wal and -shm open now.
    files_ = currentFiles();
    return true;
}

bool JournalStore::reopen(QString* error)
{
    const JournalLocation location = location_;
    return readOnly_ ? openReadOnly(location, error) : open(location, error);
}

bool JournalStore::checkVersion(QString* error)
{
    QSqlDatabase db = database();
    QString why;
    const int version = JournalVersion(db, dialect(), &why);
    const QString name = location_.displayName();
    if (version < 0) {
        *error = QStringLiteral("journal %1: cannot read the schema version: %2").arg(name, why);
        return false;
    }
    if (version == 0) {
        *error = QStringLiteral("journal %1: holds no site journal yet (a collector creates it with its first block)")
                     .arg(name);
        return false;
    }
    if (version > JournalSchemaVersion) {
        *error = QStringLiteral("journal %1 has schema version %2, newer than this program's %3: read it with a newer "
                                "Chronel")
                     .arg(name)
                     .arg(version)
                     .arg(JournalSchemaVersion);
        return false;
    }
    version_ = version;
    return true;
}

std::array<std::optional<FileIdentity>, 3> JournalStore::currentFiles() const
{
    if (dialect() != JournalDialect::Sqlite)
        return {};
    // SQLite keeps its -wal and -shm files beside the file a link leads to.
    const QString canonical = QFileInfo(location_.path).canonicalFilePath();
    const QString base = canonical.isEmpty() ? location_.path : canonical;
    return {FileIdentityOf(base), FileIdentityOf(base + QStringLiteral("-wal")),
        FileIdentityOf(base + QStringLiteral("-shm"))};
}

bool JournalStore::readsCurrentFiles(QString* why) const
{
    if (!isOpen() || dialect() != JournalDialect::Sqlite)
        return true;
    const auto now = currentFiles();
    if (now[0] != files_[0]) {
        *why = QStringLiteral("journal %1: the file was removed or replaced").arg(location_.displayName());
        return false;
    }
    for (int i : {1, 2}) {
        if (now[i] != files_[i]) {
            *why = QStringLiteral("journal %1: its %2 file was removed or replaced by another program (this one had "
                                  "lost its locks on the journal)")
                       .arg(location_.displayName(), i == 1 ? QStringLiteral("-wal") : QStringLiteral("-shm"));
            return false;
        }
    }
    return true;
}

bool JournalStore::migrate(const QDeadlineTimer& answer, QString* error)
{
    QSqlDatabase db = database();
    const bool postgres = dialect() == JournalDialect::Postgres;
    if (postgres) {
        // A journal of this version costs one read within the open's time;
        // an upgrade may take long on a big journal and runs without the
        // deadline or the statement time-out.
        const PostgresDeadline deadline(db, RemainingMs(answer), error);
        QString why;
        const int version = JournalVersion(db, dialect(), &why);
        if (version == JournalSchemaVersion)
            return true;
        if (deadline.expired()) {
            *error = QStringLiteral("journal %1: cannot read the schema version: %2")
                         .arg(location_.displayName(), location_.withoutSecrets(why));
            return false;
        }
        QSqlQuery(db).exec(QStringLiteral("SET statement_timeout = 0"));
    }
    // A journal another writer is creating or migrating right now waits for
    // it: the migration takes the write lock first.
    const QDeadlineTimer deadline(WriteTimeoutMs);
    bool busy = false;
    while (!MigrateJournal(db, dialect(), location_.displayName(), error, &busy)) {
        if (!busy || deadline.hasExpired())
            return false;
        QThread::msleep(50);
    }
    if (postgres)
        QSqlQuery(db).exec(QStringLiteral("RESET statement_timeout"));
    return true;
}

bool JournalStore::openDatabase(const QDeadlineTimer& answer, QString* error)
{
    const bool sqlite = location_.dialect == JournalDialect::Sqlite;
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
        db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=%1").arg(BusyTimeoutMs) +
            (readOnly_ ? QStringLiteral(";QSQLITE_OPEN_READONLY") : QString()));
    } else {
        db.setHostName(location_.host);
        if (location_.port != 0)
            db.setPort(location_.port);
        db.setUserName(location_.user);
        db.setPassword(location_.password);
        db.setDatabaseName(location_.database);
        db.setConnectOptions(PostgresConnectOptions(location_));
    }
    // libpq's messages may quote the connection's parameters.
    if (!db.open()) {
        *error = QStringLiteral("journal %1: cannot %2: %3")
                     .arg(name, sqlite ? QStringLiteral("open") : QStringLiteral("connect"),
                         location_.withoutSecrets(JournalErrorText(db.lastError(), dialect())));
        return false;
    }
    QSqlQuery query(db);
    auto fail = [&](const QString& what) {
        *error = QStringLiteral("journal %1: %2: %3")
                     .arg(name, what, location_.withoutSecrets(JournalErrorText(query.lastError(), dialect())));
        return false;
    };
    if (!sqlite) {
        const PostgresDeadline deadline(db, RemainingMs(answer), error);
        if (!query.exec(QStringLiteral("SET client_min_messages = warning")))
            return fail(QStringLiteral("cannot set up the session"));
        if (readOnly_ && !query.exec(QStringLiteral("SET SESSION CHARACTERISTICS AS TRANSACTION READ ONLY")))
            return fail(QStringLiteral("cannot make the session read-only"));
        // libpq never encrypts a Unix socket, whatever sslmode says.
        if (PostgresRequiresTls(location_)) {
            if (!query.exec(QStringLiteral("SELECT ssl FROM pg_stat_ssl WHERE pid = pg_backend_pid()")) ||
                !query.next())
                return fail(QStringLiteral("cannot ask whether the connection is encrypted"));
            if (!query.value(0).toBool()) {
                *error = QStringLiteral("journal %1: sslmode asks for an encrypted connection, and this one is not "
                                        "(a Unix socket never is); give the server's host name, or leave sslmode out")
                             .arg(name);
                return false;
            }
        }
        return true;
    }

    if (!query.exec(QStringLiteral("SELECT sqlite_version()")) || !query.next())
        return fail(QStringLiteral("cannot ask SQLite's version"));
    if (const QString version = query.value(0).toString(); SqliteTooOld(version)) {
        *error = QStringLiteral("journal %1: SQLite %2 is too old, 3.24 or later is needed").arg(name, version);
        return false;
    }
    // The first read of the file: one that is no SQLite database fails here.
    if (!query.exec(QStringLiteral("PRAGMA schema_version")))
        return fail(QStringLiteral("cannot read"));
    // A reader takes the journal's mode as the writers left it.
    if (readOnly_)
        return true;
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
    return write(events, nullptr, error, added, nullptr);
}

bool JournalStore::appendBlock(
    const QList<JournalEvent>& events, const JournalModuleState& state, QString* error, qint64* number)
{
    for (const JournalEvent& event : events) {
        if (event.module != state.module) {
            *error = QStringLiteral("journal %1: a block of %2 holds a row of %3; nothing stored")
                         .arg(location_.displayName(), state.module, event.module);
            return false;
        }
    }
    return write(events, &state, error, nullptr, number);
}

bool JournalStore::write(
    const QList<JournalEvent>& events, const JournalModuleState* state, QString* error, int* added, qint64* number)
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
    if (events.isEmpty() && !state)
        return true;
    // A server that stops answering fails the block within PostgresAnswerMs.
    const PostgresDeadline answer(database(), PostgresAnswerMs, error);
    const QDeadlineTimer deadline(WriteTimeoutMs);
    for (int wait = 10;; wait = qMin(wait * 2, 200)) {
        switch (tryWrite(events, state, error, &count, number)) {
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

JournalStore::Attempt JournalStore::tryWrite(
    QList<JournalEvent> events, const JournalModuleState* state, QString* error, int* added, qint64* number)
{
    QSqlDatabase db = database();
    const bool sqlite = dialect() == JournalDialect::Sqlite;
    QSqlQuery control(db);
    QSqlError failure;
    QString what;
    {
        QSqlQuery insert(db);
        QSqlQuery modules(db);
        auto step = [&](QSqlQuery& query, const QString& failed) {
            if (query.exec())
                return true;
            failure = query.lastError();
            what = failed;
            return false;
        };
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
            if (state) {
                // The block's number, read under the lock every writer takes.
                modules.prepare(QStringLiteral("SELECT block FROM journal_modules WHERE module = ?"));
                modules.addBindValue(state->module);
                if (!step(modules, QStringLiteral("cannot read the state of %1").arg(state->module)))
                    return false;
                const qint64 block = (modules.next() ? modules.value(0).toLongLong() : 0) + 1;
                modules.finish();
                for (JournalEvent& event : events)
                    event.block = block;
                if (number)
                    *number = block;
                modules.prepare(QStringLiteral(
                    "INSERT INTO journal_modules (module, module_id, block, unconfirmed, decoder, zone, updated)"
                    " VALUES (?, ?, ?, ?, ?, ?, ?) ON CONFLICT (module) DO UPDATE SET module_id = excluded.module_id,"
                    " block = excluded.block, unconfirmed = excluded.unconfirmed, decoder = excluded.decoder,"
                    " zone = excluded.zone, updated = excluded.updated"));
                modules.addBindValue(state->module);
                modules.addBindValue(
                    state->moduleId ? QVariant(*state->moduleId) : QVariant(QMetaType(QMetaType::Int)));
                modules.addBindValue(block);
                modules.addBindValue(state->unconfirmed.isEmpty() ? QVariant(QMetaType(QMetaType::QByteArray))
                                                                  : QVariant(state->unconfirmed));
                modules.addBindValue(NotNull(state->decoder));
                modules.addBindValue(NotNull(state->zone));
                modules.addBindValue(JournalReceivedText(QDateTime::currentDateTimeUtc()));
                if (!step(modules, QStringLiteral("cannot store the state of %1").arg(state->module)))
                    return false;
                modules.finish();
            }
            if (!insert.prepare(InsertStatement())) {
                failure = insert.lastError();
                what = QStringLiteral("cannot prepare the insert");
                return false;
            }
            for (const JournalEvent& event : events) {
                for (const JournalColumn& column : JournalColumns)
                    if (!(column.flags & columnflag::AssignedByStore))
                        insert.addBindValue(column.bound(event));
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
        // Before the statements go: PostgreSQL frees its prepared statements
        // only outside an aborted transaction.
        insert.finish();
        modules.finish();
        control.exec(QStringLiteral("ROLLBACK"));
    }
    *added = 0;
    *error = QStringLiteral("journal %1: %2: %3; nothing of the block stored")
                 .arg(location_.displayName(), what, location_.withoutSecrets(JournalErrorText(failure, dialect())));
    return sqlite && IsJournalBusy(failure) ? Attempt::Busy : Attempt::Failed;
}

std::optional<JournalModuleState> JournalStore::moduleState(const QString& module, QString* error)
{
    if (!isOpen()) {
        *error = QStringLiteral("journal %1: not open").arg(location_.displayName());
        return std::nullopt;
    }
    const PostgresDeadline answer(database(), PostgresAnswerMs, error);
    QSqlQuery query(database());
    query.setForwardOnly(true);
    query.prepare(
        QStringLiteral("SELECT module_id, block, unconfirmed, decoder, zone FROM journal_modules WHERE module = ?"));
    query.addBindValue(module);
    if (!query.exec()) {
        *error = QStringLiteral("journal %1: cannot read the state of %2: %3")
                     .arg(location_.displayName(), module,
                         location_.withoutSecrets(JournalErrorText(query.lastError(), dialect())));
        return std::nullopt;
    }
    JournalModuleState state;
    state.module = module;
    if (query.next()) {
        if (!query.value(0).isNull())
            state.moduleId = query.value(0).toInt();
        state.block = query.value(1).toLongLong();
        state.unconfirmed = query.value(2).toByteArray();
        state.decoder = query.value(3).toString();
        state.zone = query.value(4).toString();
    }
    return state;
}

bool JournalStore::confirmBlock(const QString& module, qint64 number, QString* error)
{
    if (!isOpen()) {
        *error = QStringLiteral("journal %1: not open").arg(location_.displayName());
        return false;
    }
    const PostgresDeadline answer(database(), PostgresAnswerMs, error);
    const QDeadlineTimer deadline(WriteTimeoutMs);
    for (int wait = 10;; wait = qMin(wait * 2, 200)) {
        QSqlQuery query(database());
        query.prepare(QStringLiteral("UPDATE journal_modules SET unconfirmed = NULL WHERE module = ? AND block = ?"));
        query.addBindValue(module);
        query.addBindValue(number);
        if (query.exec())
            return true;
        if (!IsJournalBusy(query.lastError()) || deadline.hasExpired()) {
            *error = QStringLiteral("journal %1: cannot note the acknowledge of %2: %3")
                         .arg(location_.displayName(), module,
                             location_.withoutSecrets(JournalErrorText(query.lastError(), dialect())));
            return false;
        }
        QThread::msleep(wait);
    }
}

bool JournalStore::appendClock(const JournalClockReading& reading, QString* error)
{
    if (!isOpen()) {
        *error = QStringLiteral("journal %1: not open").arg(location_.displayName());
        return false;
    }
    const PostgresDeadline answer(database(), PostgresAnswerMs, error);
    const QDeadlineTimer deadline(WriteTimeoutMs);
    for (int wait = 10;; wait = qMin(wait * 2, 200)) {
        QSqlQuery query(database());
        query.prepare(QStringLiteral(
            "INSERT INTO journal_clocks (module, at, source, quality, offset_ms) VALUES (?, ?, ?, ?, ?)"));
        query.addBindValue(reading.module);
        query.addBindValue(JournalReceivedText(reading.at));
        query.addBindValue(reading.source);
        query.addBindValue(reading.quality);
        query.addBindValue(reading.offsetMs ? QVariant(*reading.offsetMs) : QVariant(QMetaType(QMetaType::Int)));
        if (query.exec())
            return true;
        if (!IsJournalBusy(query.lastError()) || deadline.hasExpired()) {
            *error = QStringLiteral("journal %1: cannot keep the clock reading of %2: %3")
                         .arg(location_.displayName(), reading.module,
                             location_.withoutSecrets(JournalErrorText(query.lastError(), dialect())));
            return false;
        }
        QThread::msleep(wait);
    }
}

} // namespace chronel
