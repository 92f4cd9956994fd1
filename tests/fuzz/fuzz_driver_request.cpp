// Request frames built from whatever a packet holds: the driver takes the
// packet from its caller and must bound every field (route bytes, pduLength
// of any sign and size) while framing it for each message kind, and again
// when an adapter takes the request (VexaPut).
#include "driver/driver_adapter.h"
#include "driver/message_factory.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    plcdrv::RequestPacket packet;
    std::memset(&packet, 0, sizeof packet);
    std::memcpy(&packet, data, std::min(size, sizeof packet));
    for (int kind = -1; kind <= 3; ++kind) {
        const std::unique_ptr<plcdrv::ModbusMessage> message = plcdrv::BuildMessage(kind, packet);
        if ((kind >= 0 && kind <= 2) != (message != nullptr))
            std::abort();
        if (message && message->frameLength() > plcdrv::ModbusMessage::kFrameCapacity)
            std::abort();
        // An adapter that is not running frames the request and then
        // refuses it.
        plcdrv::DriverAdapter adapter;
        adapter.adapterType = kind == plcdrv::ModbusPlusKind ? plcdrv::ModbusPlusAdapter : plcdrv::SerialAdapter;
        adapter.messageKind = kind;
        if (adapter.put(&packet) != 0)
            std::abort();
    }
    return 0;
}
