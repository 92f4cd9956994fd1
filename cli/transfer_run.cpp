#include "transfer_run.h"

#include "command_loop.h"
#include "console.h"
#include "core/transfer/transfer.h"
#include "failure_report.h"
#include "module_session.h"

namespace chronelcli {

ExitStatus RunTransfer(ModuleSession& session, TransferKind kind, std::optional<int> intervalMs, Console& console,
    std::optional<int> errorLimit, int timeLimitMs)
{
    chronel::ChronelModel& model = session.model();
    // The sequence's failure box says only that it failed; the failure that
    // ended it goes before it, in words.
    platform::ErrorCode lastError = platform::ErrorCode::NoError;
    bool failed = false;
    chronel::Transfer transfer(model, [&](const chronel::UserMessage& m) {
        if (failed && lastError != platform::ErrorCode::NoError) {
            console.error(CommunicationFailureLine(session.moduleName(), lastError));
            failed = false;
        }
        console.message(m);
    });
    if (intervalMs)
        transfer.setPollInterval(*intervalMs);

    CommandLoop loop;
    chronel::TransferSequence& sequence = kind == TransferKind::Upload
        ? static_cast<chronel::TransferSequence&>(transfer.upload())
        : static_cast<chronel::TransferSequence&>(transfer.download());
    if (errorLimit)
        sequence.setErrorLimit(*errorLimit);
    QObject::connect(&sequence, &chronel::TransferSequence::ended, &sequence, [&](chronel::TransferOutcome o) {
        failed = o == chronel::TransferOutcome::Failed;
        loop.finish(o == chronel::TransferOutcome::Finished ? ExitStatus::Done : ExitStatus::ModuleFailed);
    });
    QObject::connect(&sequence.channel(), &chronel::Channel::OnErrorEvent, &sequence,
        [&lastError](platform::ErrorCode code) { lastError = code; });
    const QMetaObject::Connection progress =
        QObject::connect(&model, &chronel::ChronelModel::transferChanged, &model, [&model, &console] {
            const chronel::TransferDisplay& t = model.transfer();
            if (t.visible)
                console.progress(t.label, t.value, t.maximum);
            else
                console.endProgress();
        });

    if (kind == TransferKind::Upload)
        transfer.startUpload();
    else
        transfer.startDownload();
    const ExitStatus status = loop.run(ExitStatus::ModuleFailed, timeLimitMs, ExitStatus::ModuleFailed);
    session.stopPolling();
    QObject::disconnect(progress);
    console.endProgress();
    return status;
}

} // namespace chronelcli
