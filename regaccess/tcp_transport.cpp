#include "regaccess/tcp_transport.h"

#include "driver/reply_match.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>

namespace regaccess {

namespace {

constexpr int TestMilliseconds = 1;
constexpr int MaxBudget = 32767;
// Covers one lost SYN (sent again after about a second) and its answer over
// a slow link.
constexpr int ConnectWindowMs = 2000;
// MBAP header fields (big-endian words, then the unit byte). The length
// counts the bytes that follow it (unit identifier and PDU).
constexpr std::size_t TransactionAt = 0;
constexpr std::size_t ProtocolAt = 2;
constexpr std::size_t LengthFieldAt = 4;
constexpr std::size_t LengthFieldEnd = 6;
constexpr std::size_t UnitAt = 6;
constexpr std::uint16_t ModbusProtocol = 0;

std::uint16_t FieldAt(const std::array<std::uint8_t, TcpTransport::FrameSize>& frame, std::size_t at)
{
    return static_cast<std::uint16_t>((frame[at] << 8) | frame[at + 1]);
}

void PutField(std::array<std::uint8_t, TcpTransport::FrameSize>& frame, std::size_t at, std::uint16_t value)
{
    frame[at] = static_cast<std::uint8_t>(value >> 8);
    frame[at + 1] = static_cast<std::uint8_t>(value);
}

} // namespace

std::uint16_t ModbusTcpPort()
{
    const char* text = std::getenv("PLCTAG_TCP_PORT");
    if (text == nullptr || *text == '\0')
        return DefaultModbusTcpPort;
    char* end = nullptr;
    const long port = std::strtol(text, &end, 10);
    if (*end != '\0' || port < 1 || port > 65535)
        return DefaultModbusTcpPort;
    return static_cast<std::uint16_t>(port);
}

TcpTransport::TcpTransport(SocketOpener opener) : opener_(std::move(opener)) { }

TcpTransport::~TcpTransport() = default;

void TcpTransport::close()
{
    socket_.reset();
    connectedHost_.clear();
    used_ = false;
}

int TcpTransport::openConnection(const TcpRequest& request)
{
    close();
    int error = 0;
    socket_ = opener_(error);
    if (!socket_)
        return error != 0 ? error : platform::errorNumber(platform::ErrorCode::NoBufferSpace);
    // A negative TimeToLive would make the waits unbounded; 0 means no wait.
    budget_ = std::clamp(request.timeToLive, 0, MaxBudget);
    const auto address = ResolveIpv4(std::string(request.host));
    if (!address) {
        close();
        return platform::errorNumber(platform::ErrorCode::UnresolvedHost);
    }
    socket_->startConnect(*address, ModbusTcpPort());
    connectedHost_ = request.host;
    return 0;
}

int TcpTransport::sendFrame(std::size_t length)
{
    if (used_) {
        // Bytes waiting before anything was asked are stale (the tail of an
        // earlier reply) and would be taken for this request's reply; a
        // closed peer means the connection has to be made anew.
        if (const int error = socket_->discardUnread(); error != 0)
            return error;
    }
    // A new connection waits for its handshake at least ConnectWindowMs, or
    // the whole budget if that is longer: a SYN lost to a full accept queue
    // or a slow link is sent again only after about a second, and a tenth of
    // the budget (50 ms by default) cut such modules off. An established
    // connection waits a tenth of the budget for room in its send buffer.
    // A budget under ten has never allowed a send, and still does not.
    using Clock = std::chrono::steady_clock;
    int windowMs = budget_ / 10;
    if (!used_ && windowMs > 0)
        windowMs = std::max({windowMs, ConnectWindowMs, budget_});
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(windowMs);
    std::size_t sent = 0;
    // An established connection almost always has room for one frame, so it
    // is offered the frame at once; only a full send buffer leads to waits.
    bool tryAtOnce = used_ && windowMs > 0;
    while (sent < length) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (!tryAtOnce && left <= 0)
            return platform::WSAETIMEDOUT;
        const WaitResult ready =
            tryAtOnce ? WaitResult{Readiness::Ready, 0} : socket_->waitWritable(static_cast<int>(left));
        tryAtOnce = false;
        if (ready.state == Readiness::Failed)
            return ready.error;
        if (ready.state == Readiness::NotReady)
            continue;
        const IoResult result = socket_->send(std::span(frame_).subspan(sent, length - sent));
        if (result.error == platform::WSAEWOULDBLOCK)
            continue;
        if (result.error != 0)
            return result.error;
        sent += result.count;
    }
    used_ = true;
    return 0;
}

int TcpTransport::receiveFrame(std::uint16_t transaction, std::size_t& frameLength)
{
    // The reply is complete when the MBAP length says so; it may come in
    // several segments, all within one wait budget of 1 ms tests. A wait
    // spends the budget by the whole milliseconds it took; waiting for what
    // remains in one call, rather than in 1 ms slices, keeps the kernel from
    // arming and cancelling a timer for every slice of every exchange.
    // Whole frames of other transactions are dropped on the way, their
    // waits spent from the same budget, so no stream of them outlasts it.
    using Clock = std::chrono::steady_clock;
    int testsLeft = budget_;
    std::size_t received = 0;
    for (;;) {
        std::size_t needed = LengthFieldEnd;
        if (received >= LengthFieldEnd) {
            const std::size_t total = LengthFieldEnd + FieldAt(frame_, LengthFieldAt);
            overLong_ = total > FrameSize;
            needed = std::min(total, FrameSize);
            if (received >= needed) {
                const bool otherTransaction =
                    FieldAt(frame_, TransactionAt) != transaction && FieldAt(frame_, ProtocolAt) == ModbusProtocol;
                if (!otherTransaction || overLong_) {
                    frameLength = needed;
                    return 0;
                }
                // Bytes read past the stale frame start the next one.
                std::memmove(frame_.data(), frame_.data() + total, received - total);
                received -= total;
                continue;
            }
        }
        if (testsLeft <= 0)
            return platform::WSAETIMEDOUT;
        const Clock::time_point waitStart = Clock::now();
        const WaitResult ready = socket_->waitReadable(testsLeft * TestMilliseconds);
        if (ready.state == Readiness::Failed)
            return ready.error;
        if (ready.state == Readiness::NotReady)
            return platform::WSAETIMEDOUT;
        const auto waited = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - waitStart);
        testsLeft -= static_cast<int>(std::min<std::chrono::milliseconds::rep>(waited.count(), testsLeft));
        const IoResult result = socket_->receive(std::span(frame_).subspan(received));
        if (result.error == platform::WSAEWOULDBLOCK) {
            --testsLeft;
            continue;
        }
        if (result.error != 0)
            return result.error;
        if (result.count == 0)
            return platform::WSAECONNRESET; // the server closed the connection
        received += result.count;
    }
}

TcpResult TcpTransport::exchange(const TcpRequest& request)
{
    const std::size_t pduLength = std::min(request.pdu.size(), plcdrv::MaxPduLength);
    const auto requestPdu = request.pdu.first(pduLength);
    for (int attemptsLeft = 2;; --attemptsLeft) {
        if (attemptsLeft == 0)
            return {platform::ErrorCode::HostDidNotRespond, {}};
        frame_.fill(0);
        if (!socket_ || connectedHost_.empty() || request.host != connectedHost_) {
            if (const int error = openConnection(request); error != 0)
                return {platform::toErrorCode(error), {}};
        }
        ++transaction_;
        PutField(frame_, TransactionAt, transaction_);
        PutField(frame_, LengthFieldAt, static_cast<std::uint16_t>(pduLength + 1));
        frame_[UnitAt] = request.unit;
        std::memcpy(frame_.data() + HeaderSize, requestPdu.data(), pduLength);

        if (const int error = sendFrame(HeaderSize + pduLength); error != 0) {
            close();
            if (error == platform::WSAECONNRESET)
                continue;
            return {platform::toErrorCode(error), {}};
        }
        std::size_t frameLength = 0;
        if (const int error = receiveFrame(transaction_, frameLength); error != 0) {
            close();
            return {platform::toErrorCode(error), {}};
        }
        const std::size_t replyLength = frameLength > HeaderSize ? frameLength - HeaderSize : 0;
        const auto reply = std::span<const std::uint8_t>(frame_).subspan(HeaderSize, replyLength);
        // An over-long frame is cut and its rest still on the way: no reply
        // of this client's requests is that long, and the stream can only be
        // trusted again on a new connection. Any other mismatch closes it
        // too, so that whatever confused the server starts afresh.
        const bool ours = !overLong_ && frameLength > HeaderSize && FieldAt(frame_, ProtocolAt) == ModbusProtocol &&
            FieldAt(frame_, TransactionAt) == transaction_ && frame_[UnitAt] == request.unit;
        if (!ours || plcdrv::FitReply(requestPdu, reply, plcdrv::ReplyExtent::Exact) == plcdrv::ReplyFit::Malformed) {
            close();
            return {platform::ErrorCode::NoValidReply, {}};
        }
        return {platform::ErrorCode::NoError, reply};
    }
}

Transport::Sent TcpTransport::send(const OutgoingRequest& request)
{
    TcpRequest tcp;
    tcp.host = request.host;
    tcp.pdu = request.pdu;
    tcp.unit = request.route[0];
    tcp.timeToLive = request.timeToLive;
    const TcpResult result = exchange(tcp);
    if (result.error != platform::ErrorCode::NoError)
        return {Handover::Failed, result.error, {}};
    IncomingReply reply;
    // Processed as the driver's packet would carry it: at most a packet's
    // PDU; traced whole.
    reply.pdu = result.pdu.first(std::min(result.pdu.size(), plcdrv::MaxPduLength));
    reply.extent = plcdrv::ReplyExtent::Exact;
    reply.traced = result.pdu;
    reply.transport = kind();
    reply.adapter = request.adapter;
    reply.unit = tcp.unit;
    return {Handover::Replied, platform::ErrorCode::NoError, reply};
}

} // namespace regaccess
