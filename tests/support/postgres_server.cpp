#include "postgres_server.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QStandardPaths>
#include <QThread>

#include <csignal>

#include <sys/prctl.h>

namespace chronel::test {

namespace {

constexpr int InitdbTimeoutMs = 60000;
constexpr int ReadyTimeoutMs = 30000;

// initdb and postgres: on PATH, or in the newest of Debian's versioned folders.
QString FindProgram(const QString& name)
{
    if (QString found = QStandardPaths::findExecutable(name); !found.isEmpty())
        return found;
    QDir versions(QStringLiteral("/usr/lib/postgresql"));
    QStringList entries = versions.entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    std::sort(entries.begin(), entries.end(), [](const QString& a, const QString& b) { return a.toInt() > b.toInt(); });
    for (const QString& version : entries) {
        const QString path = versions.filePath(version + QStringLiteral("/bin/") + name);
        if (QFile::exists(path))
            return path;
    }
    return {};
}

// Arguments that run `program` as uid and gid 1000 of a new user namespace.
QStringList AsUnprivileged(const QString& program, const QStringList& args)
{
    return QStringList{QStringLiteral("--user"), QStringLiteral("--map-user=1000"), QStringLiteral("--map-group=1000"),
               QStringLiteral("--"), program} +
        args;
}

void Signal(QProcess& process, int sig)
{
    if (process.processId() > 0)
        ::kill(pid_t(process.processId()), sig);
}

} // namespace

QString PostgresServer::logTail() const
{
    QFile log(dir_->filePath(QStringLiteral("server.log")));
    if (!log.open(QIODevice::ReadOnly))
        return QStringLiteral("(no log)");
    const QByteArray text = log.readAll();
    return QString::fromUtf8(text.right(2000));
}

bool PostgresServer::start(QString* error)
{
    stop();
    const QString unshare = QStandardPaths::findExecutable(QStringLiteral("unshare"));
    const QString initdb = FindProgram(QStringLiteral("initdb"));
    const QString postgres = FindProgram(QStringLiteral("postgres"));
    if (unshare.isEmpty() || initdb.isEmpty() || postgres.isEmpty()) {
        *error = QStringLiteral("unshare, initdb or postgres not found (packages util-linux and postgresql)");
        return false;
    }
    // Short, for the socket's path (at most 107 bytes).
    dir_ = std::make_unique<QTemporaryDir>(QStringLiteral("/tmp/chronel-pg-XXXXXX"));
    if (!dir_->isValid()) {
        *error = QStringLiteral("no temporary folder: %1").arg(dir_->errorString());
        dir_.reset();
        return false;
    }
    const QString data = dir_->filePath(QStringLiteral("data"));

    QProcess init;
    init.setProcessChannelMode(QProcess::MergedChannels);
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("LC_ALL"), QStringLiteral("C"));
    init.setProcessEnvironment(environment);
    init.start(unshare,
        AsUnprivileged(initdb,
            {QStringLiteral("-D"), data, QStringLiteral("-U"), user(), QStringLiteral("-A"), QStringLiteral("trust"),
                QStringLiteral("-E"), QStringLiteral("UTF8"), QStringLiteral("--locale=C"), QStringLiteral("--no-sync"),
                QStringLiteral("--no-instructions")}));
    if (!init.waitForFinished(InitdbTimeoutMs) || init.exitStatus() != QProcess::NormalExit || init.exitCode() != 0) {
        *error = QStringLiteral("initdb failed (%1): %2")
                     .arg(init.state() == QProcess::NotRunning ? QStringLiteral("exit %1").arg(init.exitCode())
                                                               : QStringLiteral("timed out"),
                         QString::fromLocal8Bit(init.readAll().right(2000)));
        init.kill();
        init.waitForFinished(5000);
        dir_.reset();
        return false;
    }

    server_ = std::make_unique<QProcess>();
    server_->setProcessEnvironment(environment);
    // A file, not a pipe: a chatty server never blocks on a full pipe.
    server_->setStandardOutputFile(dir_->filePath(QStringLiteral("server.log")));
    server_->setStandardErrorFile(dir_->filePath(QStringLiteral("server.log")), QIODevice::Append);
    // A test that dies leaves no server behind: the postmaster gets SIGQUIT
    // (immediate shutdown) when the test's thread that started it ends.
    server_->setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGQUIT); });
    // unshare without --fork execs postgres, so the pid is the postmaster's.
    server_->start(unshare,
        AsUnprivileged(postgres,
            {QStringLiteral("-D"), data, QStringLiteral("-p"), QString::number(port()), QStringLiteral("-k"),
                dir_->path(), QStringLiteral("-c"), QStringLiteral("listen_addresses="), QStringLiteral("-c"),
                QStringLiteral("fsync=off"), QStringLiteral("-c"), QStringLiteral("dynamic_shared_memory_type=mmap"),
                QStringLiteral("-c"), QStringLiteral("max_connections=30")}));
    if (!server_->waitForStarted(5000)) {
        *error = QStringLiteral("postgres did not start: %1").arg(server_->errorString());
        stop();
        return false;
    }
    // postmaster.pid's status line says "ready" once connections are taken.
    const QDeadlineTimer deadline(ReadyTimeoutMs);
    const QString pidFile = data + QStringLiteral("/postmaster.pid");
    while (!deadline.hasExpired()) {
        QFile file(pidFile);
        if (file.open(QIODevice::ReadOnly) && file.readAll().contains("ready"))
            return true;
        if (server_->waitForFinished(50)) {
            *error = QStringLiteral("postgres ended at start: %1").arg(logTail());
            stop();
            return false;
        }
    }
    *error = QStringLiteral("postgres not ready after %1 s: %2").arg(ReadyTimeoutMs / 1000).arg(logTail());
    stop();
    return false;
}

bool PostgresServer::signalAll(int sig, QString* error)
{
    const pid_t postmaster = server_ ? pid_t(server_->processId()) : 0;
    if (postmaster <= 0) {
        *error = QStringLiteral("no server running");
        return false;
    }
    // The postmaster first: once it is stopped it starts no new process.
    ::kill(postmaster, sig);
    const QStringList processes = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString& entry : processes) {
        bool number = false;
        const pid_t pid = pid_t(entry.toInt(&number));
        if (!number)
            continue;
        QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
        if (!stat.open(QIODevice::ReadOnly))
            continue;
        // pid (comm) state ppid …; comm may hold spaces and parentheses.
        const QByteArray text = stat.readAll();
        const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
        if (fields.size() > 1 && fields[1].toInt() == postmaster)
            ::kill(pid, sig);
    }
    return true;
}

bool PostgresServer::pause(QString* error)
{
    if (!signalAll(SIGSTOP, error))
        return false;
    paused_ = true;
    return true;
}

bool PostgresServer::resume(QString* error)
{
    if (!signalAll(SIGCONT, error))
        return false;
    paused_ = false;
    return true;
}

void PostgresServer::stop()
{
    if (QString ignored; paused_)
        resume(&ignored);
    if (server_) {
        for (const int sig : {SIGINT, SIGQUIT, SIGKILL}) {
            if (server_->state() == QProcess::NotRunning)
                break;
            Signal(*server_, sig);
            server_->waitForFinished(sig == SIGINT ? 10000 : 5000);
        }
        server_.reset();
    }
    dir_.reset();
}

bool PostgresServer::createDatabase(const QString& name, QString* error)
{
    const QString connection = QStringLiteral("postgres-server-admin");
    bool ok = false;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), connection);
        db.setHostName(socketDirectory());
        db.setPort(port());
        db.setUserName(user());
        db.setDatabaseName(QStringLiteral("postgres"));
        db.setConnectOptions(QStringLiteral("connect_timeout=10"));
        if (!db.open()) {
            *error = QStringLiteral("cannot connect: %1").arg(db.lastError().text());
        } else {
            QSqlQuery query(db);
            ok = query.exec(QStringLiteral("CREATE DATABASE \"%1\"").arg(name));
            if (!ok)
                *error = QStringLiteral("CREATE DATABASE %1: %2").arg(name, query.lastError().text());
        }
        db.close();
    }
    QSqlDatabase::removeDatabase(connection);
    return ok;
}

QString PostgresServer::url(const QString& name) const
{
    return QStringLiteral("postgresql://%1@/%2?host=%3&port=%4").arg(user(), name, socketDirectory()).arg(port());
}

} // namespace chronel::test
