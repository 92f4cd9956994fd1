// upload FILE: the upload sequence, then File > Save.
#include "batch_output.h"
#include "command.h"
#include "console.h"
#include "core/transfer/settings_file.h"
#include "failure_report.h"
#include "module_session.h"
#include "transfer_run.h"

#include <QDir>
#include <QFileInfo>

namespace chronelcli {

namespace {

class UploadCommand : public Command {
public:
    void describe(CommandDeclaration& declared) override
    {
        declared.summary = QStringLiteral("Upload the configuration into a settings file");
        declared.about = QStringLiteral("Runs the upload sequence (configuration block, Module ID, the 18 point\n"
                                        "blocks) and saves the result as a settings file in the window's format\n"
                                        "(51 comma-separated records). The progress bar shows on stderr when it is\n"
                                        "a terminal. With several modules each gets FILE with its address inserted\n"
                                        "before the extension. On failure: \"The upload sequence failed\", exit 1.\n");
        declared.words.add({.name = QStringLiteral("FILE"),
            .completion = chronel::Completion::Files,
            .take = chronel::OptionTable::keep(path_)});
    }

    // A file that cannot be written is found out before a ten-second upload,
    // not after it.
    ExitStatus check(const CommandContext& context) override
    {
        const QFileInfo info(path_);
        if (info.isDir() || !info.absoluteDir().exists()) {
            context.console.error(QStringLiteral("%1: cannot be written (no such directory)").arg(path_));
            return ExitStatus::BadUsage;
        }
        return ExitStatus::Done;
    }

    ExitStatus runModule(ModuleSession& session, const CommandContext& context) override
    {
        const ExitStatus status = RunTransfer(session, TransferKind::Upload, context.intervalMs, context.console);
        if (status != ExitStatus::Done)
            return status;
        const QString path = BatchFileName(path_, session.address(), context.moduleCount);
        QString failure;
        const bool saved = chronel::SaveSettingsFile(
            session.model(), path,
            [&](const chronel::UserMessage& m) {
                if (m.text != chronel::FileSaveErrorText())
                    context.console.message(m);
            },
            &failure);
        if (!saved) {
            context.console.error(FileFailureLine(failure, chronel::FileSaveErrorText()));
            return ExitStatus::BadUsage;
        }
        context.console.line(QStringLiteral("Saved %1").arg(path));
        return ExitStatus::Done;
    }

private:
    QString path_;
};

} // namespace

std::unique_ptr<Command> CreateUploadCommand() { return std::make_unique<UploadCommand>(); }

} // namespace chronelcli
