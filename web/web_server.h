#pragma once
// The HTTP(S) server: Boost.Beast on one io thread, which reads requests,
// hands each to `dispatch` and writes the answer it gets back (from any
// thread), and pumps the chunks of event-stream answers. The only file that
// sees Beast or Asio is web_server.cpp.
//
// Limits: a request's line and headers at most 8 KiB (431), its body at
// most 64 KiB (413); a request must arrive whole within the read timeout, an
// answer be taken within the write timeout, or the connection closes; at
// most maxConnections at once, beyond which new ones are closed at once.
// Every answer carries the security headers (web_headers.h).
#include "web/tls_material.h"
#include "web/web_request.h"

#include <QString>
#include <chrono>
#include <functional>
#include <memory>
#include <optional>

namespace chronel {

struct WebServerOptions {
    QString host = QStringLiteral("127.0.0.1");
    quint16 port = 0;               // 0: any free port (see WebServer::port())
    std::optional<TlsMaterial> tls; // none: plain HTTP
    int maxConnections = 256;
    std::chrono::milliseconds readTimeout{20000};
    std::chrono::milliseconds writeTimeout{30000};
    // An event stream with nothing to say sends a comment this often, so
    // that proxies keep it and a client that left is noticed.
    std::chrono::milliseconds streamKeepAlive{15000};
};

class WebServer {
public:
    static constexpr std::size_t HeaderLimit = 8 * 1024;
    static constexpr std::size_t BodyLimit = 64 * 1024;

    // `done` may be called from any thread, exactly once.
    using Done = std::function<void(WebResponse)>;
    using Dispatch = std::function<void(WebRequest, Done)>;

    WebServer(WebServerOptions options, Dispatch dispatch);
    ~WebServer();
    WebServer(const WebServer&) = delete;
    WebServer& operator=(const WebServer&) = delete;

    // Binds, listens and starts the io thread. False with `*error` naming
    // the address and why.
    bool start(QString* error);
    // The port listened on.
    quint16 port() const;
    // Closes every connection (their event streams too) and joins the io
    // thread. Answers still being made are dropped.
    void stop();

    struct Impl; // web_server.cpp's own

private:
    std::shared_ptr<Impl> impl_;
};

} // namespace chronel
