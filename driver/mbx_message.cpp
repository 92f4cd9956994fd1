#include "driver/mbx_message.h"

#include "driver/modbus_function.h"
#include "mpbridge/mpbridge.h"

#include <algorithm>
#include <climits>

namespace plcdrv {

MbxMessage::MbxMessage() { reserveReplyData(kReplyDataReserve); }

void MbxMessage::setAddress(std::string_view route)
{
    std::size_t field = 0;
    std::size_t pos = 0;
    while (field < 5 && pos <= route.size()) {
        auto dot = route.find('.', pos);
        if (dot == std::string_view::npos)
            dot = route.size();
        route_[field++] = static_cast<std::uint8_t>(numbers_.decimal(route.substr(pos, dot - pos)) & 0xFF);
        pos = dot + 1;
    }
    route_[5] = 0;
}

void MbxMessage::appendByte(std::uint8_t value) { putFrameByte(value); }

void MbxMessage::finishFrame() { }

bool MbxMessage::replyComplete() const { return true; }

int MbxMessage::exchange(int card, unsigned timeoutMs)
{
    complete_ = 0;
    parsed_ = false;
    unsigned short routing[kRouteBytes];
    for (std::size_t i = 0; i < kRouteBytes; ++i)
        routing[i] = route_[i];
    const int timeout = timeoutMs > unsigned(INT_MAX) ? INT_MAX : static_cast<int>(timeoutMs);
    // The frame buffer (1024 bytes) is larger than the kReplyLimit bytes
    // mpbridge may write into it.
    result_ = MBXSendPacket(card, routing, frame_.data(), frameLength_, timeout);
    complete_ = result_ == 0 ? 1 : 0;
    return result_;
}

int MbxMessage::checkReply()
{
    exceptionCode_ = 0;
    if (!complete_)
        return 0;
    // mpbridge does not tell the reply's length: what the layout needs has
    // to lie within what it may have written.
    switch (fitToRequest(std::span<const std::uint8_t>(frame_.data(), kReplyLimit), ReplyExtent::AtLeast)) {
    case ReplyFit::Data: return 1;
    case ReplyFit::Exception: exceptionCode_ = frame_[1]; return 0;
    case ReplyFit::Malformed: return 0;
    }
    return 0;
}

void MbxMessage::parseReply()
{
    if (parsed_)
        return;
    parsed_ = true;
    replyCountField_ = frame_[1];
    // mpbridge does not report the reply's length, so the count is bounded by
    // what one Modbus PDU can carry after its function and count bytes.
    constexpr std::size_t kMaxPduData = 253 - 2;
    const std::size_t count = std::min<std::size_t>(frame_[1], kMaxPduData);
    setReplyData(frame_.data() + 2, count);
}

std::uint8_t MbxMessage::replySlaveAddress() const { return route_[0]; }

std::uint8_t MbxMessage::replyFunctionCode() const { return frame_[0]; }

} // namespace plcdrv
