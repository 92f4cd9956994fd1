#include "web/sessions.h"

#include "web/password_hash.h"

#include <sodium.h>

#include <utility>

namespace chronel {

std::optional<QString> RandomToken()
{
    if (!PasswordHashReady())
        return std::nullopt;
    QByteArray bytes(32, Qt::Uninitialized);
    randombytes_buf(bytes.data(), std::size_t(bytes.size()));
    return QString::fromLatin1(bytes.toHex());
}

Sessions::Sessions(Clock clock) : clock_(std::move(clock)) { }

std::optional<Sessions::Record> Sessions::create(const QString& name, WebRole role, const QString& accountChanged)
{
    const std::optional<QString> id = RandomToken();
    const std::optional<QString> csrf = RandomToken();
    if (!id || !csrf)
        return std::nullopt;
    const auto now = clock_();
    Entry entry{Record{WebSession{*id, name, role, *csrf}, accountChanged}, now, now};
    std::lock_guard lock(mutex_);
    makeRoom(now);
    entries_.insert(*id, entry);
    return entry.record;
}

std::optional<Sessions::Record> Sessions::find(const QString& id)
{
    const auto now = clock_();
    std::lock_guard lock(mutex_);
    const auto it = entries_.find(id);
    if (it == entries_.end())
        return std::nullopt;
    if (expired(*it, now)) {
        entries_.erase(it);
        return std::nullopt;
    }
    it->used = now;
    return it->record;
}

void Sessions::remove(const QString& id)
{
    std::lock_guard lock(mutex_);
    entries_.remove(id);
}

int Sessions::count() const
{
    std::lock_guard lock(mutex_);
    return int(entries_.size());
}

bool Sessions::expired(const Entry& entry, std::chrono::steady_clock::time_point now) const
{
    return now - entry.used >= IdleLimit || now - entry.created >= AbsoluteLimit;
}

void Sessions::makeRoom(std::chrono::steady_clock::time_point now)
{
    if (entries_.size() < Capacity)
        return;
    entries_.removeIf([&](const auto& it) { return expired(it.value(), now); });
    if (entries_.size() < Capacity)
        return;
    auto oldest = entries_.begin();
    for (auto it = entries_.begin(); it != entries_.end(); ++it) {
        if (it->used < oldest->used)
            oldest = it;
    }
    entries_.erase(oldest);
}

} // namespace chronel
