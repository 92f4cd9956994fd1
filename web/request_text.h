#pragma once
// The parts of a request Beast leaves as text: the target's path and query,
// and a cookie among the Cookie header's. Whatever a client sends, these
// either decode it or refuse it; nothing here reads past its input.
#include <QByteArray>
#include <QMap>
#include <QString>
#include <optional>

namespace chronel {

struct RequestTarget {
    QString path;
    QMap<QString, QString> query;
};

// An origin-form target ("/api/rows?from=…"). Refused: anything not
// beginning with '/', a bad %-escape, an escaped '/', '\' or NUL in the
// path (so no decoded segment hides a separator), a path that is not
// UTF-8, and a "." or ".." segment. Query parameters decode '+' as a space;
// the last of a repeated name wins.
std::optional<RequestTarget> DecodeTarget(const QByteArray& target);

// The value of the first cookie `name` in a Cookie header ("a=1; b=2"), or
// nothing.
std::optional<QByteArray> CookieValue(const QByteArray& header, const QByteArray& name);

} // namespace chronel
