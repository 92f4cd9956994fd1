#pragma once
// A libmodbus Modbus TCP server on 127.0.0.1 in a thread of its own that
// records every request it is sent (function, register, count, written
// values) and lets a test act on each one before the next is read: the
// independent peer the configurator's channels talk to, against which their
// requests are counted exactly. Any number of connections, served one
// request at a time. Registers and coils are 1-based numbers as the
// configurator writes them.
#include <modbus/modbus.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

namespace chronel::test {

struct PeerRequest {
    int function = 0;
    int address = 0; // 1-based
    int count = 0;
    std::vector<std::uint16_t> values; // registers or coil states written

    bool isRead(int reg, int n) const { return (function == 1 || function == 3) && address == reg && count == n; }
    bool isWrite(int reg, int n) const
    {
        return (function == 5 || function == 6 || function == 15 || function == 16) && address == reg && count == n;
    }
};

// How much of each table the peer serves.
struct PeerMemory {
    int holdings = 1600;
    int coils = 16;
    int inputs = 0;
    int inputRegisters = 0;
};

class RecordingPeer {
public:
    // Serves `memory` on `port` (0: a free port).
    explicit RecordingPeer(std::uint16_t port = 0, PeerMemory memory = {});
    ~RecordingPeer();
    RecordingPeer(const RecordingPeer&) = delete;
    RecordingPeer& operator=(const RecordingPeer&) = delete;

    bool listening() const { return listenFd_ >= 0; }
    std::uint16_t port() const { return port_; }

    std::vector<PeerRequest> requests();
    void clearRequests();

    std::uint16_t holding(int reg);
    void setHolding(int reg, std::uint16_t value);
    void setHoldings(int firstReg, const std::vector<std::uint16_t>& values);
    bool coil(int number);
    void setCoil(int number, bool on);

    // Runs on the server thread after each request has been carried out and
    // answered, with the register memory locked; it may change the memory.
    using Hook = std::function<void(const PeerRequest&, modbus_mapping_t&)>;
    void setHook(Hook hook);

    // Answers every request whose register range covers `reg` with the
    // exception `code`; nullopt stops it.
    void setException(std::optional<std::pair<int, std::uint8_t>> registerAndCode);

    // Lost frames, decided per request (recorded either way): a lost request
    // is neither carried out nor answered, a lost reply is carried out (the
    // hook runs) but never sent. The plan runs on the server thread with the
    // memory locked, before the request is carried out; it may change it.
    enum class Loss { None, Request, Reply };
    using LossPlan = std::function<Loss(const PeerRequest&, modbus_mapping_t&)>;
    void setLosses(LossPlan plan);

private:
    void run();
    PeerRequest parse(const std::uint8_t* query, int length) const;
    void carryOut(const PeerRequest& request);

    PeerMemory memory_;
    modbus_t* ctx_ = nullptr;
    modbus_mapping_t* mapping_ = nullptr;
    int listenFd_ = -1;
    int wakeFds_[2] = {-1, -1};
    std::uint16_t port_ = 0;
    std::atomic<bool> stop_{false};
    std::mutex mutex_;
    std::vector<PeerRequest> requests_;
    Hook hook_;
    std::optional<std::pair<int, std::uint8_t>> exception_;
    LossPlan losses_;
    std::thread thread_;
};

} // namespace chronel::test
