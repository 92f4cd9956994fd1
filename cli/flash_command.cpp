// flash FILE [--verify-only]: Load File, then Program Flash or Verify Flash.
#include "command.h"
#include "command_loop.h"
#include "console.h"
#include "core/flash/flash_sequence.h"
#include "failure_report.h"
#include "hex_load.h"
#include "module_session.h"

#include <memory>

namespace chronelcli {

namespace {

class FlashCommand : public Command {
public:
    void describe(CommandDeclaration& declared) override
    {
        declared.summary = QStringLiteral("Program and verify the module's flash");
        declared.about = QStringLiteral("Loads FILE, then erases, programs and verifies the module's flash, printing\n"
                                        "the flash status lines; the percentage shows as a progress bar on stderr\n"
                                        "when it is a terminal.\n");
        declared.words.add({.name = QStringLiteral("FILE"),
            .completion = chronel::Completion::Files,
            .take = chronel::OptionTable::keep(path_)});
        declared.words.add({.name = QStringLiteral("--verify-only"),
            .help = QStringLiteral("Compare the module's flash with FILE without programming."),
            .take = chronel::OptionTable::flag(verifyOnly_)});
        declared.notes = QStringLiteral("Exit status 1 on \"Flash Verify Error\" or \"Flash Memory Communications\n"
                                        "Error\", 2 when the file does not load or holds nothing to program.\n");
    }

    // The file is loaded once, before any module: a bad file stops the batch
    // before anything is erased.
    ExitStatus check(const CommandContext& context) override
    {
        image_ = std::make_unique<chronel::FlashImage>();
        PrintFlashStatus(status_, context.console);
        return LoadHex(path_, *image_, status_, context.console) ? ExitStatus::Done : ExitStatus::BadUsage;
    }

    ExitStatus runModule(ModuleSession& session, const CommandContext& context) override
    {
        Console& console = context.console;
        // The status lines of this module's sequence; the loader's went out
        // with check().
        chronel::FlashStatus status;
        PrintFlashStatus(status, console);
        chronel::FlashSequence sequence(*image_, status, session.channels(), [&session] { return session.address(); });

        CommandLoop loop;
        // Connected after the sequence's own handler, which ends the run
        // first: the code is read once the loop has returned.
        platform::ErrorCode lastError = platform::ErrorCode::NoError;
        bool communicationsError = false;
        QObject::connect(&session.channels().modFlash(), &chronel::Channel::OnErrorEvent, &sequence,
            [&lastError](platform::ErrorCode code) { lastError = code; });
        QObject::connect(
            &sequence, &chronel::FlashSequence::finished, &sequence, [&](chronel::FlashSequence::Outcome outcome) {
                using Outcome = chronel::FlashSequence::Outcome;
                communicationsError = outcome == Outcome::CommunicationsError;
                loop.finish(outcome == Outcome::VerifyOk ? ExitStatus::Done
                        : outcome == Outcome::Refused    ? ExitStatus::BadUsage
                                                         : ExitStatus::ModuleFailed);
            });
        const QMetaObject::Connection progress = QObject::connect(
            &status, &chronel::FlashStatus::progressChanged, &sequence, [&sequence, &console](int percent) {
                console.progress(sequence.mode() == chronel::FlashSequence::Mode::Verifying
                        ? QStringLiteral("Verifying")
                        : QStringLiteral("Programming"),
                    percent, 100);
            });

        const bool started = verifyOnly_ ? sequence.verify() : sequence.program();
        if (started && sequence.running() && context.intervalMs)
            session.channels().modFlash().AutoPoll(*context.intervalMs);
        const ExitStatus result = loop.run();
        session.stopPolling();
        QObject::disconnect(progress);
        console.endProgress();
        if (communicationsError)
            console.error(CommunicationFailureLine(session.moduleName(), lastError));
        return result;
    }

private:
    QString path_;
    bool verifyOnly_ = false;
    std::unique_ptr<chronel::FlashImage> image_;
    chronel::FlashStatus status_;
};

} // namespace

std::unique_ptr<Command> CreateFlashCommand() { return std::make_unique<FlashCommand>(); }

} // namespace chronelcli
