#pragma once
// The control's own Modbus TCP client: one connection per control, kept
// between requests to the same host, one request frame and one reply frame
// per exchange, all inside the caller's thread (so send() always ends
// Replied or Failed; Busy never becomes TRUE).
//
// Waits are counted in milliseconds of the wait budget, taken from
// TimeToLive when a connection is opened: up to budget ms for the whole
// reply; for a new connection to be made, two seconds or the budget if that
// is longer; on an established connection, budget / 10 ms for room to send.
// Each wait is in the kernel, so a reply is taken the moment it arrives.
//
// Thread safety: none; a transport belongs to one control on one thread.
#include "regaccess/stream_socket.h"
#include "regaccess/transport.h"

#include "driver/request_packet.h"
#include "platform/error_code.h"

#include <array>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>

namespace regaccess {

constexpr std::uint16_t DefaultModbusTcpPort = 502;

// The server port: 502, or the value of PLCTAG_TCP_PORT when that holds a
// port number (for simulators that listen on an unprivileged port).
std::uint16_t ModbusTcpPort();

// A reply that is not this request's (see exchange()) fails with the code
// the driver posts for a frame that fails its check, NoValidReply, so a
// malformed reply reads the same on every adapter.

struct TcpRequest {
    std::string_view host;             // must stay valid during the exchange
    std::span<const std::uint8_t> pdu; // function code first
    std::uint8_t unit = 0;             // unit identifier: the first route byte
    int timeToLive = 500;              // wait budget if a connection is opened
};

struct TcpResult {
    // NoError, HostDidNotRespond, NoValidReply or a socket error number.
    platform::ErrorCode error = platform::ErrorCode::NoError;
    std::span<const std::uint8_t> pdu; // the reply PDU; valid until the next exchange
};

class TcpTransport final : public Transport {
public:
    static constexpr std::size_t FrameSize = 512;
    static constexpr std::size_t HeaderSize = 7; // MBAP header with unit identifier

    explicit TcpTransport(SocketOpener opener = OpenPosixStreamSocket);
    ~TcpTransport() override;
    TcpTransport(const TcpTransport&) = delete;
    TcpTransport& operator=(const TcpTransport&) = delete;

    // Sends the request and waits for its reply. A send that fails because
    // the connection was reset is retried once on a new connection; every
    // other failure ends the exchange and closes the connection.
    //
    // Each request frame carries a transaction identifier of its own. A
    // whole frame with another one (a late or repeated reply to an earlier
    // request) is skipped and the wait goes on within the same budget. The
    // reply is NoValidReply, and the connection closed, when its protocol
    // identifier is not 0, its unit identifier is not the request's, its
    // MBAP length does not fit the frame buffer, or its PDU does not answer
    // the request (plcdrv::fitReply).
    TcpResult exchange(const TcpRequest& request);

    TransportKind kind() const override { return TransportKind::ModbusTcp; }
    // exchange() for the request's host, PDU, unit (first route byte) and
    // TimeToLive.
    Sent send(const OutgoingRequest& request) override;

    bool isOpen() const { return socket_ != nullptr; }
    const std::string& connectedHost() const { return connectedHost_; }
    void close();

private:
    int openConnection(const TcpRequest& request);
    int sendFrame(std::size_t length);
    int receiveFrame(std::uint16_t transaction, std::size_t& frameLength);

    SocketOpener opener_;
    std::unique_ptr<StreamSocket> socket_;
    std::string connectedHost_;
    int budget_ = 0;
    bool used_ = false;             // a frame went out on this connection
    bool overLong_ = false;         // the last reply did not fit the frame buffer
    std::uint16_t transaction_ = 0; // of the last request frame sent
    std::array<std::uint8_t, FrameSize> frame_{};
};

} // namespace regaccess
