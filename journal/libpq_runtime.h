#pragma once
// libpq, PostgreSQL's client library, reached at run time for the two things
// Qt's driver does not give: the connection keywords the installed libpq
// knows, and the socket of an open connection.
//
// Thread safety: any thread may call; libpq is loaded once.
#include <QList>
#include <QString>

#include <optional>

namespace chronel::libpq {

struct Keyword {
    QString name;
    bool secret = false; // shown as *** by libpq's own tools (password, sslpassword)
    bool debug = false;  // a debugging or protocol option, not for applications (replication)
};

// Every keyword of the installed libpq, or nothing with `*error` saying why
// (libpq is not installed).
std::optional<QList<Keyword>> Keywords(QString* error);

// The socket of `connection` (a PGconn*), or -1.
int SocketOf(void* connection);

} // namespace chronel::libpq
