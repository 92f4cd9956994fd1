#include "driver/ascii_message.h"

#include "driver/modbus_checksum.h"
#include "driver/modbus_function.h"

#include <algorithm>
#include <array>

namespace plcdrv {
namespace {

constexpr char kHexDigits[] = "0123456789ABCDEF";

bool IsHexDigit(std::uint8_t c) { return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f'); }

// Characters counted from 0 with ':' at 0: address at 1, function at 3,
// count or exception code at 5, data from 7; the LRC pair, CR and LF close
// the frame.
constexpr std::size_t kFunctionIndex = 3;
constexpr std::size_t kCountIndex = 5;
constexpr std::size_t kDataIndex = 7;
constexpr std::size_t kTrailerChars = 4; // LRC pair, CR, LF

} // namespace

AsciiMessage::AsciiMessage() { putFrameByte(':'); }

std::uint8_t AsciiMessage::pairAt(std::size_t index) const
{
    if (index + 2 > frameLength_)
        return 0;
    const char text[2] = {static_cast<char>(frame_[index]), static_cast<char>(frame_[index + 1])};
    return static_cast<std::uint8_t>(numbers_.hexadecimal(std::string_view(text, 2)));
}

void AsciiMessage::setAddress(std::string_view route)
{
    appendByte(static_cast<std::uint8_t>(numbers_.decimal(route) & 0xFF));
}

void AsciiMessage::appendByte(std::uint8_t value)
{
    putFrameByte(static_cast<std::uint8_t>(kHexDigits[value >> 4]));
    putFrameByte(static_cast<std::uint8_t>(kHexDigits[value & 0x0F]));
}

void AsciiMessage::finishFrame()
{
    std::uint8_t sum = 0;
    for (std::size_t i = 1; i + 1 < frameLength_; i += 2)
        sum = static_cast<std::uint8_t>(sum + pairAt(i));
    appendByte(static_cast<std::uint8_t>(-sum));
    putFrameByte('\r');
    putFrameByte('\n');
}

bool AsciiMessage::replyComplete() const { return frameLength_ >= 10 && frame_[frameLength_ - 1] == '\n'; }

int AsciiMessage::checkReply()
{
    exceptionCode_ = 0;
    if (!complete_ || frameLength_ < 9)
        return 0;
    const std::size_t n = frameLength_;
    if (frame_[0] != ':' || frame_[n - 2] != '\r' || frame_[n - 1] != '\n')
        return 0;
    const std::size_t hexChars = n - 3;
    if (hexChars % 2 != 0)
        return 0;
    for (std::size_t i = 1; i <= hexChars; ++i)
        if (!IsHexDigit(frame_[i]))
            return 0;
    const std::size_t lrcIndex = n - kTrailerChars;
    std::uint8_t sum = 0;
    for (std::size_t i = 1; i < lrcIndex; i += 2)
        sum = static_cast<std::uint8_t>(sum + pairAt(i));
    if (static_cast<std::uint8_t>(-sum) != pairAt(lrcIndex))
        return 0;
    if (!fromRequestedSlave(pairAt(1)))
        return 0;
    // The PDU is the pairs between the address and the LRC.
    std::array<std::uint8_t, kFrameCapacity / 2> pdu{};
    const std::size_t pduLength = (lrcIndex - kFunctionIndex) / 2;
    for (std::size_t i = 0; i < pduLength; ++i)
        pdu[i] = pairAt(kFunctionIndex + 2 * i);
    switch (fitToRequest(std::span(pdu).first(pduLength), ReplyExtent::Exact)) {
    case ReplyFit::Data: return 1;
    case ReplyFit::Exception: exceptionCode_ = pairAt(kCountIndex); return 0;
    case ReplyFit::Malformed: return 0;
    }
    return 0;
}

void AsciiMessage::parseReply()
{
    replyCountField_ = frameLength_ >= kCountIndex + 2 ? pairAt(kCountIndex) : 0;
    if (frameLength_ < kDataIndex + kTrailerChars) {
        setReplyData(nullptr, 0);
        return;
    }
    const std::size_t available = (frameLength_ - kDataIndex - kTrailerChars) / 2;
    const std::size_t count = std::min<std::size_t>(pairAt(kCountIndex), available);
    std::uint8_t data[255];
    for (std::size_t i = 0; i < count; ++i)
        data[i] = pairAt(kDataIndex + 2 * i);
    setReplyData(data, count);
}

std::uint8_t AsciiMessage::replySlaveAddress() const { return pairAt(1); }

std::uint8_t AsciiMessage::replyFunctionCode() const { return pairAt(kFunctionIndex); }

} // namespace plcdrv
