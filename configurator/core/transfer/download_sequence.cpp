#include "download_sequence.h"

#include "core/fields/module_address.h"
#include "core/model/register_map.h"
#include "regaccess/request_properties.h"

#include <array>

namespace chronel {

DownloadSequence::DownloadSequence(ChronelModel& model, MessageSink sink, QObject* parent)
    : TransferSequence(model, model.channels().modConfigWrite(), QStringLiteral("The download sequence failed"),
          std::move(sink), parent)
{
    connect(&channel_, &Channel::OnWriteDone, this, &DownloadSequence::onWriteDone);
}

void DownloadSequence::start()
{
    channels().modEventScan().AutoPoll(0);
    channels().modTimeSetup().AutoPoll(0);
    channels().modConfigRead().AutoPoll(0);
    begin();
    model_.beginTransfer(QStringLiteral("Downloading"));
    model_.storePointPage();
    channel_.setWordVal(0, DownloadStartCode);
    channel_.prepare(model_.GetIp(), DownloadStartRegister, regaccess::FunctionWrite, regaccess::RegTypeHoldRegs, 1);
    channel_.AutoPoll(pollInterval());
}

void DownloadSequence::onWriteDone()
{
    if (!running())
        return;
    const qint32 address = channel_.Address();
    if (address == DownloadStartRegister) {
        fillConfigBlock();
        channel_.prepare(model_.GetIp(), ConfigBlockRegister, regaccess::FunctionWrite, regaccess::RegTypeHoldRegs,
            ConfigBlockWriteWords);
    } else if (address == ConfigBlockRegister) {
        channel_.setWordVal(0, model_.moduleIdWord());
        model_.setTransferProgress(ModuleIdRegister);
        channel_.setAddress(ModuleIdRegister);
        channel_.setSize(1);
    } else if (address == ModuleIdRegister) {
        const int next = PointBlockRegister(0);
        fillPointBlock(next);
        model_.setTransferProgress(next);
        channel_.setAddress(next);
        channel_.setSize(PointBlockWords);
    } else if (address == LastPointBlockRegister) {
        finish();
    } else if (PointBlockIndex(address) >= 0) {
        const int next = address + PointBlockWords;
        fillPointBlock(next);
        model_.setTransferProgress(next);
        channel_.setAddress(next);
        channel_.setSize(PointBlockWords);
    } else {
        fail();
    }
}

void DownloadSequence::fillConfigBlock()
{
    std::array<qint16, ConfigBlockWriteWords> words{};
    for (int i = 0; i < ConfigBlockWriteWords; ++i)
        words[std::size_t(i)] = channel_.WordVal(i);
    model_.fillConfigBlock(words);
    for (int i = 0; i < ConfigBlockWriteWords; ++i) {
        if (DownloadSetsWord(i))
            channel_.setWordVal(i, words[std::size_t(i)]);
    }
}

void DownloadSequence::fillPointBlock(int firstRegister)
{
    PointBlock words{};
    TableToPointBlock(firstRegister, model_.points(), words);
    for (int i = 0; i < PointBlockWords; ++i)
        channel_.setWordVal(i, words[std::size_t(i)]);
}

void DownloadSequence::finish()
{
    model_.endTransfer();
    channel_.AutoPoll(0);
    channel_.setHost(StopHost());
    channels().modEventScan().AutoPoll(EventScanPollInterval);
    channels().modTimeSetup().AutoPoll(TimeSetupPollInterval);
    end(TransferOutcome::Finished);
}

void DownloadSequence::fail()
{
    model_.endTransfer();
    channel_.AutoPoll(0);
    channel_.setHost(StopHost());
    channels().modEventScan().AutoPoll(EventScanPollInterval);
    channels().modTimeSetup().AutoPoll(TimeSetupPollInterval);
    end(TransferOutcome::Failed);
    reportFailure();
}

} // namespace chronel
