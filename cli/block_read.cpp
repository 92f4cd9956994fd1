#include "block_read.h"

#include "command_loop.h"
#include "core/transfer/transfer_sequence.h"
#include "failure_report.h"
#include "regaccess/request_properties.h"
#include "terminal.h"

namespace chronelcli {

BlockRead ReadBlock(chronel::Channel& channel, const QString& host, qint32 firstRegister, int size, int pollIntervalMs)
{
    BlockRead result;
    CommandLoop loop;
    int errors = 0;
    const QMetaObject::Connection done = QObject::connect(&channel, &chronel::Channel::OnReadDone, [&] {
        if (loop.finished())
            return;
        channel.AutoPoll(0);
        result.words.resize(size);
        for (int i = 0; i < size; ++i)
            result.words[i] = channel.WordVal(i);
        result.ok = true;
        loop.finish(ExitStatus::Done);
    });
    const QMetaObject::Connection failed =
        QObject::connect(&channel, &chronel::Channel::OnErrorEvent, [&](platform::ErrorCode code) {
            if (loop.finished())
                return;
            result.errorCode = code;
            channel.setHost(host);
            if (++errors > chronel::TransferErrorLimit) {
                channel.AutoPoll(0);
                loop.finish(ExitStatus::ModuleFailed);
            }
        });

    channel.prepare(host, firstRegister, regaccess::FunctionRead, regaccess::RegTypeHoldRegs, size);
    channel.AutoPoll(pollIntervalMs);
    loop.run();
    channel.AutoPoll(0);
    QObject::disconnect(done);
    QObject::disconnect(failed);
    return result;
}

QString ReadFailureText(const BlockRead& read, const QString& module)
{
    if (read.errorCode == platform::ErrorCode::NoError && InterruptRequested())
        return QStringLiteral("Interrupted");
    return CommunicationFailureLine(module, read.errorCode);
}

} // namespace chronelcli
