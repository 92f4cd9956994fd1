#include "fault_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <stdexcept>
#include <string>

namespace regaccess::test {

namespace {

using Clock = std::chrono::steady_clock;

int RemainingMs(Clock::time_point deadline)
{
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? static_cast<int>(std::min<long long>(left, 20)) : 0;
}

} // namespace

std::optional<Bytes> FaultConnection::readRequest(int timeoutMs)
{
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    Bytes frame;
    std::size_t needed = 6;
    while (frame.size() < needed) {
        if (server_.stopping() || Clock::now() >= deadline)
            return std::nullopt;
        pollfd p{fd_, POLLIN, 0};
        if (::poll(&p, 1, RemainingMs(deadline)) <= 0)
            continue;
        std::uint8_t buffer[600];
        const ssize_t n = ::recv(fd_, buffer, std::min(sizeof buffer, needed - frame.size()), 0);
        if (n <= 0)
            return std::nullopt;
        frame.insert(frame.end(), buffer, buffer + n);
        if (frame.size() >= 6)
            needed = 6 + ((frame[4] << 8) | frame[5]);
    }
    server_.record(frame);
    return frame;
}

void FaultConnection::send(const Bytes& bytes)
{
    if (fd_ < 0)
        return;
    std::size_t sent = 0;
    while (sent < bytes.size()) {
        const ssize_t n = ::send(fd_, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (n <= 0)
            return;
        sent += static_cast<std::size_t>(n);
    }
}

FaultConnection::~FaultConnection()
{
    if (fd_ >= 0)
        ::close(fd_);
}

void FaultConnection::reset()
{
    if (fd_ < 0)
        return;
    const linger hard{1, 0};
    ::setsockopt(fd_, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
    ::close(fd_);
    fd_ = -1;
}

std::uint16_t FaultConnection::clientPort() const
{
    sockaddr_in address{};
    socklen_t length = sizeof address;
    if (fd_ < 0 || ::getpeername(fd_, reinterpret_cast<sockaddr*>(&address), &length) != 0)
        return 0;
    return ntohs(address.sin_port);
}

ClientEnd FindClientEnd(std::uint16_t clientPort, std::uint16_t serverPort)
{
    // "sl: local rem st tx_queue:rx_queue ...", addresses as hex IP:port.
    std::ifstream table("/proc/net/tcp");
    std::string line;
    std::getline(table, line);
    while (std::getline(table, line)) {
        unsigned localIp = 0, localPort = 0, remoteIp = 0, remotePort = 0, state = 0;
        unsigned long tx = 0, rx = 0;
        if (std::sscanf(line.c_str(), " %*u: %x:%x %x:%x %x %lx:%lx", &localIp, &localPort, &remoteIp, &remotePort,
                &state, &tx, &rx) != 7)
            continue;
        if (localPort == clientPort && remotePort == serverPort)
            return ClientEnd{true, static_cast<int>(state), static_cast<long>(rx)};
    }
    return {};
}

void FaultConnection::holdOpen(int timeoutMs)
{
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (fd_ >= 0 && !server_.stopping() && Clock::now() < deadline) {
        pollfd p{fd_, POLLIN, 0};
        if (::poll(&p, 1, RemainingMs(deadline)) > 0) {
            std::uint8_t sink[600];
            if (::recv(fd_, sink, sizeof sink, 0) <= 0)
                return;
        }
    }
}

void FaultConnection::pause(int ms)
{
    const auto deadline = Clock::now() + std::chrono::milliseconds(ms);
    while (!server_.stopping() && Clock::now() < deadline)
        ::poll(nullptr, 0, RemainingMs(deadline));
}

FaultServer::FaultServer(Script script) : script_(std::move(script))
{
    listenFd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::bind(listenFd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || ::listen(listenFd_, 8) != 0)
        throw std::runtime_error("fault server cannot listen");
    socklen_t length = sizeof address;
    ::getsockname(listenFd_, reinterpret_cast<sockaddr*>(&address), &length);
    port_ = ntohs(address.sin_port);
    thread_ = std::thread([this] { run(); });
}

FaultServer::~FaultServer()
{
    stop_ = true;
    thread_.join();
    ::close(listenFd_);
}

std::vector<Bytes> FaultServer::requests() const
{
    std::lock_guard lock(mutex_);
    return requests_;
}

void FaultServer::record(const Bytes& request)
{
    std::lock_guard lock(mutex_);
    requests_.push_back(request);
}

void FaultServer::run()
{
    while (!stop_) {
        pollfd p{listenFd_, POLLIN, 0};
        if (::poll(&p, 1, 20) <= 0)
            continue;
        const int fd = ::accept(listenFd_, nullptr, nullptr);
        if (fd < 0)
            continue;
        FaultConnection connection(*this, fd, accepted_++);
        script_(connection);
    }
}

Bytes FrameFor(const Bytes& request, const Bytes& pdu)
{
    Bytes frame;
    frame.reserve(7 + pdu.size());
    for (std::size_t i = 0; i < 7; ++i)
        frame.push_back(i < request.size() ? request[i] : 0);
    frame[4] = static_cast<std::uint8_t>((pdu.size() + 1) >> 8);
    frame[5] = static_cast<std::uint8_t>(pdu.size() + 1);
    for (std::uint8_t byte : pdu)
        frame.push_back(byte);
    return frame;
}

Bytes RegisterReply(const Bytes& request, std::uint16_t first)
{
    const unsigned count = (request[10] << 8) | request[11];
    Bytes pdu{request[7], static_cast<std::uint8_t>(2 * count)};
    for (unsigned i = 0; i < count; ++i) {
        const auto value = static_cast<std::uint16_t>(first + i);
        pdu.push_back(static_cast<std::uint8_t>(value >> 8));
        pdu.push_back(static_cast<std::uint8_t>(value));
    }
    return FrameFor(request, pdu);
}

} // namespace regaccess::test
