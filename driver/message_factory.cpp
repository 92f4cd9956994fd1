#include "driver/message_factory.h"

#include "driver/ascii_message.h"
#include "driver/mbx_message.h"
#include "driver/rtu_message.h"

#include <algorithm>
#include <array>
#include <cstdio>

namespace plcdrv {

std::unique_ptr<ModbusMessage> CreateMessage(int kind)
{
    switch (kind) {
    case RtuKind: return std::make_unique<RtuMessage>();
    case AsciiKind: return std::make_unique<AsciiMessage>();
    case ModbusPlusKind: return std::make_unique<MbxMessage>();
    default: return nullptr;
    }
}

int RequestDataCount(const plcdrv::RequestPacket& packet)
{
    // Done wide, so that the most negative pduLength cannot overflow.
    return static_cast<int>(std::clamp<long long>(
        static_cast<long long>(packet.pduLength) - 1, 0, static_cast<long long>(sizeof packet.data)));
}

std::unique_ptr<ModbusMessage> BuildMessage(int kind, const plcdrv::RequestPacket& packet)
{
    auto message = CreateMessage(kind);
    if (!message)
        return nullptr;
    char route[32];
    std::snprintf(route, sizeof route, "%d.%d.%d.%d.%d", packet.route[0], packet.route[1], packet.route[2],
        packet.route[3], packet.route[4]);
    message->setAddress(route);
    message->appendByte(packet.functionCode);
    const int dataCount = RequestDataCount(packet);
    for (int i = 0; i < dataCount; ++i)
        message->appendByte(packet.data[i]);
    message->finishFrame();
    std::array<std::uint8_t, MaxPduLength> pdu{};
    pdu[0] = packet.functionCode;
    std::copy_n(packet.data, dataCount, pdu.begin() + 1);
    message->setRequest(packet.route[0], std::span(pdu).first(1 + static_cast<std::size_t>(dataCount)));
    return message;
}

} // namespace plcdrv
