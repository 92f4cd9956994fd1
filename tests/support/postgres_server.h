#pragma once
// A private PostgreSQL server for a test: initdb into a temporary folder and
// postgres listening only on a Unix socket in that folder (no TCP at all),
// stopped by its pid when the object goes. Every wait is bounded.
//
// The programs are started with fork and exec rather than QProcess, whose
// way of starting a child leaves ThreadSanitizer blind to the locks of the
// test's own threads afterwards.
//
// PostgreSQL refuses to run as root, and the tests run as root or as the
// mapped root of a user namespace; initdb and postgres therefore run under
// `unshare --user --map-user=1000 --map-group=1000`, which gives them uid 1000
// in a child namespace either way. The folder the test creates is theirs
// there. The binaries come from PATH or Debian's /usr/lib/postgresql/*/bin.
#include <QString>
#include <QTemporaryDir>

#include <memory>

#include <sys/types.h>

namespace chronel::test {

class PostgresServer {
public:
    PostgresServer() = default;
    ~PostgresServer() { stop(); }
    PostgresServer(const PostgresServer&) = delete;
    PostgresServer& operator=(const PostgresServer&) = delete;

    // Creates the cluster and starts the server; false with `*error` saying
    // which step failed and what the program wrote.
    bool start(QString* error);
    // Fast shutdown (SIGINT), then SIGQUIT, then SIGKILL, each waited for a
    // bounded time; a paused server is resumed first.
    void stop();
    // A hung server: the postmaster and every process it started get
    // SIGSTOP; connections stay open and nothing answers. resume() sends
    // SIGCONT. False with `*error` when there is no server.
    bool pause(QString* error);
    bool resume(QString* error);
    bool running() const { return pid_ > 0; }

    // The superuser, who needs no password on the socket.
    static QString user() { return QStringLiteral("postgres"); }
    static int port() { return 5432; }
    QString socketDirectory() const { return dir_ ? dir_->path() : QString(); }

    // A new database `name`; false with `*error` on failure.
    bool createDatabase(const QString& name, QString* error);
    // The libpq-style URL of database `name` on the socket.
    QString url(const QString& name) const;

private:
    QString logTail() const;
    // Sends `sig` to the postmaster, then to its children.
    bool signalAll(int sig, QString* error);

    std::unique_ptr<QTemporaryDir> dir_;
    pid_t pid_ = -1; // the postmaster's
    bool paused_ = false;
};

} // namespace chronel::test
