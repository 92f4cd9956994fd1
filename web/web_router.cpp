#include "web/web_router.h"

#include "journal/web_accounts.h"

#include <utility>

namespace chronel {

namespace {

int Rank(WebRole role)
{
    switch (role) {
    case WebRole::Viewer: return 1;
    case WebRole::Engineer: return 2;
    case WebRole::Admin: return 3;
    }
    return 0;
}

int Rank(Access access)
{
    switch (access) {
    case Access::Public: return 0;
    case Access::Viewer: return 1;
    case Access::Engineer: return 2;
    case Access::Admin: return 3;
    }
    return 4;
}

// Equal tokens, in a time that does not depend on where they differ.
bool SameToken(const QByteArray& a, const QByteArray& b)
{
    if (a.size() != b.size() || a.isEmpty())
        return false;
    unsigned char difference = 0;
    for (qsizetype i = 0; i < a.size(); ++i)
        difference |= static_cast<unsigned char>(a[i] ^ b[i]);
    return difference == 0;
}

bool IsParameter(const QString& segment)
{
    return segment.size() > 2 && segment.startsWith(u'{') && segment.endsWith(u'}');
}

// The values of the pattern's parameters when `path` matches it.
std::optional<QStringList> Match(const QStringList& pattern, const QStringList& path)
{
    if (pattern.size() != path.size())
        return std::nullopt;
    QStringList args;
    for (qsizetype i = 0; i < pattern.size(); ++i) {
        if (IsParameter(pattern[i])) {
            if (path[i].isEmpty())
                return std::nullopt;
            args.append(path[i]);
        } else if (pattern[i] != path[i]) {
            return std::nullopt;
        }
    }
    return args;
}

} // namespace

void WebRouter::add(HttpMethod method, QString pattern, Access access, Handler handler)
{
    routes_.append(Route{method, pattern.split(u'/'), access, std::move(handler)});
}

WebResponse WebRouter::route(const WebRequest& request, WorkerContext& context) const
{
    const QStringList path = request.path.split(u'/');
    bool pathKnown = false;
    for (const Route& route : routes_) {
        const std::optional<QStringList> args = Match(route.segments, path);
        if (!args)
            continue;
        pathKnown = true;
        if (route.method != request.method)
            continue;
        if (route.access != Access::Public) {
            if (!request.session)
                return WebResponse::error(401, QStringLiteral("not logged in"));
            if (request.method == HttpMethod::Post || request.method == HttpMethod::Delete) {
                if (!SameToken(request.headers.value("x-csrf-token"), request.session->csrf.toUtf8()))
                    return WebResponse::error(403, QStringLiteral("the request lacks this session's CSRF token"));
            }
            if (Rank(request.session->role) < Rank(route.access))
                return WebResponse::error(
                    403, QStringLiteral("the role %1 may not do this").arg(WebRoleText(request.session->role)));
        }
        return route.handler(request, *args, context);
    }
    // Without a session nothing tells which paths exist.
    if (!request.session)
        return WebResponse::error(401, QStringLiteral("not logged in"));
    if (pathKnown)
        return WebResponse::error(405, QStringLiteral("this method is not allowed here"));
    return WebResponse::error(404, QStringLiteral("no such resource"));
}

} // namespace chronel
