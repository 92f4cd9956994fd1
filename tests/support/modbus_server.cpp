#include "modbus_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <stdexcept>
#include <vector>

namespace chronel::test {

ModbusServer::ModbusServer(ModbusTables tables, Answers answers) : answers_(answers)
{
    ctx_ = modbus_new_tcp("127.0.0.1", 0);
    mapping_ = modbus_mapping_new(tables.coils, tables.discreteInputs, tables.holdingRegisters, tables.inputRegisters);
    if (ctx_ == nullptr || mapping_ == nullptr) {
        modbus_mapping_free(mapping_);
        modbus_free(ctx_);
        throw std::runtime_error("libmodbus server set-up failed");
    }
    // libmodbus answers a request it finds malformed (a count out of range, an
    // unknown function) only after sleeping its response time-out to flush the
    // line: 500 ms by default, as long as a client's whole budget. Nothing is
    // left to flush here, so the exception goes out at once.
    modbus_set_response_timeout(ctx_, 0, 1000);
    listenFd_ = modbus_tcp_listen(ctx_, 8);
    if (listenFd_ < 0 || ::pipe(wakeFds_) != 0) {
        if (listenFd_ >= 0)
            ::close(listenFd_);
        modbus_mapping_free(mapping_);
        modbus_free(ctx_);
        throw std::runtime_error("libmodbus server cannot listen");
    }
    sockaddr_in address{};
    socklen_t length = sizeof address;
    ::getsockname(listenFd_, reinterpret_cast<sockaddr*>(&address), &length);
    port_ = ntohs(address.sin_port);
    thread_ = std::thread([this] { run(); });
}

ModbusServer::~ModbusServer()
{
    const char stop = 's';
    (void)::write(wakeFds_[1], &stop, 1);
    thread_.join();
    ::close(wakeFds_[0]);
    ::close(wakeFds_[1]);
    ::close(listenFd_);
    modbus_mapping_free(mapping_);
    modbus_free(ctx_);
}

void ModbusServer::withMapping(const std::function<void(modbus_mapping_t&)>& f)
{
    std::lock_guard lock(mappingMutex_);
    f(*mapping_);
}

void ModbusServer::run()
{
    std::vector<int> clients;
    std::uint8_t query[MODBUS_TCP_MAX_ADU_LENGTH];
    for (;;) {
        std::vector<pollfd> fds{{wakeFds_[0], POLLIN, 0}, {listenFd_, POLLIN, 0}};
        for (int fd : clients)
            fds.push_back({fd, POLLIN, 0});
        if (::poll(fds.data(), fds.size(), -1) < 0)
            continue;
        if (fds[0].revents)
            break;
        if (fds[1].revents & POLLIN) {
            const int fd = ::accept(listenFd_, nullptr, nullptr);
            if (fd >= 0) {
                clients.push_back(fd);
                ++accepted_;
            }
        }
        for (std::size_t i = 2; i < fds.size(); ++i) {
            if (!fds[i].revents)
                continue;
            const int fd = fds[i].fd;
            modbus_set_socket(ctx_, fd);
            const int length = modbus_receive(ctx_, query);
            if (length > 0) {
                ++served_;
                lastUnit_ = query[6];
                if (answers_ == Answers::Yes) {
                    std::lock_guard lock(mappingMutex_);
                    modbus_reply(ctx_, query, length, mapping_);
                }
            } else if (length < 0) {
                ::close(fd);
                std::erase(clients, fd);
            }
        }
    }
    for (int fd : clients)
        ::close(fd);
}

CountingModbusServer::CountingModbusServer(Answers answers)
    : ModbusServer(ModbusTables{0, 0, kCountingRegisters, 0}, answers)
{
    withMapping([](modbus_mapping_t& mapping) {
        for (int i = 0; i < kCountingRegisters; ++i)
            mapping.tab_registers[i] = CountingRegisterValue(i);
    });
}

} // namespace chronel::test
