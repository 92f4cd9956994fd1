#pragma once
// Logging in and out: POST /api/login, POST /api/logout, GET /api/me.
// A login is checked against the journal's accounts (web_users), slowed by
// the throttle after repeated failures, and every login, failed login and
// logout is audited with the client's address.
#include "web/login_throttle.h"
#include "web/sessions.h"
#include "web/web_router.h"

#include <QByteArray>
#include <QString>
#include <optional>

namespace chronel {

inline constexpr QByteArrayView SessionCookieName = "chronel_session";

// Whether the session cookie may travel without TLS: only when the server
// listens in plain HTTP on a loopback address.
enum class CookieTransport { Https, PlainLoopback };

void AddAuthApi(
    WebRouter& router, Sessions& sessions, LoginThrottle& throttle, CookieTransport transport = CookieTransport::Https);

struct LoginForm {
    QString name;
    QByteArray password;
};
// {"name": "...", "password": "..."}: nothing with `*error` saying what is
// missing or wrong.
std::optional<LoginForm> ParseLoginBody(const QByteArray& body, QString* error);

// 1 to 64 of A-Z a-z 0-9 . _ @ -
bool IsAccountName(const QString& name);

// The Set-Cookie value that hands a session to the browser, or with an
// empty id, that takes it back.
QByteArray SessionCookie(const QString& id, CookieTransport transport);

} // namespace chronel
