#pragma once
// A raw TCP server on 127.0.0.1 whose behaviour per accepted connection is a
// script: reset, stay silent, answer in pieces, answer too little or too
// much. Connections are served one after the other in the server's thread.
#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

namespace regaccess::test {

using Bytes = std::vector<std::uint8_t>;

class FaultServer;

// What a script sees of its connection.
class FaultConnection {
public:
    FaultConnection(FaultServer& server, int fd, int index) : server_(server), fd_(fd), index_(index) { }
    ~FaultConnection();
    FaultConnection(const FaultConnection&) = delete;
    FaultConnection& operator=(const FaultConnection&) = delete;

    int index() const { return index_; } // 0 for the first connection
    // One Modbus TCP request frame, or nothing when the peer closed or the
    // server is stopping (waits up to `timeoutMs`).
    std::optional<Bytes> readRequest(int timeoutMs = 3000);
    void send(const Bytes& bytes);
    // Resets the connection (RST) instead of closing it in order.
    void reset();
    // Keeps the connection open and silent until the peer closes it, the
    // server stops or `timeoutMs` pass.
    void holdOpen(int timeoutMs = 10000);
    void pause(int ms);
    // The client's port of this connection.
    std::uint16_t clientPort() const;

private:
    FaultServer& server_;
    int fd_;
    int index_;
};

class FaultServer {
public:
    using Script = std::function<void(FaultConnection&)>;

    explicit FaultServer(Script script);
    ~FaultServer();
    FaultServer(const FaultServer&) = delete;
    FaultServer& operator=(const FaultServer&) = delete;

    std::uint16_t port() const { return port_; }
    int connectionsAccepted() const { return accepted_.load(); }
    // Every request frame the scripts have read, in order.
    std::vector<Bytes> requests() const;
    bool stopping() const { return stop_.load(); }

private:
    friend class FaultConnection;
    void run();
    void record(const Bytes& request);

    Script script_;
    int listenFd_ = -1;
    std::uint16_t port_ = 0;
    std::atomic<bool> stop_{false};
    std::atomic<int> accepted_{0};
    mutable std::mutex mutex_;
    std::vector<Bytes> requests_;
    std::thread thread_;
};

// The client's end of a loopback connection as the kernel sees it
// (/proc/net/tcp), for tests that wait until a reset, a close or late bytes
// have reached the client rather than sleeping for it.
struct ClientEnd {
    bool found = false; // false once a reset has closed it
    int state = 0;      // 1 established, 8 close-wait (the server closed)
    long unread = 0;    // bytes received that the client has not read
    bool established() const { return found && state == 1; }
};
ClientEnd FindClientEnd(std::uint16_t clientPort, std::uint16_t serverPort);

// The normal answer to a Modbus TCP request frame for function 3 or 4:
// `count` registers holding first, first + 1, … (big-endian on the wire).
Bytes RegisterReply(const Bytes& request, std::uint16_t first);
// A frame with the request's MBAP header (length fixed up) around `pdu`.
Bytes FrameFor(const Bytes& request, const Bytes& pdu);

} // namespace regaccess::test
