#pragma once
// What a PostgreSQL journal's connection is given, and how long it may wait
// for the server.
//
// The collector's service stops within TimeoutStopSec=30 (packaging/systemd);
// a module's thread that meets a hung server waits in an append, in the
// reopen that follows it and in one more append, so each of these ends
// within PostgresAnswerMs, three of which stay below the stop time-out.
// libpq's own bounds cover what a client-side bound cannot: the connection
// itself (connect_timeout), a peer that vanished (keepalives,
// tcp_user_timeout); the server's bound ends a statement that waits for a
// lock (statement_timeout) and a writer that stalls inside a transaction
// holding the journal's lock (idle_in_transaction_session_timeout). Each of
// these is a default: the URL, or libpq's environment variable for it,
// overrides it. Only the client-side bound is fixed.
//
// Thread safety: any thread may arm a deadline for its own connection.
#include "journal_location.h"

#include <QSqlDatabase>
#include <QString>

namespace chronel {

// Client-side: an append, or an open from its start, given no answer for
// this long has its connection cut and fails.
constexpr int PostgresAnswerMs = 8000;
// The defaults given to libpq.
constexpr int PostgresConnectTimeoutS = 5;
constexpr int PostgresStatementTimeoutMs = 6000;
constexpr int PostgresIdleInTransactionMs = 5000;
constexpr int PostgresKeepalivesIdleS = 5;
constexpr int PostgresKeepalivesIntervalS = 2;
constexpr int PostgresKeepalivesCount = 3;
constexpr int PostgresTcpUserTimeoutMs = PostgresAnswerMs;

// Qt's QPSQL connect options for `location`: libpq conninfo pairs, the
// defaults above where neither the URL nor the environment gives a value,
// then the URL's parameters. Host, port, user, password and database go to
// QSqlDatabase's own setters.
QString PostgresConnectOptions(const JournalLocation& location);

// Whether `location` asks for an encrypted connection (sslmode require,
// verify-ca or verify-full, in the URL or PGSSLMODE).
bool PostgresRequiresTls(const JournalLocation& location);

// Cuts `db`'s connection (when it is a PostgreSQL one) if the server has not
// answered by the deadline, so that the statement waiting fails at once; the
// connection is of no use afterwards and must be opened again. While it is
// armed, the connection must stay open.
class PostgresDeadline {
public:
    // `error`, when given, gets the reason added on destruction if the
    // deadline cut the connection.
    PostgresDeadline(const QSqlDatabase& db, int ms, QString* error = nullptr);
    ~PostgresDeadline();
    PostgresDeadline(const PostgresDeadline&) = delete;
    PostgresDeadline& operator=(const PostgresDeadline&) = delete;

    // Whether it has cut the connection.
    bool expired() const;
    // The words added to an error it caused.
    static QString reason();

private:
    quint64 ticket_ = 0;
    QString* error_ = nullptr;
};

} // namespace chronel
