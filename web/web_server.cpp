#include "web/web_server.h"

#include "web/request_text.h"
#include "web/web_event_stream.h"
#include "web/web_headers.h"

#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/ssl.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/write.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <boost/beast/ssl.hpp>

#include <QJsonObject>

#include <atomic>
#include <cstdio>
#include <future>
#include <list>
#include <mutex>
#include <thread>

namespace beast = boost::beast;
namespace http = beast::http;
namespace net = boost::asio;
namespace ssl = net::ssl;
using tcp = net::ip::tcp;
using boost::system::error_code;

namespace chronel {

namespace {

// How long a connection refused for a bad request keeps reading what the
// client still sends, so that closing does not reset the connection before
// the client has read the answer.
constexpr std::chrono::seconds LingerTime{1};
constexpr std::size_t LingerLimit = 1024 * 1024;

// Threads other than the io thread (workers, the live feed) reach the io
// context only through this, and only while it runs.
struct Gate {
    std::mutex mutex;
    net::io_context* io = nullptr;

    template <typename Handler> void post(Handler&& handler)
    {
        std::lock_guard lock(mutex);
        if (io)
            net::post(*io, std::forward<Handler>(handler));
    }
};

HttpMethod MethodOf(http::verb verb)
{
    switch (verb) {
    case http::verb::get: return HttpMethod::Get;
    case http::verb::post: return HttpMethod::Post;
    case http::verb::delete_: return HttpMethod::Delete;
    default: return HttpMethod::Other;
    }
}

QString ClientAddress(const tcp::socket& socket)
{
    error_code ec;
    const tcp::endpoint peer = socket.remote_endpoint(ec);
    if (ec)
        return QStringLiteral("unknown");
    net::ip::address address = peer.address();
    if (address.is_v6() && address.to_v6().is_v4_mapped())
        address = net::ip::make_address_v4(net::ip::v4_mapped, address.to_v6());
    return QString::fromStdString(address.to_string());
}

std::string Text(const QByteArray& bytes) { return std::string(bytes.constData(), std::size_t(bytes.size())); }

// Sets the headers every answer carries, then the answer's own.
template <typename Message>
void SetHeaders(Message& message, bool api, const QList<QPair<QByteArray, QByteArray>>& extra)
{
    for (const auto& [name, value] : SecurityHeaders(api))
        message.set(Text(name), Text(value));
    for (const auto& [name, value] : extra) {
        if (name.compare("Set-Cookie", Qt::CaseInsensitive) == 0)
            message.insert(Text(name), Text(value));
        else
            message.set(Text(name), Text(value));
    }
}

class Link {
public:
    virtual ~Link() = default;
    virtual void abort() = 0;
};

} // namespace

struct WebServer::Impl : std::enable_shared_from_this<WebServer::Impl> {
    Impl(WebServerOptions o, Dispatch d) : options(std::move(o)), dispatch(std::move(d)) { }
    // The io context goes first, while what its handlers' connections use
    // (the TLS context, the count) still stands.
    ~Impl()
    {
        acceptor.reset();
        io.reset();
    }

    void accept();
    void admit(tcp::socket socket);

    WebServerOptions options;
    Dispatch dispatch;
    std::optional<ssl::context> tls;
    std::atomic<int> connections{0};
    std::list<std::weak_ptr<Link>> links; // io thread only
    std::shared_ptr<Gate> gate = std::make_shared<Gate>();
    quint16 port = 0;
    std::thread thread;
    std::optional<net::io_context> io{std::in_place, 1};
    std::optional<tcp::acceptor> acceptor;
    std::optional<net::steady_timer> acceptPause;
};

namespace {

template <typename Stream> class Connection : public Link, public std::enable_shared_from_this<Connection<Stream>> {
public:
    static constexpr bool Tls = !std::is_same_v<Stream, beast::tcp_stream>;

    Connection(WebServer::Impl& server, Stream&& stream, QString client)
        : server_(server),
          stream_(std::move(stream)),
          client_(std::move(client)),
          keepAlive_(beast::get_lowest_layer(stream_).get_executor())
    {
    }

    ~Connection() override
    {
        if (events_) {
            events_->setWake(nullptr);
            events_->close();
        }
        server_.connections -= 1;
    }

    void start()
    {
        if constexpr (Tls) {
            lowest().expires_after(server_.options.readTimeout);
            stream_.async_handshake(ssl::stream_base::server, [self = this->shared_from_this()](error_code ec) {
                if (ec)
                    return self->close();
                self->read();
            });
        } else {
            read();
        }
    }

    void abort() override
    {
        close();
        self_.reset();
    }

private:
    beast::tcp_stream& lowest() { return beast::get_lowest_layer(stream_); }

    void read()
    {
        parser_.emplace();
        parser_->header_limit(std::uint32_t(WebServer::HeaderLimit));
        parser_->body_limit(std::uint64_t(WebServer::BodyLimit));
        lowest().expires_after(server_.options.readTimeout);
        http::async_read(stream_, buffer_, *parser_,
            [self = this->shared_from_this()](error_code ec, std::size_t) { self->onRead(ec); });
    }

    void onRead(error_code ec)
    {
        if (closed_)
            return;
        if (ec == http::error::header_limit || ec == http::error::buffer_overflow)
            return refuse(431, QStringLiteral("the request's line and headers are longer than 8 KiB"));
        if (ec == http::error::body_limit)
            return refuse(413, QStringLiteral("the request's body is longer than 64 KiB"));
        if (ec == http::error::end_of_stream || ec == beast::error::timeout || ec == net::error::operation_aborted ||
            ec == net::error::eof)
            return close();
        if (ec && ec.category() == http::make_error_code(http::error::bad_target).category())
            return refuse(400, QStringLiteral("the request is not well-formed HTTP"));
        if (ec)
            return close();

        const http::request<http::string_body>& message = parser_->get();
        keepConnection_ = message.keep_alive();
        version_ = message.version();
        const QByteArray target(message.target().data(), qsizetype(message.target().size()));
        api_ = IsApiPath(target);
        const std::optional<RequestTarget> decoded = DecodeTarget(target);
        if (!decoded)
            return respond(WebResponse::error(404, QStringLiteral("no such resource")));

        WebRequest request;
        request.method = MethodOf(message.method());
        request.path = decoded->path;
        request.query = decoded->query;
        request.body = QByteArray(message.body().data(), qsizetype(message.body().size()));
        request.clientAddress = client_;
        for (const auto& field : message) {
            const QByteArray name = QByteArray(field.name_string().data(), qsizetype(field.name_string().size()));
            request.headers.insert(name.toLower(), QByteArray(field.value().data(), qsizetype(field.value().size())));
        }
        request.contentType = QString::fromLatin1(request.headers.value("content-type"));

        // The connection waits for its answer: nothing else holds it.
        self_ = this->shared_from_this();
        std::weak_ptr<Connection> weak = self_;
        server_.dispatch(std::move(request), [weak, gate = server_.gate](WebResponse response) {
            gate->post([weak, response = std::move(response)]() mutable {
                if (const auto self = weak.lock())
                    self->respond(std::move(response));
            });
        });
    }

    void respond(WebResponse answer)
    {
        self_.reset();
        if (closed_)
            return;
        if (answer.stream)
            return startStream(std::move(answer));
        response_ = {};
        response_.version(version_);
        response_.result(http::int_to_status(unsigned(answer.status)));
        response_.set(http::field::content_type, Text(answer.contentType));
        // An error is never cached, whatever path it answers.
        SetHeaders(response_, api_ || answer.status >= 300, answer.headers);
        response_.body() = Text(answer.body);
        response_.keep_alive(keepConnection_);
        response_.prepare_payload();
        lowest().expires_after(server_.options.writeTimeout);
        http::async_write(stream_, response_, [self = this->shared_from_this()](error_code ec, std::size_t) {
            if (ec)
                return self->close();
            if (!self->response_.keep_alive())
                return self->shutdown();
            self->read();
        });
    }

    // Answers a request that cannot be read on, then closes.
    void refuse(int status, const QString& words)
    {
        const WebResponse answer = WebResponse::error(status, words);
        response_ = {};
        response_.version(11);
        response_.result(http::int_to_status(unsigned(status)));
        response_.set(http::field::content_type, Text(answer.contentType));
        SetHeaders(response_, true, {});
        response_.body() = Text(answer.body);
        response_.keep_alive(false);
        response_.prepare_payload();
        lowest().expires_after(server_.options.writeTimeout);
        http::async_write(stream_, response_, [self = this->shared_from_this()](error_code ec, std::size_t) {
            if (ec)
                return self->close();
            self->linger();
        });
    }

    void linger()
    {
        lowest().expires_after(LingerTime);
        drain();
    }

    void drain()
    {
        stream_.async_read_some(net::buffer(scratch_), [self = this->shared_from_this()](error_code ec, std::size_t n) {
            self->drained_ += n;
            if (ec || self->drained_ > LingerLimit)
                return self->close();
            self->drain();
        });
    }

    void startStream(WebResponse answer)
    {
        events_ = std::move(answer.stream);
        head_.emplace(http::status::ok, version_);
        head_->set(http::field::content_type, "text/event-stream; charset=utf-8");
        SetHeaders(*head_, true, answer.headers);
        head_->chunked(true);
        head_->keep_alive(false);
        headWriter_.emplace(*head_);
        lowest().expires_after(server_.options.writeTimeout);
        http::async_write_header(stream_, *headWriter_, [self = this->shared_from_this()](error_code ec, std::size_t) {
            if (ec)
                return self->close();
            self->lowest().expires_never();
            self->streaming();
        });
    }

    void streaming()
    {
        if (closed_)
            return;
        self_ = this->shared_from_this();
        std::weak_ptr<Connection> weak = self_;
        events_->setWake([weak, gate = server_.gate] {
            gate->post([weak] {
                if (const auto self = weak.lock())
                    self->pump();
            });
        });
        // The client sends nothing more; a read ends when it leaves.
        stream_.async_read_some(
            net::buffer(scratch_), [self = this->shared_from_this()](error_code, std::size_t) { self->close(); });
        keepAlive();
        pump();
    }

    void keepAlive()
    {
        keepAlive_.expires_after(server_.options.streamKeepAlive);
        keepAlive_.async_wait([self = this->shared_from_this()](error_code ec) {
            if (ec || self->closed_)
                return;
            self->events_->push(QByteArrayLiteral(": keep-alive\n\n"));
            self->keepAlive();
        });
    }

    void pump()
    {
        if (closed_ || writing_ || ended_)
            return;
        std::optional<QByteArray> chunk;
        while ((chunk = events_->take()) && chunk->isEmpty()) { }
        if (chunk) {
            chunk_ = std::move(*chunk);
            writing_ = true;
            lowest().expires_after(server_.options.writeTimeout);
            net::async_write(stream_,
                http::make_chunk(net::const_buffer(chunk_.constData(), std::size_t(chunk_.size()))),
                [self = this->shared_from_this()](error_code ec, std::size_t) {
                    self->writing_ = false;
                    if (ec)
                        return self->close();
                    self->lowest().expires_never();
                    self->pump();
                });
        } else if (events_->closed()) {
            ended_ = true;
            writing_ = true;
            lowest().expires_after(server_.options.writeTimeout);
            net::async_write(
                stream_, http::make_chunk_last(), [self = this->shared_from_this()](error_code ec, std::size_t) {
                    self->writing_ = false;
                    if (ec)
                        return self->close();
                    self->shutdown();
                });
        }
    }

    void shutdown()
    {
        if constexpr (Tls) {
            lowest().expires_after(std::chrono::seconds(5));
            stream_.async_shutdown([self = this->shared_from_this()](error_code) { self->close(); });
        } else {
            error_code ignored;
            lowest().socket().shutdown(tcp::socket::shutdown_send, ignored);
            close();
        }
    }

    void close()
    {
        if (closed_)
            return;
        closed_ = true;
        keepAlive_.cancel();
        error_code ignored;
        lowest().socket().shutdown(tcp::socket::shutdown_both, ignored);
        lowest().close();
        if (events_)
            events_->close();
        self_.reset();
    }

    WebServer::Impl& server_;
    Stream stream_;
    QString client_;
    beast::flat_buffer buffer_;
    std::optional<http::request_parser<http::string_body>> parser_;
    std::shared_ptr<Connection> self_;
    bool keepConnection_ = false;
    unsigned version_ = 11;
    bool api_ = true;
    http::response<http::string_body> response_;
    std::array<char, 4096> scratch_;
    std::size_t drained_ = 0;
    std::shared_ptr<EventStream> events_;
    std::optional<http::response<http::empty_body>> head_;
    std::optional<http::response_serializer<http::empty_body>> headWriter_;
    QByteArray chunk_;
    bool writing_ = false;
    bool ended_ = false;
    bool closed_ = false;
    net::steady_timer keepAlive_;
};

} // namespace

void WebServer::Impl::accept()
{
    acceptor->async_accept([self = shared_from_this()](error_code ec, tcp::socket socket) {
        if (ec == net::error::operation_aborted || !self->acceptor->is_open())
            return;
        if (!ec) {
            self->admit(std::move(socket));
            return self->accept();
        }
        // Out of descriptors, most likely: try again shortly rather than spin.
        self->acceptPause.emplace(*self->io, std::chrono::milliseconds(100));
        self->acceptPause->async_wait([self](error_code waited) {
            if (!waited)
                self->accept();
        });
    });
}

void WebServer::Impl::admit(tcp::socket socket)
{
    if (connections.load() >= options.maxConnections) {
        error_code ignored;
        socket.close(ignored);
        return;
    }
    connections += 1;
    const QString client = ClientAddress(socket);
    std::shared_ptr<Link> link;
    if (tls) {
        auto connection = std::make_shared<Connection<beast::ssl_stream<beast::tcp_stream>>>(
            *this, beast::ssl_stream<beast::tcp_stream>(beast::tcp_stream(std::move(socket)), *tls), client);
        link = connection;
        connection->start();
    } else {
        auto connection =
            std::make_shared<Connection<beast::tcp_stream>>(*this, beast::tcp_stream(std::move(socket)), client);
        link = connection;
        connection->start();
    }
    links.remove_if([](const std::weak_ptr<Link>& weak) { return weak.expired(); });
    links.push_back(link);
}

WebServer::WebServer(WebServerOptions options, Dispatch dispatch)
    : impl_(std::make_shared<Impl>(std::move(options), std::move(dispatch)))
{
}

WebServer::~WebServer() { stop(); }

quint16 WebServer::port() const { return impl_->port; }

bool WebServer::start(QString* error)
{
    Impl& impl = *impl_;
    if (!impl.io) {
        *error = QStringLiteral("the server has been stopped");
        return false;
    }
    const QString where = QStringLiteral("%1 port %2").arg(impl.options.host).arg(impl.options.port);
    error_code ec;
    const net::ip::address address = net::ip::make_address(impl.options.host.toStdString(), ec);
    if (ec) {
        *error = QStringLiteral("cannot listen on %1: not a numeric address").arg(where);
        return false;
    }
    if (impl.options.tls) {
        impl.tls.emplace(ssl::context::tls_server);
        impl.tls->set_options(ssl::context::default_workarounds | ssl::context::no_sslv2 | ssl::context::no_sslv3 |
            ssl::context::no_tlsv1 | ssl::context::no_tlsv1_1 | ssl::context::single_dh_use);
        const QByteArray& certificate = impl.options.tls->certificatePem;
        const QByteArray& key = impl.options.tls->keyPem;
        impl.tls->use_certificate_chain(net::buffer(certificate.constData(), std::size_t(certificate.size())), ec);
        if (!ec)
            impl.tls->use_private_key(net::buffer(key.constData(), std::size_t(key.size())), ssl::context::pem, ec);
        if (ec) {
            *error = QStringLiteral("cannot use the certificate and key: %1").arg(QString::fromStdString(ec.message()));
            return false;
        }
    }
    impl.acceptor.emplace(*impl.io);
    const tcp::endpoint endpoint(address, impl.options.port);
    impl.acceptor->open(endpoint.protocol(), ec);
    if (!ec)
        impl.acceptor->set_option(net::socket_base::reuse_address(true), ec);
    if (!ec)
        impl.acceptor->bind(endpoint, ec);
    if (!ec)
        impl.acceptor->listen(net::socket_base::max_listen_connections, ec);
    if (ec) {
        *error = QStringLiteral("cannot listen on %1: %2").arg(where, QString::fromStdString(ec.message()));
        impl.acceptor.reset();
        return false;
    }
    impl.port = impl.acceptor->local_endpoint(ec).port();
    {
        std::lock_guard lock(impl.gate->mutex);
        impl.gate->io = &*impl.io;
    }
    impl.accept();
    impl.thread = std::thread([&impl] {
        for (;;) {
            try {
                impl.io->run();
                return;
            } catch (const std::exception& e) {
                std::fprintf(stderr, "chronel-web: a connection failed: %s\n", e.what());
            } catch (...) {
                std::fprintf(stderr, "chronel-web: a connection failed\n");
            }
        }
    });
    return true;
}

void WebServer::stop()
{
    Impl& impl = *impl_;
    if (!impl.thread.joinable())
        return;
    std::promise<void> closed;
    std::future<void> done = closed.get_future();
    net::post(*impl.io, [&impl, &closed] {
        error_code ignored;
        impl.acceptor->close(ignored);
        if (impl.acceptPause)
            impl.acceptPause->cancel();
        for (const std::weak_ptr<Link>& weak : impl.links) {
            if (const auto link = weak.lock())
                link->abort();
        }
        impl.links.clear();
        closed.set_value();
    });
    done.wait_for(std::chrono::seconds(5));
    {
        std::lock_guard lock(impl.gate->mutex);
        impl.gate->io = nullptr;
    }
    impl.io->stop();
    impl.thread.join();
    // Handlers the context never ran (an accept or a read aborted just as it
    // stopped) hold the server or a connection, which hold the context:
    // destroying the context destroys those handlers and so frees them all.
    impl.acceptPause.reset();
    impl.acceptor.reset();
    impl.io.reset();
}

} // namespace chronel
