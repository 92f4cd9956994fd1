// Whether a reply answers its request, as every path decides it: the rule
// itself, the control's reply processing over Modbus TCP (the reply's exact
// bytes) and after the driver (the packet), and the RTU, ASCII and Modbus
// Plus framings. They must all agree, a reply that does not answer must
// leave the register buffer untouched, and one that does must put the same
// registers into it on every path.
#include "byte_reader.h"
#include "driver/message_factory.h"
#include "driver/reply_completion.h"
#include "driver/reply_match.h"
#include "regaccess/reply_processor.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;
using plcdrv::ReplyExtent;
using plcdrv::ReplyFit;

void Check(bool condition)
{
    if (!condition)
        std::abort();
}

std::uint16_t Crc16(const Bytes& bytes)
{
    std::uint16_t crc = 0xFFFF;
    for (std::uint8_t b : bytes) {
        crc ^= b;
        for (int i = 0; i < 8; ++i)
            crc = (crc & 1) ? static_cast<std::uint16_t>((crc >> 1) ^ 0xA001) : static_cast<std::uint16_t>(crc >> 1);
    }
    return crc;
}

Bytes RtuFrame(std::uint8_t slave, const Bytes& pdu)
{
    Bytes frame{slave};
    frame.insert(frame.end(), pdu.begin(), pdu.end());
    const std::uint16_t crc = Crc16(frame);
    frame.push_back(static_cast<std::uint8_t>(crc));
    frame.push_back(static_cast<std::uint8_t>(crc >> 8));
    return frame;
}

Bytes AsciiFrame(std::uint8_t slave, const Bytes& pdu)
{
    Bytes raw{slave};
    raw.insert(raw.end(), pdu.begin(), pdu.end());
    std::uint8_t sum = 0;
    for (std::uint8_t b : raw)
        sum = static_cast<std::uint8_t>(sum + b);
    raw.push_back(static_cast<std::uint8_t>(-sum));
    static const char digits[] = "0123456789ABCDEF";
    Bytes frame{':'};
    for (std::uint8_t b : raw) {
        frame.push_back(static_cast<std::uint8_t>(digits[b >> 4]));
        frame.push_back(static_cast<std::uint8_t>(digits[b & 0x0F]));
    }
    frame.push_back('\r');
    frame.push_back('\n');
    return frame;
}

regaccess::RegisterBuffer Filled()
{
    regaccess::RegisterBuffer buffer;
    for (int i = 0; i < 512; ++i)
        buffer.setByte(i, 0xA5);
    return buffer;
}

bool SameBytes(const regaccess::RegisterBuffer& a, const regaccess::RegisterBuffer& b)
{
    return std::equal(a.bytes().begin(), a.bytes().end(), b.bytes().begin());
}

// The framing of `kind` receives `wire` as its link would hand it over.
// False when the frame rules never call it complete at its last byte.
bool Receive(plcdrv::ModbusMessage& message, int kind, const Bytes& wire)
{
    if (kind == plcdrv::ModbusPlusKind) {
        if (!wire.empty())
            std::memcpy(message.frame(), wire.data(), std::min<std::size_t>(wire.size(), 512));
        message.setComplete(true);
        return true;
    }
    message.reset();
    for (std::size_t i = 0; i < wire.size(); ++i) {
        if (!message.receiveByte(wire[i]) || (message.replyComplete() && i + 1 < wire.size()))
            return false;
    }
    if (!message.replyComplete())
        return false;
    message.setComplete(true);
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    // Layout: the request's slave, the reply's slave, the request PDU's
    // length (1 … 16) and bytes, then the reply PDU.
    fuzzing::ByteReader input(data, size);
    const std::uint8_t slave = input.byte();
    const std::uint8_t replySlave = input.byte();
    const std::size_t requestLength = input.byte() % 16 + 1;
    const auto requestBytes = input.bytes(requestLength);
    Bytes request(requestBytes.begin(), requestBytes.end());
    request.resize(requestLength, 0);
    const auto rest = input.bytes(plcdrv::MaxPduLength);
    const Bytes reply(rest.begin(), rest.end());

    const ReplyFit fit = plcdrv::FitReply(request, reply, ReplyExtent::Exact);
    if (fit == ReplyFit::Data)
        Check(reply[0] == request[0]);

    // Over Modbus TCP: the reply's exact bytes.
    regaccess::RegisterBuffer tcpBuffer = Filled();
    const regaccess::ReplyOutcome tcp =
        regaccess::ProcessReply(request, reply, ReplyExtent::Exact, platform::ErrorCode::NoError, tcpBuffer);
    switch (fit) {
    case ReplyFit::Malformed:
        Check(tcp.kind == regaccess::ReplyKind::Error && tcp.error == platform::ErrorCode::NoValidReply);
        Check(SameBytes(tcpBuffer, Filled()));
        break;
    case ReplyFit::Exception:
        Check(tcp.kind == regaccess::ReplyKind::Error && platform::errorNumber(tcp.error) == reply[1]);
        break;
    case ReplyFit::Data: Check(tcp.kind != regaccess::ReplyKind::Error); break;
    }
    // Whatever may follow a reply that fits does not change that it fits.
    if (fit != ReplyFit::Malformed) {
        Bytes longer = reply;
        longer.resize(plcdrv::MaxPduLength, 0x5A);
        Check(plcdrv::FitReply(request, longer, ReplyExtent::AtLeast) == fit);
    }

    // Through each framing of the driver, then the control's processing of
    // the packet: the same verdict, and for data the same registers.
    plcdrv::RequestPacket packet{};
    packet.adapter = 1;
    packet.route[0] = slave;
    packet.functionCode = request[0];
    packet.pduLength = static_cast<std::int32_t>(requestLength);
    std::copy(request.begin() + 1, request.end(), packet.data);
    const ReplyFit expected = slave == replySlave ? fit : ReplyFit::Malformed;
    // The packet takes the count from the byte after the function code and
    // as many data bytes as it says, whatever the function: the layout of
    // Diagnostics (count at byte 5) and of the adapter's codes (counts in
    // words, or none) is not kept there, so only their verdicts compare.
    const bool packetKeepsLayout = plcdrv::FunctionCodeOf(request[0]) != plcdrv::FunctionCode::Diagnostics &&
        request[0] < plcdrv::fc::ExceptionBit;
    for (int kind : {plcdrv::RtuKind, plcdrv::AsciiKind, plcdrv::ModbusPlusKind}) {
        const bool serial = kind != plcdrv::ModbusPlusKind;
        const std::unique_ptr<plcdrv::ModbusMessage> message = plcdrv::BuildMessage(kind, packet);
        Check(message != nullptr);
        const Bytes wire = kind == plcdrv::RtuKind ? RtuFrame(replySlave, reply)
            : kind == plcdrv::AsciiKind            ? AsciiFrame(replySlave, reply)
                                                   : reply;
        if (!Receive(*message, kind, wire))
            continue; // the frame rules end such a reply otherwise (time-out)
        // Modbus Plus carries no slave address, and the reply's end is not
        // known: it agrees where the reply fits on its own.
        if (!serial && fit == ReplyFit::Malformed)
            continue;
        const ReplyFit framed = serial ? expected : fit;
        const int verdict = message->checkReply();
        Check((verdict == 1) == (framed == ReplyFit::Data));
        Check((message->exceptionCode() != 0) == (framed == ReplyFit::Exception));

        plcdrv::RequestPacket done = packet;
        const int status = plcdrv::StoreReply(*message, 0, serial, done);
        Check((status == 0) == (framed != ReplyFit::Malformed));
        std::uint8_t pdu[plcdrv::MaxPduLength];
        pdu[0] = done.functionCode;
        std::memcpy(pdu + 1, done.data, sizeof done.data);
        regaccess::RegisterBuffer driverBuffer = Filled();
        const regaccess::ReplyOutcome driver =
            regaccess::ProcessReply(request, pdu, ReplyExtent::AtLeast, platform::toErrorCode(status), driverBuffer);
        Check(driver.kind == (framed == ReplyFit::Data ? tcp.kind : regaccess::ReplyKind::Error));
        if (framed == ReplyFit::Exception)
            Check(driver.error == tcp.error);
        if (framed == ReplyFit::Malformed)
            Check(SameBytes(driverBuffer, Filled()));
        else if (framed == ReplyFit::Data && packetKeepsLayout)
            Check(SameBytes(driverBuffer, tcpBuffer));
    }
    return 0;
}
