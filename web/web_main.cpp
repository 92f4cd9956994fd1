// chronel-web: the site journal for browsers, over HTTPS.
#include "journal/journal_location.h"
#include "web/auth_api.h"
#include "web/journal_api.h"
#include "web/live_feed.h"
#include "web/login_throttle.h"
#include "web/notes_api.h"
#include "web/password_hash.h"
#include "web/sessions.h"
#include "web/static_files.h"
#include "web/tls_material.h"
#include "web/user_command.h"
#include "web/web_config.h"
#include "web/web_router.h"
#include "web/web_server.h"
#include "web/web_site.h"
#include "web/worker_pool.h"

#include <QCoreApplication>
#include <QThread>

#include <csignal>
#include <cstdio>

using namespace chronel;

namespace {

const char* const Help = R"(usage: chronel-web [--config FILE] [--listen ADDRESS:PORT] [--journal PATH|postgresql://...]
                   [--cert FILE --key FILE] [--plain]
       chronel-web user add|del|passwd|list [--journal JOURNAL] [NAME] [--role viewer|engineer|admin]

Serves the site journal to browsers over HTTPS. Settings come from the [web]
group of FILE (default /etc/chronel/web.conf); each option overrides its
setting. Without a certificate a self-signed one is made in the state folder
on the first start and its SHA-256 fingerprint logged. --plain serves HTTP
without TLS and is refused unless the address is a loopback one.
)";

void Log(const QString& line) { std::fprintf(stderr, "chronel-web: %s\n", qPrintable(line)); }

int BadUsage(const QString& words)
{
    Log(words);
    std::fputs("Try 'chronel-web --help'.\n", stderr);
    return 2;
}

} // namespace

int main(int argc, char* argv[])
{
    // SIGINT and SIGTERM are waited for below; blocked before any thread
    // starts, so that every thread inherits the mask.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("chronel-web"));
    const QStringList arguments = QCoreApplication::arguments().mid(1);
    if (arguments.value(0) == u"user") {
        pthread_sigmask(SIG_UNBLOCK, &stopSignals, nullptr);
        return RunUserCommand(arguments.mid(1), stdout, stderr);
    }

    WebOverrides overrides;
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QString& word = arguments[i];
        if (word == u"--help" || word == u"-h") {
            std::fputs(Help, stdout);
            return 0;
        }
        if (word == u"--plain") {
            overrides.plain = true;
            continue;
        }
        if (word != u"--config" && word != u"--listen" && word != u"--journal" && word != u"--cert" && word != u"--key")
            return BadUsage(QStringLiteral("unknown option %1").arg(word));
        if (i + 1 >= arguments.size())
            return BadUsage(QStringLiteral("%1 needs a value").arg(word));
        const QString value = arguments[++i];
        if (word == u"--config")
            overrides.configFile = value;
        else if (word == u"--listen")
            overrides.listen = value;
        else if (word == u"--journal")
            overrides.journal = value;
        else if (word == u"--cert")
            overrides.certificate = value;
        else
            overrides.key = value;
    }

    QString error;
    const std::optional<WebConfig> config = LoadWebConfig(overrides, &error);
    if (!config)
        return BadUsage(error);
    const std::optional<JournalLocation> location = ParseJournalLocation(config->journal, &error);
    if (!location)
        return BadUsage(QStringLiteral("journal %1").arg(error));
    if (!PasswordHashReady()) {
        Log(QStringLiteral("libsodium cannot start"));
        return 1;
    }

    WebServerOptions options;
    options.host = config->listenHost;
    options.port = config->port;
    if (!config->plain) {
        options.tls = config->certificate.isEmpty() ? SelfSignedTlsMaterial(config->state, &error)
                                                    : ReadTlsMaterial(config->certificate, config->key, &error);
        if (!options.tls) {
            Log(error);
            return 1;
        }
        Log(QStringLiteral("%1 certificate %2, SHA-256 fingerprint %3")
                .arg(options.tls->made ? QStringLiteral("made the self-signed") : QStringLiteral("using the"),
                    options.tls->certificatePath, options.tls->fingerprint));
    }

    Sessions sessions;
    LoginThrottle throttle;
    WebRouter router;
    AddAuthApi(router, sessions, throttle, config->plain ? CookieTransport::PlainLoopback : CookieTransport::Https);
    const StaticFiles files(InstalledStaticRoot(QCoreApplication::applicationDirPath()));
    const WebSite site(router, files, sessions);

    WorkerPool pool(*location, qBound(2, QThread::idealThreadCount(), 4));
    if (!pool.start(&error)) {
        Log(error);
        return 1;
    }
    // After the pool: its writer has brought the journal's schema up to date.
    LiveFeed feed(*location);
    if (!feed.start(&error)) {
        Log(error);
        return 1;
    }
    AddJournalApi(router, feed);
    AddNotesApi(router);
    WebServer server(options, [&pool, &site](WebRequest request, WebServer::Done done) {
        auto job = [&site, request = std::move(request), done](
                       WorkerContext& context) mutable { done(site.answer(std::move(request), context)); };
        if (!pool.post(std::move(job)))
            done(WebResponse::error(503, QStringLiteral("the server is busy; try again")));
    });
    if (!server.start(&error)) {
        Log(error);
        return 1;
    }
    const QString host = config->listenHost.contains(u':') ? u'[' + config->listenHost + u']' : config->listenHost;
    Log(QStringLiteral("serving %1 on %2://%3:%4/")
            .arg(location->displayName(), config->plain ? QStringLiteral("http") : QStringLiteral("https"), host)
            .arg(server.port()));

    int signal = 0;
    sigwait(&stopSignals, &signal);
    Log(QStringLiteral("stopping"));
    // The live streams end first, so that the server's connections close.
    feed.stop();
    server.stop();
    pool.stop();
    return 0;
}
