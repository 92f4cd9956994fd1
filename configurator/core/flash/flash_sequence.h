#pragma once
// Program and Verify of the module's flash, a step machine on the channel
// modFlash driven by its own automatic poll (every 10 ms): each completion
// prepares the next request and the next tick sends it.
//
//   Erasing   nine erase command blocks, sectors 0 … 8, to registers
//             32767 … 32771 (0x0000, 0x5555, 0xAAAA, 0xFFFF, sector)
//   Writing   128-byte blocks to 16385 + offset / 32 while the block's offset
//             is at most FlashEnd
//   verify    reads of the same blocks from offset 0, compared with the
//             image, until the block whose offset first reaches FlashEnd
//
// Progress goes to the Flash tab's bar and, as a bar pattern, to registers
// 32766 (programming) and 32767 (verify) through modConfigRead. Program
// stops the time setup and event scan polls and every end of it restarts
// them; Verify alone leaves them running.
//
// Runs on the window's thread; the channels' events arrive there.
#include "core/link/channel_set.h"
#include "core/model/module_map.h"
#include "flash_image.h"
#include "flash_status.h"

#include <QObject>
#include <QString>

#include <functional>

namespace chronel {

constexpr int FlashSectorCount = 9;

// Stops the two scan polls that would otherwise share the module with a
// flash activity, and restarts them at their after-transfer rates.
void StopScanPolls(ChannelSet& channels);
void RestartScanPolls(ChannelSet& channels);

class FlashSequence : public QObject {
    Q_OBJECT
public:
    enum class Mode { Idle, Programming, Verifying };
    // Where Program is; it stays at its last value once the sequence ends.
    enum class ProgramStep { NotStarted, Erasing, Writing };
    enum class Outcome { VerifyOk, VerifyError, CommunicationsError, Refused };
    Q_ENUM(Outcome)

    // `hostText` gives the module's address (GetIp) each time a sequence
    // starts.
    FlashSequence(const FlashImage& image, FlashStatus& status, ChannelSet& channels, std::function<QString()> hostText,
        QObject* parent = nullptr);

    // Erase, program, then verify. False (with a status line, nothing sent)
    // when the image has nothing to program.
    bool program();
    // The read-back alone; the scan polls keep running.
    bool verify();

    bool running() const { return mode_ != Mode::Idle; }
    Mode mode() const { return mode_; }
    ProgramStep programStep() const { return programStep_; }
    quint32 FlashOffset() const { return flashOffset_; }
    quint32 FlashEnd() const { return flashEnd_; }
    // modFlash requests completed (either way) since the last start.
    quint32 completedRequests() const { return completed_; }

signals:
    void runningChanged(bool running);
    void finished(chronel::FlashSequence::Outcome outcome);

private slots:
    void onWriteDone();
    void onReadDone();
    void onError(platform::ErrorCode code);

private:
    bool findEnd(const QString& refusal);
    void setMode(Mode mode);
    void end(Outcome outcome);
    void line(const QString& message) { status_.appendAndShowEnd(message); }
    void setEraseCommand(int sector);
    void setDataBlock(quint32 offset);
    // Bar and module pattern for the current offset; `word` 0 programming,
    // 1 verify.
    void progressUpdate(int word);
    void progressWrite(int word, quint16 pattern);
    void progressReset();

    const FlashImage& image_;
    FlashStatus& status_;
    ChannelSet& channels_;
    std::function<QString()> hostText_;

    Mode mode_ = Mode::Idle;
    ProgramStep programStep_ = ProgramStep::NotStarted;
    int eraseSector_ = 0; // whose erase command is under way while Erasing
    quint32 flashOffset_ = 0;
    quint32 flashEnd_ = 0;
    quint32 completed_ = 0;
    bool scanStopped_ = false; // this sequence began with Program
};

} // namespace chronel
