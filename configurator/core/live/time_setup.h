#pragma once
// modTimeSetup: reads the status block (24 words at 200) while it polls and
// carries the "Set SER Time" sequence on the same automatic poll. The
// sequence writes the 24 registers three times from the channel's buffer —
// first the last status read with the command word 2 cleared, then with the
// PC's date and time in words 4 … 9, then with word 2 = 0x8000, which makes
// the module load that time — and switches back to reading.
//
//   button                    Function := write, word 2 := 0     ClearCommand
//   write done, ClearCommand  words 4 … 9 := PC month … second   WriteTime
//   write done, WriteTime     word 2 := 0x8000                   LoadTime
//   write done, LoadTime      Function := read                   Reading
//
// The PC time is taken when the first write has completed. The channel's
// polls begin once a download or flash sequence has ended; a press before
// that starts them, unless a transfer owns the module (then the first write
// waits for the polls the transfer restarts). Errors refresh the host and
// nothing else: the poll repeats the failed request.
//
// Everything runs on the window's thread inside the channel's events.
#include "core/link/channel.h"
#include "status_block.h"

#include <QDateTime>
#include <QObject>
#include <array>
#include <functional>

namespace chronel {

using TimeSetupWords = std::array<qint16, StatusBlockTimeSetupWords>;

struct TimeSetupHooks {
    std::function<QString()> host;                          // GetIp
    std::function<void(const TimeSetupWords&)> statusBlock; // decode and show
    std::function<QDateTime()> now;                         // the PC clock; the system clock when empty
    std::function<bool()> moduleFree;                       // no transfer or flash owns the module
};

class TimeSetup : public QObject {
    Q_OBJECT
public:
    // The write under way, or Reading while the channel polls the status block.
    enum class Step { Reading, ClearCommand, WriteTime, LoadTime };

    TimeSetup(Channel& channel, TimeSetupHooks hooks, QObject* parent = nullptr);

    Step step() const { return step_; }
    // Button "Set SER Time".
    void setSerTime();

private:
    void onReadDone();
    void onWriteDone();
    void onError(platform::ErrorCode code);

    Channel& channel_;
    TimeSetupHooks hooks_;
    Step step_ = Step::Reading;
};

} // namespace chronel
