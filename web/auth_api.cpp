#include "web/auth_api.h"

#include "journal/journal_audit.h"
#include "journal/web_accounts.h"
#include "web/password_hash.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>

#include <cstdio>

namespace chronel {

namespace {

constexpr qsizetype PasswordLimit = 1024;

QJsonObject Who(const WebSession& session)
{
    return QJsonObject{{QStringLiteral("name"), session.name}, {QStringLiteral("role"), WebRoleText(session.role)},
        {QStringLiteral("csrf"), session.csrf}};
}

// An audit row that cannot be written is told on the log; the message
// names the action and the journal's reason, never a secret.
bool Audit(WorkerContext& context, AuditAction action, const QString& who, const QString& address)
{
    QString error;
    if (RecordAudit(context.writer, action, AuditContext{who, address}, QString(), QString(), &error))
        return true;
    std::fprintf(stderr, "chronel-web: cannot record \"%s\" in the audit: %s\n", qPrintable(AuditActionText(action)),
        qPrintable(error));
    return false;
}

WebResponse Login(const WebRequest& request, WorkerContext& context, Sessions& sessions, LoginThrottle& throttle,
    CookieTransport transport)
{
    // A form of another site cannot send JSON without the browser asking
    // first, so it cannot log a browser in to an account of its choosing.
    if (!request.contentType.trimmed().startsWith(QStringLiteral("application/json"), Qt::CaseInsensitive))
        return WebResponse::error(415, QStringLiteral("a login is sent as application/json"));
    QString error;
    const std::optional<LoginForm> form = ParseLoginBody(request.body, &error);
    if (!form)
        return WebResponse::error(400, error);

    if (const int wait = throttle.waitSeconds(request.clientAddress, form->name); wait > 0) {
        WebResponse response = WebResponse::json(
            QJsonDocument(QJsonObject{
                {QStringLiteral("error"), QStringLiteral("too many failed logins: try again in %1 s").arg(wait)},
                {QStringLiteral("retryAfter"), wait}}),
            429);
        response.headers.append({"Retry-After", QByteArray::number(wait)});
        return response;
    }

    std::optional<WebAccount> account;
    if (IsAccountName(form->name)) {
        const std::optional<std::optional<WebAccount>> found = FindWebAccount(context.reader, form->name, &error);
        if (!found) {
            std::fprintf(stderr, "chronel-web: cannot read the accounts: %s\n", qPrintable(error));
            return WebResponse::error(503, QStringLiteral("the journal's accounts cannot be read"));
        }
        account = *found;
    }
    const bool right = account ? VerifyPassword(account->hash, form->password) : (VerifyNothing(form->password), false);
    if (!right) {
        throttle.failed(request.clientAddress, form->name);
        // A name no account can have is not kept: it may be a password
        // typed into the wrong field.
        Audit(context, AuditAction::LoginFailed,
            IsAccountName(form->name) ? form->name : QStringLiteral("(not an account name)"), request.clientAddress);
        return WebResponse::error(401, QStringLiteral("wrong name or password"));
    }

    throttle.succeeded(form->name);
    const std::optional<Sessions::Record> record = sessions.create(account->name, account->role, account->changed);
    if (!record)
        return WebResponse::error(503, QStringLiteral("no random session id can be had"));
    // No session the audit does not know of.
    if (!Audit(context, AuditAction::Login, account->name, request.clientAddress)) {
        sessions.remove(record->session.id);
        return WebResponse::error(503, QStringLiteral("the login cannot be recorded in the journal's audit"));
    }
    WebResponse response = WebResponse::json(QJsonDocument(Who(record->session)));
    response.headers.append({"Set-Cookie", SessionCookie(record->session.id, transport)});
    return response;
}

} // namespace

bool IsAccountName(const QString& name)
{
    if (name.isEmpty() || name.size() > 64)
        return false;
    for (const QChar c : name) {
        const char16_t u = c.unicode();
        const bool allowed = (u >= 'a' && u <= 'z') || (u >= 'A' && u <= 'Z') || (u >= '0' && u <= '9') || u == '.' ||
            u == '_' || u == '@' || u == '-';
        if (!allowed)
            return false;
    }
    return true;
}

std::optional<LoginForm> ParseLoginBody(const QByteArray& body, QString* error)
{
    QJsonParseError parse;
    const QJsonDocument document = QJsonDocument::fromJson(body, &parse);
    if (parse.error != QJsonParseError::NoError || !document.isObject()) {
        *error = QStringLiteral("the body is not a JSON object");
        return std::nullopt;
    }
    const QJsonObject object = document.object();
    const QJsonValue name = object.value(QStringLiteral("name"));
    const QJsonValue password = object.value(QStringLiteral("password"));
    if (!name.isString() || name.toString().isEmpty()) {
        *error = QStringLiteral("\"name\" is missing or not a text");
        return std::nullopt;
    }
    if (!password.isString()) {
        *error = QStringLiteral("\"password\" is missing or not a text");
        return std::nullopt;
    }
    LoginForm form{name.toString(), password.toString().toUtf8()};
    if (form.name.size() > 256 || form.password.size() > PasswordLimit) {
        *error = QStringLiteral("the name or the password is too long");
        return std::nullopt;
    }
    return form;
}

QByteArray SessionCookie(const QString& id, CookieTransport transport)
{
    QByteArray cookie =
        QByteArray(SessionCookieName.data(), SessionCookieName.size()) + '=' + id.toLatin1() + "; HttpOnly";
    if (transport == CookieTransport::Https)
        cookie += "; Secure";
    cookie += "; SameSite=Strict; Path=/";
    if (id.isEmpty())
        cookie += "; Max-Age=0";
    return cookie;
}

void AddAuthApi(WebRouter& router, Sessions& sessions, LoginThrottle& throttle, CookieTransport transport)
{
    router.add(HttpMethod::Post, QStringLiteral("/api/login"), Access::Public,
        [&sessions, &throttle, transport](const WebRequest& request, const QStringList&, WorkerContext& context) {
            return Login(request, context, sessions, throttle, transport);
        });
    router.add(HttpMethod::Post, QStringLiteral("/api/logout"), Access::Viewer,
        [&sessions, transport](const WebRequest& request, const QStringList&, WorkerContext& context) {
            sessions.remove(request.session->id);
            Audit(context, AuditAction::Logout, request.session->name, request.clientAddress);
            WebResponse response = WebResponse::json(QJsonDocument(QJsonObject{}));
            response.headers.append({"Set-Cookie", SessionCookie(QString(), transport)});
            return response;
        });
    router.add(HttpMethod::Get, QStringLiteral("/api/me"), Access::Viewer,
        [](const WebRequest& request, const QStringList&, WorkerContext&) {
            return WebResponse::json(QJsonDocument(Who(*request.session)));
        });
}

} // namespace chronel
