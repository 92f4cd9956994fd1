// POSIX sockets are kept in this file: the stand-in's only tie to the
// operating system's network interface.
#include "modbus_tcp_link.h"

#include "mbxsim.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>

namespace mbxsim {
namespace {

using Clock = std::chrono::steady_clock;

int RemainingMs(Clock::time_point deadline)
{
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

// Waits for `events` on fd until the deadline; true when ready.
bool WaitFor(int fd, short events, Clock::time_point deadline)
{
    for (;;) {
        pollfd p{fd, events, 0};
        const int r = ::poll(&p, 1, RemainingMs(deadline));
        if (r > 0)
            return true;
        if (r == 0)
            return false;
        if (errno != EINTR)
            return false;
    }
}

// Reads exactly `length` bytes before the deadline.
std::int32_t ReadExactly(int fd, std::uint8_t* out, std::size_t length, Clock::time_point deadline)
{
    std::size_t got = 0;
    while (got < length) {
        if (!WaitFor(fd, POLLIN, deadline))
            return Timeout;
        const ssize_t n = ::recv(fd, out + got, length - got, 0);
        if (n == 0)
            return LinkBroken;
        if (n < 0) {
            if (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK)
                continue;
            return LinkBroken;
        }
        got += static_cast<std::size_t>(n);
    }
    return 0;
}

} // namespace

ModbusTcpLink::ModbusTcpLink(std::string host, std::uint16_t port) : host_(std::move(host)), port_(port) { }

ModbusTcpLink::~ModbusTcpLink() { disconnect(); }

void ModbusTcpLink::disconnect()
{
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = -1;
}

std::int32_t ModbusTcpLink::connectTo(int timeoutMs)
{
    if (fd_ >= 0)
        return 0;
    if (port_ == 0)
        return ConnectFailed;
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    const std::string service = std::to_string(port_);
    if (::getaddrinfo(host_.c_str(), service.c_str(), &hints, &found) != 0 || found == nullptr)
        return ConnectFailed;
    const int fd = ::socket(found->ai_family, found->ai_socktype | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) {
        ::freeaddrinfo(found);
        return ConnectFailed;
    }
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    int r = ::connect(fd, found->ai_addr, found->ai_addrlen);
    ::freeaddrinfo(found);
    if (r != 0 && errno == EINPROGRESS) {
        if (!WaitFor(fd, POLLOUT, deadline)) {
            ::close(fd);
            return ConnectFailed;
        }
        int error = 0;
        socklen_t len = sizeof error;
        r = (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &len) == 0 && error == 0) ? 0 : -1;
    }
    if (r != 0) {
        ::close(fd);
        return ConnectFailed;
    }
    const int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    fd_ = fd;
    return 0;
}

std::int32_t ModbusTcpLink::exchange(
    std::uint8_t unit, const std::uint8_t* pdu, std::size_t length, int timeoutMs, std::vector<std::uint8_t>& reply)
{
    // A Modbus TCP ADU carries at most 253 PDU bytes.
    if (length < 1 || length > 253)
        return BadArgument;
    if (timeoutMs <= 0)
        timeoutMs = kDefaultTimeoutMs;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    if (const std::int32_t r = connectTo(timeoutMs); r != 0)
        return r;

    const std::uint16_t id = ++transaction_;
    std::uint8_t request[7 + 253];
    request[0] = static_cast<std::uint8_t>(id >> 8);
    request[1] = static_cast<std::uint8_t>(id);
    request[2] = 0;
    request[3] = 0;
    request[4] = static_cast<std::uint8_t>((length + 1) >> 8);
    request[5] = static_cast<std::uint8_t>(length + 1);
    request[6] = unit;
    std::memcpy(request + 7, pdu, length);
    std::size_t sent = 0;
    while (sent < length + 7) {
        if (!WaitFor(fd_, POLLOUT, deadline)) {
            disconnect();
            return Timeout;
        }
        const ssize_t n = ::send(fd_, request + sent, length + 7 - sent, MSG_NOSIGNAL);
        if (n < 0) {
            if (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK)
                continue;
            disconnect();
            return LinkBroken;
        }
        sent += static_cast<std::size_t>(n);
    }

    for (;;) {
        std::uint8_t header[7];
        if (const std::int32_t r = ReadExactly(fd_, header, sizeof header, deadline); r != 0) {
            disconnect();
            return r;
        }
        const std::size_t adu = (std::size_t(header[4]) << 8) | header[5];
        if (header[2] != 0 || header[3] != 0 || adu < 2 || adu > 254) {
            disconnect();
            return LinkBroken;
        }
        std::uint8_t body[253];
        if (const std::int32_t r = ReadExactly(fd_, body, adu - 1, deadline); r != 0) {
            disconnect();
            return r;
        }
        const std::uint16_t replyId = static_cast<std::uint16_t>((header[0] << 8) | header[1]);
        if (replyId != id)
            continue;
        reply.assign(body, body + adu - 1);
        return 0;
    }
}

} // namespace mbxsim
