// The server over real sockets on 127.0.0.1 (an ephemeral port), HTTPS with
// a self-signed certificate the client trusts alone, and plain HTTP: who
// may see what without a session, logging in and out, the cookie, CSRF and
// roles, the throttle, the request limits, traversal, event streams and
// slow clients. The journal is a SQLite file with three accounts.
#include "web/auth_api.h"
#include "web/login_throttle.h"
#include "web/password_hash.h"
#include "web/sessions.h"
#include "web/static_files.h"
#include "web/tls_material.h"
#include "web/web_event_stream.h"
#include "web/web_router.h"
#include "web/web_server.h"
#include "web/web_site.h"
#include "web/worker_pool.h"
#include "web_client.h"
#include "web_test.h"

#include "journal/journal_audit.h"
#include "journal/journal_store.h"
#include "journal/web_accounts.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

#include <mutex>

using namespace chronel;

namespace {

JournalLocation SqliteAt(const QString& path)
{
    JournalLocation location;
    location.path = path;
    return location;
}

using Headers = QList<QPair<QByteArray, QByteArray>>;

QJsonObject Json(const WebReply& reply) { return QJsonDocument::fromJson(reply.body).object(); }

struct Login {
    QByteArray cookie; // "chronel_session=…" for a Cookie header
    QByteArray csrf;
    WebReply reply;
};

class WebServerTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        templateDir_ = new QTemporaryDir;
        const QString path = templateDir_->filePath(QStringLiteral("journal.sqlite"));
        JournalStore store;
        QString error;
        ASSERT_TRUE(store.open(SqliteAt(path), &error)) << error;
        const QString now = QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs);
        for (const auto& [name, role] : {std::pair{"ann", WebRole::Admin}, std::pair{"eve", WebRole::Engineer},
                 std::pair{"val", WebRole::Viewer}}) {
            const std::optional<QString> hash = HashPassword(QByteArray(name) + "-password");
            ASSERT_TRUE(hash);
            ASSERT_TRUE(AddWebAccount(store, WebAccount{QString::fromLatin1(name), role, *hash, now, now},
                AuditContext{QStringLiteral("test"), QString()}, &error))
                << error;
        }
    }
    static void TearDownTestSuite()
    {
        delete templateDir_;
        templateDir_ = nullptr;
    }

    void SetUp() override
    {
        journal_ = dir_.filePath(QStringLiteral("journal.sqlite"));
        ASSERT_TRUE(QFile::copy(templateDir_->filePath(QStringLiteral("journal.sqlite")), journal_));
        const QString root = dir_.filePath(QStringLiteral("static"));
        ASSERT_TRUE(QDir().mkpath(root));
        Put(root + QStringLiteral("/index.html"), "<!doctype html><title>journal</title>");
        Put(root + QStringLiteral("/app.js"), "'use strict';");
        Put(dir_.filePath(QStringLiteral("secret.txt")), "the secret");
        ASSERT_TRUE(QFile::link(dir_.filePath(QStringLiteral("secret.txt")), root + QStringLiteral("/out.txt")));
        files_ = std::make_unique<StaticFiles>(root);
        site_ = std::make_unique<WebSite>(router_, *files_, sessions_);

        router_.add(HttpMethod::Post, QStringLiteral("/api/probe"), Access::Engineer,
            [](const WebRequest&, const QStringList&, WorkerContext&) {
                return WebResponse::json(QJsonDocument(QJsonObject{{QStringLiteral("done"), true}}));
            });
        router_.add(HttpMethod::Get, QStringLiteral("/api/stream"), Access::Viewer,
            [this](const WebRequest&, const QStringList&, WorkerContext&) {
                WebResponse response;
                response.stream = std::make_shared<EventStream>();
                std::lock_guard lock(streamMutex_);
                stream_ = response.stream;
                return response;
            });
    }

    void TearDown() override
    {
        if (server_)
            server_->stop();
        if (pool_)
            pool_->stop();
    }

    static void Put(const QString& path, const QByteArray& bytes)
    {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(bytes);
    }

    // Starts the server on 127.0.0.1; HTTPS unless `plain`.
    void start(bool plain, std::chrono::milliseconds readTimeout = std::chrono::milliseconds(20000))
    {
        AddAuthApi(router_, sessions_, throttle_, plain ? CookieTransport::PlainLoopback : CookieTransport::Https);
        QString error;
        pool_ = std::make_unique<WorkerPool>(SqliteAt(journal_), 2);
        ASSERT_TRUE(pool_->start(&error)) << error;
        WebServerOptions options;
        options.host = QStringLiteral("127.0.0.1");
        options.readTimeout = readTimeout;
        if (!plain) {
            options.tls = SelfSignedTlsMaterial(dir_.filePath(QStringLiteral("state")), &error);
            ASSERT_TRUE(options.tls) << error;
            certificate_ = options.tls->certificatePem;
        }
        server_ = std::make_unique<WebServer>(options, [this](WebRequest request, WebServer::Done done) {
            const bool queued = pool_->post([this, request, done](WorkerContext& context) mutable {
                done(site_->answer(std::move(request), context));
            });
            if (!queued)
                done(WebResponse::error(503, QStringLiteral("busy")));
        });
        ASSERT_TRUE(server_->start(&error)) << error;
    }

    WebClient client() { return WebClient(server_->port(), certificate_); }

    WebReply ask(
        const QByteArray& method, const QByteArray& target, const Headers& headers = {}, const QByteArray& body = {})
    {
        WebClient c = client();
        return c.exchange(WebClient::request(method, target, headers, body));
    }

    WebReply loginReply(const QByteArray& name, const QByteArray& password)
    {
        return ask("POST", "/api/login", {},
            QJsonDocument(QJsonObject{{QStringLiteral("name"), QString::fromLatin1(name)},
                              {QStringLiteral("password"), QString::fromLatin1(password)}})
                .toJson(QJsonDocument::Compact));
    }

    Login login(const QByteArray& name)
    {
        Login result;
        result.reply = loginReply(name, name + "-password");
        const QByteArray setCookie = result.reply.header("set-cookie");
        result.cookie = setCookie.left(setCookie.indexOf(';'));
        result.csrf = Json(result.reply).value(QStringLiteral("csrf")).toString().toLatin1();
        return result;
    }

    QList<AuditEntry> audit()
    {
        JournalStore store;
        QString error;
        EXPECT_TRUE(store.openReadOnly(SqliteAt(journal_), &error)) << error;
        return AuditRows(store, &error).value_or(QList<AuditEntry>());
    }

    static inline QTemporaryDir* templateDir_ = nullptr;
    QTemporaryDir dir_;
    QString journal_;
    Sessions sessions_;
    LoginThrottle throttle_;
    WebRouter router_;
    std::unique_ptr<StaticFiles> files_;
    std::unique_ptr<WebSite> site_;
    std::unique_ptr<WorkerPool> pool_;
    std::unique_ptr<WebServer> server_;
    QByteArray certificate_;
    std::mutex streamMutex_;
    std::shared_ptr<EventStream> stream_;
};

void ExpectSecurityHeaders(const WebReply& reply, bool api)
{
    EXPECT_EQ(reply.header("content-security-policy"), "default-src 'self'");
    EXPECT_EQ(reply.header("x-content-type-options"), "nosniff");
    EXPECT_EQ(reply.header("referrer-policy"), "no-referrer");
    EXPECT_EQ(reply.header("x-frame-options"), "DENY");
    if (api) {
        EXPECT_EQ(reply.header("cache-control"), "no-store");
    }
}

} // namespace

TEST_F(WebServerTest, WithoutASessionOnlyThePageAndTheLogin)
{
    start(false);
    WebClient c = client();
    // Two requests on one kept-alive connection.
    const WebReply page = c.exchange(WebClient::request("GET", "/"));
    EXPECT_EQ(page.status, 200);
    EXPECT_EQ(page.body, "<!doctype html><title>journal</title>");
    EXPECT_EQ(page.header("content-type"), "text/html; charset=utf-8");
    ExpectSecurityHeaders(page, false);
    const WebReply script = c.exchange(WebClient::request("GET", "/app.js"));
    EXPECT_EQ(script.status, 200);
    EXPECT_EQ(script.header("content-type"), "text/javascript; charset=utf-8");

    for (const auto& [method, target] :
        {std::pair{"GET", "/api/me"}, std::pair{"GET", "/api/incidents"}, std::pair{"GET", "/api/no-such-thing"},
            std::pair{"POST", "/api/probe"}, std::pair{"POST", "/api/logout"}, std::pair{"POST", "/"}}) {
        const WebReply refused = ask(method, target);
        EXPECT_EQ(refused.status, 401) << method << ' ' << target;
        EXPECT_FALSE(Json(refused).value(QStringLiteral("error")).toString().isEmpty());
        ExpectSecurityHeaders(refused, true);
    }
    // A made-up session is no session.
    EXPECT_EQ(ask("GET", "/api/me", {{"Cookie", "chronel_session=" + QByteArray(64, 'a')}}).status, 401);
}

TEST_F(WebServerTest, LoginSetsAStrictCookieAndEverythingIsAudited)
{
    start(false);
    const WebReply wrong = loginReply("ann", "not-the-password");
    EXPECT_EQ(wrong.status, 401);
    EXPECT_EQ(Json(wrong).value(QStringLiteral("error")).toString(), u"wrong name or password");
    EXPECT_TRUE(wrong.header("set-cookie").isEmpty());
    EXPECT_EQ(loginReply("nobody", "whatever-it-is").status, 401);
    EXPECT_EQ(ask("POST", "/api/login", {}, "{\"name\": 3}").status, 400);
    // As a cross-site form would send it.
    QByteArray form = WebClient::request("POST", "/api/login", {}, "{\"name\":\"ann\",\"password\":\"ann-password\"}");
    form.replace("application/json", "text/plain");
    EXPECT_EQ(client().exchange(form).status, 415);

    const Login ann = login("ann");
    ASSERT_EQ(ann.reply.status, 200);
    EXPECT_EQ(Json(ann.reply).value(QStringLiteral("name")).toString(), u"ann");
    EXPECT_EQ(Json(ann.reply).value(QStringLiteral("role")).toString(), u"admin");
    const QByteArray setCookie = ann.reply.header("set-cookie");
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^chronel_session=[0-9a-f]{64};"))
                    .match(QString::fromLatin1(setCookie))
                    .hasMatch())
        << setCookie.constData();
    for (const char* attribute : {"HttpOnly", "Secure", "SameSite=Strict", "Path=/"})
        EXPECT_TRUE(setCookie.split(';').contains(" " + QByteArray(attribute))) << setCookie.constData();
    EXPECT_EQ(ann.csrf.size(), 64);

    const WebReply me = ask("GET", "/api/me", {{"Cookie", ann.cookie}});
    EXPECT_EQ(me.status, 200);
    EXPECT_EQ(Json(me).value(QStringLiteral("name")).toString(), u"ann");
    EXPECT_EQ(Json(me).value(QStringLiteral("csrf")).toString().toLatin1(), ann.csrf);

    EXPECT_EQ(ask("POST", "/api/logout", {{"Cookie", ann.cookie}}).status, 403) << "without the CSRF token";
    const WebReply out = ask("POST", "/api/logout", {{"Cookie", ann.cookie}, {"X-CSRF-Token", ann.csrf}});
    EXPECT_EQ(out.status, 200);
    EXPECT_TRUE(out.header("set-cookie").contains("Max-Age=0"));
    EXPECT_EQ(ask("GET", "/api/me", {{"Cookie", ann.cookie}}).status, 401);

    QStringList seen;
    for (const AuditEntry& entry : audit()) {
        if (entry.action == AuditAction::Login || entry.action == AuditAction::LoginFailed ||
            entry.action == AuditAction::Logout)
            seen.append(QStringLiteral("%1 %2 %3").arg(entry.actionText, entry.who, entry.address));
    }
    EXPECT_EQ(seen,
        (QStringList{QStringLiteral("login failed ann 127.0.0.1"), QStringLiteral("login failed nobody 127.0.0.1"),
            QStringLiteral("login ann 127.0.0.1"), QStringLiteral("logout ann 127.0.0.1")}));
}

TEST_F(WebServerTest, ChangesNeedTheCsrfTokenAndTheRole)
{
    start(false);
    const Login eve = login("eve");
    const Login val = login("val");
    ASSERT_EQ(eve.reply.status, 200);
    ASSERT_EQ(val.reply.status, 200);
    EXPECT_EQ(ask("POST", "/api/probe", {{"Cookie", eve.cookie}}).status, 403);
    EXPECT_EQ(ask("POST", "/api/probe", {{"Cookie", eve.cookie}, {"X-CSRF-Token", val.csrf}}).status, 403)
        << "another session's token";
    const WebReply done = ask("POST", "/api/probe", {{"Cookie", eve.cookie}, {"X-CSRF-Token", eve.csrf}});
    EXPECT_EQ(done.status, 200);
    EXPECT_TRUE(Json(done).value(QStringLiteral("done")).toBool());
    const WebReply viewer = ask("POST", "/api/probe", {{"Cookie", val.cookie}, {"X-CSRF-Token", val.csrf}});
    EXPECT_EQ(viewer.status, 403);
    EXPECT_TRUE(Json(viewer).value(QStringLiteral("error")).toString().contains(QStringLiteral("viewer")));
}

TEST_F(WebServerTest, TenWrongPasswordsAreSlowed)
{
    start(false);
    QList<int> statuses;
    WebReply last;
    for (int i = 0; i < 10; ++i) {
        last = loginReply("val", "guess-" + QByteArray::number(i));
        statuses.append(last.status);
    }
    EXPECT_EQ(statuses, (QList<int>{401, 401, 401, 401, 401, 429, 429, 429, 429, 429}));
    EXPECT_GE(Json(last).value(QStringLiteral("retryAfter")).toInt(), 1);
    EXPECT_EQ(last.header("retry-after").toInt(), Json(last).value(QStringLiteral("retryAfter")).toInt());
    // While slowed, the right password is not even tried.
    EXPECT_EQ(loginReply("val", "val-password").status, 429);
    // The throttled attempts were not audited as failures of their own.
    int failed = 0;
    for (const AuditEntry& entry : audit())
        failed += entry.action == AuditAction::LoginFailed ? 1 : 0;
    EXPECT_EQ(failed, 5);
}

TEST_F(WebServerTest, OversizedHeadersAndBodiesAreRefused)
{
    start(false);
    const WebReply near = ask("GET", "/", {{"X-Filler", QByteArray(7 * 1024, 'x')}});
    EXPECT_EQ(near.status, 200) << "headers under 8 KiB";
    const WebReply headers = ask("GET", "/", {{"X-Filler", QByteArray(9 * 1024, 'x')}});
    EXPECT_EQ(headers.status, 431);
    ExpectSecurityHeaders(headers, true);
    const WebReply body = ask("POST", "/api/login", {}, QByteArray(65 * 1024, ' '));
    EXPECT_EQ(body.status, 413);
}

TEST_F(WebServerTest, TraversalFindsNothing)
{
    start(false);
    for (const QByteArray& target :
        {QByteArray("/../secret.txt"), QByteArray("/%2e%2e/secret.txt"), QByteArray("/..%2fsecret.txt"),
            QByteArray("/%2E%2E%2Fsecret.txt"), QByteArray("/out.txt"), QByteArray("/./app.js")}) {
        const WebReply reply = ask("GET", target);
        EXPECT_EQ(reply.status, 404) << target.constData();
        EXPECT_FALSE(reply.body.contains("the secret")) << target.constData();
    }
}

TEST_F(WebServerTest, PlainLoopbackCookieIsNotSecure)
{
    start(true);
    const Login ann = login("ann");
    ASSERT_EQ(ann.reply.status, 200);
    const QList<QByteArray> attributes = ann.reply.header("set-cookie").split(';');
    EXPECT_TRUE(attributes.contains(" HttpOnly"));
    EXPECT_TRUE(attributes.contains(" SameSite=Strict"));
    EXPECT_FALSE(attributes.contains(" Secure"));
    EXPECT_EQ(ask("GET", "/api/me", {{"Cookie", ann.cookie}}).status, 200);
}

TEST_F(WebServerTest, SessionEndsWhenThePasswordChanges)
{
    start(false);
    const Login val = login("val");
    ASSERT_EQ(ask("GET", "/api/me", {{"Cookie", val.cookie}}).status, 200);
    // Changed a moment later, so that the account's change time moves on.
    QThread::msleep(5);
    JournalStore store;
    QString error;
    ASSERT_TRUE(store.open(SqliteAt(journal_), &error)) << error;
    ASSERT_TRUE(SetWebPassword(store, QStringLiteral("val"), HashPassword("another-password").value(),
        AuditContext{QStringLiteral("test"), QString()}, &error))
        << error;
    EXPECT_EQ(ask("GET", "/api/me", {{"Cookie", val.cookie}}).status, 401);
}

TEST_F(WebServerTest, EventStreamIsPumpedAndClosedWhenTheClientLeaves)
{
    start(false);
    const Login val = login("val");
    WebClient c = client();
    ASSERT_TRUE(c.write(WebClient::request("GET", "/api/stream", {{"Cookie", val.cookie}})));
    const QByteArray head = c.readUntil("\r\n\r\n", 5000);
    EXPECT_TRUE(head.startsWith("HTTP/1.1 200")) << head.constData();
    EXPECT_TRUE(head.contains("text/event-stream"));
    std::shared_ptr<EventStream> stream;
    {
        std::lock_guard lock(streamMutex_);
        stream = stream_;
    }
    ASSERT_TRUE(stream);
    std::thread feed([stream] {
        stream->push("event: rows\ndata: {\"lastId\":1}\n\n");
        stream->push("event: rows\ndata: {\"lastId\":2}\n\n");
    });
    feed.join();
    EXPECT_TRUE(c.readUntil("{\"lastId\":2}", 5000).contains("data: {\"lastId\":1}"));
    EXPECT_FALSE(stream->closed());

    c.close();
    QDeadlineTimer deadline(5000);
    while (!stream->closed() && !deadline.hasExpired())
        QThread::msleep(10);
    EXPECT_TRUE(stream->closed()) << "the feed learns that the client left";
}

TEST_F(WebServerTest, SlowClientIsCutOff)
{
    start(true, std::chrono::milliseconds(300));
    WebClient c = client();
    ASSERT_TRUE(c.write("GET / HTTP/1.1\r\nHost: 127.0.0.1\r\n"));
    EXPECT_TRUE(c.closedWithin(3000));
}
