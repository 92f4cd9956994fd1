#pragma once
// Pseudo-terminals as COM ports for the driver's tests, and the Modbus peers
// on their far ends: a libmodbus RTU slave, and a scripted slave that sends
// whatever bytes a test wants when it wants (half frames, late replies,
// broken checks).
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace drivertest {

using Bytes = std::vector<std::uint8_t>;
using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// CRC-16 of Modbus RTU, bit by bit (independent of the driver's table-driven
// one); returned as the register value, whose low byte goes first on the wire.
std::uint16_t RtuCrc(const Bytes& bytes);
// `body` with its CRC appended.
Bytes RtuFrame(Bytes body);

// One pseudo-terminal: the test keeps the master, a port opens slavePath().
class PtyPair {
public:
    PtyPair();
    ~PtyPair();
    PtyPair(const PtyPair&) = delete;
    PtyPair& operator=(const PtyPair&) = delete;

    bool ok() const { return master_ >= 0 && !slavePath_.empty(); }
    int master() const { return master_; }
    const std::string& slavePath() const { return slavePath_; }
    // Descriptors of this process open on the slave end besides the pair's
    // own: a port somebody in this process still holds. (Opening the path
    // again would not tell: another process may have it by then.)
    int othersOpenHere() const;

private:
    int master_ = -1;
    int keepOpen_ = -1; // keeps the slave side from hanging up while no port has it open
    std::string slavePath_;
};

// Two pseudo-terminals joined back to back, like `socat pty pty`: whatever a
// port writes on driverPath() comes out on peerPath() and the other way
// round. Lets a peer that opens a device path by itself (libmodbus,
// pymodbus) face the driver.
class PtyBridge {
public:
    PtyBridge();
    ~PtyBridge();
    PtyBridge(const PtyBridge&) = delete;
    PtyBridge& operator=(const PtyBridge&) = delete;

    bool ok() const { return driverSide_.ok() && peerSide_.ok(); }
    const std::string& driverPath() const { return driverSide_.slavePath(); }
    const std::string& peerPath() const { return peerSide_.slavePath(); }

private:
    void relay();

    PtyPair driverSide_;
    PtyPair peerSide_;
    int stopPipe_[2] = {-1, -1};
    std::thread thread_;
};

// A libmodbus RTU slave on a device path, in its own thread. Holding register
// i holds 0x1000 + i for i < kRegisters; other addresses answer exception 2.
class LibmodbusRtuSlave {
public:
    static constexpr int kRegisters = 200;
    static std::uint16_t registerValue(int address) { return static_cast<std::uint16_t>(0x1000 + address); }

    explicit LibmodbusRtuSlave(const std::string& path, int unit = 1);
    ~LibmodbusRtuSlave();
    LibmodbusRtuSlave(const LibmodbusRtuSlave&) = delete;
    LibmodbusRtuSlave& operator=(const LibmodbusRtuSlave&) = delete;

    bool ok() const { return ok_; }
    // Time the slave waits between a request and its reply.
    void setReplyDelay(milliseconds delay) { delayMs_.store(static_cast<int>(delay.count())); }
    int requests() const { return requests_.load(); }
    // Start addresses (PDU bytes 1-2) of the requests received, in order,
    // and when each was received.
    std::vector<int> requestAddresses() const;
    std::vector<Clock::time_point> requestTimes() const;
    std::uint16_t holdingRegister(int address) const;

private:
    void run();

    void* context_ = nullptr;
    void* mapping_ = nullptr;
    bool ok_ = false;
    std::atomic<bool> stop_{false};
    std::atomic<int> delayMs_{0};
    std::atomic<int> requests_{0};
    mutable std::mutex mutex_;
    std::vector<int> addresses_;
    std::vector<Clock::time_point> times_;
    std::thread thread_;
};

// A slave that answers each RTU request with whatever `script` returns: a
// list of steps, each a pause followed by bytes to send. Runs on the master
// of a PtyPair; the driver opens the pair's slave path.
class ScriptedRtuSlave {
public:
    struct Step {
        milliseconds pause;
        Bytes bytes;
    };
    // Called with the request frame and its index (0 for the first).
    using Script = std::function<std::vector<Step>(const Bytes& request, int index)>;

    ScriptedRtuSlave(int masterFd, Script script);
    ~ScriptedRtuSlave();
    ScriptedRtuSlave(const ScriptedRtuSlave&) = delete;
    ScriptedRtuSlave& operator=(const ScriptedRtuSlave&) = delete;

    int requests() const { return requests_.load(); }
    // Number of steps sent so far, over all requests.
    int stepsSent() const { return stepsSent_.load(); }
    // The standard reply to a read of holding registers: `count` registers
    // from `start`, each 0x1000 + address plus `offset`.
    static Bytes readReply(const Bytes& request, std::uint16_t offset = 0);

private:
    void run();
    bool readRequest(Bytes& frame);
    bool pause(milliseconds duration);

    int master_;
    Script script_;
    std::atomic<bool> stop_{false};
    std::atomic<int> requests_{0};
    std::atomic<int> stepsSent_{0};
    std::thread thread_;
};

// The pymodbus Modbus ASCII slave of ascii_slave.py, run by /usr/bin/python3
// on a device path: holding registers as LibmodbusRtuSlave's. Stopped by its
// pid when the object goes.
class PymodbusAsciiSlave {
public:
    PymodbusAsciiSlave(const std::string& script, const std::string& path, int unit);
    ~PymodbusAsciiSlave();
    PymodbusAsciiSlave(const PymodbusAsciiSlave&) = delete;
    PymodbusAsciiSlave& operator=(const PymodbusAsciiSlave&) = delete;

    // True once the slave reported that its device is open.
    bool ok() const { return ready_; }

private:
    int pid_ = -1;
    bool ready_ = false;
};

} // namespace drivertest
