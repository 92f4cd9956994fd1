#include "postgres_connection.h"

#include "libpq_runtime.h"

#include <QSqlDriver>
#include <QVariant>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <optional>
#include <thread>

#include <sys/socket.h>

namespace chronel {

namespace {

using Clock = std::chrono::steady_clock;

// One conninfo value, quoted as libpq reads it.
QString Quoted(QString value)
{
    value.replace(u'\\', QStringLiteral("\\\\")).replace(u'\'', QStringLiteral("\\'"));
    return u'\'' + value + u'\'';
}

// The socket under a QPSQL connection: the driver's handle is its PGconn*.
int SocketOf(const QSqlDatabase& db)
{
    if (!db.isValid() || !db.driver())
        return -1;
    const QVariant handle = db.driver()->handle();
    const char* type = handle.typeName();
    if (!type || (qstrcmp(type, "PGconn*") != 0 && qstrcmp(type, "pg_conn*") != 0))
        return -1;
    return libpq::SocketOf(*static_cast<void* const*>(handle.constData()));
}

// One thread for the whole process that shuts down the socket of every
// connection whose deadline passed: a thread blocked in libpq then reads the
// end of the connection and its statement fails. The socket itself stays
// libpq's, closed only when the connection is; a ticket is given back before
// that, so the watchdog never touches a socket number that was reused.
class Watchdog {
public:
    static Watchdog& instance()
    {
        static Watchdog watchdog;
        return watchdog;
    }

    quint64 watch(int socket, Clock::time_point deadline)
    {
        std::lock_guard lock(mutex_);
        const quint64 ticket = ++lastTicket_;
        entries_.emplace(ticket, Entry{socket, deadline, false});
        wake_.notify_one();
        return ticket;
    }

    // Forgets `ticket`; true when its connection was cut.
    bool release(quint64 ticket)
    {
        std::lock_guard lock(mutex_);
        const auto it = entries_.find(ticket);
        if (it == entries_.end())
            return false;
        const bool cut = it->second.cut;
        entries_.erase(it);
        return cut;
    }

    bool cut(quint64 ticket) const
    {
        std::lock_guard lock(mutex_);
        const auto it = entries_.find(ticket);
        return it != entries_.end() && it->second.cut;
    }

private:
    struct Entry {
        int socket;
        Clock::time_point deadline;
        bool cut;
    };

    Watchdog() : thread_([this] { run(); }) { }
    ~Watchdog()
    {
        {
            std::lock_guard lock(mutex_);
            stopping_ = true;
        }
        wake_.notify_one();
        thread_.join();
    }

    void run()
    {
        std::unique_lock lock(mutex_);
        while (!stopping_) {
            std::optional<Clock::time_point> next;
            for (const auto& [ticket, entry] : entries_)
                if (!entry.cut && (!next || entry.deadline < *next))
                    next = entry.deadline;
            if (!next) {
                wake_.wait(lock);
                continue;
            }
            wake_.wait_until(lock, *next);
            const auto now = Clock::now();
            for (auto& [ticket, entry] : entries_) {
                if (!entry.cut && entry.deadline <= now) {
                    ::shutdown(entry.socket, SHUT_RDWR);
                    entry.cut = true;
                }
            }
        }
    }

    mutable std::mutex mutex_;
    std::condition_variable wake_;
    std::map<quint64, Entry> entries_;
    quint64 lastTicket_ = 0;
    bool stopping_ = false;
    std::thread thread_; // last: it starts once the members above exist
};

} // namespace

QString PostgresConnectOptions(const JournalLocation& location)
{
    const auto given = [&](const QString& key) { return !location.parameter(key).isNull(); };
    QStringList pairs;
    const auto setDefault = [&](const QString& key, const char* environment, const QString& value) {
        if (!given(key) && (!environment || !qEnvironmentVariableIsSet(environment)))
            pairs << key + u'=' + Quoted(value);
    };
    setDefault(QStringLiteral("connect_timeout"), "PGCONNECT_TIMEOUT", QString::number(PostgresConnectTimeoutS));
    setDefault(QStringLiteral("keepalives"), nullptr, QStringLiteral("1"));
    setDefault(QStringLiteral("keepalives_idle"), nullptr, QString::number(PostgresKeepalivesIdleS));
    setDefault(QStringLiteral("keepalives_interval"), nullptr, QString::number(PostgresKeepalivesIntervalS));
    setDefault(QStringLiteral("keepalives_count"), nullptr, QString::number(PostgresKeepalivesCount));
    setDefault(QStringLiteral("tcp_user_timeout"), nullptr, QString::number(PostgresTcpUserTimeoutMs));
    setDefault(QStringLiteral("fallback_application_name"), nullptr, QStringLiteral("chronel"));
    // The server takes the last -c of a setting: the user's own options
    // (the URL's, else PGOPTIONS) come after these and win.
    QString options = QStringLiteral("-c statement_timeout=%1 -c idle_in_transaction_session_timeout=%2")
                          .arg(PostgresStatementTimeoutMs)
                          .arg(PostgresIdleInTransactionMs);
    const QString own = given(QStringLiteral("options")) ? location.parameter(QStringLiteral("options"))
                                                         : qEnvironmentVariable("PGOPTIONS");
    if (!own.isEmpty())
        options += u' ' + own;
    pairs << QStringLiteral("options=") + Quoted(options);
    for (const JournalLocation::Parameter& p : location.parameters)
        if (p.key != u"options")
            pairs << p.key + u'=' + Quoted(p.value);
    return pairs.join(u' ');
}

bool PostgresRequiresTls(const JournalLocation& location)
{
    QString mode = location.parameter(QStringLiteral("sslmode"));
    if (mode.isNull())
        mode = qEnvironmentVariable("PGSSLMODE");
    return mode == u"require" || mode == u"verify-ca" || mode == u"verify-full";
}

PostgresDeadline::PostgresDeadline(const QSqlDatabase& db, int ms, QString* error) : error_(error)
{
    if (const int socket = SocketOf(db); socket >= 0)
        ticket_ = Watchdog::instance().watch(socket, Clock::now() + std::chrono::milliseconds(std::max(ms, 0)));
}

PostgresDeadline::~PostgresDeadline()
{
    if (ticket_ && Watchdog::instance().release(ticket_) && error_)
        *error_ += reason();
}

bool PostgresDeadline::expired() const { return ticket_ && Watchdog::instance().cut(ticket_); }

QString PostgresDeadline::reason()
{
    return QStringLiteral(" (the server gave no answer within %1 s; the connection was closed)")
        .arg(PostgresAnswerMs / 1000);
}

} // namespace chronel
