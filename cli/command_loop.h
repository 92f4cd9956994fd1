#pragma once
// Waiting for a command's sequence: the channels' events and poll timers run
// in a Qt event loop until the command calls finish(), the user interrupts
// (Ctrl-C, SIGTERM) or an optional time limit passes.
#include "exit_status.h"

#include <QEventLoop>

namespace chronelcli {

class CommandLoop {
public:
    // Ends run() with `status`. The loop quits once the current event handler
    // has returned; a second call changes nothing.
    void finish(ExitStatus status);
    bool finished() const { return finished_; }

    // Runs until finish(); an interrupt ends the run with `onInterrupt`, the
    // time limit (none when negative) with `onTimeout`. Work that the
    // sequences queued before the end (their messages) is done before it
    // returns.
    ExitStatus run(ExitStatus onInterrupt = ExitStatus::ModuleFailed, int timeLimitMs = -1,
        ExitStatus onTimeout = ExitStatus::ModuleFailed);

private:
    QEventLoop loop_;
    bool finished_ = false;
    ExitStatus status_ = ExitStatus::Done;
};

} // namespace chronelcli
