#pragma once
// A libmodbus Modbus TCP server on 127.0.0.1 in its own thread, as the
// independent peer behind the stand-in MBX driver. Holding register i holds
// 0x1000 + i for i < 200; other addresses answer with exception 2.
#include <atomic>
#include <cstdint>
#include <thread>

class ModbusTcpTestServer {
public:
    static constexpr int kRegisters = 200;
    static std::uint16_t registerValue(int address) { return static_cast<std::uint16_t>(0x1000 + address); }

    // Listens on an ephemeral loopback port. With `silent` the server reads
    // requests but never answers them.
    explicit ModbusTcpTestServer(bool silent = false);
    ~ModbusTcpTestServer();
    ModbusTcpTestServer(const ModbusTcpTestServer&) = delete;
    ModbusTcpTestServer& operator=(const ModbusTcpTestServer&) = delete;

    std::uint16_t port() const { return port_; }
    int requests() const { return requests_.load(); }
    int lastUnit() const { return lastUnit_.load(); }

private:
    void run();

    bool silent_;
    void* context_ = nullptr;
    void* mapping_ = nullptr;
    int listenFd_ = -1;
    std::uint16_t port_ = 0;
    std::atomic<bool> stop_{false};
    std::atomic<int> requests_{0};
    std::atomic<int> lastUnit_{-1};
    std::thread thread_;
};
