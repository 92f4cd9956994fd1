#include "modbus_tcp_test_server.h"

#include <modbus.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <stdexcept>
#include <vector>

ModbusTcpTestServer::ModbusTcpTestServer(bool silent) : silent_(silent)
{
    modbus_t* ctx = modbus_new_tcp("127.0.0.1", 0);
    if (ctx == nullptr)
        throw std::runtime_error("modbus_new_tcp failed");
    // libmodbus answers a request it finds malformed (a count out of range, an
    // unknown function) only after sleeping its response time-out to flush the
    // line: 500 ms by default, as long as a client's whole budget. Nothing is
    // left to flush here, so the exception goes out at once.
    modbus_set_response_timeout(ctx, 0, 1000);
    modbus_mapping_t* map = modbus_mapping_new(0, 0, kRegisters, 0);
    for (int i = 0; i < kRegisters; ++i)
        map->tab_registers[i] = registerValue(i);
    listenFd_ = modbus_tcp_listen(ctx, 4);
    if (listenFd_ < 0) {
        modbus_mapping_free(map);
        modbus_free(ctx);
        throw std::runtime_error("modbus_tcp_listen failed");
    }
    sockaddr_in address{};
    socklen_t length = sizeof address;
    getsockname(listenFd_, reinterpret_cast<sockaddr*>(&address), &length);
    port_ = ntohs(address.sin_port);
    context_ = ctx;
    mapping_ = map;
    thread_ = std::thread([this] { run(); });
}

ModbusTcpTestServer::~ModbusTcpTestServer()
{
    stop_ = true;
    thread_.join();
    ::close(listenFd_);
    modbus_mapping_free(static_cast<modbus_mapping_t*>(mapping_));
    modbus_free(static_cast<modbus_t*>(context_));
}

void ModbusTcpTestServer::run()
{
    auto* ctx = static_cast<modbus_t*>(context_);
    auto* map = static_cast<modbus_mapping_t*>(mapping_);
    std::vector<int> clients;
    while (!stop_) {
        std::vector<pollfd> fds{{listenFd_, POLLIN, 0}};
        for (int c : clients)
            fds.push_back({c, POLLIN, 0});
        if (::poll(fds.data(), fds.size(), 20) <= 0)
            continue;
        if (fds[0].revents & POLLIN) {
            const int c = ::accept(listenFd_, nullptr, nullptr);
            if (c >= 0)
                clients.push_back(c);
        }
        for (std::size_t i = 1; i < fds.size(); ++i) {
            if (fds[i].revents == 0)
                continue;
            const int c = fds[i].fd;
            std::uint8_t query[MODBUS_TCP_MAX_ADU_LENGTH];
            modbus_set_socket(ctx, c);
            const int rc = modbus_receive(ctx, query);
            if (rc > 0) {
                ++requests_;
                lastUnit_ = query[6];
                if (!silent_)
                    modbus_reply(ctx, query, rc, map);
            } else if (rc < 0) {
                ::close(c);
                std::erase(clients, c);
            }
        }
    }
    for (int c : clients)
        ::close(c);
}
