// POSIX sockets for the Modbus TCP transport. This file exists so that the
// BSD socket headers, errno and the poll() waits stay out of the transport's
// logic; another platform replaces only this file.
#include "regaccess/stream_socket.h"

#include "platform/socket_errors.h"

#include <arpa/inet.h>
#include <cerrno>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <chrono>

namespace regaccess {

namespace {

// A send on a connection the peer has reset fails with EPIPE once the reset
// has been reported; towards the host that is still a reset connection.
int SocketError(int err)
{
    if (err == EPIPE)
        return platform::WSAECONNRESET;
    if (err == EAGAIN || err == EWOULDBLOCK)
        return platform::WSAEWOULDBLOCK;
    return platform::socketErrorFromErrno(err);
}

class PosixStreamSocket final : public StreamSocket {
public:
    explicit PosixStreamSocket(int fd) : fd_(fd) { }
    ~PosixStreamSocket() override { ::close(fd_); }
    PosixStreamSocket(const PosixStreamSocket&) = delete;
    PosixStreamSocket& operator=(const PosixStreamSocket&) = delete;

    void startConnect(std::uint32_t ipv4Address, std::uint16_t port) override
    {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(port);
        address.sin_addr.s_addr = htonl(ipv4Address);
        // Non-blocking: EINPROGRESS is the normal answer, and a refusal shows
        // up in the first wait.
        (void)::connect(fd_, reinterpret_cast<const sockaddr*>(&address), sizeof address);
    }

    WaitResult waitWritable(int timeoutMs) override { return wait(POLLOUT, timeoutMs); }
    WaitResult waitReadable(int timeoutMs) override { return wait(POLLIN, timeoutMs); }

    IoResult send(std::span<const std::uint8_t> bytes) override
    {
        const ssize_t n = ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
        if (n < 0)
            return {0, SocketError(errno)};
        return {static_cast<std::size_t>(n), 0};
    }

    IoResult receive(std::span<std::uint8_t> into) override
    {
        const ssize_t n = ::recv(fd_, into.data(), into.size(), 0);
        if (n < 0)
            return {0, SocketError(errno)};
        return {static_cast<std::size_t>(n), 0};
    }

    int discardUnread() override
    {
        // Looked at with poll first: a receive call on an empty socket can
        // make the kernel send an extra acknowledgement, doubling the packets
        // of every exchange.
        pollfd p{fd_, POLLIN, 0};
        if (::poll(&p, 1, 0) == 0)
            return 0;
        std::array<std::uint8_t, 512> sink;
        for (;;) {
            const ssize_t n = ::recv(fd_, sink.data(), sink.size(), MSG_DONTWAIT);
            if (n > 0)
                continue;
            if (n == 0)
                return platform::WSAECONNRESET;
            if (errno == EAGAIN || errno == EWOULDBLOCK)
                return 0;
            if (errno == EINTR)
                continue;
            return SocketError(errno);
        }
    }

private:
    WaitResult wait(short events, int timeoutMs)
    {
        // A signal caught by the host (a Ctrl-C handler, a profiler's tick)
        // ends poll() early; the wait goes on for what is left of it rather
        // than calling an answer that is still on its way a time-out.
        using Clock = std::chrono::steady_clock;
        const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(std::max(timeoutMs, 0));
        pollfd p{fd_, events, 0};
        int n = 0;
        for (int wait = timeoutMs;;) {
            p.revents = 0;
            n = ::poll(&p, 1, wait);
            if (n >= 0 || errno != EINTR)
                break;
            if (timeoutMs >= 0) {
                const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
                wait = left > 0 ? int(left) : 0;
            }
        }
        if (n < 0)
            return {Readiness::Failed, SocketError(errno)};
        if (n == 0)
            return {};
        if (p.revents & POLLERR) {
            int err = 0;
            socklen_t len = sizeof err;
            if (::getsockopt(fd_, SOL_SOCKET, SO_ERROR, &err, &len) == 0 && err != 0)
                return {Readiness::Failed, SocketError(err)};
        }
        // A hang-up without a pending error counts as ready: the transfer
        // that follows reports it (a receive of 0 bytes, a failing send).
        if (p.revents & (events | POLLHUP | POLLERR))
            return {Readiness::Ready, 0};
        return {};
    }

    int fd_;
};

bool IsHostName(const std::string& host)
{
    if (host.empty() || host.size() > 253)
        return false;
    std::size_t label = 0;
    for (std::size_t i = 0; i < host.size(); ++i) {
        const auto c = static_cast<unsigned char>(host[i]);
        if (c == '.') {
            if (label == 0 && i + 1 != host.size())
                return false;
            label = 0;
            continue;
        }
        if (!std::isalnum(c) && c != '-' && c != '_')
            return false;
        if (++label > 63)
            return false;
    }
    return host.front() != '.';
}

} // namespace

std::unique_ptr<StreamSocket> OpenPosixStreamSocket(int& error)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, IPPROTO_TCP);
    if (fd < 0) {
        error = SocketError(errno);
        return nullptr;
    }
    // Requests are single small frames answered before the next one goes out;
    // Nagle's delay would only add latency.
    const int one = 1;
    (void)::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    error = 0;
    return std::make_unique<PosixStreamSocket>(fd);
}

std::optional<std::uint32_t> ResolveIpv4(const std::string& host)
{
    in_addr dotted{};
    if (::inet_aton(host.c_str(), &dotted) != 0)
        return ntohl(dotted.s_addr);
    if (!IsHostName(host))
        return std::nullopt;
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (::getaddrinfo(host.c_str(), nullptr, &hints, &found) != 0 || found == nullptr)
        return std::nullopt;
    const auto address = reinterpret_cast<const sockaddr_in*>(found->ai_addr)->sin_addr.s_addr;
    ::freeaddrinfo(found);
    return ntohl(address);
}

} // namespace regaccess
