#pragma once
// A libmodbus Modbus TCP server on 127.0.0.1 running in its own thread, as an
// independent peer for the control's TCP transport. It serves any number of
// connections one request at a time from a full 65536-entry mapping of all
// four register types, and counts the connections it accepted.
#include <modbus/modbus.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>

namespace regaccess::test {

class ModbusTestServer {
public:
    ModbusTestServer();
    ~ModbusTestServer();
    ModbusTestServer(const ModbusTestServer&) = delete;
    ModbusTestServer& operator=(const ModbusTestServer&) = delete;

    std::uint16_t port() const { return port_; }
    int connectionsAccepted() const { return accepted_.load(); }
    int requestsServed() const { return served_.load(); }
    // Runs `f` on the mapping while the server thread cannot use it.
    void withMapping(const std::function<void(modbus_mapping_t&)>& f);

private:
    void run();

    modbus_t* ctx_ = nullptr;
    modbus_mapping_t* mapping_ = nullptr;
    int listenFd_ = -1;
    int wakeFds_[2] = {-1, -1};
    std::uint16_t port_ = 0;
    std::atomic<int> accepted_{0};
    std::atomic<int> served_{0};
    std::mutex mappingMutex_;
    std::thread thread_;
};

} // namespace regaccess::test
