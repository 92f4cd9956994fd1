#pragma once
// Logged-in browsers, in memory: a restart logs everyone out. A session
// ends 30 minutes after its last request or 12 hours after its login,
// whichever comes first, and when it logs out.
//
// Thread safety: every member may be called from any thread.
#include "web/web_request.h"

#include <QHash>
#include <QString>
#include <chrono>
#include <functional>
#include <mutex>
#include <optional>

namespace chronel {

class Sessions {
public:
    using Clock = std::function<std::chrono::steady_clock::time_point()>;
    static constexpr std::chrono::minutes IdleLimit{30};
    static constexpr std::chrono::hours AbsoluteLimit{12};
    // Beyond this many, a login ends the session used longest ago.
    static constexpr int Capacity = 10000;

    struct Record {
        WebSession session;
        // The account's "changed" time at login: a session of an account
        // whose password or role changed since is over.
        QString accountChanged;
    };

    explicit Sessions(Clock clock = std::chrono::steady_clock::now);

    // A new session with a fresh 256-bit id and CSRF token; nothing when the
    // system's random source fails.
    std::optional<Record> create(const QString& name, WebRole role, const QString& accountChanged);
    // The live session of `id`, its idle time starting over; nothing for an
    // unknown or expired id (an expired one is removed).
    std::optional<Record> find(const QString& id);
    void remove(const QString& id);
    int count() const;

private:
    struct Entry {
        Record record;
        std::chrono::steady_clock::time_point created;
        std::chrono::steady_clock::time_point used;
    };
    bool expired(const Entry& entry, std::chrono::steady_clock::time_point now) const;
    void makeRoom(std::chrono::steady_clock::time_point now);

    Clock clock_;
    mutable std::mutex mutex_;
    QHash<QString, Entry> entries_;
};

// 32 random bytes from the system's source as 64 hex digits; nothing when
// libsodium cannot start.
std::optional<QString> RandomToken();

} // namespace chronel
