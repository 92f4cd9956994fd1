#pragma once
// The API's routes: a method and a path pattern with {name} segments, the
// access a route needs and its handler. The router, not each handler, turns
// away a request without a session (401), of a role below the route's (403)
// and a change (POST, DELETE) without the session's CSRF token (403).
#include "web/web_request.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <functional>

namespace chronel {

enum class Access { Public, Viewer, Engineer, Admin };

class WebRouter {
public:
    // pathArgs: the values of the pattern's {name} segments, in order.
    using Handler = std::function<WebResponse(const WebRequest&, const QStringList& pathArgs, WorkerContext&)>;

    // pattern: "/api/incidents/{id}/comments"; a {name} segment matches one
    // non-empty segment of the path.
    void add(HttpMethod method, QString pattern, Access access, Handler handler);
    // The answer of the route matching the request: 404 when no pattern
    // matches the path, 405 when one does but not for this method.
    WebResponse route(const WebRequest& request, WorkerContext& context) const;

private:
    struct Route {
        HttpMethod method;
        QStringList segments;
        Access access;
        Handler handler;
    };
    QList<Route> routes_;
};

} // namespace chronel
