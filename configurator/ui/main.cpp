// chronel: the Chronel SER configurator. Its command line is declared in
// program_options.h.
//
// --help and --bash-completion need no display (over SSH, in the package's
// build): they are answered before the window system is loaded.
#include "chronel_main.h"
#include "journal_actions.h"
#include "live_views.h"
#include "program_options.h"
#include "transfer_actions.h"

#include "core/command_line/bash_completion.h"
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

bool SaveScreenshots(chronel::ChronelMain& window, const QString& dir)
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

} // namespace

int main(int argc, char** argv)
{
    {
        // Qt's own options (-platform …) are unknown here: only a stopping
        // switch is read now, the rest once QApplication has taken its own.
        chronel::ProgramOptions early;
        QStringList args;
        for (int i = 1; i < argc; ++i)
            args << QString::fromLocal8Bit(argv[i]);
        const chronel::OptionTable table = chronel::ProgramOptionTable(early);
        table.parse(args);
        if (early.bashCompletion) {
            const QByteArray script = chronel::BashCompletion(QStringLiteral("chronel"), table).toUtf8();
            const bool written =
                std::fwrite(script.constData(), 1, std::size_t(script.size()), stdout) == std::size_t(script.size()) &&
                std::fflush(stdout) == 0;
            if (!written)
                std::fprintf(stderr, "chronel: cannot write the completion to standard output\n");
            return written ? 0 : 2;
        }
        if (early.help || early.helpAll) {
            QCoreApplication app(argc, argv);
            QCoreApplication::setApplicationName(QStringLiteral("Chronel"));
            QCommandLineParser parser;
            chronel::DescribeProgram(parser, table);
            // Prints the help and ends the program.
            parser.process({QCoreApplication::arguments().constFirst(),
                early.helpAll ? QStringLiteral("--help-all") : QStringLiteral("--help")});
            return 0;
        }
    }
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Chronel"));
    QApplication::setApplicationVersion(chronel::ProgramRevision());

    chronel::ProgramOptions options;
    const QString error = chronel::ProgramOptionTable(options).parse(QApplication::arguments().mid(1));
    if (!error.isEmpty()) {
        std::fprintf(stderr, "chronel: %s\nTry 'chronel --help'.\n", qPrintable(error));
        return 2;
    }
    // Before the window creates its channels.
    if (options.timeoutMs)
        chronel::SetReplyWindow(*options.timeoutMs);

    chronel::ChronelMain window(chronel::PlctagControlFactory());
    window.model().setAdapterConfigPath(platform::PlcdrvIniReadPath());
    if (options.ip)
        window.model().settings().ConfigTcpipIp = *options.ip;
    chronel::AttachLiveData(window, chronel::PlctagControlFactory());
    window.startUp();
    window.show();

    chronel::TransferActions transfer(window);
    chronel::JournalActions journal(window);
    if (!options.settings.isEmpty())
        transfer.openSettings(options.settings);

    if (!options.screenshots.isEmpty()) {
        const QString dir = options.screenshots;
        QTimer::singleShot(3000, &window, [&window, dir] {
            const bool ok = SaveScreenshots(window, dir);
            std::fprintf(ok ? stdout : stderr, "chronel: %s screenshots in %s\n", ok ? "saved" : "could not save",
                qPrintable(dir));
            QApplication::exit(ok ? 0 : 1);
        });
    }
    return app.exec();
}
