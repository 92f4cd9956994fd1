// status: the event scan's status-block read, once.
#include "block_read.h"
#include "command.h"
#include "console.h"
#include "core/events/event_scan.h"
#include "core/model/module_map.h"
#include "module_session.h"
#include "status_report.h"

namespace chronelcli {

namespace {

class StatusCommand : public Command {
public:
    void describe(CommandDeclaration& declared) override
    {
        declared.summary = QStringLiteral("Read the status block once");
        declared.about = QStringLiteral("Reads the status block (registers 200 ... 299) once and prints SER time and\n"
                                        "date, time source, time quality, GPS status, satellites, latitude,\n"
                                        "longitude, altitude, speed, course and the point status, one labelled\n"
                                        "line each.\n");
    }

    bool lastLineIsOutcome() const override { return false; }

    ExitStatus runModule(ModuleSession& session, const CommandContext& context) override
    {
        const BlockRead read =
            ReadBlock(session.channels().modEventScan(), session.address(), chronel::StatusBlockRegister,
                chronel::StatusBlockWordCount, context.intervalMs.value_or(chronel::EventScanStartInterval));
        if (!read.ok) {
            context.console.error(ReadFailureText(read, session.moduleName()));
            return ExitStatus::ModuleFailed;
        }
        chronel::StatusDisplay status;
        chronel::ApplyStatusBlock(read.words, status);
        const auto points = chronel::PaintPointStatus(quint16(read.words[chronel::statusblock::PointStatusLowWord]),
            quint16(read.words[chronel::statusblock::PointStatusHighWord]));
        for (const QString& line : StatusLines(status, points))
            context.console.line(line);
        return ExitStatus::Done;
    }
};

} // namespace

std::unique_ptr<Command> CreateStatusCommand() { return std::make_unique<StatusCommand>(); }

} // namespace chronelcli
