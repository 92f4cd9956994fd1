// What comes back from a slave on a serial line (RTU or ASCII) or from
// mpbridge (Modbus Plus): the adapter takes the bytes as its serial link
// does, one at a time until the frame rules call the reply complete, checks
// and parses it, writes it into the caller's packet, and the control then
// processes the packet as it does after DRIVER_DONE_MESSAGE.
// Built once per message kind (FUZZ_MESSAGE_KIND: 0 RTU, 1 ASCII, 2 Modbus Plus).
#include "driver/message_factory.h"
#include "driver/reply_completion.h"
#include "regaccess/reply_processor.h"

#include "byte_reader.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

constexpr int Kind = FUZZ_MESSAGE_KIND;
// mpbridge never writes more than this into the frame buffer.
constexpr std::size_t MbxReplyLimit = 512;

void Check(bool condition)
{
    if (!condition)
        std::abort();
}

// Returns the exchange status: 0 when a whole frame arrived, else -3.
int Receive(plcdrv::ModbusMessage& message, const std::vector<std::uint8_t>& wire)
{
    if (Kind == plcdrv::ModbusPlusKind) {
        if (!wire.empty())
            std::memcpy(message.frame(), wire.data(), std::min(wire.size(), MbxReplyLimit));
        message.setComplete(!wire.empty());
        return wire.empty() ? -1 : 0;
    }
    message.reset();
    for (std::uint8_t byte : wire) {
        if (message.replyComplete())
            break;
        if (!message.receiveByte(byte)) {
            message.reset();
            return plcdrv::kNoReplyStatus;
        }
    }
    if (!message.replyComplete())
        return plcdrv::kNoReplyStatus;
    message.setComplete(true);
    return 0;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    // Layout: the request (route byte, function, PDU length 1 … 6, five data
    // bytes), a 16-bit index for the accessors, then the reply bytes.
    fuzzing::ByteReader input(data, size);
    plcdrv::RequestPacket packet{};
    packet.adapter = 1;
    packet.requestClass = plcdrv::ModbusRequestClass;
    packet.route[0] = input.byte();
    packet.functionCode = input.byte();
    packet.pduLength = input.byte() % 6 + 1;
    for (int i = 0; i < 5; ++i)
        packet.data[i] = input.byte();
    const int probe = static_cast<std::int16_t>(input.word());
    std::uint8_t request[6] = {packet.functionCode};
    std::memcpy(request + 1, packet.data, 5);
    const auto rest = input.rest();
    const std::vector<std::uint8_t> wire(rest.begin(), rest.end());

    const std::unique_ptr<plcdrv::ModbusMessage> message = plcdrv::BuildMessage(Kind, packet);
    Check(message != nullptr);
    const int exchangeStatus = Receive(*message, wire);

    const bool serial = Kind != plcdrv::ModbusPlusKind;
    const int status = plcdrv::StoreReply(*message, exchangeStatus, serial, packet);
    if (status == 0) {
        Check(message->replyDataCount() <= plcdrv::ModbusMessage::kFrameCapacity);
        (void)message->bitValue(probe);
        (void)message->wordValue(probe);
        (void)message->byteText(probe, probe & 0x1FF);
        (void)message->replySlaveAddress();
    }
    // A frame that did not check out must never reach the host as data.
    if (status == 0)
        Check(message->checkReply() == 1 || message->exceptionCode() != 0);
    regaccess::RegisterBuffer buffer;
    std::uint8_t pdu[plcdrv::MaxPduLength];
    pdu[0] = packet.functionCode;
    std::memcpy(pdu + 1, packet.data, sizeof packet.data);
    (void)regaccess::ProcessReply(std::span<const std::uint8_t>(request, static_cast<std::size_t>(packet.pduLength)),
        pdu, plcdrv::ReplyExtent::AtLeast, platform::toErrorCode(status), buffer);
    return 0;
}
