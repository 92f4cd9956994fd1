#pragma once
// Slows password guessing: failed logins are counted per client address
// (an IPv6 client by its /64, which one machine controls whole) and per
// account name. Five failures in a row are free; after that each further
// one makes the next attempt wait twice as long as the last, from one
// second up to a quarter of an hour, so ten failures already cost half a
// minute per try. A successful login clears its name's count, not its
// address's. Counts are forgotten an hour after their last failure, and
// each table holds a bounded number of them.
//
// Thread safety: every member may be called from any thread.
#include <QHash>
#include <QString>
#include <chrono>
#include <functional>
#include <mutex>

namespace chronel {

class LoginThrottle {
public:
    using Clock = std::function<std::chrono::steady_clock::time_point()>;
    static constexpr int FreeFailures = 5;
    static constexpr std::chrono::seconds LongestWait{900};
    static constexpr std::chrono::hours Memory{1};
    static constexpr int Capacity = 4096;

    explicit LoginThrottle(Clock clock = std::chrono::steady_clock::now);

    // Whole seconds until (address, name) may try again; 0 when it may now.
    int waitSeconds(const QString& address, const QString& name);
    void failed(const QString& address, const QString& name);
    void succeeded(const QString& name);

    // The wait that `failures` failures in a row impose.
    static std::chrono::seconds waitAfter(int failures);

private:
    struct Count {
        int failures = 0;
        std::chrono::steady_clock::time_point last;
    };
    using Table = QHash<QString, Count>;
    std::chrono::steady_clock::duration remaining(
        const Table& table, const QString& key, std::chrono::steady_clock::time_point now) const;
    void count(Table& table, const QString& key, std::chrono::steady_clock::time_point now);

    Clock clock_;
    std::mutex mutex_;
    Table addresses_;
    Table names_;
};

// The address a throttle counts for a client: IPv4 as it is, IPv6 as its /64.
QString ThrottleAddressKey(const QString& address);

} // namespace chronel
