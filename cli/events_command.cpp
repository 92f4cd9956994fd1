// events: the event scan with its display lines on stdout.
#include "batch_output.h"
#include "command.h"
#include "command_loop.h"
#include "console.h"
#include "core/events/event_log.h"
#include "core/live/live_data.h"
#include "core/transfer/transfer_sequence.h"
#include "failure_report.h"
#include "module_session.h"

#include <QTimer>

#include <cmath>

namespace chronelcli {

namespace {

// Failed requests within one scan cycle that end a run bounded by cycles:
// the transfers' limit, so a module that stopped answering ends the run as
// it would end an upload. Counted per cycle rather than in a row, since a
// module that answers the reads and fails every acknowledge would otherwise
// never complete a cycle nor fail four times in a row: the run would hang.
constexpr int CycleErrorLimit = chronel::TransferErrorLimit + 1;
constexpr double SecondsMax = 7 * 24 * 3600.0;

class EventsCommand : public Command {
public:
    void describe(CommandDeclaration& declared) override
    {
        declared.summary = QStringLiteral("Run the SER event scan and print its lines");
        declared.about = QStringLiteral("Runs the event scan and prints each event line and communication error\n"
                                        "line on stdout exactly as the event display shows it.\n");
        chronel::OptionTable& words = declared.words;
        words.add({.name = QStringLiteral("--monitor"),
            .help = QStringLiteral("Monitor mode: events are shown but left in the module's\n"
                                   "buffer. Without it, Retrieve mode acknowledges each block."),
            .take = chronel::OptionTable::flag(monitor_)});
        const QString cyclesError = QStringLiteral("--cycles needs a whole number of at least 1");
        words.add({.name = QStringLiteral("--cycles"),
            .valueName = QStringLiteral("N"),
            .help = QStringLiteral("Stop after N complete scan cycles; four failed requests\n"
                                   "within one cycle end the run with exit status 1."),
            .missing = cyclesError,
            .take = [this, cyclesError](const QString& v) {
                bool ok = false;
                const int n = v.toInt(&ok);
                if (!ok || n < 1)
                    return cyclesError;
                cycles_ = n;
                return QString();
            }});
        const QString secondsError = QStringLiteral("--seconds needs a positive number of seconds (at most a week)");
        words.add({.name = QStringLiteral("--seconds"),
            .valueName = QStringLiteral("S"),
            .help = QStringLiteral("Stop after S seconds (decimals allowed); exit status 1 when\n"
                                   "the last request had failed."),
            .missing = secondsError,
            .take = [this, secondsError](const QString& v) {
                bool ok = false;
                const double s = v.toDouble(&ok);
                if (!ok || !std::isfinite(s) || s <= 0 || s > SecondsMax)
                    return secondsError;
                seconds_ = s;
                return QString();
            }});
        words.exclusive(QStringLiteral("--cycles"), QStringLiteral("--seconds"));
        const QString logError = QStringLiteral("--log needs a file");
        words.add({.name = QStringLiteral("--log"),
            .valueName = QStringLiteral("FILE"),
            .help = QStringLiteral("Append every line to FILE as the event log does (CR LF,\n"
                                   "8-bit characters). Per module with several modules."),
            .missing = logError,
            .completion = chronel::Completion::Files,
            .take = [this, logError](const QString& v) {
                if (v.isEmpty())
                    return logError;
                logPath_ = v;
                return QString();
            }});
        declared.notes = QStringLiteral("Without --cycles or --seconds the scan runs until Ctrl-C.\n");
    }

    bool lastLineIsOutcome() const override { return false; }
    bool runsUntilInterrupted() const override { return !cycles_ && !seconds_; }

    ExitStatus runModule(ModuleSession& session, const CommandContext& context) override
    {
        Console& console = context.console;
        chronel::ChronelModel& model = session.model();
        chronel::LiveData live(model);
        chronel::EventDisplay& display = live.display();
        if (monitor_ != model.monitorEventData())
            live.toggleMonitorEventData();

        QString logFile;
        if (!logPath_.isEmpty()) {
            const QString path = BatchFileName(logPath_, session.address(), context.moduleCount);
            logFile = path;
            if (display.startLogging(path) != chronel::EventLog::OpenResult::Opened) {
                console.error(FileFailureLine(
                    path + QStringLiteral(": ") + display.logError(), chronel::LogEventsOpenErrorText()));
                return ExitStatus::BadUsage;
            }
        }

        CommandLoop loop;
        QObject::connect(
            &display, &chronel::EventDisplay::linesChanged, &display, [&] { console.line(display.lines().back()); });
        QObject::connect(
            &display, &chronel::EventDisplay::logWriteFailed, &display, [&](const QString&, const QString& text) {
                console.error(FileFailureLine(logFile + QStringLiteral(": ") + display.logError(), text));
                loop.finish(ExitStatus::BadUsage);
            });

        // Connected after the scan's own handlers, so the step seen here is
        // the one the completion led to.
        chronel::Channel& scan = model.channels().modEventScan();
        int cyclesDone = 0;
        int errorsInCycle = 0;
        bool lastFailed = false;
        const auto completed = [&] {
            lastFailed = false;
            if (live.eventScan().step() != chronel::EventScan::Step::EventAvailable)
                return;
            errorsInCycle = 0;
            if (cycles_ && ++cyclesDone >= *cycles_)
                loop.finish(ExitStatus::Done);
        };
        QObject::connect(&scan, &chronel::Channel::OnReadDone, &display, completed);
        QObject::connect(&scan, &chronel::Channel::OnWriteDone, &display, completed);
        platform::ErrorCode lastError = platform::ErrorCode::NoError;
        QObject::connect(&scan, &chronel::Channel::OnErrorEvent, &display, [&](platform::ErrorCode code) {
            lastFailed = true;
            lastError = code;
            if (cycles_ && ++errorsInCycle >= CycleErrorLimit)
                loop.finish(ExitStatus::ModuleFailed);
        });

        scan.AutoPoll(context.intervalMs.value_or(chronel::EventScanStartInterval));
        ExitStatus status;
        if (seconds_) {
            status = loop.run(ExitStatus::Done, int(std::lround(*seconds_ * 1000)), ExitStatus::Done);
            if (status == ExitStatus::Done && lastFailed)
                status = ExitStatus::ModuleFailed;
        } else {
            status = loop.run(cycles_ ? ExitStatus::ModuleFailed : ExitStatus::Done);
        }
        session.stopPolling();
        display.stopLogging();
        if (status == ExitStatus::ModuleFailed && lastFailed)
            console.error(CommunicationFailureLine(session.moduleName(), lastError));
        return status;
    }

private:
    bool monitor_ = false;
    std::optional<int> cycles_;
    std::optional<double> seconds_;
    QString logPath_;
};

} // namespace

std::unique_ptr<Command> CreateEventsCommand() { return std::make_unique<EventsCommand>(); }

} // namespace chronelcli
