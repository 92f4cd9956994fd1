#pragma once
// The few stream-socket operations the Modbus TCP transport needs, behind a
// small interface so the transport's attempt and wait-budget logic sits apart
// from the operating system's socket calls (and tests can put a real socket
// under controlled timing).
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>

namespace regaccess {

enum class Readiness { Ready, NotReady, Failed };

struct WaitResult {
    Readiness state = Readiness::NotReady;
    int error = 0; // socket error number when Failed
};

struct IoResult {
    std::size_t count = 0; // bytes moved
    int error = 0;         // 0, or a socket error number (10035 when it would block)
};

// A non-blocking IPv4 stream socket. Errors are socket error numbers in the
// numbering the control reports (10054 connection reset, 10060 timed out, …).
class StreamSocket {
public:
    virtual ~StreamSocket() = default;

    // Starts connecting; the outcome shows in the later waits and transfers.
    virtual void startConnect(std::uint32_t ipv4Address, std::uint16_t port) = 0;
    // One readiness test that waits up to `timeoutMs` in the kernel.
    virtual WaitResult waitWritable(int timeoutMs) = 0;
    virtual WaitResult waitReadable(int timeoutMs) = 0;
    virtual IoResult send(std::span<const std::uint8_t> bytes) = 0;
    // count 0 and error 0: the peer closed the connection.
    virtual IoResult receive(std::span<std::uint8_t> into) = 0;
    // Reads and drops whatever has arrived unasked, without waiting. Returns 0,
    // 10054 when the peer has closed or reset the connection meanwhile, or
    // another socket error number.
    virtual int discardUnread() = 0;
};

// Creates a socket; on failure returns null and sets `error`.
using SocketOpener = std::function<std::unique_ptr<StreamSocket>(int& error)>;

std::unique_ptr<StreamSocket> OpenPosixStreamSocket(int& error);

// A dotted IPv4 address as it stands, else the first IPv4 address of a host
// name lookup. Text that cannot be a host name (blanks, empty labels, …) is
// refused without a lookup. The address is in host byte order.
std::optional<std::uint32_t> ResolveIpv4(const std::string& host);

} // namespace regaccess
