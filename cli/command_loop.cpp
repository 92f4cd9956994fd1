#include "command_loop.h"

#include "terminal.h"

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QTimer>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <map>
#include <mutex>
#include <thread>

namespace chronelcli {

namespace {

constexpr std::chrono::milliseconds InterruptCheck{50};

// One thread watches the interrupt flag for every loop of the process and
// wakes each when it goes up: a timer of each module's own would wake a
// thousand threads twenty times a second to read one flag.
class InterruptWatch {
public:
    static InterruptWatch& instance()
    {
        static InterruptWatch watch;
        return watch;
    }

    // `wake` runs on the watch's thread, under its lock, once the flag goes
    // up; at once, on the caller's, when it is up already.
    void add(const void* key, std::function<void()> wake)
    {
        std::lock_guard lock(mutex_);
        if (InterruptRequested()) {
            wake();
            return;
        }
        listeners_[key] = std::move(wake);
        if (!thread_.joinable())
            thread_ = std::thread([this] { watch(); });
    }
    // After it returns, the key's `wake` neither runs nor will.
    void remove(const void* key)
    {
        std::lock_guard lock(mutex_);
        listeners_.erase(key);
    }

private:
    InterruptWatch() = default;
    ~InterruptWatch()
    {
        {
            std::lock_guard lock(mutex_);
            stopping_ = true;
        }
        stop_.notify_all();
        if (thread_.joinable())
            thread_.join();
    }

    void watch()
    {
        std::unique_lock lock(mutex_);
        while (!stopping_) {
            stop_.wait_for(lock, InterruptCheck);
            if (!InterruptRequested())
                continue;
            for (const auto& [key, wake] : listeners_)
                wake();
            listeners_.clear();
        }
    }

    std::mutex mutex_;
    std::condition_variable stop_;
    bool stopping_ = false;
    std::map<const void*, std::function<void()>> listeners_;
    std::thread thread_;
};

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
    // The flag is read on the loop's own thread (the loop gave it a
    // dispatcher) each time it is about to wait; the watch only wakes the
    // wait. Nothing is posted across threads: a thread's dispatcher may be
    // woken from any thread.
    QAbstractEventDispatcher* dispatcher = QAbstractEventDispatcher::instance();
    const QMetaObject::Connection check =
        QObject::connect(dispatcher, &QAbstractEventDispatcher::aboutToBlock, &loop_, [this, onInterrupt] {
            if (InterruptRequested())
                finish(onInterrupt);
        });
    InterruptWatch::instance().add(this, [dispatcher] { dispatcher->wakeUp(); });

    QTimer limit;
    limit.setSingleShot(true);
    QObject::connect(&limit, &QTimer::timeout, &loop_, [this, onTimeout] { finish(onTimeout); });
    if (timeLimitMs >= 0)
        limit.start(timeLimitMs);

    if (!finished_)
        loop_.exec();
    InterruptWatch::instance().remove(this);
    QObject::disconnect(check);
    limit.stop();
    // Messages a sequence hands over after its last event are queued behind
    // the quit; let them through before the caller reports the outcome.
    QCoreApplication::sendPostedEvents();
    QCoreApplication::processEvents();
    return status_;
}

} // namespace chronelcli
