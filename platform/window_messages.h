#pragma once
// Window handles and posted messages. A receiver registers itself and gets a
// 32-bit handle that fits the driver's request packet; any thread may post a
// message to a handle, and the message is handled on the receiver's own
// thread by its Qt event loop. A handle whose receiver is gone is dead:
// isWindow() answers false and posts to it are dropped.
//
// Thread safety: postMessage() and isWindow() may be called from any thread.
// registerWindow() and unregisterWindow() are called on the receiver's thread.
#include <cstdint>
#include <functional>

class QObject;

namespace platform {

using WindowHandle = std::uint32_t;

constexpr unsigned WM_USER = 0x400;
constexpr unsigned DRIVER_DONE_MESSAGE = WM_USER + 2;

using MessageHandler = std::function<void(unsigned message, std::uintptr_t wParam, std::intptr_t lParam)>;

// Registers `receiver` (must live on a thread with an event loop) and returns
// a new nonzero handle; 0 for a null receiver. A handle is never handed out
// twice in a process, so a stale handle cannot reach a later receiver. The
// handle dies when unregisterWindow() is called or when `receiver` is
// destroyed, whichever comes first. `handler` runs on the receiver's thread
// and may itself register, unregister and post.
WindowHandle registerWindow(QObject* receiver, MessageHandler handler);
void unregisterWindow(WindowHandle handle);
bool isWindow(WindowHandle handle);
// Queues the message for the receiver's thread; false when the handle is dead.
// A message still queued when the handle dies is discarded.
bool postMessage(WindowHandle handle, unsigned message, std::uintptr_t wParam, std::intptr_t lParam);

} // namespace platform
