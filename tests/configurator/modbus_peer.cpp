#include "modbus_peer.h"

#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <string>

namespace chronel::test {

ModbusPeer::ModbusPeer()
{
    mapping_ = modbus_mapping_new(64, 64, 2000, 64);
    if (!mapping_ || ::pipe(wakeFds_) != 0)
        return;
    // Unprivileged ports from a pid-dependent start, so parallel test
    // programs rarely collide; the first that can be bound wins.
    const int base = 20000 + int(::getpid() % 20000);
    for (int attempt = 0; attempt < 50 && listenFd_ < 0; ++attempt) {
        const int port = base + attempt * 7;
        modbus_t* ctx = modbus_new_tcp("127.0.0.1", port);
        if (!ctx)
            continue;
        const int fd = modbus_tcp_listen(ctx, 1);
        if (fd >= 0) {
            ctx_ = ctx;
            listenFd_ = fd;
            // libmodbus answers a request it finds malformed (a count out of range, an
            // unknown function) only after sleeping its response time-out to flush the
            // line: 500 ms by default, as long as a client's whole budget. Nothing is
            // left to flush here, so the exception goes out at once.
            modbus_set_response_timeout(ctx, 0, 1000);
            port_ = std::uint16_t(port);
        } else {
            modbus_free(ctx);
        }
    }
    if (listenFd_ >= 0)
        thread_ = std::thread([this] { run(); });
}

ModbusPeer::~ModbusPeer()
{
    stop_ = true;
    if (wakeFds_[1] >= 0) {
        const char byte = 0;
        [[maybe_unused]] auto n = ::write(wakeFds_[1], &byte, 1);
    }
    if (thread_.joinable())
        thread_.join();
    if (listenFd_ >= 0)
        ::close(listenFd_);
    for (int fd : wakeFds_) {
        if (fd >= 0)
            ::close(fd);
    }
    if (ctx_)
        modbus_free(ctx_);
    if (mapping_)
        modbus_mapping_free(mapping_);
}

std::uint16_t ModbusPeer::holding(int reg)
{
    std::lock_guard lock(mutex_);
    return mapping_->tab_registers[reg - 1];
}

void ModbusPeer::setHolding(int reg, std::uint16_t value)
{
    std::lock_guard lock(mutex_);
    mapping_->tab_registers[reg - 1] = value;
}

void ModbusPeer::run()
{
    // Every connection is served from this one thread, one request at a time;
    // each channel keeps a connection of its own.
    std::vector<int> clients;
    std::uint8_t query[MODBUS_TCP_MAX_ADU_LENGTH];
    while (!stop_) {
        std::vector<pollfd> fds{{wakeFds_[0], POLLIN, 0}, {listenFd_, POLLIN, 0}};
        for (int c : clients)
            fds.push_back({c, POLLIN, 0});
        if (::poll(fds.data(), nfds_t(fds.size()), 1000) <= 0)
            continue;
        if (fds[0].revents)
            break;
        if (fds[1].revents & POLLIN) {
            int fd = listenFd_;
            const int client = modbus_tcp_accept(ctx_, &fd);
            if (client >= 0)
                clients.push_back(client);
        }
        for (std::size_t i = 2; i < fds.size(); ++i) {
            if (!fds[i].revents)
                continue;
            modbus_set_socket(ctx_, fds[i].fd);
            const int length = modbus_receive(ctx_, query);
            if (length < 0) {
                ::close(fds[i].fd);
                std::erase(clients, fds[i].fd);
                continue;
            }
            if (length == 0)
                continue;
            std::lock_guard lock(mutex_);
            // Counted before the reply leaves, so a client that has its answer
            // always sees the count.
            ++served_;
            modbus_reply(ctx_, query, length, mapping_);
        }
    }
    for (int c : clients)
        ::close(c);
    modbus_set_socket(ctx_, -1);
}

} // namespace chronel::test
