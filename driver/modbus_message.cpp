#include "driver/modbus_message.h"

#include <algorithm>
#include <cstring>

namespace plcdrv {

ModbusMessage::ModbusMessage() { frame_.fill(kFillByte); }

ModbusMessage::~ModbusMessage() = default;

void ModbusMessage::setRequest(std::uint8_t slave, std::span<const std::uint8_t> pdu)
{
    requestSlave_ = slave;
    requestLength_ = std::min(pdu.size(), request_.size());
    std::copy_n(pdu.begin(), requestLength_, request_.begin());
}

ReplyFit ModbusMessage::fitToRequest(std::span<const std::uint8_t> replyPdu, ReplyExtent extent) const
{
    return FitReply(std::span<const std::uint8_t>(request_.data(), requestLength_), replyPdu, extent);
}

void ModbusMessage::reset()
{
    complete_ = 0;
    frame_.fill(kFillByte);
    frameLength_ = 0;
    replyCountField_ = 0;
    replyDataCount_ = 0;
    replyData_.reset();
    replyDataCapacity_ = 0;
}

bool ModbusMessage::receiveByte(std::uint8_t value)
{
    if (frameLength_ >= kFrameCapacity)
        return false;
    frame_[frameLength_++] = value;
    return true;
}

void ModbusMessage::putFrameByte(std::uint8_t value) { receiveByte(value); }

void ModbusMessage::reserveReplyData(std::size_t capacity)
{
    if (replyData_ && replyDataCapacity_ >= capacity)
        return;
    replyData_ = std::make_unique<std::uint8_t[]>(capacity);
    replyDataCapacity_ = capacity;
}

void ModbusMessage::setReplyData(const std::uint8_t* source, std::size_t count)
{
    reserveReplyData(std::max<std::size_t>(count, 1));
    if (count > 0)
        std::memcpy(replyData_.get(), source, count);
    replyDataCount_ = static_cast<std::uint16_t>(count);
}

std::uint16_t ModbusMessage::bitValue(int index) const
{
    if (index < 0 || static_cast<std::size_t>(index / 8) >= replyDataCount_)
        return 0;
    return (replyData_[index / 8] >> (index % 8)) & 1 ? 0xFFFF : 0;
}

std::uint16_t ModbusMessage::wordValue(int index) const
{
    if (index < 0 || 2 * static_cast<std::size_t>(index) + 1 >= replyDataCount_)
        return 0;
    return static_cast<std::uint16_t>((replyData_[2 * index] << 8) | replyData_[2 * index + 1]);
}

std::string ModbusMessage::byteText(int start, int count) const
{
    if (start < 0 || count <= 0 || static_cast<std::size_t>(start) >= replyDataCount_)
        return {};
    const std::size_t n = std::min<std::size_t>(static_cast<std::size_t>(count), replyDataCount_ - start);
    return std::string(reinterpret_cast<const char*>(replyData_.get()) + start, n);
}

} // namespace plcdrv
