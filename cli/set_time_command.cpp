// set-time: "Set SER Time" on modTimeSetup, then the time read back.
//
// The window's time setup has been polling the status block before the
// button is pressed, so its first write carries the last status read; here
// one read comes first for the same reason. The three writes follow on the
// channel's poll, and the read after them shows the new time.
#include "block_read.h"
#include "command.h"
#include "command_loop.h"
#include "console.h"
#include "core/live/time_setup.h"
#include "core/model/module_map.h"
#include "core/transfer/transfer_sequence.h"
#include "module_session.h"
#include "status_report.h"

namespace chronelcli {

namespace {

class SetTimeCommand : public Command {
public:
    void describe(CommandDeclaration& declared) override
    {
        declared.summary = QStringLiteral("Set the module's clock from this computer's");
        declared.about = QStringLiteral("Runs \"Set SER Time\" on the time-setup channel (a status read, then three\n"
                                        "writes of registers 200 ... 223, the last with the load command) and prints\n"
                                        "the SER time and date read back afterwards.\n");
    }

    ExitStatus runModule(ModuleSession& session, const CommandContext& context) override
    {
        enum class Phase { FirstRead, Setting, Done };
        Phase phase = Phase::FirstRead;
        chronel::StatusDisplay status;
        CommandLoop loop;
        int errors = 0;
        platform::ErrorCode lastError = platform::ErrorCode::NoError;

        chronel::Channel& channel = session.channels().modTimeSetup();
        chronel::TimeSetupHooks hooks;
        hooks.host = [&session] { return session.address(); };
        hooks.statusBlock = [&status](
                                const chronel::TimeSetupWords& words) { chronel::ApplyStatusBlock(words, status); };
        chronel::TimeSetup timeSetup(channel, hooks);

        // After the time setup's own handler.
        QObject::connect(&channel, &chronel::Channel::OnReadDone, &timeSetup, [&] {
            if (phase == Phase::FirstRead) {
                phase = Phase::Setting;
                timeSetup.setSerTime();
            } else if (phase == Phase::Setting && timeSetup.step() == chronel::TimeSetup::Step::Reading) {
                phase = Phase::Done;
                channel.AutoPoll(0);
                loop.finish(ExitStatus::Done);
            }
        });
        QObject::connect(&channel, &chronel::Channel::OnErrorEvent, &timeSetup, [&](platform::ErrorCode code) {
            lastError = code;
            if (++errors > chronel::TransferErrorLimit) {
                channel.AutoPoll(0);
                loop.finish(ExitStatus::ModuleFailed);
            }
        });

        channel.AutoPoll(context.intervalMs.value_or(chronel::TimeSetupPollInterval));
        const ExitStatus result = loop.run();
        session.stopPolling();
        if (result != ExitStatus::Done) {
            context.console.error(ReadFailureText({false, {}, lastError}, session.moduleName()));
            return result;
        }
        for (const QString& line : SerTimeLines(status))
            context.console.line(line);
        return ExitStatus::Done;
    }
};

} // namespace

std::unique_ptr<Command> CreateSetTimeCommand() { return std::make_unique<SetTimeCommand>(); }

} // namespace chronelcli
