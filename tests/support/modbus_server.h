#pragma once
// A libmodbus Modbus TCP server on 127.0.0.1 in its own thread: the
// independent peer of the control's TCP transport, of the bridge and of the
// driver's MBX path. It serves any number of connections one request at a
// time and counts what it saw. Addresses beyond its mapping answer with
// exception 2, as libmodbus does.
#include <modbus/modbus.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>

namespace chronel::test {

// How many entries of each of the four Modbus tables the server holds.
struct ModbusTables {
    int coils = 65536;
    int discreteInputs = 65536;
    int holdingRegisters = 65536;
    int inputRegisters = 65536;
};

class ModbusServer {
public:
    // A server that reads its requests but never answers them stands in for
    // a peer that has gone quiet.
    enum class Answers { Yes, Never };

    explicit ModbusServer(ModbusTables tables = {}, Answers answers = Answers::Yes);
    ~ModbusServer();
    ModbusServer(const ModbusServer&) = delete;
    ModbusServer& operator=(const ModbusServer&) = delete;

    std::uint16_t port() const { return port_; }
    int connectionsAccepted() const { return accepted_.load(); }
    // Counted before the reply goes out, so a client holding its reply always
    // sees its request counted.
    int requestsServed() const { return served_.load(); }
    // The unit id of the last request, -1 before the first.
    int lastUnit() const { return lastUnit_.load(); }
    // Runs `f` on the mapping while the server thread cannot use it.
    void withMapping(const std::function<void(modbus_mapping_t&)>& f);

private:
    void run();

    Answers answers_;
    modbus_t* ctx_ = nullptr;
    modbus_mapping_t* mapping_ = nullptr;
    int listenFd_ = -1;
    int wakeFds_[2] = {-1, -1};
    std::uint16_t port_ = 0;
    std::atomic<int> accepted_{0};
    std::atomic<int> served_{0};
    std::atomic<int> lastUnit_{-1};
    std::mutex mappingMutex_;
    std::thread thread_;
};

// The bridge's and the driver's MBX peer: holding register i holds 0x1000 + i
// for i below kCountingRegisters, and there are no others.
inline constexpr int kCountingRegisters = 200;
constexpr std::uint16_t CountingRegisterValue(int address) { return static_cast<std::uint16_t>(0x1000 + address); }

class CountingModbusServer : public ModbusServer {
public:
    explicit CountingModbusServer(Answers answers = Answers::Yes);
};

} // namespace chronel::test
