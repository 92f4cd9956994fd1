#pragma once
// The headers every answer carries, the server's own errors included: the
// page runs only its own scripts, is never framed, never sniffed, and sends
// no referrer; API answers and errors are never cached.
#include <QByteArray>
#include <QList>
#include <QPair>

namespace chronel {

QList<QPair<QByteArray, QByteArray>> SecurityHeaders(bool api);

// Whether a request path is the API's (its answers are not cached).
bool IsApiPath(const QByteArray& target);

} // namespace chronel
