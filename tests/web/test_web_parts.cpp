// chronel-web's parts without a socket: the request's text, the settings'
// checks, the login throttle and sessions on a clock of the test's own,
// passwords, the self-signed certificate and the page's files.
#include "web/login_throttle.h"
#include "web/password_hash.h"
#include "web/request_text.h"
#include "web/sessions.h"
#include "web/static_files.h"
#include "web/tls_material.h"
#include "web/web_config.h"
#include "web_test.h"

#include "journal/web_accounts.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <sys/stat.h>

using namespace chronel;
using namespace std::chrono_literals;

namespace {

struct FakeClock {
    std::chrono::steady_clock::time_point now{std::chrono::hours(1000)};
    std::function<std::chrono::steady_clock::time_point()> function()
    {
        return [this] { return now; };
    }
};

} // namespace

TEST(WebRequestText, TargetsDecodeOrAreRefused)
{
    const std::optional<RequestTarget> rows = DecodeTarget("/api/rows?grep=a+b%20c&module=1&module=2&flag");
    ASSERT_TRUE(rows);
    EXPECT_EQ(rows->path, u"/api/rows");
    EXPECT_EQ(rows->query.value(QStringLiteral("grep")), u"a b c");
    EXPECT_EQ(rows->query.value(QStringLiteral("module")), u"2"); // the last wins
    EXPECT_TRUE(rows->query.contains(QStringLiteral("flag")));
    EXPECT_EQ(DecodeTarget("/caf%C3%A9")->path, QStringLiteral("/caf\u00e9"));

    for (const QByteArray& refused : {QByteArray("api/rows"), QByteArray("/../etc/passwd"), QByteArray("/a/./b"),
             QByteArray("/%2e%2e/secret"), QByteArray("/%2E%2e/secret"), QByteArray("/..%2fsecret"),
             QByteArray("/a%5c..%5csecret"), QByteArray("/a%00b"), QByteArray("/%zz"), QByteArray("/a%2"),
             QByteArray("/%C3%28"), QByteArray("/x?grep=%E0%80")})
        EXPECT_FALSE(DecodeTarget(refused)) << refused.constData();
}

TEST(WebRequestText, CookieValueIsTheFirstOfItsName)
{
    EXPECT_EQ(CookieValue("a=1; chronel_session=abc; chronel_session=def", "chronel_session"), QByteArray("abc"));
    EXPECT_EQ(CookieValue("chronel_session=\"q\"", "chronel_session"), QByteArray("q"));
    EXPECT_FALSE(CookieValue("xchronel_session=abc; =1", "chronel_session"));
    EXPECT_FALSE(CookieValue("", "chronel_session"));
}

TEST(WebConfig, PlainHttpOnlyOnLoopback)
{
    for (const QString& loopback : {QStringLiteral("127.0.0.1"), QStringLiteral("127.3.4.5"), QStringLiteral("::1"),
             QStringLiteral("::ffff:127.0.0.1")})
        EXPECT_TRUE(IsLoopbackAddress(loopback)) << loopback;
    for (const QString& other : {QStringLiteral("0.0.0.0"), QStringLiteral("128.0.0.1"), QStringLiteral("::"),
             QStringLiteral("10.1.2.3"), QStringLiteral("localhost"), QStringLiteral("::2")})
        EXPECT_FALSE(IsLoopbackAddress(other)) << other;

    QTemporaryDir dir;
    const QString missing = dir.filePath(QStringLiteral("none.conf"));
    QString error;
    WebOverrides overrides;
    overrides.configFile = dir.filePath(QStringLiteral("web.conf"));
    QFile file(overrides.configFile);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("[web]\nlisten=0.0.0.0:8443\nplain=true\njournal=/tmp/j.sqlite\n");
    file.close();
    EXPECT_FALSE(LoadWebConfig(overrides, &error));
    EXPECT_TRUE(error.contains(QStringLiteral("plain HTTP is refused on 0.0.0.0"))) << error;

    // The command line's loopback address makes the file's plain=true valid.
    overrides.listen = QStringLiteral("127.0.0.1:8080");
    const std::optional<WebConfig> loopback = LoadWebConfig(overrides, &error);
    ASSERT_TRUE(loopback) << error;
    EXPECT_TRUE(loopback->plain);
    EXPECT_EQ(loopback->port, 8080);
    EXPECT_EQ(loopback->journal, u"/tmp/j.sqlite");

    overrides.listen = QStringLiteral("[::]:8443");
    EXPECT_FALSE(LoadWebConfig(overrides, &error));
    overrides.listen = QStringLiteral("[::1]:8443");
    EXPECT_TRUE(LoadWebConfig(overrides, &error)) << error;

    // Without plain, any address is served in HTTPS.
    WebOverrides https;
    https.configFile = missing;
    EXPECT_FALSE(LoadWebConfig(https, &error)) << "a named settings file that is missing";
    https.configFile.clear();
    https.listen = QStringLiteral("0.0.0.0:8443");
    https.journal = QStringLiteral("/tmp/j.sqlite");
    https.certificate = QStringLiteral("/tmp/c.pem");
    EXPECT_FALSE(LoadWebConfig(https, &error));
    EXPECT_TRUE(error.contains(QStringLiteral("without its key"))) << error;

    QString host;
    quint16 port = 0;
    for (const QString& bad : {QStringLiteral("8443"), QStringLiteral("host.example:80"),
             QStringLiteral("1.2.3.4:70000"), QStringLiteral("::1:80"), QStringLiteral("1.2.3.4:x")})
        EXPECT_FALSE(ParseListen(bad, &host, &port, &error)) << bad;
}

TEST(WebLoginThrottle, FiveFreeThenDoublingWaitsPerAddressAndName)
{
    FakeClock clock;
    LoginThrottle throttle(clock.function());
    const QString address = QStringLiteral("192.0.2.7");
    for (int i = 0; i < LoginThrottle::FreeFailures - 1; ++i) {
        throttle.failed(address, QStringLiteral("ann"));
        EXPECT_EQ(throttle.waitSeconds(address, QStringLiteral("ann")), 0) << i;
    }
    throttle.failed(address, QStringLiteral("ann"));
    EXPECT_EQ(throttle.waitSeconds(address, QStringLiteral("ann")), 1);
    // The address is slowed for every name, the name from every address.
    EXPECT_EQ(throttle.waitSeconds(address, QStringLiteral("bob")), 1);
    EXPECT_EQ(throttle.waitSeconds(QStringLiteral("198.51.100.1"), QStringLiteral("ann")), 1);
    EXPECT_EQ(throttle.waitSeconds(QStringLiteral("198.51.100.1"), QStringLiteral("bob")), 0);

    for (int i = LoginThrottle::FreeFailures; i < 10; ++i) {
        clock.now += std::chrono::seconds(throttle.waitSeconds(address, QStringLiteral("ann")));
        throttle.failed(address, QStringLiteral("ann"));
    }
    // Ten failures: half a minute between tries.
    EXPECT_GE(throttle.waitSeconds(address, QStringLiteral("ann")), 30);
    EXPECT_EQ(LoginThrottle::waitAfter(100), LoginThrottle::LongestWait);

    // A success clears the name but not the address that failed.
    throttle.succeeded(QStringLiteral("ann"));
    EXPECT_EQ(throttle.waitSeconds(QStringLiteral("198.51.100.1"), QStringLiteral("ann")), 0);
    EXPECT_GT(throttle.waitSeconds(address, QStringLiteral("ann")), 0);
    // An hour without failures forgets them.
    clock.now += LoginThrottle::Memory;
    EXPECT_EQ(throttle.waitSeconds(address, QStringLiteral("ann")), 0);

    // One IPv6 machine's /64 is one address.
    for (int i = 0; i < LoginThrottle::FreeFailures; ++i)
        throttle.failed(QStringLiteral("2001:db8:1:2::%1").arg(i + 1), QStringLiteral("n%1").arg(i));
    EXPECT_GT(throttle.waitSeconds(QStringLiteral("2001:db8:1:2:ffff::9"), QStringLiteral("zed")), 0);
    EXPECT_EQ(throttle.waitSeconds(QStringLiteral("2001:db8:1:3::1"), QStringLiteral("zed")), 0);
}

TEST(WebLoginThrottle, TablesStayBounded)
{
    FakeClock clock;
    LoginThrottle throttle(clock.function());
    // Many names, one failure each, never more than the capacity kept; the
    // name that failed most survives the eviction of the others.
    for (int i = 0; i < 6; ++i)
        throttle.failed(QStringLiteral("10.0.0.1"), QStringLiteral("target"));
    for (int i = 0; i < LoginThrottle::Capacity + 100; ++i)
        throttle.failed(QStringLiteral("10.1.%1.%2").arg(i / 256).arg(i % 256), QStringLiteral("n%1").arg(i));
    EXPECT_GT(throttle.waitSeconds(QStringLiteral("10.9.9.9"), QStringLiteral("target")), 0);
}

TEST(WebSessions, IdsAreFreshAndSessionsExpire)
{
    FakeClock clock;
    Sessions sessions(clock.function());
    const std::optional<Sessions::Record> a =
        sessions.create(QStringLiteral("ann"), WebRole::Admin, QStringLiteral("t"));
    const std::optional<Sessions::Record> b =
        sessions.create(QStringLiteral("ann"), WebRole::Admin, QStringLiteral("t"));
    ASSERT_TRUE(a && b);
    EXPECT_EQ(a->session.id.size(), 64);
    EXPECT_EQ(a->session.csrf.size(), 64);
    EXPECT_NE(a->session.id, b->session.id);
    EXPECT_NE(a->session.id, a->session.csrf);

    // Used every 29 minutes, a session lives until its twelfth hour.
    for (int i = 0; i < 24; ++i) {
        clock.now += 29min;
        ASSERT_TRUE(sessions.find(a->session.id)) << "after " << (i + 1) * 29 << " min";
    }
    clock.now += 29min;
    EXPECT_FALSE(sessions.find(a->session.id)) << "past 12 h";
    EXPECT_FALSE(sessions.find(b->session.id)) << "idle 30 min and more";

    const std::optional<Sessions::Record> c = sessions.create(QStringLiteral("bob"), WebRole::Viewer, {});
    sessions.remove(c->session.id);
    EXPECT_FALSE(sessions.find(c->session.id));
    EXPECT_EQ(sessions.count(), 0);
}

TEST(WebPasswordHash, Argon2idVerifies)
{
    const std::optional<QString> hash = HashPassword("correct horse");
    ASSERT_TRUE(hash);
    EXPECT_TRUE(hash->startsWith(QStringLiteral("$argon2id$")));
    EXPECT_NE(*hash, HashPassword("correct horse").value_or(QString())) << "salted";
    EXPECT_TRUE(VerifyPassword(*hash, "correct horse"));
    EXPECT_FALSE(VerifyPassword(*hash, "correct horsE"));
    EXPECT_FALSE(VerifyPassword(*hash, ""));
    EXPECT_FALSE(VerifyPassword(QStringLiteral("plain text"), "plain text"));
    EXPECT_FALSE(VerifyPassword(QString(), QByteArray()));
}

TEST(WebTlsMaterial, SelfSignedPairMadeOnceAndReused)
{
    QTemporaryDir dir;
    const QString state = dir.filePath(QStringLiteral("state"));
    QString error;
    const std::optional<TlsMaterial> made = SelfSignedTlsMaterial(state, &error);
    ASSERT_TRUE(made) << error;
    EXPECT_TRUE(made->made);
    EXPECT_EQ(made->fingerprint.size(), 32 * 3 - 1);
    const QString keyPath = QDir(state).filePath(SelfSignedKeyName);
    struct stat info { };
    ASSERT_EQ(::stat(QFile::encodeName(keyPath).constData(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
    EXPECT_TRUE(made->keyPem.contains("PRIVATE KEY"));
    EXPECT_FALSE(QFileInfo::exists(keyPath + QStringLiteral(".new")));

    const std::optional<TlsMaterial> again = SelfSignedTlsMaterial(state, &error);
    ASSERT_TRUE(again) << error;
    EXPECT_FALSE(again->made);
    EXPECT_EQ(again->fingerprint, made->fingerprint);
    EXPECT_EQ(again->keyPem, made->keyPem);

    // A key of another pair is refused with the certificate.
    const std::optional<TlsMaterial> other = SelfSignedTlsMaterial(dir.filePath(QStringLiteral("other")), &error);
    ASSERT_TRUE(other) << error;
    EXPECT_FALSE(ReadTlsMaterial(QDir(state).filePath(SelfSignedCertificateName),
        QDir(dir.filePath(QStringLiteral("other"))).filePath(SelfSignedKeyName), &error));
    EXPECT_TRUE(error.contains(QStringLiteral("does not belong"))) << error;
}

TEST(WebStaticFiles, OnlyFilesUnderTheRoot)
{
    QTemporaryDir dir;
    const QString root = dir.filePath(QStringLiteral("static"));
    ASSERT_TRUE(QDir().mkpath(root + QStringLiteral("/img")));
    const auto put = [](const QString& path, const QByteArray& bytes) {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(bytes);
    };
    put(root + QStringLiteral("/index.html"), "<html>");
    put(root + QStringLiteral("/app.js"), "js");
    put(root + QStringLiteral("/img/logo.svg"), "<svg/>");
    put(root + QStringLiteral("/.hidden"), "h");
    put(dir.filePath(QStringLiteral("secret.txt")), "secret");
    put(dir.filePath(QStringLiteral("chart.min.js")), "chart");
    ASSERT_TRUE(QFile::link(dir.filePath(QStringLiteral("secret.txt")), root + QStringLiteral("/out.txt")));
    ASSERT_TRUE(QFile::link(root + QStringLiteral("/app.js"), root + QStringLiteral("/in.js")));

    const StaticFiles files(root, dir.filePath(QStringLiteral("chart.min.js")));
    EXPECT_EQ(files.answer(QStringLiteral("/")).body, "<html>");
    EXPECT_EQ(files.answer(QStringLiteral("/")).contentType, "text/html; charset=utf-8");
    EXPECT_EQ(files.answer(QStringLiteral("/app.js")).contentType, "text/javascript; charset=utf-8");
    EXPECT_EQ(files.answer(QStringLiteral("/img/logo.svg")).contentType, "image/svg+xml");
    EXPECT_EQ(files.answer(QStringLiteral("/js/chart.js")).body, "chart");
    EXPECT_EQ(files.answer(QStringLiteral("/in.js")).status, 200) << "a link within the root";
    for (const QString& refused :
        {QStringLiteral("/out.txt"), QStringLiteral("/../secret.txt"), QStringLiteral("/img/../../secret.txt"),
            QStringLiteral("/.hidden"), QStringLiteral("/img"), QStringLiteral("/img/"), QStringLiteral("/none.js"),
            QStringLiteral("//secret.txt"), QStringLiteral("/img\\..\\..\\secret.txt")})
        EXPECT_EQ(files.answer(refused).status, 404) << refused;
}
