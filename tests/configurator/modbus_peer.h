#pragma once
// A libmodbus Modbus TCP server on 127.0.0.1 in a thread of its own: the
// independent peer the configurator's channels talk to in these tests. It
// serves 2000 holding registers and 64 coils and inputs, any number of
// connections, and stops when destroyed.
#include <modbus/modbus.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace chronel::test {

class ModbusPeer {
public:
    ModbusPeer();
    ~ModbusPeer();
    ModbusPeer(const ModbusPeer&) = delete;
    ModbusPeer& operator=(const ModbusPeer&) = delete;

    bool listening() const { return listenFd_ >= 0; }
    std::uint16_t port() const { return port_; }
    int requestsServed() const { return served_.load(); }

    // Holding register by its 1-based register number.
    std::uint16_t holding(int reg);
    void setHolding(int reg, std::uint16_t value);

private:
    void run();

    modbus_t* ctx_ = nullptr;
    modbus_mapping_t* mapping_ = nullptr;
    int listenFd_ = -1;
    int wakeFds_[2] = {-1, -1};
    std::uint16_t port_ = 0;
    std::atomic<int> served_{0};
    std::atomic<bool> stop_{false};
    std::mutex mutex_;
    std::thread thread_;
};

} // namespace chronel::test
