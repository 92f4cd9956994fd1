#include "command_loop.h"

#include "terminal.h"

#include <QCoreApplication>
#include <QTimer>

namespace chronelcli {

namespace {

constexpr int InterruptCheckMs = 50;

} // namespace

void CommandLoop::finish(ExitStatus status)
{
    if (finished_)
        return;
    finished_ = true;
    status_ = status;
    QMetaObject::invokeMethod(
        &loop_, [this] { loop_.quit(); }, Qt::QueuedConnection);
}

ExitStatus CommandLoop::run(ExitStatus onInterrupt, int timeLimitMs, ExitStatus onTimeout)
{
    QTimer interruptCheck;
    QObject::connect(&interruptCheck, &QTimer::timeout, &loop_, [this, onInterrupt] {
        if (InterruptRequested())
            finish(onInterrupt);
    });
    interruptCheck.start(InterruptCheckMs);

    QTimer limit;
    limit.setSingleShot(true);
    QObject::connect(&limit, &QTimer::timeout, &loop_, [this, onTimeout] { finish(onTimeout); });
    if (timeLimitMs >= 0)
        limit.start(timeLimitMs);

    if (!finished_)
        loop_.exec();
    interruptCheck.stop();
    limit.stop();
    // Messages a sequence hands over after its last event are queued behind
    // the quit; let them through before the caller reports the outcome.
    QCoreApplication::sendPostedEvents();
    QCoreApplication::processEvents();
    return status_;
}

} // namespace chronelcli
