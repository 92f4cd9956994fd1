// chronel: the Chronel SER configurator.
//
//   chronel [--ip A.B.C.D] [--settings FILE] [--timeout MS] [--screenshots DIR]
//
// --ip fills the four IP fields before the start-up sequence starts the event
// scan; without it the module's factory address 192.168.16.140 stands.
// --settings opens a settings file after start-up as File > Open does: the
// address the window talks to (--ip, or the factory address) is kept, and a
// file that holds another one asks whether to take it.
// --timeout sets the reply window of every channel (TimeToLive, 500 ms
// otherwise) for modules behind slow links.
// --screenshots saves a picture of each tab into DIR a few seconds after
// start-up (once the event scan has polled) and ends the program; it is meant
// for machines without a display, under the offscreen platform.
// --help needs no display either (over SSH, say): it is answered before the
// window system is loaded.
#include "chronel_main.h"
#include "journal_actions.h"
#include "live_views.h"
#include "transfer_actions.h"

#include "core/fields/module_address.h"
#include "core/link/channel.h"
#include "core/link/plctag_factory.h"
#include "core/model/program_revision.h"
#include "platform/profile.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QDir>
#include <QStatusBar>
#include <QTabWidget>
#include <QTimer>

#include <cstdio>

namespace {

bool saveScreenshots(chronel::ChronelMain& window, const QString& dir)
{
    if (!QDir().mkpath(dir))
        return false;
    QTabWidget* tabs = window.tabs();
    bool ok = true;
    for (int i = 0; i < tabs->count(); ++i) {
        tabs->setCurrentIndex(i);
        QString name = tabs->tabText(i).toLower().replace(QLatin1Char(' '), QLatin1Char('-'));
        const QString file = QDir(dir).filePath(QStringLiteral("tab%1-%2.png").arg(i).arg(name));
        ok = window.grab().save(file) && ok;
    }
    tabs->setCurrentIndex(0);
    return ok;
}

// Whether the command line asks for the help, which QCommandLineParser
// prints and then ends the program.
bool AsksForHelp(int argc, char** argv)
{
    for (int i = 1; i < argc; ++i) {
        const QByteArray arg(argv[i]);
        if (arg == "--")
            return false;
        if (arg == "-h" || arg == "--help" || arg == "-?" || arg == "--help-all")
            return true;
    }
    return false;
}

void DescribeCommandLine(QCommandLineParser& parser)
{
    parser.setApplicationDescription(QStringLiteral("Chronel SER configurator"));
    parser.addHelpOption();
    parser.addOption({QStringLiteral("ip"), QStringLiteral("Module IP address."), QStringLiteral("A.B.C.D")});
    parser.addOption({QStringLiteral("settings"),
        QStringLiteral("Settings file to open; the module address stays that of --ip (or the factory address), "
                       "and a file that holds another one asks whether to take it."),
        QStringLiteral("FILE")});
    parser.addOption({QStringLiteral("timeout"),
        QStringLiteral("How long a module's reply may take over Modbus TCP, for slow links (VPN, radio, "
                       "cellular): %1 to %2 ms; 500 otherwise. A connection is given at least 2000 ms, or MS "
                       "if longer.")
            .arg(chronel::ReplyWindowMinMs)
            .arg(chronel::ReplyWindowMaxMs),
        QStringLiteral("MS")});
    parser.addOption({QStringLiteral("screenshots"), QStringLiteral("Save a picture of each tab into DIR, then exit."),
        QStringLiteral("DIR")});
}

} // namespace

int main(int argc, char** argv)
{
    if (AsksForHelp(argc, argv)) {
        // Without a window system: QApplication would need a display first.
        QCoreApplication app(argc, argv);
        QCoreApplication::setApplicationName(QStringLiteral("Chronel"));
        QCommandLineParser parser;
        DescribeCommandLine(parser);
        parser.process(app); // prints the help and ends the program
        return 0;
    }
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Chronel"));
    QApplication::setApplicationVersion(chronel::ProgramRevision());

    QCommandLineParser parser;
    DescribeCommandLine(parser);
    parser.process(app);
    const QString ipOption = QStringLiteral("ip");
    const QString settingsOption = QStringLiteral("settings");
    const QString shotsOption = QStringLiteral("screenshots");
    const QString timeoutOption = QStringLiteral("timeout");

    if (parser.isSet(timeoutOption)) {
        bool ok = false;
        const QString text = parser.value(timeoutOption);
        const int ms = text.toInt(&ok);
        if (!ok || text.trimmed() != text || ms < chronel::ReplyWindowMinMs || ms > chronel::ReplyWindowMaxMs) {
            std::fprintf(stderr, "chronel: --timeout needs milliseconds from %d to %d\n", chronel::ReplyWindowMinMs,
                chronel::ReplyWindowMaxMs);
            return 2;
        }
        // Before the window creates its channels.
        chronel::SetReplyWindow(ms);
    }

    std::optional<chronel::OctetFields> ip;
    if (parser.isSet(ipOption)) {
        ip = chronel::ParseIpv4Address(parser.value(ipOption));
        if (!ip) {
            std::fprintf(stderr, "chronel: --ip needs an address of four numbers 0 … 255, as 127.0.0.1\n");
            return 2;
        }
    }

    chronel::ChronelMain window(chronel::PlctagControlFactory());
    window.model().setAdapterConfigPath(platform::plcdrvIniReadPath());
    if (ip)
        window.model().settings().ConfigTcpipIp = *ip;
    chronel::AttachLiveData(window, chronel::PlctagControlFactory());
    window.startUp();
    window.show();

    chronel::TransferActions transfer(window);
    chronel::JournalActions journal(window);
    if (parser.isSet(settingsOption))
        transfer.openSettings(parser.value(settingsOption));

    if (parser.isSet(shotsOption)) {
        const QString dir = parser.value(shotsOption);
        QTimer::singleShot(3000, &window, [&window, dir] {
            const bool ok = saveScreenshots(window, dir);
            std::fprintf(ok ? stdout : stderr, "chronel: %s screenshots in %s\n", ok ? "saved" : "could not save",
                qPrintable(dir));
            QApplication::exit(ok ? 0 : 1);
        });
    }
    return app.exec();
}
