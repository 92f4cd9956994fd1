// stats: the event scan's statistics-block read, once.
#include "block_read.h"
#include "command.h"
#include "console.h"
#include "core/events/event_scan.h"
#include "core/model/module_map.h"
#include "module_session.h"
#include "status_report.h"

namespace chronelcli {

namespace {

class StatsCommand : public Command {
public:
    QString parseArguments(const QStringList& args) override { return ExpectOperands(args, 0, QString()); }

    bool lastLineIsOutcome() const override { return false; }

    ExitStatus runModule(ModuleSession& session, const CommandContext& context) override
    {
        const BlockRead read =
            ReadBlock(session.channels().modEventScan(), session.address(), chronel::StatisticsBlockRegister,
                chronel::StatisticsBlockWordCount, context.intervalMs.value_or(chronel::EventScanStartInterval));
        if (!read.ok) {
            context.console.error(ReadFailureText(read, session.moduleName()));
            return ExitStatus::ModuleFailed;
        }
        chronel::StatisticsDisplay stats;
        chronel::ApplyStatisticsBlock(read.words, stats);
        for (const QString& line : StatisticsLines(stats))
            context.console.line(line);
        return ExitStatus::Done;
    }
};

} // namespace

std::unique_ptr<Command> CreateStatsCommand() { return std::make_unique<StatsCommand>(); }

} // namespace chronelcli
