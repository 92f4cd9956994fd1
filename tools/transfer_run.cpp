#include "transfer_run.h"

#include "command_loop.h"
#include "console.h"
#include "core/transfer.h"
#include "module_session.h"

namespace chronelcli {

ExitStatus RunTransfer(ModuleSession& session, TransferKind kind, std::optional<int> intervalMs, Console& console)
{
    chronel::ChronelModel& model = session.model();
    chronel::Transfer transfer(model, console.sink());
    if (intervalMs)
        transfer.setPollInterval(*intervalMs);

    CommandLoop loop;
    chronel::TransferSequence& sequence = kind == TransferKind::Upload
                                              ? static_cast<chronel::TransferSequence&>(transfer.upload())
                                              : static_cast<chronel::TransferSequence&>(transfer.download());
    QObject::connect(&sequence, &chronel::TransferSequence::ended, &sequence, [&loop](chronel::TransferOutcome o) {
        loop.finish(o == chronel::TransferOutcome::Finished ? ExitStatus::Done : ExitStatus::ModuleFailed);
    });
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
    const ExitStatus status = loop.run();
    session.stopPolling();
    QObject::disconnect(progress);
    console.endProgress();
    return status;
}

} // namespace chronelcli
