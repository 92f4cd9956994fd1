// Whatever a Modbus TCP server sends back: the control's transport takes the
// bytes through its stream socket (in segments of any size, with would-block
// answers, closes and stray bytes between exchanges) and the reply processing
// puts them into the register buffer. Several exchanges run on one
// connection, as AutoPoll does.
#include "byte_reader.h"
#include "regaccess/reply_processor.h"
#include "regaccess/tcp_transport.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace {

// The socket's behaviour: a short tape of decisions used round and round,
// and the bytes the server sends.
struct Peer {
    std::array<std::uint8_t, 8> tape{};
    std::size_t next = 0;
    fuzzing::ByteReader* stream = nullptr;

    std::uint8_t decide() { return tape[next++ % tape.size()]; }
};

class ScriptedSocket : public regaccess::StreamSocket {
public:
    explicit ScriptedSocket(Peer& peer) : peer_(peer) { }

    void startConnect(std::uint32_t, std::uint16_t) override { }
    regaccess::WaitResult waitWritable(int) override { return {regaccess::Readiness::Ready, 0}; }
    regaccess::WaitResult waitReadable(int) override
    {
        if (peer_.stream->remaining() == 0)
            return {regaccess::Readiness::NotReady, 0};
        switch (peer_.decide()) {
        case 0xFE: return {regaccess::Readiness::NotReady, 0};
        case 0xFF: return {regaccess::Readiness::Failed, 10054};
        default: return {regaccess::Readiness::Ready, 0};
        }
    }
    regaccess::IoResult send(std::span<const std::uint8_t> bytes) override
    {
        if (bytes.empty() || bytes.size() > regaccess::TcpTransport::FrameSize)
            std::abort();
        // Sometimes only part of the frame fits the send buffer.
        const std::size_t count = peer_.decide() & 1 ? bytes.size() : bytes.size() / 2 + 1;
        return {count, 0};
    }
    regaccess::IoResult receive(std::span<std::uint8_t> into) override
    {
        if (into.empty())
            std::abort(); // asked for nothing: the transport would spin
        const std::uint8_t d = peer_.decide();
        if (d == 0)
            return {0, 0}; // the server closed the connection
        if (d == 1)
            return {0, 10035};
        const auto bytes = peer_.stream->bytes(std::min<std::size_t>(into.size(), d == 2 ? into.size() : d));
        if (bytes.empty())
            return {0, 10035};
        std::memcpy(into.data(), bytes.data(), bytes.size());
        return {bytes.size(), 0};
    }
    int discardUnread() override
    {
        // Stray bytes that arrived unasked, or a close meanwhile.
        const std::uint8_t d = peer_.decide();
        peer_.stream->bytes(d % 4);
        return d == 3 ? 10054 : 0;
    }

private:
    Peer& peer_;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    // Layout: TimeToLive byte, eight decision bytes, then the server's bytes.
    fuzzing::ByteReader input(data, size);
    const int timeToLive = int(input.byte()) - 10;
    Peer peer;
    for (std::uint8_t& d : peer.tape)
        d = input.byte();
    peer.stream = &input;

    regaccess::TcpTransport transport([&peer](int& error) -> std::unique_ptr<regaccess::StreamSocket> {
        if (peer.decide() == 0xFD) {
            error = 10061;
            return nullptr;
        }
        return std::make_unique<ScriptedSocket>(peer);
    });
    regaccess::RegisterBuffer buffer;
    // Read holding registers 0 … 99 of unit 255, as the configurator asks.
    const std::uint8_t request[] = {3, 0, 0, 0, 100};
    for (int exchange = 0; exchange < 8 && input.remaining() > 0; ++exchange) {
        regaccess::TcpRequest tcp;
        tcp.host = "127.0.0.1";
        tcp.pdu = request;
        tcp.unit = 255;
        tcp.timeToLive = timeToLive;
        const regaccess::TcpResult result = transport.exchange(tcp);
        if (result.error != platform::ErrorCode::NoError) {
            if (!result.pdu.empty())
                std::abort();
            continue;
        }
        if (result.pdu.size() > regaccess::TcpTransport::FrameSize - regaccess::TcpTransport::HeaderSize)
            std::abort();
        // What the transport hands over answers the request.
        if (plcdrv::FitReply(request, result.pdu, plcdrv::ReplyExtent::Exact) == plcdrv::ReplyFit::Malformed)
            std::abort();
        // The control keeps at most one packet's PDU of the reply.
        std::uint8_t pdu[plcdrv::MaxPduLength] = {};
        const std::size_t length = std::min(result.pdu.size(), plcdrv::MaxPduLength);
        std::memcpy(pdu, result.pdu.data(), length);
        (void)regaccess::ProcessReply(request, std::span<const std::uint8_t>(pdu, length), plcdrv::ReplyExtent::Exact,
            platform::ErrorCode::NoError, buffer);
    }
    return 0;
}
