#include "web/web_event_stream.h"

#include <utility>

namespace chronel {

void EventStream::push(QByteArray chunk)
{
    {
        std::lock_guard lock(mutex_);
        if (closed_)
            return;
        queued_ += chunk.size();
        if (queued_ > BacklogLimit) {
            // Dropping chunks would leave the page a table with holes; ending
            // the stream makes it reconnect and ask from the last id it has.
            closed_ = true;
            chunks_.clear();
            queued_ = 0;
        } else {
            chunks_.push_back(std::move(chunk));
        }
    }
    wake();
}

std::optional<QByteArray> EventStream::take()
{
    std::lock_guard lock(mutex_);
    if (chunks_.empty())
        return std::nullopt;
    QByteArray chunk = std::move(chunks_.front());
    chunks_.pop_front();
    queued_ -= chunk.size();
    return chunk;
}

void EventStream::setWake(std::function<void()> wake)
{
    std::lock_guard lock(mutex_);
    wake_ = std::move(wake);
}

void EventStream::close()
{
    {
        std::lock_guard lock(mutex_);
        if (closed_)
            return;
        closed_ = true;
    }
    wake();
}

bool EventStream::closed() const
{
    std::lock_guard lock(mutex_);
    return closed_;
}

void EventStream::wake()
{
    std::function<void()> wake;
    {
        std::lock_guard lock(mutex_);
        wake = wake_;
    }
    if (wake)
        wake();
}

} // namespace chronel
