#include "upload_sequence.h"

#include "core/fields/module_address.h"
#include "core/model/register_map.h"
#include "regaccess/request_properties.h"

namespace chronel {

UploadSequence::UploadSequence(ChronelModel& model, MessageSink sink, QObject* parent)
    : TransferSequence(model, model.channels().modConfigRead(), QStringLiteral("The upload sequence failed"),
          std::move(sink), parent)
{
    connect(&channel_, &Channel::OnReadDone, this, &UploadSequence::onReadDone);
}

void UploadSequence::start()
{
    channels().modEventScan().AutoPoll(0);
    channels().modTimeSetup().AutoPoll(0);
    channels().modConfigWrite().AutoPoll(0);
    begin();
    model_.beginTransfer(QStringLiteral("Uploading"));
    channel_.prepare(
        model_.GetIp(), ConfigBlockRegister, regaccess::FunctionRead, regaccess::RegTypeHoldRegs, ConfigBlockReadWords);
    channel_.AutoPoll(pollInterval());
}

void UploadSequence::onReadDone()
{
    if (!running())
        return;
    const qint32 address = channel_.Address();
    if (address == ConfigBlockRegister) {
        ConfigBlock words{};
        for (int i = 0; i < ConfigBlockReadWords; ++i)
            words[std::size_t(i)] = channel_.WordVal(i);
        model_.applyConfigBlock(words);
        // Until the last block the window holds a mix no file or module has.
        model_.noteEdited();
        model_.setTransferProgress(ModuleIdRegister);
        channel_.setAddress(ModuleIdRegister);
        channel_.setSize(1);
    } else if (address == ModuleIdRegister) {
        model_.applyModuleId(channel_.WordVal(0));
        const int next = PointBlockRegister(0);
        model_.setTransferProgress(next);
        channel_.setAddress(next);
        channel_.setSize(PointBlockWords);
    } else if (PointBlockIndex(address) >= 0) {
        PointBlock words{};
        for (int i = 0; i < PointBlockWords; ++i)
            words[std::size_t(i)] = channel_.WordVal(i);
        PointBlockToTable(address, words, model_.points());
        model_.loadPointPage();
        if (address == LastPointBlockRegister) {
            finish();
            return;
        }
        const int next = address + PointBlockWords;
        model_.setTransferProgress(next);
        channel_.setAddress(next);
    } else {
        fail();
    }
}

void UploadSequence::finish()
{
    channel_.setHost(StopHost());
    channel_.AutoPoll(0);
    channels().modEventScan().AutoPoll(EventScanPollInterval);
    model_.endTransfer();
    model_.setSettingsFromModule();
    end(TransferOutcome::Finished);
}

void UploadSequence::fail()
{
    channel_.AutoPoll(0);
    model_.endTransfer();
    channel_.setHost(StopHost());
    channels().modEventScan().AutoPoll(EventScanPollInterval);
    end(TransferOutcome::Failed);
    reportFailure();
}

} // namespace chronel
