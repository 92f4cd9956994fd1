#pragma once
// Modbus Plus messages: the frame is the bare PDU; the routing path travels
// beside it to mpbridge, which puts the reply PDU into the same buffer.
#include "driver/modbus_message.h"

#include <array>

namespace plcdrv {

class MbxMessage final : public ModbusMessage {
public:
    static constexpr std::size_t kRouteBytes = 6;
    static constexpr std::size_t kReplyDataReserve = 255;
    // The most mpbridge writes into the frame buffer.
    static constexpr std::size_t kReplyLimit = 512;

    MbxMessage();

    void parseReply() override;
    int checkReply() override;
    // The first routing byte: the station the reply came from.
    std::uint8_t replySlaveAddress() const override;
    std::uint8_t replyFunctionCode() const override;
    void appendByte(std::uint8_t value) override;
    void finishFrame() override;
    bool replyComplete() const override;
    void setAddress(std::string_view route) override;

    // One exchange through mpbridge on card `card`; returns and keeps the
    // value MBXSendPacket returned, and sets complete when it is 0.
    int exchange(int card, unsigned timeoutMs);

    int result() const { return result_; }
    const std::array<std::uint8_t, kRouteBytes>& route() const { return route_; }

private:
    std::array<std::uint8_t, kRouteBytes> route_{};
    int result_ = 0;
    bool parsed_ = false;
};

} // namespace plcdrv
