#include "regaccess/frame_trace.h"

#include "driver/modbus_function.h"

#include <algorithm>
#include <utility>

namespace regaccess {

namespace {

FrameObserver& installedObserver()
{
    static FrameObserver observer;
    return observer;
}

} // namespace

void setFrameObserver(FrameObserver observer) { installedObserver() = std::move(observer); }

void traceFrame(const TraceFrame& frame)
{
    const FrameObserver& observer = installedObserver();
    if (!observer)
        return;
    // The observer belongs to the host; whatever it throws must not unwind
    // through the control's request handling.
    try {
        observer(frame);
    } catch (...) {
    }
}

void traceDriverReply(const plcdrv::RequestPacket& packet, int status)
{
    if (!installedObserver())
        return;
    TraceFrame frame;
    frame.adapter = packet.adapter;
    frame.unit = packet.route[0];
    if (status != 0) {
        frame.direction = TraceDirection::Failure;
        frame.errorCode = status;
    } else {
        // Function code, then the exception code or the count byte and as
        // many data bytes as it announces, bounded by the packet.
        const bool exception = (packet.functionCode & plcdrv::fc::ExceptionBit) != 0;
        const std::size_t length =
            exception ? 2 : std::min<std::size_t>(2 + std::size_t(packet.data[0]), plcdrv::MaxPduLength);
        frame.direction = TraceDirection::Reply;
        frame.pdu = std::span<const std::uint8_t>(&packet.functionCode, length);
    }
    traceFrame(frame);
}

} // namespace regaccess
