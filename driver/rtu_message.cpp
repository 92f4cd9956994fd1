#include "driver/rtu_message.h"

#include "driver/modbus_checksum.h"
#include "driver/modbus_function.h"

#include <algorithm>

namespace plcdrv {
namespace {

constexpr std::size_t kHeaderBytes = 3; // address, function, count
constexpr std::size_t kCrcBytes = 2;

} // namespace

void RtuMessage::setAddress(std::string_view route)
{
    putFrameByte(static_cast<std::uint8_t>(numbers_.decimal(route) & 0xFF));
}

void RtuMessage::appendByte(std::uint8_t value) { putFrameByte(value); }

void RtuMessage::finishFrame()
{
    const std::uint16_t crc = ModbusCrc16(frame_.data(), frameLength_);
    putFrameByte(static_cast<std::uint8_t>(crc & 0xFF));
    putFrameByte(static_cast<std::uint8_t>(crc >> 8));
}

std::size_t RtuMessage::expectedReplyLength(const std::uint8_t* frame)
{
    constexpr std::size_t kAroundPdu = 1 + kCrcBytes; // address before, CRC after
    constexpr std::size_t kExceptionPdu = 2;
    const std::uint8_t function = frame[1];
    // A serial line carries no adapter codes: bit 7 always marks an exception.
    if (function & fc::ExceptionBit)
        return kExceptionPdu + kAroundPdu;
    // The length is decided by the count byte at the latest; a reply whose
    // length lies further on (Diagnostics) ends by time-out.
    if (FunctionCodeOf(function) == FunctionCode::Diagnostics)
        return 0;
    const std::size_t pdu = fc::ReplyPduLength(std::span<const std::uint8_t>(frame + 1, 2));
    return pdu != 0 ? pdu + kAroundPdu : 0;
}

bool RtuMessage::replyComplete() const
{
    if (frameLength_ < 4)
        return false;
    const std::size_t expected = expectedReplyLength(frame_.data());
    return expected != 0 && frameLength_ == expected;
}

int RtuMessage::checkReply()
{
    exceptionCode_ = 0;
    if (!complete_ || frameLength_ < 4)
        return 0;
    const std::size_t body = frameLength_ - kCrcBytes;
    const std::uint16_t crc = ModbusCrc16(frame_.data(), body);
    if (frame_[body] != (crc & 0xFF) || frame_[body + 1] != (crc >> 8))
        return 0;
    if (!fromRequestedSlave(frame_[0]))
        return 0;
    // The PDU lies between the address and the CRC.
    switch (fitToRequest(std::span<const std::uint8_t>(frame_.data() + 1, body - 1), ReplyExtent::Exact)) {
    case ReplyFit::Data: return 1;
    case ReplyFit::Exception: exceptionCode_ = frame_[2]; return 0;
    case ReplyFit::Malformed: return 0;
    }
    return 0;
}

void RtuMessage::parseReply()
{
    replyCountField_ = frameLength_ > 2 ? frame_[2] : 0;
    if (frameLength_ < kHeaderBytes + kCrcBytes) {
        setReplyData(nullptr, 0);
        return;
    }
    const std::size_t available = frameLength_ - kHeaderBytes - kCrcBytes;
    setReplyData(frame_.data() + kHeaderBytes, std::min<std::size_t>(frame_[2], available));
}

std::uint8_t RtuMessage::replySlaveAddress() const { return frameLength_ >= 1 ? frame_[0] : 0; }

std::uint8_t RtuMessage::replyFunctionCode() const { return frameLength_ >= 2 ? frame_[1] : 0; }

} // namespace plcdrv
