#include "platform/window_messages.h"

#include <QMetaObject>
#include <QObject>
#include <QPointer>

#include <limits>
#include <mutex>
#include <unordered_map>
#include <utility>

namespace platform {

namespace {

struct Entry {
    QObject* receiver = nullptr;
    // Backstop for a receiver destroyed with its signals blocked, which
    // never reports destroyed().
    QPointer<QObject> guard;
    MessageHandler handler;
    QMetaObject::Connection destroyedConnection;
};

// One registry per process; this library is shared so PLCTAG, PLCDRV and the
// programs all see the same one.
struct Registry {
    std::mutex mutex;
    std::unordered_map<WindowHandle, Entry> entries;
    // Handles are never handed out twice, so a stale handle kept in a packet
    // can never reach a newer receiver that happens to reuse the number.
    WindowHandle lastHandle = 0;
    bool exhausted = false;
};

Registry& TheRegistry()
{
    static Registry instance;
    return instance;
}

// Called with the registry unlocked. The receiver's destroyed() signal runs
// this on the destroying thread before Qt removes the receiver's pending
// events, so a post that raced with the destruction is either refused here
// or its event is discarded together with the receiver.
void Forget(WindowHandle handle)
{
    Registry& reg = TheRegistry();
    QMetaObject::Connection connection;
    {
        std::lock_guard lock(reg.mutex);
        auto it = reg.entries.find(handle);
        if (it == reg.entries.end())
            return;
        connection = it->second.destroyedConnection;
        reg.entries.erase(it);
    }
    QObject::disconnect(connection);
}

void Deliver(WindowHandle handle, unsigned message, std::uintptr_t wParam, std::intptr_t lParam)
{
    MessageHandler handler;
    {
        Registry& reg = TheRegistry();
        std::lock_guard lock(reg.mutex);
        auto it = reg.entries.find(handle);
        // Unregistered after the post: the message dies with the handle.
        if (it == reg.entries.end())
            return;
        handler = it->second.handler;
    }
    // Outside the lock: the handler may register, unregister or post.
    if (handler)
        handler(message, wParam, lParam);
}

} // namespace

WindowHandle registerWindow(QObject* receiver, MessageHandler handler)
{
    if (receiver == nullptr)
        return 0;
    Registry& reg = TheRegistry();
    WindowHandle handle = 0;
    {
        std::lock_guard lock(reg.mutex);
        if (reg.exhausted)
            return 0;
        handle = ++reg.lastHandle;
        if (reg.lastHandle == std::numeric_limits<WindowHandle>::max())
            reg.exhausted = true;
        reg.entries.emplace(handle, Entry{receiver, QPointer<QObject>(receiver), std::move(handler), {}});
    }
    // Connected after the insert and outside the lock; a receiver cannot be
    // destroyed meanwhile because registration runs on its own thread.
    QMetaObject::Connection connection = QObject::connect(receiver, &QObject::destroyed, [handle] { Forget(handle); });
    {
        std::lock_guard lock(reg.mutex);
        auto it = reg.entries.find(handle);
        if (it != reg.entries.end()) {
            it->second.destroyedConnection = connection;
            return handle;
        }
    }
    QObject::disconnect(connection);
    return handle;
}

void unregisterWindow(WindowHandle handle) { Forget(handle); }

bool isWindow(WindowHandle handle)
{
    Registry& reg = TheRegistry();
    std::lock_guard lock(reg.mutex);
    auto it = reg.entries.find(handle);
    return it != reg.entries.end() && !it->second.guard.isNull();
}

bool postMessage(WindowHandle handle, unsigned message, std::uintptr_t wParam, std::intptr_t lParam)
{
    Registry& reg = TheRegistry();
    std::lock_guard lock(reg.mutex);
    auto it = reg.entries.find(handle);
    if (it == reg.entries.end())
        return false;
    if (it->second.guard.isNull()) {
        reg.entries.erase(it);
        return false;
    }
    // Posted under the lock so the receiver cannot finish its destruction in
    // between; the queued call is dropped by Qt if the receiver dies first,
    // and deliver() drops it if only the handle died.
    return QMetaObject::invokeMethod(
        it->second.receiver, [handle, message, wParam, lParam] { Deliver(handle, message, wParam, lParam); },
        Qt::QueuedConnection);
}

} // namespace platform
