#include "flash_test_peers.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

namespace chronel::test {

// --- recording proxy ---

namespace {

bool SendAll(int fd, const std::uint8_t* data, std::size_t size)
{
    while (size > 0) {
        const ssize_t n = ::send(fd, data, size, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        data += n;
        size -= std::size_t(n);
    }
    return true;
}

int ConnectLoopback(std::uint16_t port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(port);
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        ::close(fd);
        return -1;
    }
    const int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    return fd;
}

} // namespace

RecordingProxy::RecordingProxy(std::uint16_t serverPort) : serverPort_(serverPort)
{
    listenFd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    if (listenFd_ < 0 || ::bind(listenFd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        ::listen(listenFd_, 8) != 0 || ::getsockname(listenFd_, reinterpret_cast<sockaddr*>(&addr), &len) != 0 ||
        ::pipe2(wake_, O_CLOEXEC) != 0)
        return;
    port_ = ntohs(addr.sin_port);
    thread_ = std::thread([this] { run(); });
}

RecordingProxy::~RecordingProxy()
{
    if (thread_.joinable()) {
        const char stop = 1;
        (void)!::write(wake_[1], &stop, 1);
        thread_.join();
    }
    for (Pair& p : pairs_)
        closePair(p);
    for (int fd : {listenFd_, wake_[0], wake_[1]}) {
        if (fd >= 0)
            ::close(fd);
    }
}

std::vector<SeenRequest> RecordingProxy::requests() const
{
    std::lock_guard lock(mutex_);
    return seen_;
}

void RecordingProxy::clear()
{
    std::lock_guard lock(mutex_);
    seen_.clear();
}

void RecordingProxy::closePair(Pair& pair)
{
    for (int* fd : {&pair.client, &pair.server}) {
        if (*fd >= 0)
            ::close(*fd);
        *fd = -1;
    }
}

bool RecordingProxy::takeFrames(Pair& pair)
{
    constexpr std::size_t Header = 7; // MBAP with unit identifier
    for (;;) {
        if (pair.pending.size() < Header)
            return true;
        const std::size_t length = std::size_t(pair.pending[4] << 8 | pair.pending[5]);
        if (length < 2 || length > 254)
            return false;
        const std::size_t frame = 6 + length;
        if (pair.pending.size() < frame)
            return true;
        const std::uint8_t* pdu = pair.pending.data() + Header;
        const std::size_t pduLength = length - 1;
        SeenRequest r;
        r.function = pdu[0];
        if (pduLength >= 5) {
            r.reg = (pdu[1] << 8 | pdu[2]) + 1;
            r.count = pdu[3] << 8 | pdu[4];
        }
        if (r.function == 16 && pduLength >= 6) {
            for (std::size_t i = 6; i + 1 < pduLength; i += 2)
                r.values.push_back(std::uint16_t(pdu[i] << 8 | pdu[i + 1]));
        }
        {
            std::lock_guard lock(mutex_);
            seen_.push_back(std::move(r));
        }
        if (!SendAll(pair.server, pair.pending.data(), frame))
            return false;
        pair.pending.erase(pair.pending.begin(), pair.pending.begin() + std::ptrdiff_t(frame));
    }
}

void RecordingProxy::run()
{
    std::uint8_t buffer[4096];
    for (;;) {
        std::vector<pollfd> fds{{wake_[0], POLLIN, 0}, {listenFd_, POLLIN, 0}};
        for (const Pair& p : pairs_) {
            fds.push_back({p.client, POLLIN, 0});
            fds.push_back({p.server, POLLIN, 0});
        }
        if (::poll(fds.data(), fds.size(), 1000) < 0) {
            if (errno == EINTR)
                continue;
            return;
        }
        if (fds[0].revents)
            return;
        if (fds[1].revents & POLLIN) {
            const int client = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
            if (client >= 0) {
                const int server = ConnectLoopback(serverPort_);
                if (server < 0) {
                    ::close(client);
                } else {
                    const int one = 1;
                    ::setsockopt(client, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
                    pairs_.push_back({client, server, {}});
                }
            }
        }
        // Pairs accepted just now were not polled and come after these.
        const std::size_t polled = (fds.size() - 2) / 2;
        for (std::size_t k = 0; k < polled; ++k) {
            Pair& pair = pairs_[k];
            const pollfd& fromClient = fds[2 + 2 * k];
            const pollfd& fromServer = fds[3 + 2 * k];
            bool ok = true;
            if (fromClient.fd == pair.client && fromClient.revents) {
                const ssize_t n = ::recv(pair.client, buffer, sizeof buffer, 0);
                ok = n > 0;
                if (ok) {
                    pair.pending.insert(pair.pending.end(), buffer, buffer + n);
                    ok = takeFrames(pair);
                }
            }
            if (ok && fromServer.fd == pair.server && fromServer.revents) {
                const ssize_t n = ::recv(pair.server, buffer, sizeof buffer, 0);
                ok = n > 0 && SendAll(pair.client, buffer, std::size_t(n));
            }
            if (!ok)
                closePair(pair);
        }
        std::erase_if(pairs_, [](const Pair& p) { return p.client < 0; });
    }
}

// --- independent flash client ---

FlashClient::FlashClient(std::uint16_t port)
{
    ctx_ = modbus_new_tcp("127.0.0.1", port);
    if (!ctx_)
        return;
    modbus_set_slave(ctx_, 255);
    modbus_set_response_timeout(ctx_, 2, 0);
    connected_ = modbus_connect(ctx_) == 0;
}

FlashClient::~FlashClient()
{
    if (ctx_) {
        modbus_close(ctx_);
        modbus_free(ctx_);
    }
}

std::vector<std::uint8_t> FlashClient::read(std::uint32_t offset, std::uint32_t length)
{
    std::vector<std::uint8_t> out;
    out.reserve(length);
    std::uint16_t words[64];
    for (std::uint32_t block = offset; block < offset + length; block += 128) {
        // Protocol address: one less than the register number 16385 + offset / 32.
        if (modbus_read_registers(ctx_, int(16384 + block / 32), 64, words) != 64)
            return {};
        for (std::uint16_t w : words) {
            out.push_back(std::uint8_t(w & 0xFF));
            out.push_back(std::uint8_t(w >> 8));
        }
    }
    out.resize(length);
    return out;
}

bool FlashClient::program(std::uint32_t offset, const std::vector<std::uint8_t>& block)
{
    if (block.size() != 128)
        return false;
    std::uint16_t words[64];
    for (int k = 0; k < 64; ++k)
        words[k] = std::uint16_t(block[std::size_t(2 * k)] | block[std::size_t(2 * k + 1)] << 8);
    return modbus_write_registers(ctx_, int(16384 + offset / 32), 64, words) == 64;
}

} // namespace chronel::test
