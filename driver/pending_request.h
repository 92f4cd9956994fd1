#pragma once
// One request waiting in, or running on, an adapter: the caller's packet (not
// owned) and the message frame built from it when it was put (owned).
#include "driver/modbus_message.h"
#include "driver/request_packet.h"
#include "platform/window_messages.h"

#include <memory>

namespace plcdrv {

struct PendingRequest {
    // The caller's packet; touched again only while `window` still exists.
    plcdrv::RequestPacket* packet = nullptr;
    // notifyWindow as it was at the put. Kept here so that the window test
    // before completion does not itself read a packet that may be gone.
    platform::WindowHandle window = 0;
    std::unique_ptr<ModbusMessage> message;
    int messageKind = -1; // the adapter's LinkProtocol at the put
    int dataCount = 0;    // data bytes in the frame: pduLength - 1, bounded
};

} // namespace plcdrv
