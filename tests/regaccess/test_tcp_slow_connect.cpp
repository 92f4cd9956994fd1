// A module whose handshake is slow: the listener's accept queue is full, so
// the kernel drops the control's first SYN and the connection is made only
// when the SYN is sent again, about a second later.
#include "fault_server.h"
#include "test_support.h"

#include "regaccess/plctag.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <thread>
#include <vector>

namespace regaccess {
namespace {

using Clock = std::chrono::steady_clock;

class Fd {
public:
    explicit Fd(int fd = -1) : fd_(fd) { }
    Fd(Fd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) { }
    ~Fd()
    {
        if (fd_ >= 0)
            ::close(fd_);
    }
    int get() const { return fd_; }

private:
    int fd_;
};

sockaddr_in Loopback(std::uint16_t port)
{
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return a;
}

// A connection to `port` that completes within `ms`; none when it does not.
Fd ConnectWithin(std::uint16_t port, int ms)
{
    Fd fd(::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0));
    const sockaddr_in a = Loopback(port);
    if (::connect(fd.get(), reinterpret_cast<const sockaddr*>(&a), sizeof a) == 0)
        return fd;
    pollfd p{fd.get(), POLLOUT, 0};
    int error = 0;
    socklen_t length = sizeof error;
    if (::poll(&p, 1, ms) != 1 || ::getsockopt(fd.get(), SOL_SOCKET, SO_ERROR, &error, &length) != 0 || error != 0)
        return Fd();
    return fd;
}

// Accepts one connection within `ms`.
Fd AcceptWithin(int listener, int ms)
{
    pollfd p{listener, POLLIN, 0};
    if (::poll(&p, 1, ms) != 1)
        return Fd();
    return Fd(::accept(listener, nullptr, nullptr));
}

std::optional<test::Bytes> ReadFrame(int fd, int ms)
{
    test::Bytes frame;
    const auto deadline = Clock::now() + std::chrono::milliseconds(ms);
    while (frame.size() < 6 || frame.size() < 6u + ((frame[4] << 8) | frame[5])) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        pollfd p{fd, POLLIN, 0};
        if (left <= 0 || ::poll(&p, 1, int(left)) != 1)
            return std::nullopt;
        std::uint8_t buffer[256];
        const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
        if (n <= 0)
            return std::nullopt;
        frame.insert(frame.end(), buffer, buffer + n);
    }
    return frame;
}

TEST(TcpSlowConnect, ARequestWhoseFirstSynIsDroppedStillGetsThrough)
{
    Fd listener(::socket(AF_INET, SOCK_STREAM, 0));
    sockaddr_in a = Loopback(0);
    ASSERT_EQ(::bind(listener.get(), reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    ASSERT_EQ(::listen(listener.get(), 0), 0);
    socklen_t length = sizeof a;
    ASSERT_EQ(::getsockname(listener.get(), reinterpret_cast<sockaddr*>(&a), &length), 0);
    const std::uint16_t port = ntohs(a.sin_port);

    // Fill the accept queue with connections nobody accepts yet, until one
    // no longer completes: from then on every new SYN is dropped.
    std::vector<Fd> fillers;
    for (int i = 0; i < 8; ++i) {
        Fd filler = ConnectWithin(port, 200);
        if (filler.get() < 0)
            break;
        fillers.push_back(std::move(filler));
    }
    ASSERT_FALSE(fillers.empty());
    ASSERT_LT(fillers.size(), 8u) << "the accept queue never filled";

    // The module makes room a little after the control's first SYN was
    // dropped, and serves whatever connects next: the control's retry.
    std::optional<test::Bytes> request;
    std::thread module([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        std::vector<Fd> queued;
        for (std::size_t i = 0; i < fillers.size(); ++i)
            queued.push_back(AcceptWithin(listener.get(), 1000));
        Fd control = AcceptWithin(listener.get(), 5000);
        if (control.get() < 0)
            return;
        request = ReadFrame(control.get(), 3000);
        if (request) {
            const test::Bytes reply = test::RegisterReply(*request, 42);
            (void)::send(control.get(), reply.data(), reply.size(), MSG_NOSIGNAL);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
    });

    test::UseServerPort(port);
    Plctag control; // TimeToLive 500, the configurator's
    test::EventRecorder events(control);
    control.setAdapter(test::TcpAdapter);
    control.setFunction(0);
    control.setRegType(Plctag::HoldRegs_4xxxx);
    control.setAddress(1);
    control.setSize(1);
    const auto begin = Clock::now();
    const bool triggered = control.Trigger();
    const auto took = Clock::now() - begin;
    module.join();

    EXPECT_TRUE(triggered);
    EXPECT_TRUE(request.has_value()) << "the module never saw the request";
    EXPECT_EQ(events.events, QStringList{QStringLiteral("read")});
    EXPECT_EQ(control.WordVal(0), 42);
    // The handshake waited for the SYN retry, not for the whole window.
    EXPECT_GT(took, std::chrono::milliseconds(500));
    EXPECT_LT(took, std::chrono::seconds(2));
}

} // namespace
} // namespace regaccess
