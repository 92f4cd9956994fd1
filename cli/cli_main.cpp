// chronel-cli: the Chronel configurator's jobs from the command line.
#include "cli_completion.h"
#include "cli_help.h"
#include "cli_options.h"
#include "command.h"
#include "console.h"
#include "core/link/channel.h"
#include "frame_trace_printer.h"
#include "module_session.h"
#include "regaccess/plctag.h"
#include "site_run.h"
#include "terminal.h"
#include "transport_setup.h"

#include <QCoreApplication>

#include <algorithm>
#include <cstdio>

using namespace chronelcli;

namespace {

int Usage(Console& console, const QString& error, const QString& usage)
{
    console.error(QStringLiteral("chronel-cli: ") + error);
    console.error(usage);
    return int(ExitStatus::BadUsage);
}

QString WithoutFinalNewline(QString text)
{
    if (text.endsWith(QLatin1Char('\n')))
        text.chop(1);
    return text;
}

} // namespace

int main(int argc, char* argv[])
{
    // From the start: a Ctrl-C while the libraries load must not kill a run
    // that would otherwise stop its polling and close its log in order.
    InstallInterruptHandler();
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("chronel-cli"));
    const bool terminal = StderrIsTerminal();
    Console console(stdout, stderr, terminal, terminal ? StderrTerminalSize() : TerminalSize{});

    const ParsedCommandLine parsed = ParseCommandLine(QCoreApplication::arguments().mid(1));
    const QString toolUsage = QStringLiteral("Try 'chronel-cli --help'.");
    if (!parsed.error.isEmpty())
        return Usage(console, parsed.error, toolUsage);
    const CliOptions& options = parsed.options;

    if (options.bashCompletion) {
        const QByteArray script = CliBashCompletion().toUtf8();
        if (std::fwrite(script.constData(), 1, std::size_t(script.size()), stdout) != std::size_t(script.size()) ||
            std::fflush(stdout) != 0) {
            console.error(QStringLiteral("chronel-cli: cannot write the completion to standard output"));
            return int(ExitStatus::BadUsage);
        }
        return int(ExitStatus::Done);
    }
    if (options.help) {
        console.lines(WithoutFinalNewline(ToolHelp()));
        return int(ExitStatus::Done);
    }
    if (options.command == QLatin1String("help")) {
        const CommandInfo* about = nullptr;
        const QString error = HelpWords(about).parse(options.commandArgs);
        if (!error.isEmpty())
            return Usage(console, error, toolUsage);
        console.lines(WithoutFinalNewline(about ? CommandHelp(*about) : ToolHelp()));
        return int(ExitStatus::Done);
    }
    if (options.command.isEmpty())
        return Usage(console, QStringLiteral("no command given"), toolUsage);

    const CommandInfo* info = FindCommand(options.command);
    if (!info)
        return Usage(console, QStringLiteral("unknown command %1").arg(options.command), toolUsage);
    std::unique_ptr<Command> command = info->create();
    const QString argumentError = command->parseArguments(options.commandArgs);
    if (command->helpAsked()) {
        console.lines(WithoutFinalNewline(CommandHelp(*info)));
        return int(ExitStatus::Done);
    }
    if (!argumentError.isEmpty())
        return Usage(console, argumentError, CommandUsage(*info));
    if (command->needsModule() && options.addresses.isEmpty())
        return Usage(
            console, QStringLiteral("--ip is required: there is no default module address"), CommandUsage(*info));

    CommandContext context{console, options.intervalMs, int(options.addresses.size()), QString(), QString()};

    if (!command->needsModule()) {
        const ExitStatus status = command->check(context);
        return int(status != ExitStatus::Done ? status : command->runOffline(context));
    }

    if (options.timeoutMs)
        chronel::SetReplyWindow(*options.timeoutMs);

    TransportSetup transport;
    QString transportError;
    if (!transport.apply(options.tcp, options.iniPath, &transportError)) {
        console.error(QStringLiteral("chronel-cli: ") + transportError);
        return int(ExitStatus::BadUsage);
    }
    const MessageBoxRoute boxes(console);
    if (options.trace)
        InstallFrameTracePrinter(console);

    std::vector<ModuleJob> modules;
    for (const QString& address : options.addresses)
        modules.push_back({address, options.names.value(address), options.adapters.value(address, 0)});
    const auto lanes = PlanLanes(modules, [](const ModuleJob& m) { return OverDriver(m.address, m.adapter); });
    SiteRunOptions run;
    const bool everyModule = command->runsUntilInterrupted() || command->watchesModules();
    run.jobs = JobCount(options, everyModule);
    run.outcomeIsLastLine = command->lastLineIsOutcome();
    const std::size_t atOnce = std::min(lanes.size(), std::size_t(run.jobs));
    if (everyModule && modules.size() > 1 && atOnce < modules.size()) {
        // An endless scan could be given an end instead; a collection
        // watches its modules whatever its length.
        const bool endless = !command->watchesModules();
        QString text = endless
            ? QStringLiteral("%1 runs until Ctrl-C, and only %2 of the %3 modules would ever start; ")
            : QStringLiteral("%1 watches every module at once, and only %2 of the %3 modules would run at a time; ");
        text = text.arg(options.command).arg(atOnce).arg(modules.size());
        if (modules.size() > std::size_t(JobsMax))
            text += QStringLiteral("at most %1 modules run at once, so split the site").arg(JobsMax);
        else
            text += QStringLiteral("give --jobs %1 (modules on one serial adapter take turns and cannot)")
                        .arg(modules.size());
        if (endless)
            text += QStringLiteral(" or an end with --cycles or --seconds");
        return Usage(console, text, CommandUsage(*info));
    }
    const ExitStatus checked = command->check(context);
    if (checked != ExitStatus::Done)
        return int(checked);

    // The first control starts the driver; started here, before the modules'
    // threads, no module's first request can find it still starting.
    if (std::any_of(lanes.begin(), lanes.end(), [&](const std::vector<int>& lane) {
            const ModuleJob& m = modules[std::size_t(lane.front())];
            return OverDriver(m.address, m.adapter);
        })) {
        const regaccess::Plctag driverStarter;
    }

    const std::vector<ModuleOutcome> outcomes =
        RunModules(modules, lanes, run, console, [&](const ModuleJob& job, Console& own) {
            const CommandContext moduleContext{
                own, options.intervalMs, context.moduleCount, job.name, ZoneOf(options, job.address)};
            ModuleSession session(job.address, own, job.adapter);
            return command->runModule(session, moduleContext);
        });
    if (outcomes.size() > 1)
        for (const QString& line : SummaryTable(outcomes))
            console.line(line);
    return int(OverallStatus(outcomes));
}
