#include "platform/window_messages.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QObject>
#include <QThread>

#include <atomic>
#include <memory>
#include <set>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

namespace {

using platform::WindowHandle;

struct Received {
    unsigned message;
    std::uintptr_t wParam;
    std::intptr_t lParam;
    QThread* thread;
};

// Runs the main thread's event loop until `done` or a bounded time.
template <typename Pred> bool ProcessUntil(Pred done, int timeoutMs = 5000)
{
    QDeadlineTimer deadline(timeoutMs);
    while (!done()) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    return true;
}

void DrainEvents()
{
    for (int i = 0; i < 5; ++i)
        QCoreApplication::processEvents(QEventLoop::AllEvents);
}

TEST(WindowMessages, PostFromWorkerThreadsArrivesOnReceiverThreadInOrder)
{
    QObject receiver;
    std::vector<Received> got;
    const WindowHandle h = platform::registerWindow(&receiver, [&](unsigned m, std::uintptr_t w, std::intptr_t l) {
        got.push_back({m, w, l, QThread::currentThread()});
    });
    ASSERT_NE(h, 0u);
    ASSERT_TRUE(platform::isWindow(h));

    constexpr int kPerThread = 200;
    std::vector<std::thread> posters;
    for (int t = 0; t < 2; ++t) {
        posters.emplace_back([h, t] {
            for (int i = 0; i < kPerThread; ++i)
                EXPECT_TRUE(platform::postMessage(h, platform::DRIVER_DONE_MESSAGE, t, i - 3));
        });
    }
    for (auto& p : posters)
        p.join();
    ASSERT_TRUE(ProcessUntil([&] { return got.size() == 2 * kPerThread; }));

    // Each poster's messages keep their order; all run on the receiver's thread.
    std::intptr_t next[2] = {-3, -3};
    for (const Received& r : got) {
        EXPECT_EQ(r.message, 0x402u);
        EXPECT_EQ(r.thread, receiver.thread());
        ASSERT_LT(r.wParam, 2u);
        EXPECT_EQ(r.lParam, next[r.wParam]++);
    }
    platform::unregisterWindow(h);
}

TEST(WindowMessages, ReceiverOnWorkerThreadHandlesOnThatThread)
{
    QThread worker;
    worker.start();
    auto* receiver = new QObject;
    receiver->moveToThread(&worker);
    std::atomic<QThread*> handledOn{nullptr};
    std::atomic<std::intptr_t> status{0};
    const WindowHandle h = platform::registerWindow(receiver, [&](unsigned, std::uintptr_t, std::intptr_t l) {
        status = l;
        handledOn = QThread::currentThread();
    });
    ASSERT_TRUE(platform::postMessage(h, platform::DRIVER_DONE_MESSAGE, 0, -3));
    QDeadlineTimer deadline(5000);
    while (handledOn.load() == nullptr && !deadline.hasExpired())
        QThread::msleep(1);
    EXPECT_EQ(handledOn.load(), &worker);
    EXPECT_EQ(status.load(), -3);

    QObject::connect(&worker, &QThread::finished, receiver, &QObject::deleteLater);
    worker.quit();
    ASSERT_TRUE(worker.wait(5000));
    DrainEvents();
}

TEST(WindowMessages, DeadHandlesRefusePosts)
{
    EXPECT_FALSE(platform::isWindow(0));
    EXPECT_FALSE(platform::postMessage(0, platform::DRIVER_DONE_MESSAGE, 0, 0));
    EXPECT_EQ(platform::registerWindow(nullptr, {}), 0u);

    QObject receiver;
    const WindowHandle h = platform::registerWindow(&receiver, [](unsigned, std::uintptr_t, std::intptr_t) {});
    platform::unregisterWindow(h);
    EXPECT_FALSE(platform::isWindow(h));
    EXPECT_FALSE(platform::postMessage(h, platform::DRIVER_DONE_MESSAGE, 0, 0));
    platform::unregisterWindow(h); // twice is harmless

    WindowHandle h2 = 0;
    {
        QObject shortLived;
        h2 = platform::registerWindow(&shortLived, [](unsigned, std::uintptr_t, std::intptr_t) {});
        EXPECT_TRUE(platform::isWindow(h2));
    }
    EXPECT_FALSE(platform::isWindow(h2));
    EXPECT_FALSE(platform::postMessage(h2, platform::DRIVER_DONE_MESSAGE, 0, 0));
}

TEST(WindowMessages, HandlesAreNeverReused)
{
    std::set<WindowHandle> seen;
    for (int i = 0; i < 100; ++i) {
        QObject receiver;
        const WindowHandle h = platform::registerWindow(&receiver, {});
        ASSERT_NE(h, 0u);
        EXPECT_TRUE(seen.insert(h).second) << "handle " << h << " handed out twice";
        if (i % 2)
            platform::unregisterWindow(h);
    }
}

// A message queued before its handle dies must not reach anyone afterwards,
// whether the handle died by unregistration or with its receiver.
TEST(WindowMessages, QueuedMessageDiesWithItsHandle)
{
    int delivered = 0;
    QObject receiver;
    const WindowHandle h =
        platform::registerWindow(&receiver, [&](unsigned, std::uintptr_t, std::intptr_t) { ++delivered; });
    ASSERT_TRUE(platform::postMessage(h, platform::DRIVER_DONE_MESSAGE, 0, 0));
    platform::unregisterWindow(h);
    // Registering the same object again gives a new handle; the old message
    // still must not arrive through it.
    const WindowHandle again =
        platform::registerWindow(&receiver, [&](unsigned, std::uintptr_t, std::intptr_t) { delivered += 100; });
    EXPECT_NE(again, h);
    DrainEvents();
    EXPECT_EQ(delivered, 0);
    platform::unregisterWindow(again);

    auto shared = std::make_shared<int>(0);
    auto* doomed = new QObject;
    const WindowHandle h2 =
        platform::registerWindow(doomed, [shared](unsigned, std::uintptr_t, std::intptr_t) { ++*shared; });
    ASSERT_TRUE(platform::postMessage(h2, platform::DRIVER_DONE_MESSAGE, 0, 0));
    delete doomed;
    DrainEvents();
    EXPECT_EQ(*shared, 0);
}

TEST(WindowMessages, HandlerMayUnregisterItself)
{
    QObject receiver;
    int delivered = 0;
    WindowHandle h = 0;
    h = platform::registerWindow(&receiver, [&](unsigned, std::uintptr_t, std::intptr_t) {
        ++delivered;
        platform::unregisterWindow(h);
    });
    for (int i = 0; i < 3; ++i)
        ASSERT_TRUE(platform::postMessage(h, platform::DRIVER_DONE_MESSAGE, 0, i));
    DrainEvents();
    EXPECT_EQ(delivered, 1);
}

// Posters keep going while the receiver is destroyed on its own thread; no
// message may be handled after the destruction, and nothing may crash.
TEST(WindowMessages, DestroyWhilePostersRun)
{
    auto* receiver = new QObject;
    std::atomic<bool> destroyed{false};
    std::atomic<int> lateDeliveries{0};
    std::atomic<int> delivered{0};
    const WindowHandle h = platform::registerWindow(receiver, [&](unsigned, std::uintptr_t, std::intptr_t) {
        if (destroyed)
            ++lateDeliveries;
        ++delivered;
    });
    std::atomic<bool> stop{false};
    std::atomic<int> accepted{0};
    std::vector<std::thread> posters;
    for (int t = 0; t < 2; ++t) {
        posters.emplace_back([&] {
            for (int i = 0; i < 20000 && !stop; ++i) {
                if (platform::postMessage(h, platform::DRIVER_DONE_MESSAGE, 0, i))
                    ++accepted;
            }
        });
    }
    ProcessUntil([&] { return delivered.load() > 50; });
    delete receiver;
    destroyed = true;
    stop = true;
    for (auto& p : posters)
        p.join();
    DrainEvents();
    EXPECT_GT(delivered.load(), 0);
    EXPECT_EQ(lateDeliveries.load(), 0);
    EXPECT_FALSE(platform::postMessage(h, platform::DRIVER_DONE_MESSAGE, 0, 0));
    EXPECT_LE(delivered.load(), accepted.load());
}

} // namespace
