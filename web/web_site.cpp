#include "web/web_site.h"

#include "journal/web_accounts.h"
#include "web/auth_api.h"
#include "web/request_text.h"
#include "web/web_headers.h"

#include <cstdio>
#include <exception>

namespace chronel {

namespace {

bool IsSessionId(const QByteArray& text)
{
    if (text.size() != 64)
        return false;
    for (const char c : text) {
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f')))
            return false;
    }
    return true;
}

} // namespace

WebSite::WebSite(const WebRouter& router, const StaticFiles& files, Sessions& sessions)
    : router_(router), files_(files), sessions_(sessions)
{
}

WebResponse WebSite::answer(WebRequest request, WorkerContext& context) const
{
    try {
        return route(request, context);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "chronel-web: a request to %s failed: %s\n", qPrintable(request.path), e.what());
    } catch (...) {
        std::fprintf(stderr, "chronel-web: a request to %s failed\n", qPrintable(request.path));
    }
    return WebResponse::error(500, QStringLiteral("the server failed to answer"));
}

WebResponse WebSite::route(WebRequest& request, WorkerContext& context) const
{
    request.session.reset();
    const std::optional<QByteArray> cookie =
        CookieValue(request.headers.value("cookie"), QByteArray(SessionCookieName.data(), SessionCookieName.size()));
    if (cookie && IsSessionId(*cookie)) {
        const QString id = QString::fromLatin1(*cookie);
        if (const std::optional<Sessions::Record> record = sessions_.find(id)) {
            QString error;
            const std::optional<std::optional<WebAccount>> account =
                FindWebAccount(context.reader, record->session.name, &error);
            if (!account) {
                std::fprintf(stderr, "chronel-web: cannot read the accounts: %s\n", qPrintable(error));
                return WebResponse::error(503, QStringLiteral("the journal's accounts cannot be read"));
            }
            // An account removed, or its password or role changed since the
            // login: the session ends with it.
            if (*account && (*account)->changed == record->accountChanged && (*account)->role == record->session.role)
                request.session = record->session;
            else
                sessions_.remove(id);
        }
    }

    if (IsApiPath(request.path.toUtf8()))
        return router_.route(request, context);
    if (request.method == HttpMethod::Get)
        return files_.answer(request.path);
    if (!request.session)
        return WebResponse::error(401, QStringLiteral("not logged in"));
    return WebResponse::error(405, QStringLiteral("this method is not allowed here"));
}

} // namespace chronel
