#include "web/login_throttle.h"

#include <arpa/inet.h>

#include <algorithm>
#include <utility>

namespace chronel {

using std::chrono::steady_clock;

QString ThrottleAddressKey(const QString& address)
{
    const QByteArray text = address.toLatin1();
    unsigned char bytes[16] = {};
    if (inet_pton(AF_INET6, text.constData(), bytes) != 1)
        return address;
    static constexpr unsigned char Mapped[12] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xff, 0xff};
    char out[INET6_ADDRSTRLEN] = {};
    if (std::equal(std::begin(Mapped), std::end(Mapped), bytes)) {
        inet_ntop(AF_INET, bytes + 12, out, sizeof out);
        return QString::fromLatin1(out);
    }
    std::fill(bytes + 8, bytes + 16, 0);
    inet_ntop(AF_INET6, bytes, out, sizeof out);
    return QString::fromLatin1(out) + QStringLiteral("/64");
}

LoginThrottle::LoginThrottle(Clock clock) : clock_(std::move(clock)) { }

std::chrono::seconds LoginThrottle::waitAfter(int failures)
{
    if (failures < FreeFailures)
        return std::chrono::seconds(0);
    const int doublings = std::min(failures - FreeFailures, 20);
    return std::min(std::chrono::seconds(1LL << doublings), LongestWait);
}

int LoginThrottle::waitSeconds(const QString& address, const QString& name)
{
    const auto now = clock_();
    std::lock_guard lock(mutex_);
    const auto wait = std::max(remaining(addresses_, ThrottleAddressKey(address), now), remaining(names_, name, now));
    if (wait <= steady_clock::duration::zero())
        return 0;
    // Rounded up: a client told 0 s would come back too early.
    return int(std::chrono::ceil<std::chrono::seconds>(wait).count());
}

void LoginThrottle::failed(const QString& address, const QString& name)
{
    const auto now = clock_();
    std::lock_guard lock(mutex_);
    count(addresses_, ThrottleAddressKey(address), now);
    count(names_, name, now);
}

void LoginThrottle::succeeded(const QString& name)
{
    std::lock_guard lock(mutex_);
    names_.remove(name);
}

steady_clock::duration LoginThrottle::remaining(
    const Table& table, const QString& key, steady_clock::time_point now) const
{
    const auto it = table.constFind(key);
    if (it == table.cend() || now - it->last >= Memory)
        return steady_clock::duration::zero();
    return it->last + waitAfter(it->failures) - now;
}

void LoginThrottle::count(Table& table, const QString& key, steady_clock::time_point now)
{
    auto it = table.find(key);
    if (it != table.end() && now - it->last >= Memory)
        it->failures = 0;
    if (it == table.end()) {
        if (table.size() >= Capacity) {
            table.removeIf([&](const auto& entry) { return now - entry.value().last >= Memory; });
            if (table.size() >= Capacity) {
                // Full of recent failures: the one with the fewest gives way.
                auto fewest = table.begin();
                for (auto other = table.begin(); other != table.end(); ++other) {
                    if (other->failures < fewest->failures)
                        fewest = other;
                }
                table.erase(fewest);
            }
        }
        it = table.insert(key, Count{});
    }
    it->failures += 1;
    it->last = now;
}

} // namespace chronel
