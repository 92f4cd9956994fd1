#include "web/web_headers.h"

namespace chronel {

QList<QPair<QByteArray, QByteArray>> SecurityHeaders(bool api)
{
    QList<QPair<QByteArray, QByteArray>> headers{
        {"Content-Security-Policy", "default-src 'self'"},
        {"X-Content-Type-Options", "nosniff"},
        {"Referrer-Policy", "no-referrer"},
        {"X-Frame-Options", "DENY"},
    };
    // The page itself is small and changes with the program: revalidated,
    // never stale after an upgrade.
    headers.append(qMakePair(QByteArray("Cache-Control"), QByteArray(api ? "no-store" : "no-cache")));
    return headers;
}

bool IsApiPath(const QByteArray& target)
{
    return target == "/api" || target.startsWith("/api/") || target.startsWith("/api?");
}

} // namespace chronel
