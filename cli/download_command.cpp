// download FILE: File > Open, then the download sequence.
#include "command.h"
#include "console.h"
#include "core/transfer/settings_file.h"
#include "failure_report.h"
#include "module_session.h"
#include "transfer_run.h"

namespace chronelcli {

namespace {

class DownloadCommand : public Command {
public:
    void describe(CommandDeclaration& declared) override
    {
        declared.summary = QStringLiteral("Download a settings file into the module");
        declared.about = QStringLiteral("Opens the settings file as File > Open does (its messages on stderr) and\n"
                                        "runs the download sequence (start code, configuration block, Module ID, the\n"
                                        "18 point blocks). A file that gives any message is not downloaded (exit 2):\n"
                                        "a record that fails keeps a default, which is no configuration to send.\n"
                                        "The same FILE goes to every module of a batch. On failure: \"The download\n"
                                        "sequence failed\", exit 1.\n");
        declared.words.add({.name = QStringLiteral("FILE"),
            .completion = chronel::Completion::Files,
            .take = chronel::OptionTable::keep(path_)});
    }

    // The file is read once on a model without channels so that its messages
    // appear once, before any module is touched.
    ExitStatus check(const CommandContext& context) override
    {
        chronel::ChronelModel scratch;
        scratch.startUp();
        return open(scratch, context.console) ? ExitStatus::Done : ExitStatus::BadUsage;
    }

    ExitStatus runModule(ModuleSession& session, const CommandContext& context) override
    {
        if (!open(session.model(), context.console))
            return ExitStatus::BadUsage;
        const ExitStatus status = RunTransfer(session, TransferKind::Download, context.intervalMs, context.console);
        if (status == ExitStatus::Done)
            context.console.line(QStringLiteral("Downloaded %1").arg(path_));
        return status;
    }

private:
    // True when every record was read and none gave a message. A file that
    // stops is reported once, with where and why, instead of the window's
    // bare "File Open Error".
    bool open(chronel::ChronelModel& model, Console& console)
    {
        bool clean = true;
        QString failure;
        const bool whole = chronel::OpenSettingsFile(
            model, path_,
            [&](const chronel::UserMessage& m) {
                clean = false;
                if (m.text != chronel::FileOpenErrorText())
                    console.message(m);
            },
            &failure);
        if (!whole)
            console.error(FileFailureLine(failure, chronel::FileOpenErrorText()));
        return whole && clean;
    }

    QString path_;
};

} // namespace

std::unique_ptr<Command> CreateDownloadCommand() { return std::make_unique<DownloadCommand>(); }

} // namespace chronelcli
