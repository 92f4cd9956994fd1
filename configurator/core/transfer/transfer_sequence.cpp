#include "transfer_sequence.h"

#include "core/fields/module_address.h"
#include "platform/error_code.h"

#include <QMetaObject>

namespace chronel {

TransferSequence::TransferSequence(
    ChronelModel& model, Channel& channel, QString failureText, MessageSink sink, QObject* parent)
    : QObject(parent),
      model_(model),
      channel_(channel),
      failureText_(std::move(failureText)),
      sink_(OrMessageBox(std::move(sink)))
{
    connect(&channel_, &Channel::OnErrorEvent, this, &TransferSequence::onError);
}

void TransferSequence::yield()
{
    if (running())
        end(TransferOutcome::TakenOver);
}

void TransferSequence::begin()
{
    errorCount_ = 0;
    outcome_ = TransferOutcome::Running;
}

void TransferSequence::end(TransferOutcome outcome)
{
    outcome_ = outcome;
    emit ended(outcome);
}

void TransferSequence::reportFailure()
{
    const UserMessage message{TransferMessageTitle(), failureText_, platform::MessageIcon::Critical};
    QMetaObject::invokeMethod(
        this, [this, message] { sink_(message); }, Qt::QueuedConnection);
}

void TransferSequence::onError(platform::ErrorCode code)
{
    // A stopped or taken-over sequence no longer owns its channel; a late
    // completion must not restart the scans under the sequence now running.
    if (!running())
        return;
    // 10022 is what the stop host produces. The same code for an address
    // typed in the IP fields that cannot be resolved is a failure the user
    // has to hear about, so it counts like any other error.
    if (code == platform::ErrorCode::UnresolvedHost && channel_.Host() == StopHost()) {
        channel_.AutoPoll(0);
        channels().modEventScan().AutoPoll(EventScanPollInterval);
        end(TransferOutcome::Stopped);
        return;
    }
    channel_.setHost(model_.GetIp());
    ++errorCount_;
    if (errorCount_ <= errorLimit_)
        return; // the next poll repeats the request
    channel_.AutoPoll(0);
    channels().modEventScan().AutoPoll(EventScanPollInterval);
    channel_.setHost(StopHost());
    model_.endTransfer();
    end(TransferOutcome::Failed);
    reportFailure();
}

} // namespace chronel
