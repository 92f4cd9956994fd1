#pragma once
// The chunks of one text/event-stream answer on their way from the thread
// that makes them (the live feed) to the server's io thread that writes them.
//
// Thread safety: every member may be called from any thread. The wake
// function is called without the stream's lock held, after each push and on
// close, so it may call back into the stream.
#include <QByteArray>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>

namespace chronel {

class EventStream {
public:
    // A client that takes this much more than it reads is left behind: the
    // stream closes, its backlog dropped, rather than grow without bound.
    static constexpr qsizetype BacklogLimit = 4 * 1024 * 1024;

    // Queues a chunk; ignored once closed.
    void push(QByteArray chunk);
    // The oldest chunk not yet taken, without waiting.
    std::optional<QByteArray> take();
    // Called (on the pushing thread) when there is something to take or the
    // stream closed.
    void setWake(std::function<void()> wake);
    // Either side ends the stream: the server when the client left, the feed
    // when it stops. The chunks already queued may still be taken.
    void close();
    bool closed() const;

private:
    void wake();

    mutable std::mutex mutex_;
    std::deque<QByteArray> chunks_;
    qsizetype queued_ = 0;
    bool closed_ = false;
    std::function<void()> wake_;
};

} // namespace chronel
