#pragma once
// Modbus ASCII framing: ':' then every byte as two hexadecimal characters
// (address, PDU, LRC), then CR LF.
#include "driver/modbus_message.h"

namespace plcdrv {

class AsciiMessage final : public ModbusMessage {
public:
    AsciiMessage();

    void parseReply() override;
    // Besides the LRC, refuses a frame that is not ':' followed by an even
    // number of hexadecimal digits (either case) and CR LF.
    int checkReply() override;
    std::uint8_t replySlaveAddress() const override;
    std::uint8_t replyFunctionCode() const override;
    void appendByte(std::uint8_t value) override;
    void finishFrame() override;
    bool replyComplete() const override;
    void setAddress(std::string_view route) override;

private:
    // The byte encoded by the two characters at `index` (0-based; ':' is 0);
    // 0 when they lie beyond the received bytes.
    std::uint8_t pairAt(std::size_t index) const;
};

} // namespace plcdrv
