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
    void describe(CommandDeclaration& declared) override
    {
        declared.summary = QStringLiteral("Read NTP and run-time statistics");
        declared.about = QStringLiteral("Reads the statistics block (registers 1501 ... 1600) once and prints the NTP\n"
                                        "requests per hour, task loading, open sockets, dropped packets, the error\n"
                                        "list and the test-mode state, labelled as in the statistics windows.\n");
    }

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
