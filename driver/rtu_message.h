#pragma once
// Modbus RTU framing: slave address, PDU, CRC-16 (low byte first).
#include "driver/modbus_message.h"

namespace plcdrv {

class RtuMessage final : public ModbusMessage {
public:
    RtuMessage() = default;

    void parseReply() override;
    int checkReply() override;
    std::uint8_t replySlaveAddress() const override;
    std::uint8_t replyFunctionCode() const override;
    void appendByte(std::uint8_t value) override;
    void finishFrame() override;
    bool replyComplete() const override;
    void setAddress(std::string_view route) override;

    // Length at which a reply that starts with `frame` (at least 3 bytes) is
    // complete; 0 when its function code has no rule (the exchange then ends
    // by time-out).
    static std::size_t expectedReplyLength(const std::uint8_t* frame);
};

} // namespace plcdrv
