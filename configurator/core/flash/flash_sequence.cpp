#include "flash_sequence.h"

#include "core/fields/module_address.h"
#include "core/fields/number_rule.h"
#include "flash_progress.h"
#include "regaccess/request_properties.h"

namespace chronel {

namespace {

// The unlock words of the erase command; the sector number follows them.
constexpr quint16 EraseUnlock[] = {0x0000, 0x5555, 0xAAAA, 0xFFFF};

QString EraseLine(int sector) { return QStringLiteral("Erasing Flash Sector ") + NumberText(sector); }

} // namespace

void StopScanPolls(ChannelSet& channels)
{
    channels.modTimeSetup().AutoPoll(0);
    channels.modEventScan().AutoPoll(0);
}

void RestartScanPolls(ChannelSet& channels)
{
    channels.modTimeSetup().AutoPoll(TimeSetupPollInterval);
    channels.modEventScan().AutoPoll(EventScanPollInterval);
}

FlashSequence::FlashSequence(const FlashImage& image, FlashStatus& status, ChannelSet& channels,
    std::function<QString()> hostText, QObject* parent)
    : QObject(parent), image_(image), status_(status), channels_(channels), hostText_(std::move(hostText))
{
    Channel& flash = channels_.modFlash();
    connect(&flash, &Channel::OnWriteDone, this, &FlashSequence::onWriteDone);
    connect(&flash, &Channel::OnReadDone, this, &FlashSequence::onReadDone);
    connect(&flash, &Channel::OnErrorEvent, this, &FlashSequence::onError);
}

bool FlashSequence::findEnd(const QString& refusal)
{
    // Without a byte to program, or with only position 0, there is no block
    // range and no progress to divide by; refuse before anything is sent.
    const auto end = FindFlashEnd(image_);
    if (!end || *end == 0) {
        line(refusal);
        emit finished(Outcome::Refused);
        return false;
    }
    flashEnd_ = *end;
    return true;
}

bool FlashSequence::program()
{
    if (!findEnd(QStringLiteral("No flash data to program")))
        return false;
    StopScanPolls(channels_);
    scanStopped_ = true;
    line(EraseLine(0));
    programStep_ = ProgramStep::Erasing;
    eraseSector_ = 0;
    completed_ = 0;

    const QString host = hostText_ ? hostText_() : QString();
    // Both channels get the module's address like every prepared channel;
    // a host left from an earlier activity could be another device or the
    // stop host of a finished upload.
    channels_.modConfigRead().setHost(host);
    Channel& flash = channels_.modFlash();
    setEraseCommand(eraseSector_);
    flash.prepare(host, FlashEraseRegister, regaccess::FunctionWrite, regaccess::RegTypeHoldRegs, FlashEraseWords);
    setMode(Mode::Programming);
    if (!flash.AutoPoll(FlashPollInterval) && running())
        onError(platform::ErrorCode::RequestRefused); // the poll was refused: nothing went out
    return true;
}

bool FlashSequence::verify()
{
    if (!findEnd(QStringLiteral("No flash data to verify")))
        return false;
    line(QStringLiteral("Verifying Flash Memory "));
    flashOffset_ = 0;
    completed_ = 0;
    scanStopped_ = false;

    const QString host = hostText_ ? hostText_() : QString();
    // The progress registers are reset before the poll starts: over TCP the
    // first read completes inside AutoPoll and its handler already writes a
    // verify pattern, which must go to the module, not to a stale host.
    Channel& progress = channels_.modConfigRead();
    progress.setHost(host);
    progressReset();

    Channel& flash = channels_.modFlash();
    flash.prepare(host, FlashDataRegister, regaccess::FunctionRead, regaccess::RegTypeHoldRegs, FlashBlockWords);
    setMode(Mode::Verifying);
    if (!flash.AutoPoll(FlashPollInterval) && running())
        onError(platform::ErrorCode::RequestRefused); // the poll was refused: nothing went out
    return true;
}

void FlashSequence::onWriteDone()
{
    if (mode_ != Mode::Programming)
        return;
    ++completed_;
    Channel& flash = channels_.modFlash();
    if (programStep_ == ProgramStep::Erasing && eraseSector_ + 1 < FlashSectorCount) {
        ++eraseSector_;
        line(EraseLine(eraseSector_));
        setEraseCommand(eraseSector_);
        progressReset();
    } else if (programStep_ == ProgramStep::Erasing) {
        line(QStringLiteral("Flash Erase Complete"));
        line(QStringLiteral("Downloading Flash Data"));
        flashOffset_ = 0;
        flash.setAddress(FlashDataRegister);
        flash.setSize(FlashBlockWords);
        setDataBlock(flashOffset_);
        flashOffset_ += FlashBlockBytes;
        programStep_ = ProgramStep::Writing;
        progressUpdate(0);
    } else if (programStep_ == ProgramStep::Writing) {
        if (flashOffset_ > flashEnd_) {
            line(QStringLiteral("Flash Memory Programming Complete"));
            status_.setProgress(0);
            line(QStringLiteral("Verifying Flash Memory "));
            flashOffset_ = 0;
            flash.setAddress(FlashDataRegister);
            flash.setFunction(regaccess::FunctionRead);
            flash.setRegType(regaccess::RegTypeHoldRegs);
            flash.setSize(FlashBlockWords);
            flash.setRoutePath(ModuleRoutePath());
            setMode(Mode::Verifying);
        } else {
            flash.setAddress(FlashBlockRegister(flashOffset_));
            flash.setSize(FlashBlockWords);
            setDataBlock(flashOffset_);
            flashOffset_ += FlashBlockBytes;
            progressUpdate(0);
        }
    }
}

void FlashSequence::onReadDone()
{
    if (mode_ != Mode::Verifying)
        return;
    ++completed_;
    Channel& flash = channels_.modFlash();
    bool differs = false;
    for (int k = 0; k < FlashBlockWords; ++k) {
        const quint16 word = quint16(flash.WordVal(k));
        const quint8 read[2] = {quint8(word & 0xFF), quint8(word >> 8)};
        for (int half = 0; half < 2; ++half) {
            if (read[half] != image_.at(flashOffset_ + quint32(2 * k + half))) {
                line(QStringLiteral("Flash Verify Error "));
                differs = true;
            }
        }
    }
    if (differs) {
        // Every differing byte of the block has its line; the sequence ends
        // here, also when this was the last block, so that a difference is
        // never followed by "Verify OK". A Program stopped the scan polls:
        // left stopped, events would pile up in the module unseen.
        flash.AutoPoll(0);
        if (scanStopped_) {
            RestartScanPolls(channels_);
            line(QStringLiteral("Event scan resumed"));
        }
        end(Outcome::VerifyError);
        return;
    }
    if (flashOffset_ < flashEnd_) {
        flashOffset_ += FlashBlockBytes;
        flash.setAddress(FlashBlockRegister(flashOffset_));
        progressUpdate(1);
        return;
    }
    flash.AutoPoll(0);
    line(QStringLiteral("Flash Memory Verify OK "));
    progressReset();
    RestartScanPolls(channels_);
    end(Outcome::VerifyOk);
}

void FlashSequence::onError(platform::ErrorCode)
{
    if (!running())
        return;
    ++completed_;
    channels_.modFlash().AutoPoll(0);
    line(QStringLiteral("Flash Memory Communications Error "));
    RestartScanPolls(channels_);
    end(Outcome::CommunicationsError);
}

void FlashSequence::setMode(Mode mode)
{
    const bool wasRunning = running();
    mode_ = mode;
    if (wasRunning != running())
        emit runningChanged(running());
}

void FlashSequence::end(Outcome outcome)
{
    setMode(Mode::Idle);
    emit finished(outcome);
}

void FlashSequence::setEraseCommand(int sector)
{
    Channel& flash = channels_.modFlash();
    for (int k = 0; k < 4; ++k)
        flash.setWordVal(k, qint16(EraseUnlock[k]));
    flash.setWordVal(4, qint16(sector));
}

void FlashSequence::setDataBlock(quint32 offset)
{
    Channel& flash = channels_.modFlash();
    for (int k = 0; k < FlashBlockWords; ++k)
        flash.setWordVal(k, qint16(image_.blockWord(offset, k)));
}

void FlashSequence::progressUpdate(int word)
{
    const int percent = FlashProgressPercent(flashOffset_, flashEnd_);
    status_.setProgress(percent);
    progressWrite(word, ProgressBarPattern(percent));
}

void FlashSequence::progressWrite(int word, quint16 pattern)
{
    Channel& progress = channels_.modConfigRead();
    progress.setAddress(FlashProgressRegister);
    progress.setFunction(regaccess::FunctionWrite);
    progress.setRegType(regaccess::RegTypeHoldRegs);
    progress.setSize(FlashProgressWords);
    progress.setRoutePath(ModuleRoutePath());
    progress.setWordVal(word, qint16(pattern));
    progress.Trigger();
}

void FlashSequence::progressReset()
{
    status_.setProgress(0);
    channels_.modConfigRead().setWordVal(1, 0);
    progressWrite(0, 0);
}

} // namespace chronel
