#include "postgres_server.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QStandardPaths>
#include <QThread>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

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

// The arguments of unshare that run `program` as uid and gid 1000 of a new
// user namespace.
QStringList AsUnprivileged(const QString& program, const QStringList& args)
{
    return QStringList{QStringLiteral("--user"), QStringLiteral("--map-user=1000"), QStringLiteral("--map-group=1000"),
               QStringLiteral("--"), program} +
        args;
}

// What exec needs, built before the fork: the child only calls what is safe
// after a fork in a process with threads.
struct Exec {
    std::vector<QByteArray> storage;
    std::vector<char*> argv;
    std::vector<char*> envp;

    Exec(const QString& program, const QStringList& args)
    {
        storage.push_back(QFile::encodeName(program));
        for (const QString& a : args)
            storage.push_back(a.toLocal8Bit());
        const std::size_t argc = storage.size();
        for (char** e = environ; *e; ++e)
            if (qstrncmp(*e, "LC_ALL=", 7) != 0)
                storage.emplace_back(*e);
        storage.emplace_back("LC_ALL=C");
        for (std::size_t i = 0; i < storage.size(); ++i)
            (i < argc ? argv : envp).push_back(storage[i].data());
        argv.push_back(nullptr);
        envp.push_back(nullptr);
    }
};

// Waits up to `ms` for `pid` to end; its exit status, 128 + signal, or -1.
int WaitFor(pid_t pid, int ms)
{
    const QDeadlineTimer deadline(ms);
    for (;;) {
        int status = 0;
        const pid_t ended = ::waitpid(pid, &status, WNOHANG);
        if (ended == pid)
            return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        if (ended < 0 || deadline.hasExpired())
            return -1;
        QThread::msleep(20);
    }
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

    // initdb's output into a pipe, read until it ends.
    int out[2];
    if (::pipe2(out, O_CLOEXEC) != 0) {
        *error = QStringLiteral("no pipe for initdb");
        dir_.reset();
        return false;
    }
    const Exec init(unshare,
        AsUnprivileged(initdb,
            {QStringLiteral("-D"), data, QStringLiteral("-U"), user(), QStringLiteral("-A"), QStringLiteral("trust"),
                QStringLiteral("-E"), QStringLiteral("UTF8"), QStringLiteral("--locale=C"), QStringLiteral("--no-sync"),
                QStringLiteral("--no-instructions")}));
    const pid_t initPid = ::fork();
    if (initPid == 0) {
        ::dup2(out[1], 1);
        ::dup2(out[1], 2);
        ::execve(init.argv[0], init.argv.data(), init.envp.data());
        ::_exit(127);
    }
    ::close(out[1]);
    QByteArray output;
    const QDeadlineTimer initDeadline(InitdbTimeoutMs);
    for (char buffer[4096];;) {
        pollfd readable{out[0], POLLIN, 0};
        if (initPid < 0 || ::poll(&readable, 1, int(std::max<qint64>(initDeadline.remainingTime(), 0))) <= 0)
            break;
        const ssize_t n = ::read(out[0], buffer, sizeof buffer);
        if (n <= 0)
            break;
        output.append(buffer, n);
    }
    ::close(out[0]);
    const int initStatus = initPid < 0 ? -1 : WaitFor(initPid, 5000);
    if (initStatus != 0) {
        if (initPid > 0 && initStatus < 0) {
            ::kill(initPid, SIGKILL);
            WaitFor(initPid, 5000);
        }
        *error = QStringLiteral("initdb failed (%1): %2")
                     .arg(initStatus < 0 ? QStringLiteral("timed out") : QStringLiteral("exit %1").arg(initStatus),
                         QString::fromLocal8Bit(output.right(2000)));
        dir_.reset();
        return false;
    }

    // The log a file, not a pipe: a chatty server never blocks on a full pipe.
    const QByteArray log = QFile::encodeName(dir_->filePath(QStringLiteral("server.log")));
    // unshare without --fork execs postgres, so the pid is the postmaster's.
    const Exec server(unshare,
        AsUnprivileged(postgres,
            {QStringLiteral("-D"), data, QStringLiteral("-p"), QString::number(port()), QStringLiteral("-k"),
                dir_->path(), QStringLiteral("-c"), QStringLiteral("listen_addresses="), QStringLiteral("-c"),
                QStringLiteral("fsync=off"), QStringLiteral("-c"), QStringLiteral("dynamic_shared_memory_type=mmap"),
                QStringLiteral("-c"), QStringLiteral("max_connections=30")}));
    pid_ = ::fork();
    if (pid_ == 0) {
        // A test that dies leaves no server behind: the postmaster gets
        // SIGQUIT (immediate shutdown) when the test's thread that started
        // it ends.
        ::prctl(PR_SET_PDEATHSIG, SIGQUIT);
        const int fd = ::open(log.constData(), O_WRONLY | O_CREAT | O_APPEND, 0600);
        if (fd >= 0) {
            ::dup2(fd, 1);
            ::dup2(fd, 2);
        }
        ::execve(server.argv[0], server.argv.data(), server.envp.data());
        ::_exit(127);
    }
    if (pid_ < 0) {
        *error = QStringLiteral("postgres did not start: %1").arg(QString::fromLocal8Bit(strerror(errno)));
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
        if (WaitFor(pid_, 50) >= 0) {
            pid_ = -1;
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
    const pid_t postmaster = pid_;
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
    if (pid_ > 0) {
        for (const int sig : {SIGINT, SIGQUIT, SIGKILL}) {
            ::kill(pid_, sig);
            if (WaitFor(pid_, sig == SIGINT ? 10000 : 5000) >= 0)
                break;
        }
        pid_ = -1;
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
