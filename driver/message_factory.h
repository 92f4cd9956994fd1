#pragma once
// Building the frame of one request from the caller's packet.
#include "driver/modbus_message.h"
#include "driver/request_packet.h"
#include "platform/plcdrv_ini.h"

#include <memory>

namespace plcdrv {

// Message kinds, as LinkProtocol numbers them.
enum MessageKind : int {
    RtuKind = platform::plcdrvini::RtuProtocol,
    AsciiKind = platform::plcdrvini::AsciiProtocol,
    ModbusPlusKind = platform::plcdrvini::ModbusPlusProtocol,
};

// The empty message of `kind`; null for any other value.
std::unique_ptr<ModbusMessage> CreateMessage(int kind);

// The number of data bytes a request frame carries: pduLength - 1, bounded
// to 0 … sizeof packet.data. pduLength comes from the caller and may hold
// any value, the most negative one included.
int RequestDataCount(const plcdrv::RequestPacket& packet);

// The complete request frame of `packet` for `kind`: address part from the
// route bytes, function code, the first pduLength - 1 data bytes (never more
// than the packet holds), then the frame end. Null for an unknown kind.
std::unique_ptr<ModbusMessage> BuildMessage(int kind, const plcdrv::RequestPacket& packet);

} // namespace plcdrv
