#pragma once
// Peers for the flash tests beside the simulated module: a recording proxy
// between the configurator's channels and the simulator that keeps every
// request it forwards, and an independent libmodbus client that reads and
// alters the simulator's flash behind the configurator's back.
#include <modbus/modbus.h>

#include <atomic>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

namespace chronel::test {

// One Modbus request as the proxy saw it; registers 1-based.
struct SeenRequest {
    int function = 0;
    int reg = 0;
    int count = 0;
    std::vector<std::uint16_t> values; // function 16 only
};

// Forwards Modbus TCP byte streams from any number of client connections to
// one server port, recording each complete request frame. The channels run
// one exchange at a time, so the record is in the order the module got them.
class RecordingProxy {
public:
    explicit RecordingProxy(std::uint16_t serverPort);
    ~RecordingProxy();
    RecordingProxy(const RecordingProxy&) = delete;
    RecordingProxy& operator=(const RecordingProxy&) = delete;

    std::uint16_t port() const { return port_; }
    std::vector<SeenRequest> requests() const;
    void clear();

private:
    struct Pair {
        int client = -1;
        int server = -1;
        std::vector<std::uint8_t> pending; // client bytes not yet a whole frame
    };
    void run();
    void closePair(Pair& pair);
    bool takeFrames(Pair& pair);

    std::uint16_t serverPort_;
    std::uint16_t port_ = 0;
    int listenFd_ = -1;
    int wake_[2] = {-1, -1};
    std::vector<Pair> pairs_;
    mutable std::mutex mutex_;
    std::vector<SeenRequest> seen_;
    std::thread thread_;
};

// The simulator's flash through its data window, 128 bytes per request.
class FlashClient {
public:
    explicit FlashClient(std::uint16_t port);
    ~FlashClient();
    bool connected() const { return connected_; }
    // `length` bytes from `offset` (a multiple of 128); empty on failure.
    std::vector<std::uint8_t> read(std::uint32_t offset, std::uint32_t length);
    // Programs one 128-byte block as the module does (bits can only clear).
    bool program(std::uint32_t offset, const std::vector<std::uint8_t>& block);

private:
    modbus_t* ctx_ = nullptr;
    bool connected_ = false;
};

} // namespace chronel::test
