#pragma once
// A request as the handlers see it and the answer they give, in Qt Core
// types only: no Beast type reaches a handler or a test, so that only
// web_server.cpp pays for compiling Beast.
#include <QByteArray>
#include <QJsonDocument>
#include <QList>
#include <QMap>
#include <QPair>
#include <QString>
#include <memory>
#include <optional>

namespace chronel {

class JournalStore;
// journal/web_accounts.h: Viewer, Engineer, Admin.
enum class WebRole;

enum class HttpMethod { Get, Post, Delete, Other };

// A logged-in browser. The id is the cookie's value: never logged or shown.
struct WebSession {
    QString id;
    QString name;
    WebRole role;
    QString csrf;
};

struct WebRequest {
    HttpMethod method = HttpMethod::Other;
    QString path;                 // decoded path, no query
    QMap<QString, QString> query; // decoded query parameters (the last of a repeated name wins)
    QByteArray body;
    QString contentType;
    QString clientAddress;
    std::optional<WebSession> session;    // set by the server before handlers run
    QMap<QByteArray, QByteArray> headers; // lower-case names
};

class EventStream; // web_event_stream.h

struct WebResponse {
    int status = 200;
    QByteArray contentType = "application/json";
    QByteArray body;
    // Beyond the server's own: Set-Cookie, Content-Disposition.
    QList<QPair<QByteArray, QByteArray>> headers;
    // Set: the server answers text/event-stream and writes what the stream
    // is given until either side closes it.
    std::shared_ptr<EventStream> stream;

    static WebResponse json(const QJsonDocument& document, int status = 200);
    // {"error": words}
    static WebResponse error(int status, const QString& words);
};

// What a worker thread owns: a store that reads the journal and one that
// writes it (a JournalStore belongs to the thread that opened it).
struct WorkerContext {
    JournalStore& reader;
    JournalStore& writer;
};

} // namespace chronel
